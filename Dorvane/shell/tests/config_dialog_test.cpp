#include "shell/config_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <filesystem>
#include <tuple>

#include "config/configuration.h"
#include "config/language.h"
#include "gui_support.h"
#include "service/inbound_text.h"
#include "shell/config_values.h"
#include "shell/window_language.h"
#include "tests/support/test_environment.h"

namespace dorvane {
namespace {

class ConfigDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureGuiApp();
    t_.program.Write("Dorvane.ini", "ListenPort\t2525\r\nRelay\tOff\r\n");
    ChargerConfig(t_.settings, t_.logs, t_.files, false);
    t_.settings.language.entries.clear();
  }
  template <class T>
  T& Control(const char* name) {
    auto* control = dialog().findChild<T*>(name);
    if (!control) throw std::runtime_error(std::string("no control ") + name);
    return *control;
  }
  ConfigDialog& dialog() {
    // "Recharger" of the service: the file becomes the running configuration.
    if (!dialog_) dialog_ = std::make_unique<ConfigDialog>(t_.settings, t_.logs, t_.files,
                                               [this] { ChargerConfig(t_.settings, t_.logs, t_.files, true); });
    return *dialog_;
  }

  TestEnvironment t_;
  std::unique_ptr<ConfigDialog> dialog_;
};

TEST_F(ConfigDialogTest, BoxesShowTheFileOverridesOverTheDefaults) {
  EXPECT_TRUE(Control<QCheckBox>("chkListenPort").isChecked());
  EXPECT_EQ(Control<QSpinBox>("txtListenPort").value(), 2525);
  EXPECT_TRUE(Control<QSpinBox>("txtListenPort").isEnabled());
  EXPECT_EQ(Control<QCheckBox>("chkListenPort").text().toStdString(),
            "Outrepasser la valeur par d\xC3\xA9" "faut (D\xC3\xA9" "faut: 25)");
  EXPECT_TRUE(Control<QRadioButton>("optRelayNo").isChecked());

  EXPECT_FALSE(Control<QCheckBox>("chkLaunchStart").isChecked());
  EXPECT_TRUE(Control<QRadioButton>("optLaunchStartYes").isChecked());
  EXPECT_FALSE(Control<QWidget>("optLaunchStart").isEnabled());
  EXPECT_EQ(Control<QCheckBox>("chkLaunchStart").text().toStdString(),
            "Outrepasser la valeur par d\xC3\xA9" "faut (D\xC3\xA9" "faut: Oui)");
  EXPECT_EQ(Control<QCheckBox>("chkKeepLocal").text().toStdString(),
            "Outrepasser la valeur par d\xC3\xA9" "faut (D\xC3\xA9" "faut: Non)");
  EXPECT_EQ(Control<QLineEdit>("txtSmtpServer").text().toStdString(), kDefaultSmtpServer);

  auto& tree = Control<QTreeWidget>("Categories");
  ASSERT_EQ(tree.topLevelItemCount(), 7);
  EXPECT_EQ(tree.topLevelItem(6)->data(0, kNodeKeyRole).toString().toStdString(), "cat_relay_6");
}

TEST_F(ConfigDialogTest, ValueIsEditableOnlyWhileItsBoxIsChecked) {
  auto& box = Control<QCheckBox>("chkDNSServer");
  auto& value = Control<QLineEdit>("txtDNSServer");
  EXPECT_FALSE(value.isEnabled());
  box.setChecked(true);
  EXPECT_TRUE(value.isEnabled());
  box.setChecked(false);
  EXPECT_FALSE(value.isEnabled());
}

TEST_F(ConfigDialogTest, WriteSavesExactlyTheCheckedSettingsAndTheServiceRunsOnThem) {
  Control<QCheckBox>("chkListenPort").setChecked(false);
  Control<QCheckBox>("chkSmtpServer").setChecked(true);
  Control<QLineEdit>("txtSmtpServer").setText("smarthost.example");
  Control<QCheckBox>("chkMaxNbrAttempt").setChecked(true);
  Control<QSpinBox>("txtMaxNbrAttempt").setValue(7);
  Control<QCheckBox>("chkSmtpSecurity").setChecked(true);
  Control<QComboBox>("cboSmtpSecurity").setCurrentText("StartTls");
  Control<QLineEdit>("txtSmtpPassword").setText("pa55 word");
  Control<QPushButton>("btnWrite").click();

  std::map<std::string, std::string> expected = {{"SmtpServer", "smarthost.example"},
                                                 {"MaxNbrAttempt", "7"},
                                                 {"SmtpSecurity", "StartTls"},
                                                 {"Relay", "Off"}};
  EXPECT_EQ(DefinedTexts(t_.settings.file), expected);
  EXPECT_EQ(t_.program.Read("Dorvane.ini"), ConfText(ConfigFromTexts(expected)));
  // The running configuration is the file's, as after "Recharger".
  EXPECT_EQ(t_.settings.running.SmtpServer, "smarthost.example");
  EXPECT_EQ(t_.settings.running.MaxNbrAttempt, 7);
  EXPECT_EQ(t_.settings.running.ListenPort, 25);
  EXPECT_FALSE(RelayAllowed("192.168.1.20", "127.0.0.1", t_.settings.running.Relay)) << "Relay Off holds at once";
  // The password goes to its own private file, nowhere else.
  EXPECT_EQ(t_.program.Read("Dorvane.secret"), "pa55 word\n");
  EXPECT_EQ(std::filesystem::status(t_.program.Path("Dorvane.secret")).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(t_.program.Read("Dorvane.ini").find("pa55"), std::string::npos);
  EXPECT_EQ(t_.program.Read("maillog.txt").find("pa55"), std::string::npos);
}

TEST_F(ConfigDialogTest, NumberBoxesOfferExactlyWhatTheFileReaderTakesAndUses) {
  // ListenPort 0 is refused by the reader; an AttemptDelay above 546 is used as 546.
  const std::tuple<const char*, int, int> cases[] = {
      {"txtListenPort", 1, 32767}, {"txtMaxNbrAttempt", 0, 255}, {"txtAttemptDelay", 0, 546}};
  for (const auto& [name, min, max] : cases) {
    EXPECT_EQ(Control<QSpinBox>(name).minimum(), min) << name;
    EXPECT_EQ(Control<QSpinBox>(name).maximum(), max) << name;
  }
  // Every row of the settings table has its box, and a number exactly its
  // offered range, each end of which the file reader takes.
  EXPECT_EQ(dialog().findChildren<QCheckBox*>().size(), static_cast<qsizetype>(SettingsTable().size()));
  for (const SettingInfo& setting : SettingsTable()) {
    SCOPED_TRACE(setting.key);
    EXPECT_NO_THROW(Control<QCheckBox>(("chk" + std::string(setting.key)).c_str()));
    if (setting.kind != SettingKind::Number) continue;
    auto& number = Control<QSpinBox>(("txt" + std::string(setting.key)).c_str());
    EXPECT_EQ(number.minimum(), setting.offered.min);
    EXPECT_EQ(number.maximum(), setting.offered.max);
    for (int end : {number.minimum(), number.maximum()}) {
      EXPECT_EQ(DefinedTexts(ConfigFromTexts({{setting.key, std::to_string(end)}})).at(setting.key),
                std::to_string(end));
    }
  }
}

TEST_F(ConfigDialogTest, LanguageListShowsEachLanguageWithItsFlag) {
  t_.program.Write("language/en.ini", "");
  t_.program.Write("language/en.ico", test::ReadSource("language/en.ico"));
  auto& list = Control<QComboBox>("cboLanguage");
  ASSERT_EQ(list.count(), 1);
  EXPECT_FALSE(list.itemIcon(0).pixmap(16, 16).isNull()) << "the flag is read from en.ico";
}

TEST_F(ConfigDialogTest, NothingCheckedWritesTheKeylessFile) {
  Control<QCheckBox>("chkListenPort").setChecked(false);
  Control<QCheckBox>("chkRelay").setChecked(false);
  dialog().Write();
  EXPECT_EQ(t_.program.Read("Dorvane.ini"), ConfText(CConfiguration()));
}

TEST_F(ConfigDialogTest, ShippedEnglishRenamesNodesBoxesAndOptions) {
  t_.settings.language.entries = ParseLanguage(test::ReadSource("language/en.ini"));
  EXPECT_EQ(dialog().windowTitle().toStdString(), "Dorvane settings");
  auto& tree = Control<QTreeWidget>("Categories");
  std::vector<std::string> nodes;
  for (int i = 0; i < tree.topLevelItemCount(); ++i) nodes.push_back(tree.topLevelItem(i)->text(0).toStdString());
  EXPECT_EQ(nodes, (std::vector<std::string>{"On start", "Computer start", "Parameters", "Debugging", "Language",
                                             "Network", "Relay"}));
  EXPECT_EQ(Control<QCheckBox>("chkListenPort").text().toStdString(), "Override the default value (Default: 25)");
  EXPECT_EQ(Control<QCheckBox>("chkRelay").text().toStdString(), "Override the default value (Default: Yes)");
  EXPECT_EQ(Control<QRadioButton>("optRelayNo").text().toStdString(), "No");
  EXPECT_EQ(Control<QPushButton>("btnWrite").text().toStdString(), "Save");
}

TEST_F(ConfigDialogTest, EntriesForMissingControlsAreSkippedWithOneDebugLineEach) {
  t_.settings.language.entries = {{"CONFIGURATION", "CPT_chkNothing", "x"},
                 {"CONFIGURATION", "NOD_nowhere_9", "y"},
                 {"CONFIGURATION", "TIP_btnWrite", "Write the file"},
                 {"CONFIGURATION", "CPT_btnWrite", "Go"}};
  t_.settings.running.DebugMode = true;  // the debug log is written in debug mode only
  PushDebugMode(t_.settings, t_.logs);
  EXPECT_EQ(Control<QPushButton>("btnWrite").text().toStdString(), "Go");
  EXPECT_EQ(Control<QPushButton>("btnWrite").toolTip().toStdString(), "Write the file");
  std::string log = t_.program.Read("Debug.html");
  for (const char* name : {"CPT chkNothing", "NOD cat_nowhere_9"}) {
    size_t first = log.find(name);
    EXPECT_NE(first, std::string::npos) << name;
    EXPECT_EQ(log.find(name, first + 1), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace dorvane
