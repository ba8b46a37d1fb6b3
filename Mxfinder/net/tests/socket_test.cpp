#include "net/socket.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "net/socket_errors.h"
#include "net/tests/event_loop_support.h"
#include "resolver/component_error.h"

namespace mxfinder {
namespace {

using testing::PumpUntil;

// Records every event as one line, and can adopt connection requests.
struct Recorder : CSocketEvents {
  std::vector<std::string> events;
  std::unique_ptr<CSocket> adopted;
  bool adopt = true;
  Recorder* adopted_events = nullptr;

  void OnClose() override { events.push_back("close"); }
  void OnConnect() override { events.push_back("connect"); }
  void OnConnectionRequest(int request_id) override {
    events.push_back("request");
    if (!adopt) return;
    adopted = std::make_unique<CSocket>();
    adopted->SetOwner(adopted_events);
    adopted->Accept(request_id);
  }
  void OnDataArrival(long total) override { events.push_back("data " + std::to_string(total)); }
  void OnError(int number, const std::string& text) override {
    events.push_back("error " + std::to_string(number) + " " + text);
  }
  void OnSendComplete() override { events.push_back("complete"); }
  void OnSendProgress(long sent, long left) override {
    events.push_back("progress " + std::to_string(sent) + " " + std::to_string(left));
  }
  bool Saw(const std::string& event) const {
    for (const auto& e : events) {
      if (e == event) return true;
    }
    return false;
  }
};

std::string Joined(const std::vector<std::string>& events) {
  std::string out;
  for (const auto& e : events) out += e + "|";
  return out;
}

class SocketTest : public ::testing::Test {};

class UdpTest : public SocketTest {
 protected:
  void SetUp() override {
    receiver.SetProtocol(sckUDPProtocol);
    receiver.SetOwner(&received);
    receiver.Bind(0, "127.0.0.1");
    sender.SetProtocol(sckUDPProtocol);
    sender.SetOwner(&sent);
    sender.SetRemotePort(receiver.LocalPort());
  }
  CSocket receiver, sender;
  Recorder received, sent;
};

TEST_F(UdpTest, DatagramToDottedAddressGoesOutAtOnceWithEveryByte) {
  const std::string bytes("a\0b\xff\x80z", 6);
  sender.SetRemoteHost("127.0.0.1");
  sender.SendData(bytes);
  EXPECT_EQ("complete|progress 6 0|", Joined(sent.events));
  EXPECT_EQ(sckHostResolved, sender.State());
  EXPECT_EQ("127.0.0.1", sender.RemoteHost());
  ASSERT_TRUE(PumpUntil([&] { return !received.events.empty(); }, 2000));
  EXPECT_EQ("data 6|", Joined(received.events));
  std::string got;
  ASSERT_TRUE(receiver.GetData(got));
  EXPECT_EQ(bytes, got);
  EXPECT_EQ(6, receiver.BytesReceived());
  EXPECT_EQ("127.0.0.1", receiver.RemoteHostIP());
  EXPECT_NE(0, receiver.RemotePort());
}

TEST_F(UdpTest, DatagramToHostNameWaitsForTheLookup) {
  sender.SetRemoteHost("localhost");
  sender.SendData(std::string("ping"));
  EXPECT_TRUE(sent.events.empty()) << Joined(sent.events);
  ASSERT_TRUE(PumpUntil([&] { return !received.events.empty(); }, 5000)) << Joined(sent.events);
  EXPECT_EQ("127.0.0.1", sender.RemoteHostIP());
  EXPECT_EQ(sckHostResolved, sender.State());
}

// A datagram socket that asks for error reports hears of a closed port by a
// receive error: it must reach the owner, not be dropped while the report
// keeps waking the notifier.
TEST_F(UdpTest, ReceiveErrorIsAnAsynchronousErrorThatClosesTheSocket) {
  sender.SetRemoteHost("127.0.0.1");
  sender.SendData(std::string("first"));  // makes the system socket
  const int on = 1;
  ASSERT_EQ(0, setsockopt(sender.SocketHandle(), IPPROTO_IP, IP_RECVERR, &on, sizeof on)) << errno;
  CSocket closed;
  closed.SetProtocol(sckUDPProtocol);
  closed.Bind(0, "127.0.0.1");
  const int closed_port = closed.LocalPort();
  closed.CloseSocket();
  sender.SetRemotePort(closed_port);
  sent.events.clear();
  sender.SendData(std::string("second"));
  ASSERT_TRUE(PumpUntil([&] { return sent.Saw("error 10061 Connection refused."); }, 2000)) << Joined(sent.events);
  EXPECT_EQ(sckError, sender.State());
  EXPECT_EQ(-1, sender.SocketHandle());
}

TEST_F(UdpTest, GetDataAndPeekDataTakeWhatIsAskedFromTheBuffer) {
  std::string got = "untouched";
  EXPECT_FALSE(receiver.GetData(got));
  EXPECT_EQ("untouched", got);
  sender.SetRemoteHost("127.0.0.1");
  sender.SendData(std::string("abcdef"));
  ASSERT_TRUE(PumpUntil([&] { return !received.events.empty(); }, 2000));
  ASSERT_TRUE(receiver.PeekData(got, 100));
  EXPECT_EQ("abcdef", got);
  ASSERT_TRUE(receiver.GetData(got, 2));
  EXPECT_EQ("ab", got);
  ASSERT_TRUE(receiver.GetData(got, -1));
  EXPECT_EQ("cdef", got);
  EXPECT_FALSE(receiver.PeekData(got));
}

TEST_F(UdpTest, NumbersTravelAsTheirBytes) {
  sender.SetRemoteHost("127.0.0.1");
  sender.SendData(int32_t{0x01020304});
  ASSERT_TRUE(PumpUntil([&] { return !received.events.empty(); }, 2000));
  int16_t low = 0;
  ASSERT_TRUE(receiver.GetData(low));
  EXPECT_EQ(0x0304, low);
  int32_t too_big = 0;
  EXPECT_FALSE(receiver.GetData(too_big));
}

TEST_F(SocketTest, PropertiesKeepTheirRulesWhileASocketExists) {
  CSocket s;
  EXPECT_EQ(sckClosed, s.State());
  EXPECT_EQ(-1, s.SocketHandle());
  s.SetProtocol(sckUDPProtocol);
  s.Bind(0, "127.0.0.1");
  s.SetProtocol(sckTCPProtocol);
  EXPECT_EQ(sckUDPProtocol, s.Protocol());
  s.SetRemoteHost("127.0.0.1");
  s.SetRemotePort(s.LocalPort());
  s.SendData(std::string("x"));
  EXPECT_EQ("127.0.0.1", s.RemoteHostIP());
  s.SetRemoteHost("localhost");
  EXPECT_EQ("", s.RemoteHostIP());
}

TEST_F(SocketTest, MisuseIsRefusedWithItsWinsockNumber) {
  CSocket tcp;
  try {
    tcp.SendData(std::string("x"));
    FAIL() << "no error";
  } catch (const ComponentError& e) {
    EXPECT_EQ(40006, e.number());
    EXPECT_EQ("CSocket.SendData", e.source());
  }
  try {
    tcp.Accept(0);  // standard input is no accepted connection
    FAIL() << "no error";
  } catch (const ComponentError& e) {
    EXPECT_EQ(10038, e.number());
  }
}

class TcpTest : public SocketTest {
 protected:
  void SetUp() override {
    listener.SetOwner(&listening);
    listening.adopted_events = &server;
    listener.Bind(0, "127.0.0.1");
    listener.Listen();
    client.SetOwner(&talking);
  }
  CSocket listener, client;
  Recorder listening, server, talking;
};

TEST_F(TcpTest, ConnectExchangeAndCloseFromBothSides) {
  EXPECT_EQ(sckListening, listener.State());
  client.Connect("127.0.0.1", listener.LocalPort());
  ASSERT_TRUE(PumpUntil([&] { return talking.Saw("connect") && listening.adopted; }, 2000));
  EXPECT_EQ(sckConnected, client.State());
  EXPECT_EQ(sckConnected, listening.adopted->State());
  EXPECT_EQ(client.LocalPort(), listening.adopted->RemotePort());

  client.SendData(std::string("ping"));
  ASSERT_TRUE(PumpUntil([&] { return server.Saw("data 4"); }, 2000)) << Joined(server.events);
  listening.adopted->SendData(std::string("pong"));
  ASSERT_TRUE(PumpUntil([&] { return talking.Saw("data 4"); }, 2000));
  std::string got;
  client.GetData(got);
  EXPECT_EQ("pong", got);

  client.CloseSocket();
  EXPECT_EQ(sckClosing, client.State());
  ASSERT_TRUE(PumpUntil([&] { return server.Saw("close") && talking.Saw("close"); }, 2000))
      << Joined(server.events) << " / " << Joined(talking.events);
  EXPECT_EQ(sckClosed, listening.adopted->State());
  EXPECT_EQ(sckClosed, client.State());
  EXPECT_EQ(-1, client.SocketHandle());
}

TEST_F(TcpTest, ConnectionNobodyAdoptsIsClosed) {
  listening.adopt = false;
  client.Connect("127.0.0.1", listener.LocalPort());
  ASSERT_TRUE(PumpUntil([&] { return talking.Saw("close"); }, 2000)) << Joined(talking.events);
  EXPECT_TRUE(listening.Saw("request"));
}

TEST_F(TcpTest, RefusedConnectIsAnAsynchronousError) {
  int port = listener.LocalPort();
  listener.CloseSocket();
  client.Connect("127.0.0.1", port);
  ASSERT_TRUE(PumpUntil([&] { return !talking.events.empty(); }, 2000));
  EXPECT_EQ("error 10061 Connection refused.|", Joined(talking.events));
  EXPECT_EQ(sckError, client.State());
  EXPECT_EQ(-1, client.SocketHandle());
}

TEST(SocketErrorsTest, CodesAndTexts) {
  EXPECT_EQ("Connection refused.", GetErrorDescription(10061));
  EXPECT_EQ("Valid name, no data record of requested type.", GetErrorDescription(11004));
  EXPECT_EQ("Unknown error.", GetErrorDescription(10059));
  EXPECT_EQ(10061, WinsockCodeFromErrno(ECONNREFUSED));
  EXPECT_EQ(10054, WinsockCodeFromErrno(ECONNRESET));
  EXPECT_EQ(10048, WinsockCodeFromErrno(EADDRINUSE));
  EXPECT_EQ(10107, WinsockCodeFromErrno(ENOENT));
}

}  // namespace
}  // namespace mxfinder
