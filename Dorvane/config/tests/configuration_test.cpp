#include "config/configuration.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "base/program.h"
#include "base/runtime_error.h"
#include "config/language.h"
#include "config/settings_table.h"
#include "config/smtp_secret.h"
#include "log/logs.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

const std::string kHeader =
    "# Fichier de configuration de Dorvane\r\n"
    "# Placer un di\xC3\xA8se '#' devant une ligne pour qu'elle devienne un commentaire\r\n"
    "\r\n"
    "# Version de Dorvane pour ce fichier de configuration (derni\xC3\xA8re \xC3\xA9"
    "criture logicielle)\r\n"
    "# Dorvane Version " +
    VersionText() + "\r\n\r\n";

const std::string kKeyless = kHeader + "<Global>\r\n</Global>\r\n\r\n<Registry>\r\n</Registry>\r\n";

CConfiguration Read(const std::string& text) {
  CConfiguration c;
  ReadConfText(text, c);
  return c;
}

struct ReadCase {
  const char* name;
  std::string text;
  std::function<void(const CConfiguration&)> check;
};

TEST(ReadConfText, FollowsTheFileRules) {
  const ReadCase cases[] = {
      {"only Off is false", "KeepLocal Off\r\nRelay off\r\nDebug OFF\r\nLaunchStart\r\n",
       [](const CConfiguration& c) {
         EXPECT_FALSE(c.KeepLocal);
         EXPECT_TRUE(c.Relay);
         EXPECT_TRUE(c.DebugMode);
         EXPECT_TRUE(c.LaunchStart);
         EXPECT_TRUE(c.LaunchStartDefined);
       }},
      {"keys are case-sensitive", "debug On\r\nlistenport 99\r\n",
       [](const CConfiguration& c) {
         EXPECT_FALSE(c.DebugModeDefined);
         EXPECT_FALSE(c.ListenPortDefined);
       }},
      {"no trailing comments", "DNSServer 127.0.0.1 # mon FAI\r\n",
       [](const CConfiguration& c) { EXPECT_EQ(c.DNSServer, "127.0.0.1 # mon FAI"); }},
      {"key text removed inside the value", "SmtpServer mail.SmtpServer.example\r\n",
       [](const CConfiguration& c) { EXPECT_EQ(c.SmtpServer, "mail..example"); }},
      {"comma ends the value", "SmtpServer a.example, Relay Off\r\n",
       [](const CConfiguration& c) {
         EXPECT_EQ(c.SmtpServer, "a.example");
         EXPECT_FALSE(c.Relay);  // the rest is an entry of its own
       }},
      {"tabs separate, any section", "<Global>\r\n\tComputerStart\tOn\r\n</Global>\r\n",
       [](const CConfiguration& c) {
         EXPECT_TRUE(c.ComputerStart);
         EXPECT_TRUE(c.ComputerStartDefined);
       }},
      {"later line wins", "ListenPort 25\r\nListenPort 2525\r\n",
       [](const CConfiguration& c) { EXPECT_EQ(c.ListenPort, 2525); }},
      {"comments and prefixed keys ignored",
       "# Debug On\r\n  #Relay Off\r\n#DNSServer\t1.2.3.4\r\nRelayX Off\r\n",
       [](const CConfiguration& c) {
         EXPECT_FALSE(c.DebugModeDefined);
         EXPECT_FALSE(c.RelayDefined);
         EXPECT_FALSE(c.DNSServerDefined);
       }},
      {"quoted entry read without quotes", "\"Language en\"\r\n",
       [](const CConfiguration& c) { EXPECT_EQ(c.Language, "en"); }},
      {"number limits", "ListenPort 32767\r\nAttemptDelay -32768\r\nMaxNbrAttempt 255\r\n",
       [](const CConfiguration& c) {
         EXPECT_EQ(c.ListenPort, 32767);
         EXPECT_EQ(c.AttemptDelay, -32768);
         EXPECT_EQ(c.MaxNbrAttempt, 255);
       }},
      {"smarthost security", "SmtpPort 65535\r\nSmtpSecurity StartTls\r\nSmtpUser me@home.test\r\nSmtpTlsVerify Off\r\n",
       [](const CConfiguration& c) {
         EXPECT_EQ(c.SmtpPort, 65535);
         EXPECT_EQ(c.SmtpSecurity, "StartTls");
         EXPECT_EQ(c.SmtpUser, "me@home.test");
         EXPECT_FALSE(c.SmtpTlsVerify);
         EXPECT_TRUE(c.SmtpPortDefined && c.SmtpSecurityDefined && c.SmtpUserDefined && c.SmtpTlsVerifyDefined);
       }},
      {"empty text value", "SmtpServer\r\n",
       [](const CConfiguration& c) {
         EXPECT_TRUE(c.SmtpServerDefined);
         EXPECT_EQ(c.SmtpServer, "");
       }},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.check(Read(c.text));
  }
}

// The message names the setting, so the user knows which line to mend. A
// security value that is not exactly one of the three is refused rather
// than taken for plain text.
TEST(ReadConfText, ValuesThatDoNotConvertRaise) {
  const std::pair<std::string, long> cases[] = {
      {"ListenPort", kErrTypeMismatch},      {"ListenPort abc", kErrTypeMismatch},
      {"ListenPort 25.5", kErrTypeMismatch}, {"ListenPort 32768", kErrOverflow},
      {"ListenPort 0", kErrOverflow},        {"ListenPort -25", kErrOverflow},
      {"AttemptDelay -32769", kErrOverflow}, {"MaxNbrAttempt 256", kErrOverflow},
      {"MaxNbrAttempt -1", kErrOverflow},    {"MaxNbrAttempt 99999999999999999999", kErrOverflow},
      {"SmtpPort 65536", kErrOverflow},      {"SmtpPort 0", kErrOverflow},
      {"SmtpSecurity starttls", kErrTypeMismatch}, {"SmtpSecurity", kErrTypeMismatch},
      {"SmtpSecurity Ssl", kErrTypeMismatch},
  };
  for (const auto& [line, number] : cases) {
    try {
      Read(line + "\r\n");
      ADD_FAILURE() << line << " was accepted";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number(), number) << line;
      std::string key = line.substr(0, line.find(' '));
      EXPECT_TRUE(e.description().ends_with(" (" + key + ")")) << e.description();
    }
  }
}

class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    t_.UseLoopbackResolver();
    settings_.network = t_.settings.network;
  }
  void Load(bool apply) { ChargerConfig(settings_, t_.logs, t_.files, apply); }

  TestEnvironment t_;
  TestProgram& program_ = t_.program;
  Settings settings_;  // not the process's: loading needs none of its globals
  const CConfiguration& running_ = settings_.running;
  const CConfiguration& file_ = settings_.file;
};

TEST_F(ConfigurationTest, FileOfCommentsAndSectionsGivesTheDefaults) {
  program_.Write("Dorvane.ini", kKeyless);
  Load(true);

  const CConfiguration& c = running_;
  EXPECT_TRUE(c.LaunchStart);
  EXPECT_FALSE(c.DebugMode);
  EXPECT_FALSE(c.ComputerStart);
  EXPECT_EQ(c.DNSServer, "127.0.0.53");
  EXPECT_EQ(c.Language, "fr");
  EXPECT_FALSE(c.KeepLocal);
  EXPECT_EQ(c.ListenPort, 25);
  EXPECT_EQ(c.SmtpServer, kDefaultSmtpServer);
  EXPECT_EQ(c.MailDomain, MailDomainOf(settings_.host_name));
  EXPECT_EQ(c.MaxNbrAttempt, 3);
  EXPECT_EQ(c.AttemptDelay, 60);
  EXPECT_TRUE(c.Relay);
  EXPECT_EQ(ConfText(file_), kKeyless) << "a flag of FileConfig is set";
  EXPECT_TRUE(settings_.config_loaded);
  EXPECT_FALSE(t_.settings.config_loaded);
  EXPECT_NE(program_.Read("maillog.txt")
                .find(" Dorvane: Chargement de la configuration (Dorvane.ini)\r\n"),
            std::string::npos);
}

TEST_F(ConfigurationTest, ApplyDecidesWhetherFileValuesReachTheRunningConfig) {
  program_.Write("Dorvane.ini", "ListenPort 2525\r\n");
  Load(true);
  EXPECT_EQ(running_.ListenPort, 2525);

  Load(false);
  EXPECT_EQ(running_.ListenPort, 25);
  EXPECT_EQ(file_.ListenPort, 2525);
  EXPECT_TRUE(file_.ListenPortDefined);
}

TEST_F(ConfigurationTest, ReloadDropsFlagsOfRemovedKeys) {
  program_.Write("Dorvane.ini", "KeepLocal On\r\n");
  Load(true);
  program_.Write("Dorvane.ini", "");
  Load(true);
  EXPECT_FALSE(file_.KeepLocalDefined);
  EXPECT_FALSE(running_.KeepLocal);
}

TEST_F(ConfigurationTest, LoadsTheConfiguredLanguageBeforeItsOwnLogLine) {
  program_.Write("Dorvane.ini", "Language en\r\n");
  program_.Write("language/en.ini", "<MAIN>\r\nCPT_mnuquit=Quit\r\n</MAIN>\r\n");
  Load(true);

  EXPECT_EQ(settings_.language.entries, (std::vector<LangEntry>{{"MAIN", "CPT_mnuquit", "Quit"}}));
  std::string log = program_.Read("maillog.txt");
  size_t language = log.find(" Dorvane: Chargement du langage\r\n");
  size_t config = log.find(" Dorvane: Chargement de la configuration");
  ASSERT_NE(language, std::string::npos);
  EXPECT_LT(language, config);
}

// A language name can only name a file of the language folder: with a
// "/" or a NUL it could open any file; such a name keeps the built-in
// French and is told in error.txt.
TEST_F(ConfigurationTest, LanguageNameIsLettersDigitsDashAndUnderscoreOnly) {
  const std::string kEntries = "<MAIN>\r\nCPT_mnuquit=Loaded\r\n</MAIN>\r\n";
  program_.Write("secret.ini", kEntries);
  program_.Write("language/en", kEntries);
  program_.Write("language/pt-BR_2.ini", kEntries);
  const std::pair<std::string, bool> cases[] = {
      {"pt-BR_2", true},
      {"../secret", false},
      {std::string("en\0x", 4), false},
      {"en.", false},
      {"pt BR", false},
  };
  for (const auto& [name, loads] : cases) {
    SCOPED_TRACE(name);
    std::filesystem::remove(program_.Path("error.txt"));
    program_.Write("Dorvane.ini", "Language " + name + "\r\n");
    Load(true);
    EXPECT_EQ(settings_.language.entries.size(), loads ? 1u : 0u);
    std::string error = program_.Read("error.txt");
    EXPECT_EQ(error.find(" Dorvane: nom de langue refus\xC3\xA9 '") != std::string::npos, !loads)
        << error;
  }
}

TEST_F(ConfigurationTest, BadNumberEndsTheProgramThroughTheFatalReport) {
  program_.Write("Dorvane.ini", "ListenPort\r\n");
  try {
    Load(true);
    FAIL() << "ChargerConfig returned";
  } catch (const ProgramEnded& e) {
    EXPECT_NE(e.status, 0);
  }
  ASSERT_EQ(program_.dialogs.boxes.size(), 1u);
  EXPECT_EQ(program_.dialogs.boxes[0].title, "Erreur fatale");
  EXPECT_NE(program_.Read("Debug.html")
                .find("Where: MOD:CONFIGURATION[ChargerConfig]<BR>Num\xC3\xA9ro: 13<BR>"),
            std::string::npos);
  EXPECT_FALSE(settings_.config_loaded);
}

TEST_F(ConfigurationTest, MissingOrUnreadableFileOnReloadIsFatal) {
  const std::pair<int, std::string> cases[] = {{ENOENT, "53"}, {EACCES, "70"}, {EIO, "70"}};
  for (const auto& [error, number] : cases) {
    SCOPED_TRACE(number);
    program_.Write("Dorvane.ini", "");
    t_.files.Clear();
    t_.files.Fail("Read", "Dorvane.ini", error);
    EXPECT_THROW(Load(true), ProgramEnded);
    EXPECT_NE(program_.Read("Debug.html").find("Num\xC3\xA9ro: " + number + "<BR>"), std::string::npos);
  }
}

TEST_F(ConfigurationTest, AttemptDelayAbove546IsUsedAs546AndLoggedOnce) {
  program_.Write("Dorvane.ini", "AttemptDelay 600\r\n");
  Load(true);
  EXPECT_EQ(running_.AttemptDelay, 600);
  EXPECT_EQ(EffectiveAttemptDelay(running_), 546);
  std::string log = program_.Read("maillog.txt");
  EXPECT_NE(log.find(" Dorvane: AttemptDelay 600 ramen\xC3\xA9 \xC3\xA0 546 minutes\r\n"),
            std::string::npos);

  program_.Write("Dorvane.ini", "AttemptDelay 546\r\n");
  program_.Write("maillog.txt", "");
  Load(true);
  EXPECT_EQ(EffectiveAttemptDelay(running_), 546);
  EXPECT_EQ(program_.Read("maillog.txt").find("ramen"), std::string::npos);
}

TEST_F(ConfigurationTest, UncheckedSmarthostCertificateIsSaidAtEachLoad) {
  const std::pair<std::string, bool> cases[] = {
      {"SmtpServer smtp.home.test\r\nSmtpSecurity Tls\r\nSmtpTlsVerify Off\r\n", true},
      {"SmtpServer smtp.home.test\r\nSmtpSecurity StartTls\r\nSmtpTlsVerify Off\r\n", true},
      {"SmtpServer smtp.home.test\r\nSmtpTlsVerify Off\r\n", false},  // no TLS at all
      {"SmtpSecurity Tls\r\nSmtpTlsVerify Off\r\n", false},           // no smarthost
      {"SmtpServer smtp.home.test\r\nSmtpSecurity Tls\r\n", false},
  };
  for (const auto& [file, said] : cases) {
    SCOPED_TRACE(file);
    program_.Write("Dorvane.ini", file);
    program_.Write("maillog.txt", "");
    Load(true);
    const std::string line =
        " Dorvane: SmtpTlsVerify Off : le certificat de smtp.home.test n'est pas v\xC3\xA9rifi\xC3\xA9\r\n";
    const std::string log = program_.Read("maillog.txt");
    EXPECT_EQ(log.find(line) != std::string::npos, said) << log;
  }
}

// The password file: read when asked, refused when others may touch it,
// and the refusal never quotes what it holds.
TEST_F(ConfigurationTest, SecretIsTheFirstLineOfAPrivateFile) {
  struct Case {
    const char* name;
    const char* bytes;  // nullptr: no file
    std::filesystem::perms mode;
    std::string password, fault;
  };
  using P = std::filesystem::perms;
  const Case cases[] = {
      {"private", "s3cret\r\nsecond line\r\n", P::owner_read | P::owner_write, "s3cret", ""},
      {"read-only, no line end", "s3cret", P::owner_read, "s3cret", ""},
      {"group may read", "s3cret\n", P::owner_read | P::owner_write | P::group_read, "",
       "Dorvane.secret may be read by others (mode 0640): chmod 600 Dorvane.secret"},
      {"others may execute", "s3cret\n", P::owner_read | P::owner_write | P::others_exec, "",
       "Dorvane.secret may be read by others (mode 0601): chmod 600 Dorvane.secret"},
      {"empty first line", "\r\ns3cret\r\n", P::owner_read | P::owner_write, "",
       "Dorvane.secret holds no password on its first line"},
      {"missing", nullptr, P::none, "", "Dorvane.secret is missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(program_.Path("Dorvane.secret"));
    if (c.bytes) {
      program_.Write("Dorvane.secret", c.bytes);
      std::filesystem::permissions(program_.Path("Dorvane.secret"), c.mode);
    }
    SmtpSecret secret = ReadSmtpSecret(t_.files);
    EXPECT_EQ(secret.password, c.password);
    EXPECT_EQ(secret.fault, c.fault);
  }
  // Written by the program: private when new, never widened when it exists.
  std::filesystem::remove(program_.Path("Dorvane.secret"));
  ASSERT_EQ(WriteSmtpSecret(t_.files, "n3w"), 0);
  EXPECT_EQ(ReadSmtpSecret(t_.files).password, "n3w");
  EXPECT_EQ(std::filesystem::status(program_.Path("Dorvane.secret")).permissions(), P::owner_read | P::owner_write);
  std::filesystem::permissions(program_.Path("Dorvane.secret"), P::owner_read | P::owner_write | P::group_read);
  ASSERT_EQ(WriteSmtpSecret(t_.files, "n3w"), 0);
  EXPECT_EQ(std::filesystem::status(program_.Path("Dorvane.secret")).permissions(),
            P::owner_read | P::owner_write | P::group_read);
}

TEST_F(ConfigurationTest, FreshInstanceWritesTheKeylessFile) {
  CConfiguration().WriteConf(t_.files, t_.logs);
  EXPECT_EQ(program_.Read("Dorvane.ini"), kKeyless);
  EXPECT_NE(program_.Read("maillog.txt").find(" Dorvane: Writing Dorvane.ini\r\n"),
            std::string::npos);
}

// A full disk is told to the caller and not logged as written.
TEST_F(ConfigurationTest, WriteThatFailsRaisesAndLogsNothing) {
  t_.files.Fail("WriteDurable", "Dorvane.ini", ENOSPC);
  try {
    CConfiguration().WriteConf(t_.files, t_.logs);
    ADD_FAILURE() << "WriteConf returned";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), kErrPermissionDenied);
  }
  EXPECT_EQ(program_.Read("maillog.txt"), "");
}

CConfiguration EveryKeyDefined() {
  CConfiguration c;
  c.LaunchStart = false, c.LaunchStartDefined = true;
  c.DebugMode = true, c.DebugModeDefined = true;
  c.ComputerStart = true, c.ComputerStartDefined = true;
  c.DNSServer = "127.0.0.2", c.DNSServerDefined = true;
  c.Language = "en", c.LanguageDefined = true;
  c.KeepLocal = true, c.KeepLocalDefined = true;
  c.ListenPort = 2525, c.ListenPortDefined = true;
  c.SmtpServer = "smtp.example", c.SmtpServerDefined = true;
  c.MailDomain = "corp.example", c.MailDomainDefined = true;
  c.MaxNbrAttempt = 7, c.MaxNbrAttemptDefined = true;
  c.AttemptDelay = 15, c.AttemptDelayDefined = true;
  c.Relay = false, c.RelayDefined = true;
  c.SmtpPort = 587, c.SmtpPortDefined = true;
  c.SmtpSecurity = "StartTls", c.SmtpSecurityDefined = true;
  c.SmtpUser = "me@home.test", c.SmtpUserDefined = true;
  c.SmtpTlsVerify = false, c.SmtpTlsVerifyDefined = true;
  return c;
}

TEST(ConfText, EveryKeyDefinedGivesEveryBlock) {
  EXPECT_EQ(ConfText(EveryKeyDefined()),
            kHeader +
                "Debug\tOn\r\n\r\n"
                "ListenPort\t2525\r\n\r\n"
                "Language\ten\r\n\r\n"
                "# Nombre maximal de tentatives d'envoi en cas d'\xC3\xA9"
                "chec\r\nMaxNbrAttempt\t7\r\n\r\n"
                "# Nombre de minutes avant la prochaine tentative d'envoi apr\xC3\xA8s un \xC3\xA9"
                "chec\r\n"
                "AttemptDelay\t15\r\n\r\n"
                "<Global>\r\n"
                "\t# D\xC3\xA9marrer Dorvane \xC3\xA0 son lancement\r\n\tLaunchStart\tOff\r\n\r\n"
                "\t# Forcer Dorvane \xC3\xA0 accepter les mails mais les laisser\r\n"
                "\t# dans le r\xC3\xA9pertoire local d'envoi 'OutBox'\r\n\tKeepLocal\tOn\r\n\r\n"
                "\t# Serveur DNS (g\xC3\xA9n\xC3\xA9ralement celui de votre FAI)\r\n"
                "\t#DNSServer\t127.0.0.1\r\n\tDNSServer\t127.0.0.2\r\n\r\n"
                "\t# Serveur SMTP (pour tous message sortant)\r\n\tSmtpServer\tsmtp.example\r\n\r\n"
                "\t# Port du serveur SMTP (587 pour la soumission, 465 en TLS)\r\n\tSmtpPort\t587\r\n\r\n"
                "\t# S\xC3\xA9" "curit\xC3\xA9 vers le serveur SMTP : None, StartTls ou Tls\r\n"
                "\tSmtpSecurity\tStartTls\r\n\r\n"
                "\t# Utilisateur du serveur SMTP (mot de passe dans Dorvane.secret)\r\n"
                "\tSmtpUser\tme@home.test\r\n\r\n"
                "\t# V\xC3\xA9rifier le certificat du serveur SMTP\r\n\tSmtpTlsVerify\tOff\r\n\r\n"
                "\t# Domaine des noms sans domaine (root, alice) de dorvane-sendmail\r\n"
                "\tMailDomain\tcorp.example\r\n\r\n"
                "\t# Etre relai pour le r\xC3\xA9seau 192.168.x.x\r\n\tRelay\tOff\r\n\r\n"
                "</Global>\r\n\r\n"
                "<Registry>\r\n\tComputerStart\tOn\r\n</Registry>\r\n");
}

TEST(ConfText, NegativeNumbersReadBack) {
  CConfiguration c;
  c.AttemptDelay = -5, c.AttemptDelayDefined = true;
  EXPECT_EQ(Read(ConfText(c)).AttemptDelay, -5);
}

// A value of `setting` other than its default, as the file writes it.
std::string OtherValue(const SettingInfo& setting) {
  switch (setting.kind) {
    case SettingKind::OnOff: return setting.default_text == std::string("Off") ? "On" : "Off";
    case SettingKind::Number: return std::to_string(setting.offered.max);
    case SettingKind::Text: break;
    case SettingKind::Choice: return setting.choices.back();
  }
  return "x.example";
}

// Each row of the table alone: its line in a file sets its own member and
// flag and no other, and the model writes the same line back.
TEST(SettingsTable, EverySettingRoundTripsFileModelFile) {
  ASSERT_EQ(SettingsTable().size(), 16u);
  for (const SettingInfo& setting : SettingsTable()) {
    SCOPED_TRACE(setting.key);
    const std::string line = std::string(setting.key) + "\t" + OtherValue(setting);
    CConfiguration model = Read(line + "\r\n");
    EXPECT_EQ(SettingText(model, setting), OtherValue(setting));
    for (const SettingInfo& other : SettingsTable()) {
      EXPECT_EQ(model.*other.defined, &other == &setting) << other.key;
      if (&other == &setting) continue;
      EXPECT_EQ(SettingText(model, other), SettingText(CConfiguration(), other)) << other.key;
    }
    const std::string file = ConfText(model);
    EXPECT_NE(file.find(line + "\r\n"), std::string::npos) << file;
    EXPECT_EQ(ConfText(Read(file)), file);
  }
}

TEST_F(ConfigurationTest, WrittenFileReadsBackAsWritten) {
  for (bool flip : {false, true}) {
    CConfiguration written = EveryKeyDefined();
    if (flip) {
      written.LaunchStart = written.Relay = true;
      written.DebugMode = written.KeepLocal = written.ComputerStart = false;
    }
    written.WriteConf(t_.files, t_.logs);
    Load(false);
    EXPECT_EQ(ConfText(file_), ConfText(written)) << "flip " << flip;
  }
}

}  // namespace
}  // namespace dorvane
