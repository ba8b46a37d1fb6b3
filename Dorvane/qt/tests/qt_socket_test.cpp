#include "qt/qt_socket.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <utility>
#include <vector>

#include "base/runtime_error.h"
#include "qt/tests/event_loop_support.h"
#include "qt/tests/tls_peer_support.h"
#include "tests/support/free_port.h"

namespace dorvane {
namespace {

using test::PumpUntil;
using test::TlsPeer;

// The number of the RuntimeError that `f` raises; 0 when it raises none.
long ErrorNumber(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return e.number();
  }
  return 0;
}

// Records every event as text and lets a test react to it.
struct Recorder : SocketEvents {
  std::vector<std::string> log;
  std::function<void(int, intptr_t)> on_request;
  std::function<void(int)> on_connect;
  std::function<void(int)> on_data;
  std::function<void(int)> on_close;
  int last_error = 0;
  std::string last_error_text;

  void OnConnectionRequest(int i, intptr_t id) override {
    log.push_back("request " + std::to_string(i));
    if (on_request) on_request(i, id);
  }
  void OnConnect(int i) override {
    log.push_back("connect " + std::to_string(i));
    if (on_connect) on_connect(i);
  }
  void OnDataArrival(int i, long) override {
    log.push_back("data " + std::to_string(i));
    if (on_data) on_data(i);
  }
  void OnSendComplete(int i) override { log.push_back("sent " + std::to_string(i)); }
  void OnTlsReady(int i) override { log.push_back("tls " + std::to_string(i)); }
  void OnClose(int i) override {
    log.push_back("close " + std::to_string(i));
    if (on_close) on_close(i);
  }
  void OnError(int i, int number, const std::string& text) override {
    log.push_back("error " + std::to_string(i) + " " + std::to_string(number));
    last_error = number;
    last_error_text = text;
  }
  size_t Count(const std::string& entry) const { return std::count(log.begin(), log.end(), entry); }
};

class QtSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApp();
    test::TrustTestAuthority();
    server.SetEvents(&server_events);
    client.SetEvents(&client_events);
    server.Load(0);
    client.Load(1);
    server_events.on_request = [this](int, intptr_t id) {
      server.Load(5);
      server[5].Accept(id);
    };
  }

  // Listens on a free port and connects client element 1 to it.
  void ConnectPair() {
    ASSERT_EQ(0, server[0].Listen());
    client[1].SetRemoteHost("127.0.0.1");
    client[1].SetRemotePort(server[0].LocalPort());
    client[1].Connect();
    ASSERT_TRUE(PumpUntil([&] { return client_events.Count("connect 1") == 1 && server.Exists(5); }));
  }

  // Connects client element `index` to `peer`, stepping it, and starts TLS
  // from the Connect event, as for a server that speaks TLS from the start.
  void StartTlsWith(TlsPeer& peer, int index, const TlsOptions& options) {
    client_events.on_connect = [&](int i) { client[i].StartTls(options); };
    ConnectTo(peer, index);
    client_events.on_connect = nullptr;
  }
  void ConnectTo(TlsPeer& peer, int index) {
    if (!client.Exists(index)) client.Load(index);
    client[index].SetRemoteHost("127.0.0.1");
    client[index].SetRemotePort(peer.Port());
    client[index].Connect();
    std::string connected = "connect " + std::to_string(index);
    ASSERT_TRUE(PumpUntil([&] { return peer.Step(), client_events.Count(connected) == 1; }));
  }
  // Pumps, stepping `peer`, until the element's handshake ends either way.
  bool PumpHandshake(TlsPeer& peer, int index) {
    std::string ready = "tls " + std::to_string(index);
    return PumpUntil([&] { return peer.Step(), client_events.Count(ready) + (client_events.last_error != 0) > 0; });
  }

  QtSocketArray server{"Smtp"};
  QtSocketArray client{"SmtpDistant"};
  Recorder server_events;
  Recorder client_events;
};

TEST_F(QtSocketTest, DialogueRunsBothWaysWithDottedAddresses) {
  ConnectPair();
  EXPECT_EQ("127.0.0.1", server[5].RemoteHostIP());
  EXPECT_EQ("127.0.0.1", server[5].LocalIP());
  EXPECT_EQ("127.0.0.1", client[1].RemoteHostIP());
  EXPECT_EQ(SocketState::Connected, server[5].State());

  std::string received;
  server_events.on_data = [&](int i) { received += server[i].GetData(); };
  client[1].SendData("HELO a\r\n");
  client[1].SendData("MAIL FROM:<a@b>\r\n");
  ASSERT_TRUE(PumpUntil([&] { return received.size() == 25; })) << received;
  EXPECT_EQ("HELO a\r\nMAIL FROM:<a@b>\r\n", received);
  EXPECT_EQ(1u, client_events.Count("sent 1"));

  // A large reply arrives whole and SendComplete fires once, after it all.
  std::string big(300000, 'x');
  server[5].SendData(big);
  std::string got;
  client_events.on_data = [&](int i) { got += client[i].GetData(); };
  ASSERT_TRUE(PumpUntil([&] { return got.size() == big.size(); }));
  EXPECT_EQ(1u, server_events.Count("sent 5"));

  client[1].Close();
  ASSERT_TRUE(PumpUntil([&] { return server_events.Count("close 5") == 1; }));
  EXPECT_EQ(0u, client_events.Count("close 1")) << "our own Close raises no event";
}

TEST_F(QtSocketTest, TakenPortGivesAddressInUse) {
  ASSERT_EQ(0, server[0].Listen());
  server.Load(2);
  server[2].SetLocalPort(server[0].LocalPort());
  EXPECT_EQ(kWsaEaddrinuse, server[2].Listen());
  EXPECT_EQ(SocketState::Closed, server[2].State());
}

TEST_F(QtSocketTest, RefusedConnectGivesErrorWithText) {
  client[1].SetRemoteHost("127.0.0.1");
  client[1].SetRemotePort(FreeLoopbackPort(32767));
  client[1].Connect();
  ASSERT_TRUE(PumpUntil([&] { return client_events.last_error != 0; }));
  EXPECT_EQ(kWsaEconnrefused, client_events.last_error);
  EXPECT_EQ("Connection is forcefully rejected", client_events.last_error_text);
  client[1].Close();
  EXPECT_EQ(SocketState::Closed, client[1].State());
}

// The sessions tell an orderly end from a failure: a close is the Close
// event, a reset (RST) is error 10054.
TEST_F(QtSocketTest, PeerCloseAndPeerResetAreTold) {
  ConnectPair();
  server.Unload(5);
  ASSERT_TRUE(PumpUntil([&] { return client_events.Count("close 1") == 1; }));
  EXPECT_EQ(0, client_events.last_error);

  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a));
  ::listen(listener, 1);
  socklen_t len = sizeof a;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  client.Load(2);
  client[2].SetRemoteHost("127.0.0.1");
  client[2].SetRemotePort(ntohs(a.sin_port));
  client[2].Connect();
  ASSERT_TRUE(PumpUntil([&] { return client_events.Count("connect 2") == 1; }));
  int peer = ::accept(listener, nullptr, nullptr);
  linger lg{1, 0};  // close() now sends RST
  ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  ::close(peer);
  ::close(listener);
  ASSERT_TRUE(PumpUntil([&] { return client_events.last_error != 0; }));
  EXPECT_EQ(kWsaEconnreset, client_events.last_error);
  EXPECT_EQ(0u, client_events.Count("close 2"));
}

// A peer that sends its last command and shuts its sending side still
// gets the reply: Close is told only once the reply is out.
TEST_F(QtSocketTest, HalfClosingPeerGetsItsReplyBeforeClose) {
  ASSERT_EQ(0, server[0].Listen());
  int peer = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(server[0].LocalPort()));
  ASSERT_EQ(0, ::connect(peer, reinterpret_cast<sockaddr*>(&a), sizeof a));
  std::string reply(60000, 'r');
  server_events.on_data = [&](int i) {
    if (server[i].GetData().find("QUIT\r\n") != std::string::npos) server[i].SendData(reply);
  };
  server_events.on_close = [&](int i) { server[i].Close(); };
  ASSERT_EQ(6, ::send(peer, "QUIT\r\n", 6, 0));
  ::shutdown(peer, SHUT_WR);
  ASSERT_TRUE(PumpUntil([&] { return server_events.Count("close 5") == 1; }));
  EXPECT_EQ(1u, server_events.Count("sent 5"));
  std::string got;
  char buf[65536];
  for (ssize_t n; (n = ::recv(peer, buf, sizeof buf, 0)) > 0;) got.append(buf, static_cast<size_t>(n));
  ::close(peer);
  EXPECT_EQ(reply.size(), got.size());
}

// A single block of any size may go to a socket with nothing pending, but
// output piling up unread past 1 MiB drops the connection with an error.
TEST_F(QtSocketTest, UnreadOutputPastOneMebibyteDropsTheConnection) {
  ConnectPair();
  server[5].SendData(std::string(32 << 20, 'a'));  // more than the kernel's buffers take
  server[5].SendData(std::string(1 << 20, 'b'));   // what is left of it + 1 MiB pending
  ASSERT_TRUE(PumpUntil([&] { return server_events.last_error != 0; }));
  EXPECT_EQ(kWsaEconnaborted, server_events.last_error);
  ASSERT_TRUE(PumpUntil([&] { return client_events.Count("close 1") + client_events.Count("error 1 10054") == 1; }));
  EXPECT_EQ(0u, server_events.Count("sent 5"));
}

TEST_F(QtSocketTest, HandlerMayUnloadItsOwnElement) {
  ConnectPair();
  server_events.on_data = [&](int i) { server.Unload(i); };
  client[1].SendData("QUIT\r\n");
  ASSERT_TRUE(PumpUntil([&] { return !server.Exists(5); }));
  ASSERT_TRUE(PumpUntil([&] { return client_events.Count("close 1") == 1; }));
}

TEST_F(QtSocketTest, UnacceptedRequestIsClosed) {
  server_events.on_request = nullptr;
  ASSERT_EQ(0, server[0].Listen());
  client[1].SetRemoteHost("127.0.0.1");
  client[1].SetRemotePort(server[0].LocalPort());
  client[1].Connect();
  ASSERT_TRUE(PumpUntil([&] { return client_events.Count("close 1") == 1; }));
  EXPECT_EQ(1u, server_events.Count("request 0"));
}

TEST_F(QtSocketTest, MisuseRaisesTheControlsErrors) {
  auto number = ErrorNumber;
  EXPECT_EQ(360, number([&] { server.Load(0); }));
  EXPECT_EQ(340, number([&] { server[7]; }));
  EXPECT_EQ(340, number([&] { server.Unload(7); }));
  EXPECT_EQ(kWsaBadState, number([&] { client[1].SendData("x"); }));
  EXPECT_EQ(kWsaBadState, number([&] { client[1].StartTls(TlsOptions{}); }));
  EXPECT_EQ(380, number([&] { server[0].SetLocalPort(70000); }));
  ASSERT_EQ(0, server[0].Listen());
  EXPECT_EQ(kWsaInvalidOp, number([&] { server[0].Listen(); }));
}

// How the handshake ends against each kind of server: the session comes up
// with its description, or the element fails with kTlsFailure and a reason
// made of the library's words only.
TEST_F(QtSocketTest, TlsHandshakeOutcomes) {
  struct Case {
    const char* name;
    TlsPeer::Mode mode;
    TlsPeer::Certificate certificate;
    int max_version;
    TlsOptions options;
    const char* description;  // a pattern when the session comes up
    const char* error;        // the reason when it fails
    const char* server_name;  // what the server was sent (SNI)
  };
  using M = TlsPeer::Mode;
  using C = TlsPeer::Certificate;
  const Case cases[] = {
      {"trusted and named", M::kTls, C::kSigned, 0, {true, test::kTlsTestHost}, "TLSv1\\.3 TLS_[A-Z0-9_]+", nullptr,
       test::kTlsTestHost},
      {"address checked, no name sent", M::kTls, C::kSigned, 0, {true, "127.0.0.1"}, "TLSv1\\.3 .+", nullptr, ""},
      {"TLS 1.2 server", M::kTls, C::kSigned, TLS1_2_VERSION, {true, test::kTlsTestHost},
       "TLSv1\\.2 ECDHE-[A-Z0-9-]+", nullptr, test::kTlsTestHost},
      {"unchecked takes self-signed", M::kTls, C::kSelfSigned, 0, {false, "other.dorvane.test"}, "TLSv1\\.3 .+",
       nullptr, "other.dorvane.test"},
      {"self-signed", M::kTls, C::kSelfSigned, 0, {true, test::kTlsTestHost}, nullptr,
       "TLS negotiation failed: certificate verify failed (self-signed certificate)", nullptr},
      {"wrong name", M::kTls, C::kSigned, 0, {true, "other.dorvane.test"}, nullptr,
       "TLS negotiation failed: certificate verify failed (hostname mismatch)", nullptr},
      {"check without a name", M::kTls, C::kSigned, 0, {true, ""}, nullptr,
       "TLS negotiation failed: no host name to check the certificate against", nullptr},
      {"TLS 1.1 server", M::kTls, C::kSigned, TLS1_1_VERSION, {true, test::kTlsTestHost}, nullptr,
       "TLS negotiation failed: tlsv1 alert protocol version", nullptr},
      {"plain answer", M::kGarbage, C::kSigned, 0, {false, test::kTlsTestHost}, nullptr,
       "TLS negotiation failed: wrong version number", nullptr},
  };
  int index = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    client_events = Recorder();
    TlsPeer peer(c.mode, c.certificate, c.max_version);
    StartTlsWith(peer, ++index, c.options);
    ASSERT_TRUE(PumpHandshake(peer, index));
    std::string ready = "tls " + std::to_string(index);
    if (c.error) {
      EXPECT_EQ(kTlsFailure, client_events.last_error);
      EXPECT_EQ(c.error, client_events.last_error_text);
      EXPECT_EQ(0u, client_events.Count(ready));
      EXPECT_EQ("", client[index].TlsDescription());
      // The element is closed: the server sees the connection end.
      EXPECT_TRUE(PumpUntil([&] { return peer.Step(), peer.Ended(); }));
      continue;
    }
    EXPECT_EQ(1u, client_events.Count(ready)) << client_events.last_error_text;
    EXPECT_EQ(0u, client_events.Count("sent " + std::to_string(index))) << "the handshake's own bytes";
    EXPECT_THAT(client[index].TlsDescription(), ::testing::MatchesRegex(c.description));
    ASSERT_TRUE(PumpUntil([&] { return peer.Step(), peer.Up(); }));
    EXPECT_EQ(c.server_name, peer.ServerName());
  }
}

// Text crosses the session both ways; what came in plain and was not taken
// before StartTls never shows, and Close tells the server with close_notify.
TEST_F(QtSocketTest, TlsCarriesTextBothWaysAndDropsEarlierPlainBytes) {
  TlsPeer peer(TlsPeer::Mode::kTls);
  peer.GreetInPlain("250 injected in plain\r\n");
  // Started from the handler, as a session does on the reply to STARTTLS,
  // leaving the received text untaken.
  bool started = false;
  client_events.on_data = [&](int i) {
    if (std::exchange(started, true)) return;
    client[i].StartTls({true, test::kTlsTestHost});
    client[i].SendData("EHLO a\r\n");  // held until the session is up
    EXPECT_EQ(kWsaInvalidOp, ErrorNumber([&] { client[i].StartTls({true, test::kTlsTestHost}); }));
  };
  ConnectTo(peer, 1);
  ASSERT_TRUE(PumpUntil([&] { return peer.Step(), peer.Received() == "EHLO a\r\n"; })) << peer.Received();
  ASSERT_TRUE(PumpUntil([&] { return client_events.Count("sent 1") == 1; }));
  EXPECT_EQ((std::vector<std::string>{"connect 1", "data 1", "tls 1", "sent 1"}), client_events.log);

  std::string big(300000, 'x');
  peer.Send(big);
  std::string got;
  ASSERT_TRUE(PumpUntil([&] { return peer.Step(), (got += client[1].GetData()).size() >= big.size(); }));
  EXPECT_EQ(big.size(), got.size());
  EXPECT_EQ(std::string::npos, got.find("injected"));

  client[1].Close();
  EXPECT_TRUE(PumpUntil([&] { return peer.Step(), peer.CloseNotified(); }));
  EXPECT_EQ("", client[1].TlsDescription());
}

// A server that ends the connection during or after the handshake is told
// as without TLS: an orderly end is Close, a reset is 10054.
TEST_F(QtSocketTest, TlsPeerEndingTheConnectionIsTold) {
  struct Case {
    const char* name;
    bool after_handshake;
    TlsPeer::End end;
  };
  const Case cases[] = {
      {"closed mid-handshake", false, TlsPeer::End::kFin},
      {"closed after", true, TlsPeer::End::kFin},
      {"reset after", true, TlsPeer::End::kReset},
  };
  int index = 10;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    client_events = Recorder();
    TlsPeer peer(c.after_handshake ? TlsPeer::Mode::kTls : TlsPeer::Mode::kSilent);
    StartTlsWith(peer, ++index, {false, test::kTlsTestHost});
    if (c.after_handshake) {
      ASSERT_TRUE(PumpHandshake(peer, index));
    } else {
      ASSERT_TRUE(PumpUntil([&] { return peer.Step(), !peer.Received().empty(); }));  // the ClientHello
    }
    peer.Drop(c.end);
    std::string told = c.end == TlsPeer::End::kFin ? "close " + std::to_string(index)
                                                    : "error " + std::to_string(index) + " 10054";
    ASSERT_TRUE(PumpUntil([&] { return client_events.Count(told) == 1; })) << ::testing::PrintToString(client_events.log);
    EXPECT_EQ(c.end == TlsPeer::End::kFin ? 0 : kWsaEconnreset, client_events.last_error);
  }
}

// A handshake waiting on a silent server holds nothing else up.
TEST_F(QtSocketTest, StalledHandshakeLeavesOtherElementsFlowing) {
  TlsPeer silent(TlsPeer::Mode::kSilent);
  StartTlsWith(silent, 2, {false, test::kTlsTestHost});
  ConnectPair();
  std::string received;
  server_events.on_data = [&](int i) { received += server[i].GetData(); };
  client[1].SendData("HELO a\r\n");
  ASSERT_TRUE(PumpUntil([&] { return silent.Step(), received == "HELO a\r\n"; })) << received;
  EXPECT_EQ(0u, client_events.Count("tls 2"));
  EXPECT_EQ(0, client_events.last_error);
  EXPECT_EQ(SocketState::Connected, client[2].State());
}

}  // namespace
}  // namespace dorvane
