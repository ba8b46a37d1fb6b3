// Scanning OutBox, dispatching, and returning deferred files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "delivery/queue_scan.h"
#include "delivery/session_states.h"
#include "delivery/spool_moves.h"
#include "delivery/tests/delivery_support.h"
#include "mx/mx_lookup.h"
#include "relay/connexion.h"
#include "service/inbound_session.h"
#include "spool/message_format.h"
#include "spool/spool_file.h"

namespace fs = std::filesystem;

namespace dorvane::testing {
namespace {

class QueueScanTest : public DeliveryTest {
 protected:
  // Sets the modification time of `folder`/`name` to `seconds` ago.
  void Age(const std::string& folder, const std::string& name, int seconds) {
    fs::path path = program.Path(folder + "/" + name);
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::seconds(seconds));
  }
};

TEST_F(QueueScanTest, ScanWithNothingToSendEnablesTheTimer) {
  fs::create_directories(program.Path("OutBox/sub"));
  program.Write("OutBox/.F9.tmp", "half written");  // a spool write in progress
  Queue("F1", {"<a@dest.test>"});
  CnxOut(7).CurrentOutFile = "F1";
  CnxOut(7).SetStatus(kOutHeloSent);  // F1 is being delivered
  VerifOutBox();
  EXPECT_TRUE(form->outbox_timer.Enabled());
  EXPECT_EQ(form->distant.LoadCount(1), 0);
  EXPECT_EQ(CnxOut(1).Status(), kOutFree);
}

TEST_F(QueueScanTest, KeepLocalHoldsOutBoxButDeferredStillMoves) {
  Config().KeepLocal = true;
  Queue("F1", {"<a@dest.test>"});
  Queue("D1", {"<a@dest.test>"}, 1, false, "Deferred");
  tmrVerifOutBox_Timer();
  VerifOutBox();
  EXPECT_EQ(form->outbox_timer.set_calls, 0);
  Flush();
  EXPECT_EQ(Files("OutBox"), (std::vector<std::string>{"D1", "F1"}));
  EXPECT_EQ(CnxOut(1).Status(), kOutFree);
}

TEST_F(QueueScanTest, TimerGoesOnTickingWhileSessionsWait) {
  Route("dest.test", {"mx.dest.test"});
  Queue("F1", {"<a@dest.test>"});
  form->outbox_timer.SetEnabled(true);
  tmrVerifOutBox_Timer();
  EXPECT_TRUE(form->outbox_timer.Enabled());
  EXPECT_EQ(CnxOut(1).Status(), kOutConnecting);
  EXPECT_EQ(CnxOut(1).Message().Essai, 1);
  // F1's exchanger says nothing; the next tick still dispatches F2.
  Queue("F2", {"<b@dest.test>"});
  tmrVerifOutBox_Timer();
  EXPECT_TRUE(form->outbox_timer.Enabled());
  EXPECT_EQ(CnxOut(2).Status(), kOutConnecting);
  EXPECT_EQ(CnxOut(2).CurrentOutFile, "F2");
  // A tick while a resolver waits (and runs events) starts no nested scan.
  int depth = 0, deepest = 0;
  SetMxLookup([&](std::string&, const std::string&) {
    deepest = std::max(deepest, ++depth);
    tmrVerifOutBox_Timer();
    --depth;
    return std::string();
  });
  for (const char* name : {"N1", "N2", "N3"}) Queue(name, {"<a@nomx.test>"});
  tmrVerifOutBox_Timer();
  EXPECT_EQ(deepest, 1);
  EXPECT_EQ(Files("Deferred"), (std::vector<std::string>{"N1", "N2", "N3"}));
}

TEST_F(QueueScanTest, DeferredFilesReturnOnlyWhenStrictlyOlderThanTheDelay) {
  EXPECT_FALSE(DeferredDue(1000, 1000 + 3600, 60));
  EXPECT_TRUE(DeferredDue(1000, 1000 + 3601, 60));
  EXPECT_TRUE(DeferredDue(1000, 1001, 0));
  Config().AttemptDelay = 1000;  // used as 546 minutes
  Queue("OLD", {"<a@dest.test>"}, 1, false, "Deferred");
  Queue("NEW", {"<a@dest.test>"}, 1, false, "Deferred");
  Age("Deferred", "OLD", 546 * 60 + 30);
  Age("Deferred", "NEW", 546 * 60 - 30);
  fs::create_directories(program.Path("Deferred/sub"));
  VerifDeferred();
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{"OLD"});
  EXPECT_EQ(Read("OutBox", "OLD").Essai, 1);
  Flush();
  EXPECT_EQ(Files("OutBox"), (std::vector<std::string>{"NEW", "OLD"}));
  EXPECT_EQ(Files("Deferred"), std::vector<std::string>{"sub"});
}

// Files settled without a session (damaged: Error; no route: Deferred) do
// not end a scan, so two scans settle them all whatever the listing order,
// and each scan starts at most one session.
TEST_F(QueueScanTest, FilesSettledWithoutASessionLetTheScanGoOn) {
  Route("dest.test", {"mx.dest.test"});
  program.Write("OutBox/BAD", std::string("\x05\x00" "ab", 4));  // a truncated record
  const std::pair<const char*, std::string> texts[] = {
      {"DOT", "Subject: x\r\n\r\nend\r\n.\r\nMAIL FROM:<ceo@bank.test>\r\n"},
      {"LF", "Subject: x\n\nbare line ends\n"},
      {"LEADING", ".\r\nRSET\r\n"},
  };
  for (const auto& [name, data] : texts) {
    Queue(name, {"<a@dest.test>"});
    CMessage m = Read("OutBox", name);
    m.Data = data;
    m.MWrite(program.Path(std::string("OutBox/") + name));
  }
  // A whole record whose text is larger than any message the relay takes:
  // refused by its size before it is read (sparse, so the test stays cheap).
  CMessage big = Read("OutBox", "DOT");
  big.Data = std::string(70000, 'x');  // long enough for the 32-bit length
  std::string bytes = EncodeMessage(big);
  bytes.resize(bytes.size() - big.Data.size());
  const uint32_t huge = kMaxMessageBytes + 2 * 1024 * 1024;
  for (int k = 0; k < 4; ++k) bytes[bytes.size() - 4 + k] = static_cast<char>((huge >> (8 * k)) & 0xFF);
  program.Write("OutBox/BIG", bytes);
  fs::resize_file(program.Path("OutBox/BIG"), bytes.size() + huge);
  Queue("NOMX1", {"<a@nomx.test>"});
  Queue("NOMX2", {"<b@nomx.test>"});
  Queue("F1", {"<a@dest.test>"});
  VerifOutBox();
  VerifOutBox();
  EXPECT_EQ(Files("Error"), (std::vector<std::string>{"BAD", "BIG", "DOT", "LEADING", "LF"}));
  EXPECT_EQ(Files("Deferred"), (std::vector<std::string>{"NOMX1", "NOMX2"}));
  std::vector<std::string> why;
  for (const std::string& line : ErrorLog()) why.push_back(line.substr(0, line.find(" The spool")));
  std::sort(why.begin(), why.end());
  EXPECT_EQ(why, (std::vector<std::string>{" BAD", " BIG", " DOT", " LEADING", " LF"}));
  EXPECT_EQ(CnxOut(1).CurrentOutFile, "F1");
  EXPECT_EQ(CnxOut(1).Status(), kOutConnecting);
  EXPECT_EQ(CnxOut(2).Status(), kOutFree);
}

TEST_F(QueueScanTest, AllSlotsBusyLeavesTheFileQueued) {
  for (int i = 1; i <= 99; ++i) CnxOut(i).SetStatus(kOutHeloSent);
  Queue("F1", {"<a@dest.test>"});
  VerifOutBox();
  EXPECT_TRUE(form->outbox_timer.Enabled());
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{"F1"});
  EXPECT_EQ(Read("OutBox", "F1").Essai, 0);
}

TEST_F(QueueScanTest, NoRouteDefersUntilTheAttemptsAreUsedUp) {
  struct Case {
    uint8_t essai;
    bool for_sender;
    const char* folder;
    uint8_t essai_after;
  };
  const Case cases[] = {
      {0, false, "Deferred", 1},
      {3, false, "OutBox", 0},     // fourth dispatch with MaxNbrAttempt 3: the bounce
      {3, true, "Deferred", 4},    // a notice is never bounced here
      {255, true, "Deferred", 255},  // the counter stops at 255
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.essai));
    Queue("F1", {"<a@nomx.test>"}, c.essai, c.for_sender);
    VerifOutBox();
    EXPECT_EQ(MailLog().back(), " Dorvane/smtpdistant: F1 421 No MX DNS available for nomx.test using NS 127.0.0.53 status=bounced");
    CMessage m = Read(c.folder, "F1");
    EXPECT_EQ(m.Essai, c.essai_after);
    EXPECT_EQ(CnxOut(1).Status(), kOutFree);
    EXPECT_TRUE(form->outbox_timer.Enabled());
    fs::remove(program.Path(std::string(c.folder) + "/F1"));
  }
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});
}

// Scans go on through an earlier listing: a file queued meanwhile must still
// be found, no file may be taken twice, and "nothing to send" must hold.
TEST_F(QueueScanTest, ScansTakeEachFileOnceIncludingFilesQueuedDuringAPass) {
  Route("dest.test", {"mx.dest.test"});
  for (const char* name : {"F1", "F2", "F3"}) Queue(name, {"<a@dest.test>"});
  VerifOutBox();
  Queue("F4", {"<a@dest.test>"});
  for (int scan = 0; scan < 3; ++scan) VerifOutBox();
  form->outbox_timer.SetEnabled(false);
  VerifOutBox();  // everything is in progress now
  std::set<std::string> bound;
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(CnxOut(i).Status(), kOutConnecting) << i;
    bound.insert(CnxOut(i).CurrentOutFile);
  }
  EXPECT_EQ(bound, (std::set<std::string>{"F1", "F2", "F3", "F4"}));
  EXPECT_EQ(CnxOut(5).Status(), kOutFree);
  EXPECT_TRUE(form->outbox_timer.Enabled());
}

TEST_F(QueueScanTest, SlotAfterANoRouteCaseTakesTheNextRouteWhole) {
  Queue("F1", {"<a@nomx.test>"});
  VerifOutBox();
  Route("dest.test", {"mx.dest.test"});
  // Recipients in two domains: the first one's route serves them all.
  Queue("F2", {"<a@dest.test>", "<b@other.test>"});
  VerifOutBox();
  EXPECT_EQ(CnxOut(1).CurrentOutFile, "F2");
  EXPECT_EQ(CnxOut(1).Status(), kOutConnecting);
  EXPECT_EQ(form->distant.At(1).RemoteHost(), "mx.dest.test");
}

}  // namespace
}  // namespace dorvane::testing
