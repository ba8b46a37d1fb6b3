// Fixture for the delivery tests: a TestEnvironment with the three spool
// folders, the delivery side built on it (the client session on the fake
// SmtpDistant array), a known configuration, an empty DNS cache with routes
// the test declares and a resolver that finds nothing.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "delivery/delivery_service.h"
#include "spool/message.h"
#include "tests/support/test_environment.h"

namespace dorvane::testing {

class DeliveryTest : public ::testing::Test {
 protected:
  DeliveryTest();
  ~DeliveryTest() override;

  // Writes a message to `folder`/`name` with the given fields; one written
  // to OutBox is announced to the queue, as the listener does.
  void Queue(const std::string& name, const std::vector<std::string>& rcpts, uint8_t essai = 0,
             bool for_sender = false, const char* folder = "OutBox");
  // Declares the MX hosts of `domain` (in this order) in the DNS cache.
  void Route(const std::string& domain, const std::vector<std::string>& hosts);
  // Empties the slots and the three spool folders, between the rows of a table.
  void Reset();

  // The message of `folder`/`name`; fails the test when it is missing.
  CMessage Read(const std::string& folder, const std::string& name);
  std::vector<std::string> Files(const std::string& folder) const { return test.FolderFiles(folder); }
  std::vector<std::string> MailLog() const { return test.LogLines("maillog.txt"); }
  std::vector<std::string> ErrorLog() const { return test.LogLines("error.txt"); }

  // Plays the exchanger of slot i: each reply in turn, with the
  // send-complete event after the body and after the QUIT. While
  // `refuse_ehlo` holds, an EHLO is answered 500 at once, so the session
  // goes on with HELO as with an exchanger that knows only that.
  void Converse(int i, const std::vector<std::string>& replies);
  bool refuse_ehlo = true;
  // Commands sent on element i, as sent.
  const std::vector<std::string>& Sent(int i) { return test.form.distant.Sent(i); }
  CConnexion& Out(int i) { return test.pools.Out(i); }
  QueueScan& queue() { return delivery.queue(); }

  TestEnvironment test;
  fake::FakeForm& form{test.form};
  DeliveryService delivery{test.env};
};

}  // namespace dorvane::testing
