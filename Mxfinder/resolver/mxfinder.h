// CMxfinder: the library's one public class. It answers which mail
// exchangers a domain has, asking one DNS server over UDP.
#pragma once

#include <memory>
#include <string>

#include "dns/dns_message.h"
#include "net/socket.h"
#include "net/timer.h"
#include "resolver/answer.h"

namespace mxfinder {

class CMxfinder : private CSocketEvents {
 public:
  CMxfinder();
  ~CMxfinder() override;
  CMxfinder(const CMxfinder&) = delete;
  CMxfinder& operator=(const CMxfinder&) = delete;

  // "3.0".
  std::string GetVer() const;

  // Sends one MX query for `domain_to_resolve` to port 53 of `dns_server`
  // (a dotted address, sent to at once, or a name, looked up first) and
  // waits up to 5 seconds in the event loop, which keeps running the calling
  // thread's other events meanwhile. A dotted IPv4 `domain_to_resolve` is
  // rewritten in place to its reverse-mapping name first. Each query has a
  // random identifier and its own socket; only a datagram that IsAnswer
  // accepts ends the wait. Returns ResolutionText of the answer, or
  // "ERROR_DNS_TIMEOUT" when none came or the query could not go out or
  // come back (no socket, no route, no permission, a failed lookup of the
  // server, a receive error): the latter end the wait at once. Throws
  // ComponentError only when the query cannot be made at all (a name the
  // codec refuses, no event loop).
  std::string ResolveDnsQuery(std::string& domain_to_resolve, const std::string& dns_server);

 private:
  void SendQuery(const std::string& domain, const std::string& dns_server);
  void Wait();
  void OnSendComplete() override;
  void OnDataArrival(long bytes_total) override;
  void OnError(int number, const std::string& description) override;

  std::unique_ptr<CSocket> socket_;
  std::unique_ptr<CDNSMessage> message_;
  bool response_ = false;
  std::unique_ptr<CTimer> timer_;
  ExpectedAnswer expected_;
  bool sent_ = false;
  bool failed_ = false;  // the exchange broke down: nothing will come
};

}  // namespace mxfinder
