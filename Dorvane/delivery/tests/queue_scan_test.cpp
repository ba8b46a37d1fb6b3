// Scanning OutBox, dispatching, and returning deferred files.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#include "config/configuration.h"
#include "delivery/outbound_slot.h"
#include "delivery/queue_scan.h"
#include "delivery/session_states.h"
#include "delivery/tests/delivery_support.h"
#include "relay/connexion.h"
#include "spool/message_format.h"
#include "spool/spool_file.h"

namespace fs = std::filesystem;

namespace dorvane::testing {
namespace {

class QueueScanTest : public DeliveryTest {
 protected:
  // Puts a message in OutBox as another program would: the queue is not told.
  void QueueByHand(const std::string& name, const std::string& rcpt) {
    Queue(name, {rcpt}, 0, false, "Error");
    fs::rename(test.program.Path("Error/" + name), test.program.Path("OutBox/" + name));
  }
  // The files of the busy slots, each with whether it is a notice.
  std::map<std::string, bool> InSession() {
    std::map<std::string, bool> files;
    for (int i = 1; i <= kLastSlot; ++i)
      if (Out(i).Status() != kOutFree) files[Out(i).CurrentOutFile] = Out(i).Message().ForSender;
    return files;
  }
  // Sets the modification time of `folder`/`name` to `seconds` ago.
  void Age(const std::string& folder, const std::string& name, int seconds) {
    fs::path path = test.program.Path(folder + "/" + name);
    const auto when = std::chrono::system_clock::from_time_t(test.clock.now - seconds);
    fs::last_write_time(path, fs::file_time_type::clock::from_sys(when));
  }
};

// A whole delivery through the session's socket events: each reply sends
// the next command; the file goes and the slot is freed once QUIT is out.
TEST_F(QueueScanTest, DeliveredFileGoesAndItsSlotIsFreedOnceQuitIsOut) {
  Route("dest.test", {"mx1.dest.test"});
  Queue("F1", {"<a@dest.test>", "<b@dest.test>"});
  queue().VerifOutBox();
  EXPECT_EQ(form.distant.At(1).RemoteHost(), "mx1.dest.test");
  EXPECT_EQ(form.distant.At(1).RemotePort(), 25);
  form.distant.At(1).peer.remote_ip = "127.0.0.7";
  form.distant.FireConnect(1);
  Converse(1, {"220 hi\r\n", "250 hi\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n"});
  form.distant.Receive(1, "250 2.0.0 queued as X\r\n");
  // EHLO refused: from HELO on, the dialogue of an exchanger without extensions.
  EXPECT_EQ(Sent(1), (std::vector<std::string>{"EHLO relay.test\r\n", "HELO relay.test\r\n",
                                               "MAIL FROM: <sender@origin.test>\r\n",
                                               "RCPT TO: <a@dest.test>\r\n", "RCPT TO: <b@dest.test>\r\n",
                                               "DATA\r\n", "Subject: hello\r\n\r\nbody line\r\n.\r\n",
                                               "QUIT\r\n"}));
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});
  EXPECT_EQ(Out(1).Status(), kOutEnding);  // until the QUIT is handed over
  EXPECT_EQ(form.distant.CloseCount(1), 0);
  form.outbox_timer.SetEnabled(false);
  form.distant.FireSendComplete(1);
  EXPECT_EQ(form.distant.CloseCount(1), 1);
  EXPECT_EQ(Out(1).Status(), kOutFree);
  EXPECT_FALSE(form.distant.Exists(1));
  EXPECT_TRUE(form.outbox_timer.Enabled());
  EXPECT_EQ(form.shell.refreshes.back(), std::make_pair(std::string("OUT"), 1));
  const std::string sent = ", relay=mx1.dest.test [127.0.0.7], status=sent (250 2.0.0 queued as X)";
  EXPECT_EQ(MailLog(), (std::vector<std::string>{
                           " Dorvane/smtpdistant[1]: F1 connect to mx1.dest.test [127.0.0.7]",
                           " Dorvane/smtpdistant[1]: F1 to=<a@dest.test>" + sent,
                           " Dorvane/smtpdistant[1]: F1 to=<b@dest.test>" + sent,
                       }));
  // The next scan does not look for the file it removed.
  test.files.calls.clear();
  queue().VerifOutBox();
  EXPECT_EQ(test.files.calls, (std::map<std::string, int>{}));
}

// Scans asked for by the sessions run once the event is handled, never
// inside it; a burst of replies waits for one scan, which uses a free slot.
TEST_F(QueueScanTest, SessionsAskForOnePostedScanThatDispatchesTheNextFile) {
  Route("dest.test", {"mx1.dest.test"});
  for (const char* name : {"F1", "F2", "F3", "F4"}) Queue(name, {"<a@dest.test>"});
  queue().VerifOutBox();
  queue().VerifOutBox();
  for (int i : {1, 2}) form.distant.FireConnect(i), form.distant.Receive(i, "220 hi\r\n");
  EXPECT_EQ(Out(3).Status(), kOutFree);  // not yet: the scan waits for the loop
  EXPECT_EQ(test.loop.tasks.size(), 1u);
  EXPECT_EQ(test.loop.RunPosted(), 1);
  EXPECT_EQ(Out(3).Status(), kOutConnecting);
  std::set<std::string> bound;
  for (int i : {1, 2, 3}) bound.insert(Out(i).CurrentOutFile);
  EXPECT_EQ(bound.size(), 3u);
  // A file gone since the pass listed it (delivered meanwhile) is passed
  // over, not put aside as unreadable.
  for (const std::string& name : Files("OutBox"))
    if (!bound.count(name)) fs::remove(test.program.Path("OutBox/" + name));
  form.outbox_timer.SetEnabled(false);
  queue().VerifOutBox();
  EXPECT_EQ(Files("Error"), std::vector<std::string>{});
  EXPECT_EQ(Out(4).Status(), kOutFree);
  EXPECT_TRUE(form.outbox_timer.Enabled());
}

TEST_F(QueueScanTest, ScanWithNothingToSendEnablesTheTimer) {
  fs::create_directories(test.program.Path("OutBox/sub"));
  test.program.Write("OutBox/.F9.tmp", "half written");  // a spool write in progress
  Queue("F1", {"<a@dest.test>"});
  Out(7).CurrentOutFile = "F1";
  Out(7).SetStatus(kOutHeloSent);  // F1 is being delivered
  queue().VerifOutBox();
  EXPECT_TRUE(form.outbox_timer.Enabled());
  EXPECT_EQ(form.distant.LoadCount(1), 0);
  EXPECT_EQ(Out(1).Status(), kOutFree);
}

TEST_F(QueueScanTest, KeepLocalHoldsOutBoxButDeferredStillMoves) {
  test.settings.running.KeepLocal = true;
  Queue("F1", {"<a@dest.test>"});
  Queue("D1", {"<a@dest.test>"}, 1, false, "Deferred");
  queue().OutBoxTick();
  queue().VerifOutBox();
  EXPECT_EQ(form.outbox_timer.set_calls, 0);
  queue().Flush();
  EXPECT_EQ(Files("OutBox"), (std::vector<std::string>{"D1", "F1"}));
  EXPECT_EQ(Out(1).Status(), kOutFree);
}

TEST_F(QueueScanTest, TimerGoesOnTickingWhileSessionsWait) {
  Route("dest.test", {"mx.dest.test"});
  Queue("F1", {"<a@dest.test>"});
  form.outbox_timer.SetEnabled(true);
  queue().OutBoxTick();
  EXPECT_TRUE(form.outbox_timer.Enabled());
  EXPECT_EQ(Out(1).Status(), kOutConnecting);
  EXPECT_EQ(Out(1).Message().Essai, 1);
  // F1's exchanger says nothing; the next tick still dispatches F2.
  Queue("F2", {"<b@dest.test>"});
  queue().OutBoxTick();
  EXPECT_TRUE(form.outbox_timer.Enabled());
  EXPECT_EQ(Out(2).Status(), kOutConnecting);
  EXPECT_EQ(Out(2).CurrentOutFile, "F2");
}

TEST_F(QueueScanTest, DeferredFilesReturnOnlyWhenStrictlyOlderThanTheDelay) {
  EXPECT_FALSE(DeferredDue(1000, 1000 + 3600, 60));
  EXPECT_TRUE(DeferredDue(1000, 1000 + 3601, 60));
  EXPECT_TRUE(DeferredDue(1000, 1001, 0));
  test.settings.running.AttemptDelay = 1000;  // used as 546 minutes
  Queue("OLD", {"<a@dest.test>"}, 1, false, "Deferred");
  Queue("NEW", {"<a@dest.test>"}, 1, false, "Deferred");
  Age("Deferred", "OLD", 546 * 60 + 30);
  Age("Deferred", "NEW", 546 * 60 - 30);
  fs::create_directories(test.program.Path("Deferred/sub"));
  queue().VerifDeferred();
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{"OLD"});
  EXPECT_EQ(Read("OutBox", "OLD").Essai, 1);
  // A shorter delay (a reload) applies to the files already known, with
  // no new listing: only the file it makes due is looked at.
  test.settings.running.AttemptDelay = 500;
  test.files.calls.clear();
  queue().VerifDeferred();
  EXPECT_EQ(Files("OutBox"), (std::vector<std::string>{"NEW", "OLD"}));
  EXPECT_EQ(test.files.calls, (std::map<std::string, int>{{"ModifiedTime", 1}}));
  // Flush lists the folder: a file put there by hand goes too, however young.
  Queue("HAND", {"<a@dest.test>"}, 1, false, "Deferred");
  queue().Flush();
  EXPECT_EQ(Files("OutBox"), (std::vector<std::string>{"HAND", "NEW", "OLD"}));
  EXPECT_EQ(Files("Deferred"), std::vector<std::string>{"sub"});
}

// However deep the queue, a tick with nothing due lists no folder and
// reads no file's time; a file that comes due costs a look at its own
// time, and the scan then takes it without a listing.
TEST_F(QueueScanTest, TicksWithNothingDueListNoFolderAndReadNoFileTime) {
  Route("dest.test", {"mx.dest.test"});
  for (int k = 0; k < 30; ++k) {
    const std::string name = "D" + std::to_string(k);
    Queue(name, {"<a@dest.test>"}, 1, false, "Deferred");
    Age("Deferred", name, 60 + k);
  }
  Queue("SOON", {"<a@dest.test>"}, 1, false, "Deferred");
  Age("Deferred", "SOON", 3600 - 5);  // due in 5 s with AttemptDelay 60
  queue().DeferredTick();             // the first full listing
  queue().OutBoxTick();
  test.files.calls.clear();
  for (int tick = 0; tick < 4; ++tick) {
    test.clock.Advance(1);
    queue().DeferredTick();
    queue().OutBoxTick();
  }
  EXPECT_EQ(test.files.calls, (std::map<std::string, int>{}));
  EXPECT_EQ(Out(1).Status(), kOutFree);
  test.clock.Advance(2);
  queue().DeferredTick();
  EXPECT_EQ(test.files.calls, (std::map<std::string, int>{{"ModifiedTime", 1}}));
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{"SOON"});
  queue().OutBoxTick();
  EXPECT_EQ(Out(1).CurrentOutFile, "SOON");
  EXPECT_EQ(Out(1).Status(), kOutConnecting);
  EXPECT_EQ(test.files.calls.count("List"), 0u);
  EXPECT_EQ(Files("Deferred").size(), 30u);
}

// The folders stay the truth: what the user or another program puts in or
// takes out is seen at the next full listing, a minute at most, or at once
// on "scan"; a known file taken away is passed over without harm.
TEST_F(QueueScanTest, FilesPutInOrTakenOutByHandAreSeenAtTheNextFullListing) {
  Route("dest.test", {"mx.dest.test"});
  Queue("GONE", {"<a@dest.test>"}, 1, false, "Deferred");
  Age("Deferred", "GONE", 3600 - 5);
  queue().DeferredTick();  // the first full listing
  queue().OutBoxTick();
  fs::remove(test.program.Path("Deferred/GONE"));
  Queue("HAND2", {"<b@dest.test>"}, 1, false, "Deferred");
  Age("Deferred", "HAND2", 2 * 3600);
  QueueByHand("HAND1", "<a@dest.test>");
  test.clock.Advance(30);
  queue().DeferredTick();  // GONE is due, and gone
  queue().OutBoxTick();
  EXPECT_EQ(Files("Deferred"), std::vector<std::string>{"HAND2"});
  EXPECT_EQ(Out(1).Status(), kOutFree);
  queue().ScanNow();
  EXPECT_EQ(Out(1).CurrentOutFile, "HAND1");
  QueueByHand("HAND3", "<c@dest.test>");
  queue().OutBoxTick();
  EXPECT_EQ(InSession().size(), 1u);
  test.clock.Advance(31);  // the last full listing is a minute old
  queue().DeferredTick();
  EXPECT_EQ(Files("Deferred"), std::vector<std::string>{});
  queue().OutBoxTick();
  queue().OutBoxTick();
  EXPECT_EQ(InSession(), (std::map<std::string, bool>{{"HAND1", false}, {"HAND2", false}, {"HAND3", false}}));
  EXPECT_EQ(Files("Error"), std::vector<std::string>{});
  EXPECT_EQ(ErrorLog(), std::vector<std::string>{});
}

// A folder that kept its own time since its last listing has had no name
// come or go: a minute later a look at that time replaces the listing,
// until a file is put in by hand. A time as recent as the listing itself
// proves nothing (a change in that second would not move it).
TEST_F(QueueScanTest, FoldersUnchangedSinceTheirLastListingAreNotListedAgain) {
  test.clock.now = std::time(nullptr);  // the folders' own times decide
  Queue("D1", {"<a@dest.test>"}, 1, false, "Deferred");
  for (const char* folder : {"OutBox", "Deferred"}) Age(folder, "", 1);
  queue().DeferredTick();  // the first full listing
  test.clock.Advance(61);
  test.files.calls.clear();
  queue().DeferredTick();
  EXPECT_EQ(test.files.calls["List"], 2);
  test.clock.Advance(61);
  test.files.calls.clear();
  queue().DeferredTick();
  queue().OutBoxTick();
  EXPECT_EQ(test.files.calls, (std::map<std::string, int>{{"ModifiedTime", 2}}));
  Queue("HAND", {"<a@dest.test>"}, 1, false, "Deferred");
  Age("Deferred", "HAND", 2 * 3600);
  test.clock.Advance(61);
  queue().DeferredTick();
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{"HAND"});
  EXPECT_EQ(Files("Deferred"), std::vector<std::string>{"D1"});
}

// What the delivery side itself puts in the folders is known without a
// listing: a deferral comes back when due, and its delay notice and a
// bounce written in place of its message are dispatched.
TEST_F(QueueScanTest, FilesTheDeliverySideQueuesAreTakenWithoutAListing) {
  test.clock.now = std::time(nullptr);  // the files' own times decide
  test.settings.running.AttemptDelay = 0;
  Route("dest.test", {"mx.dest.test"});
  Route("origin.test", {"mx.origin.test"});
  Queue("F1", {"<a@dest.test>"});
  Queue("F2", {"<b@dest.test>"}, 3);  // its next failure is its last
  queue().VerifOutBox();
  queue().VerifOutBox();
  ASSERT_EQ(Out(2).CurrentOutFile, "F2");
  test.files.calls.clear();
  form.distant.FireError(1, 10061, "refused");  // F1: deferred, with a notice
  form.distant.FireError(2, 10061, "refused");  // F2: bounced in its place
  ASSERT_EQ(Files("Deferred"), std::vector<std::string>{"F1"});
  queue().OutBoxTick();
  queue().OutBoxTick();
  std::map<std::string, bool> notices;  // the delay notice, and F2 as its bounce
  for (const std::string& name : Files("OutBox")) notices[name] = true;
  EXPECT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices.count("F2"), 1u);
  EXPECT_EQ(InSession(), notices);
  test.clock.Advance(2);
  queue().DeferredTick();
  queue().OutBoxTick();
  EXPECT_EQ(InSession().count("F1"), 1u);
  EXPECT_EQ(InSession().size(), 3u);
  // A session that ends without settling its file leaves it waiting.
  for (int i = 1; i <= kLastSlot; ++i)
    if (Out(i).Status() != kOutFree && Out(i).CurrentOutFile == "F1") ReleaseSmtpDistant(test.env, i);
  ASSERT_EQ(InSession().count("F1"), 0u);
  queue().OutBoxTick();
  EXPECT_EQ(InSession().count("F1"), 1u);
  EXPECT_EQ(test.files.calls.count("List"), 0u);
}

// Files settled without a session (damaged: Error; no route: Deferred) do
// not end a scan, so two scans settle them all whatever the listing order,
// and each scan starts at most one session.
TEST_F(QueueScanTest, FilesSettledWithoutASessionLetTheScanGoOn) {
  Route("dest.test", {"mx.dest.test"});
  test.program.Write("OutBox/BAD", std::string("\x05\x00" "ab", 4));  // a truncated record
  const std::pair<const char*, std::string> texts[] = {
      {"DOT", "Subject: x\r\n\r\nend\r\n.\r\nMAIL FROM:<ceo@bank.test>\r\n"},
      {"LF", "Subject: x\n\nbare line ends\n"},
      {"LEADING", ".\r\nRSET\r\n"},
  };
  for (const auto& [name, data] : texts) {
    Queue(name, {"<a@dest.test>"});
    CMessage m = Read("OutBox", name);
    m.Data = data;
    test.WriteMessage(m, kOutBox, name);
  }
  // A whole record whose text is larger than any message the relay takes:
  // refused by its size before it is read (sparse, so the test stays cheap).
  CMessage big = Read("OutBox", "DOT");
  big.Data = std::string(70000, 'x');  // long enough for the 32-bit length
  std::string bytes = EncodeMessage(big);
  bytes.resize(bytes.size() - big.Data.size());
  const uint32_t huge = kMaxMessageBytes + 2 * 1024 * 1024;
  for (int k = 0; k < 4; ++k) bytes[bytes.size() - 4 + k] = static_cast<char>((huge >> (8 * k)) & 0xFF);
  test.program.Write("OutBox/BIG", bytes);
  fs::resize_file(test.program.Path("OutBox/BIG"), bytes.size() + huge);
  Queue("NOMX1", {"<a@nomx.test>"});
  Queue("NOMX2", {"<b@nomx.test>"});
  Queue("F1", {"<a@dest.test>"});
  queue().VerifOutBox();
  queue().VerifOutBox();
  EXPECT_EQ(Files("Error"), (std::vector<std::string>{"BAD", "BIG", "DOT", "LEADING", "LF"}));
  EXPECT_EQ(Files("Deferred"), (std::vector<std::string>{"NOMX1", "NOMX2"}));
  std::vector<std::string> why;
  for (const std::string& line : ErrorLog()) why.push_back(line.substr(0, line.find(" The spool")));
  std::sort(why.begin(), why.end());
  EXPECT_EQ(why, (std::vector<std::string>{" BAD", " BIG", " DOT", " LEADING", " LF"}));
  EXPECT_EQ(Out(1).CurrentOutFile, "F1");
  EXPECT_EQ(Out(1).Status(), kOutConnecting);
  EXPECT_EQ(Out(2).Status(), kOutFree);
}

TEST_F(QueueScanTest, AllSlotsBusyLeavesTheFileQueuedAndFirst) {
  Route("dest.test", {"mx.dest.test"});
  for (int i = 1; i <= 99; ++i) Out(i).SetStatus(kOutHeloSent);
  Queue("F1", {"<a@dest.test>"});
  Queue("F2", {"<a@dest.test>"});
  queue().VerifOutBox();
  EXPECT_TRUE(form.outbox_timer.Enabled());
  EXPECT_EQ(Files("OutBox"), (std::vector<std::string>{"F1", "F2"}));
  EXPECT_EQ(Read("OutBox", "F1").Essai, 0);
  Out(5).SetStatus(kOutFree);
  queue().VerifOutBox();
  EXPECT_EQ(Out(5).CurrentOutFile, "F1");
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
    queue().VerifOutBox();
    EXPECT_EQ(MailLog().back(), " Dorvane/smtpdistant: F1 421 No MX DNS available for nomx.test using NS 127.0.0.53 status=bounced");
    CMessage m = Read(c.folder, "F1");
    EXPECT_EQ(m.Essai, c.essai_after);
    EXPECT_EQ(Out(1).Status(), kOutFree);
    EXPECT_TRUE(form.outbox_timer.Enabled());
    fs::remove(test.program.Path(std::string(c.folder) + "/F1"));
  }
  EXPECT_EQ(Files("OutBox"), std::vector<std::string>{});
}

// Scans go on through an earlier listing: a file queued meanwhile must still
// be found, no file may be taken twice, and "nothing to send" must hold.
TEST_F(QueueScanTest, ScansTakeEachFileOnceIncludingFilesQueuedDuringAPass) {
  Route("dest.test", {"mx.dest.test"});
  for (const char* name : {"F1", "F2", "F3"}) Queue(name, {"<a@dest.test>"});
  queue().VerifOutBox();
  Queue("F4", {"<a@dest.test>"});
  for (int scan = 0; scan < 3; ++scan) queue().VerifOutBox();
  form.outbox_timer.SetEnabled(false);
  queue().VerifOutBox();  // everything is in progress now
  std::set<std::string> bound;
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(Out(i).Status(), kOutConnecting) << i;
    bound.insert(Out(i).CurrentOutFile);
  }
  EXPECT_EQ(bound, (std::set<std::string>{"F1", "F2", "F3", "F4"}));
  EXPECT_EQ(Out(5).Status(), kOutFree);
  EXPECT_TRUE(form.outbox_timer.Enabled());
}

TEST_F(QueueScanTest, SlotAfterANoRouteCaseTakesTheNextRouteWhole) {
  Queue("F1", {"<a@nomx.test>"});
  queue().VerifOutBox();
  Route("dest.test", {"mx.dest.test"});
  // Recipients in two domains: the first one's route serves them all.
  Queue("F2", {"<a@dest.test>", "<b@other.test>"});
  queue().VerifOutBox();
  EXPECT_EQ(Out(1).CurrentOutFile, "F2");
  EXPECT_EQ(Out(1).Status(), kOutConnecting);
  EXPECT_EQ(form.distant.At(1).RemoteHost(), "mx.dest.test");
}

}  // namespace
}  // namespace dorvane::testing
