#include "log/logs.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <filesystem>

#include "base/program.h"
#include "base/runtime_error.h"
#include "log/guard.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

const std::string kSafeHeader =
    "<HR><FONT face='Verdana' size='2'><I>DEBUG - SAFE MODE - CONFIG NOT LOADING</I></FONT>\r\n";

// The logs of the test folder, written through files that fail on demand,
// and installed as the fatal report's logs.
class LogsTest : public ::testing::Test {
 protected:
  LogsTest() {
    InstallFatalReport({&logs_, &program_.dialogs, [](int status) { throw ProgramEnded{status}; }});
  }
  void Loaded(bool debug) { logs_.SetDebugMode(debug); }

  TestEnvironment t_;
  TestProgram& program_ = t_.program;
  Logs logs_{t_.files, program_.folder()};
};

TEST_F(LogsTest, BeforeTheConfigurationEveryEntryIsFramedAsSafeMode) {
  logs_.DbgAdd("a");
  logs_.DbgAdd("b", kDbgDnsCache);
  EXPECT_EQ(program_.Read("Debug.html"),
            kSafeHeader + "<FONT face='Verdana' size='2'>a\r\n</FONT><HR>\r\n" + kSafeHeader +
                "<FONT face='Verdana' size='2' COLOR='#FF8000'>b\r\n</FONT><HR>\r\n");
}

TEST_F(LogsTest, LoadedConfigurationWritesOnlyInDebugMode) {
  Loaded(false);
  logs_.DbgAdd("quiet");
  EXPECT_FALSE(std::filesystem::exists(program_.Path("Debug.html")));

  Loaded(true);
  logs_.DbgAdd("loud");
  EXPECT_EQ(program_.Read("Debug.html"), "<FONT face='Verdana' size='2'>loud\r\n</FONT>\r\n");
}

TEST_F(LogsTest, KindsChooseColourAndMarker) {
  const std::pair<int, std::string> cases[] = {
      {0, "<FONT face='Verdana' size='2'>t"},
      {1,
       "<FONT face='Verdana' size='2' COLOR='#0000FF'><FONT face='Wingdings' "
       "size='3'>\xC3\xAF</FONT> t"},
      {2, "<FONT face='Verdana' size='2'><FONT face='Wingdings' size='3'>\xC3\xB0</FONT> t"},
      {3, "<FONT face='Verdana' size='2'><FONT face='Wingdings' size='3'>3</FONT> t"},
      {4, "<FONT face='Verdana' size='2' COLOR='#FF8000'>t"},
      {5, "<FONT face='Verdana' size='2'>t"},
      {-1, "<FONT face='Verdana' size='2'>t"},
  };
  Loaded(true);
  for (const auto& [kind, start] : cases) {
    std::filesystem::remove(program_.Path("Debug.html"));
    logs_.DbgAdd("t", kind);
    EXPECT_EQ(program_.Read("Debug.html"), start + "\r\n</FONT>\r\n") << "kind " << kind;
  }
}

// The echo is the same one line, also when the file refuses it; the other
// logs are not echoed.
TEST_F(LogsTest, MailLogEchoCopiesEachLineToStandardError) {
  t_.files.Fail("Append", "maillog.txt", ENOSPC);
  logs_.SetMailLogEcho(true);
  testing::internal::CaptureStderr();
  logs_.MailLogAdd("Jan 01 2026 00:00:00 Dorvane: a\r\nplanted");
  logs_.ErrorLogAdd("error line");
  logs_.SetMailLogEcho(false);
  logs_.MailLogAdd("quiet");
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Jan 01 2026 00:00:00 Dorvane: aplanted\n"), std::string::npos) << err;
  EXPECT_EQ(err.find("quiet"), std::string::npos) << err;
  EXPECT_EQ(err.find("error line"), std::string::npos) << err;
}

TEST_F(LogsTest, MailLogIsWrittenEvenWithDebugOff) {
  Loaded(false);
  logs_.MailLogAdd("Jan 01 2026 00:00:00 Dorvane: x");
  logs_.ErrorLogAdd("e");
  logs_.UpdateLogAdd("u");
  EXPECT_EQ(program_.Read("maillog.txt"), "Jan 01 2026 00:00:00 Dorvane: x\r\n");
  EXPECT_EQ(program_.Read("error.txt"), "e\r\n");
  EXPECT_EQ(program_.Read("update.txt"), "u\r\n");
  EXPECT_FALSE(std::filesystem::exists(program_.Path("Debug.html")));

  // A log renamed or removed by hand is let go at its next line, though the
  // file stays open between lines.
  std::filesystem::rename(program_.Path("maillog.txt"), program_.Path("maillog.old"));
  logs_.MailLogAdd("after rename");
  std::filesystem::remove(program_.Path("error.txt"));
  logs_.ErrorLogAdd("after removal");
  EXPECT_EQ(program_.Read("maillog.old"), "Jan 01 2026 00:00:00 Dorvane: x\r\n");
  EXPECT_EQ(program_.Read("maillog.txt"), "after rename\r\n");
  EXPECT_EQ(program_.Read("error.txt"), "after removal\r\n");

  // A line the disk takes only in part is cut back whole (a file size
  // limit stands in for a full disk: the first write is short, the next fails).
  struct rlimit limit {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  const struct rlimit tight {20, limit.rlim_max};
  std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
  logs_.MailLogAdd("a line that does not fit");
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  std::signal(SIGXFSZ, SIG_DFL);
  logs_.MailLogAdd("fits");
  EXPECT_EQ(program_.Read("maillog.txt"), "after rename\r\nfits\r\n");

  Loaded(true);
  logs_.MailLogAdd("y");
  EXPECT_EQ(program_.Read("Debug.html"),
            "<FONT face='Verdana' size='2'><FONT face='Wingdings' size='3'>3</FONT> [MAILLOG]: "
            "y<BR>\r\n</FONT>\r\n");
}

// A peer text must not add a line of its own (a forged "status=sent")
// nor hide bytes in one: each call is exactly one line, controls removed.
TEST_F(LogsTest, HostileTextsBecomeOneLineWithoutControls) {
  const std::pair<std::string, std::string> cases[] = {
      {"250 ok\r\nJan 01 2026 00:00:00 Dorvane/smtpdistant[1]: x status=sent",
       "250 okJan 01 2026 00:00:00 Dorvane/smtpdistant[1]: x status=sent"},
      {"bare\nlf and bare\rcr", "barelf and barecr"},
      {std::string("nul\0cut", 7), "nulcut"},
      {"tab\there \x1b[31mred\x7f\x01", "tabhere [31mred"},
      {"caf\xC3\xA9 \xE2\x82\xAC stays", "caf\xC3\xA9 \xE2\x82\xAC stays"},
      {"\r\n", ""},
  };
  Loaded(true);
  std::string mail, error, update;
  for (const auto& [in, out] : cases) {
    logs_.MailLogAdd(in);
    logs_.ErrorLogAdd(in);
    logs_.UpdateLogAdd(in);
    mail += out + "\r\n";
  }
  EXPECT_EQ(program_.Read("maillog.txt"), mail);
  EXPECT_EQ(program_.Read("error.txt"), mail);
  EXPECT_EQ(program_.Read("update.txt"), mail);
  EXPECT_EQ(OneLogLine(std::string(1, '\0')), "");

  std::filesystem::remove(program_.Path("Debug.html"));
  logs_.MailLogAdd("from=<script>x</script>");
  EXPECT_EQ(program_.Read("Debug.html"),
            "<FONT face='Verdana' size='2'><FONT face='Wingdings' size='3'>3</FONT> [MAILLOG]: "
            "from=&lt;script&gt;x&lt;/script&gt;<BR>\r\n</FONT>\r\n");
}

// A full disk or a broken log path costs lines, never the relay; the
// first failure of a run is told once on stderr, the next run again.
TEST_F(LogsTest, UnwritableLogDropsTheLineAndTellsOncePerRun) {
  Loaded(true);
  auto fail_all_but = [this](const std::string& spared) {
    t_.files.Clear();
    for (const char* name : {"maillog.txt", "error.txt", "update.txt", "Debug.html"})
      if (name != spared) t_.files.Fail("Append", name, ENOSPC);
  };
  fail_all_but("");
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) {
    EXPECT_NO_THROW(logs_.MailLogAdd("m"));
    EXPECT_NO_THROW(logs_.ErrorLogAdd("e"));
    EXPECT_NO_THROW(logs_.UpdateLogAdd("u"));
  }
  fail_all_but("error.txt");
  logs_.ErrorLogAdd("back");
  fail_all_but("");
  logs_.ErrorLogAdd("lost again");
  std::string told = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 5) << told;
  EXPECT_NE(told.find("maillog.txt"), std::string::npos) << told;
  EXPECT_EQ(program_.Read("error.txt"), "back\r\n");
  EXPECT_EQ(program_.Read("maillog.txt"), "");
  EXPECT_TRUE(program_.dialogs.boxes.empty());
}

TEST(HtmlEscape, EscapesBracketsAndLineEndsOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"550 <a@b.example> & co\r\n", "550 &lt;a@b.example&gt; & co<BR>"},
      {"lone\rcr\nlf", "lone\rcr\nlf"},
      {"\r\r\n\n", "\r<BR>\n"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(HtmlEscape(in), out);
}

const std::string kFatalBox =
    "Une erreur est survenue dans Dorvane Version " + VersionText() + "\r\n"
    "Si vous avez activez l'option mode debug alors visualisez le fichier Debug.html\r\n"
    "Ce fichier contient les erreurs survenues\r\n\r\n"
    "Nous sommes d\xC3\xA9sol\xC3\xA9 mais l'application ne peut continuer ...\r\n\r\n";

TEST_F(LogsTest, ProgramErrorShowsItsBoxAndEndsWithAFailureStatus) {
  t_.logs.SetDebugMode(false);  // the entry must come from the installed logs
  try {
    ProgramError("MOD:X[Y]", "6", "Overflow");
    FAIL() << "ProgramError returned";
  } catch (const ProgramEnded& e) {
    EXPECT_NE(e.status, 0);
  }
  ASSERT_EQ(program_.dialogs.boxes.size(), 1u);
  EXPECT_EQ(program_.dialogs.boxes[0].text, kFatalBox);
  EXPECT_EQ(program_.dialogs.boxes[0].title, "Erreur fatale");
  EXPECT_EQ(program_.dialogs.boxes[0].icon, DialogIcon::Critical);
  EXPECT_NE(program_.Read("Debug.html")
                .find("<P><FONT COLOR='#FF0000'><B>ERREUR PROGRAMME <BR>Where: MOD:X[Y]"
                      "<BR>Num\xC3\xA9ro: 6<BR>Description: Overflow</B></FONT>\r\n"),
            std::string::npos);
}

TEST_F(LogsTest, ProgramErrorWithDebugOffLeavesNoTrace) {
  Loaded(false);
  EXPECT_THROW(ProgramError("MOD:X[Y]", "6", "Overflow"), ProgramEnded);
  EXPECT_EQ(program_.dialogs.boxes.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(program_.Path("Debug.html")));
}

TEST_F(LogsTest, NestedGuardsReportOnce) {
  auto inner = [] {
    Guard("MOD:INNER[x]", [] { Raise(kErrSubscript, "Dorvane", "Subscript out of range"); });
  };
  EXPECT_THROW(Guard("MOD:OUTER[y]", inner), ProgramEnded);
  EXPECT_EQ(program_.dialogs.boxes.size(), 1u);
  std::string debug = program_.Read("Debug.html");
  EXPECT_NE(debug.find("Where: MOD:INNER[x]<BR>Num\xC3\xA9ro: 9<BR>"), std::string::npos);
  EXPECT_EQ(debug.find("OUTER"), std::string::npos);
}

}  // namespace
}  // namespace dorvane
