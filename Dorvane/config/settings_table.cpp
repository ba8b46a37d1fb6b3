#include "config/settings_table.h"

#include <charconv>
#include <cstdint>

#include "base/runtime_error.h"

namespace dorvane {
namespace {

// The number `value` of the setting `key` within `range`; anything else
// raises, naming the setting so the user knows which line to mend.
long ToInteger(const std::string& key, const std::string& value, SettingRange range) {
  const char* first = value.data();
  const char* last = first + value.size();
  if (value.size() > 1 && value[0] == '+' && value[1] != '-') ++first;
  long n = 0;
  auto [end, ec] = std::from_chars(first, last, n);
  if (value.empty() || end != last || ec == std::errc::invalid_argument)
    Raise(kErrTypeMismatch, "Dorvane", ErrorDescription(kErrTypeMismatch) + " (" + key + ")");
  if (ec == std::errc::result_out_of_range || n < range.min || n > range.max)
    Raise(kErrOverflow, "Dorvane", ErrorDescription(kErrOverflow) + " (" + key + ")");
  return n;
}

// `value` when it is one of the setting's choices; anything else raises
// rather than guess (a misspelt "StartTls" must not mean plain text).
std::string ToChoice(const SettingInfo& setting, const std::string& value) {
  for (const char* choice : setting.choices) {
    if (value == choice) return value;
  }
  Raise(kErrTypeMismatch, "Dorvane", ErrorDescription(kErrTypeMismatch) + " (" + setting.key + ")");
}

using C = CConfiguration;
using K = SettingKind;
using S = FileSection;

}  // namespace

const std::vector<SettingInfo>& SettingsTable() {
  // One row a setting, each kept to a glance.
  // clang-format off
  static const std::vector<SettingInfo> settings = {
      {"Debug", K::OnOff, &C::DebugMode, &C::DebugModeDefined, "Off", S::TopLevel, {}, "cat_debug_3",
       "Journal de d\xC3\xA9" "bogage d\xC3\xA9taill\xC3\xA9"},
      // A port the listener can really take: 0 would pick a random one and a
      // negative value would wrap onto a high port.
      {"ListenPort", K::Number, &C::ListenPort, &C::ListenPortDefined, "25", S::TopLevel, {}, "cat_parameters_2",
       "Port d'\xC3\xA9" "coute SMTP", {1, INT16_MAX}, {1, INT16_MAX}},
      {"Language", K::Text, &C::Language, &C::LanguageDefined, "fr", S::TopLevel, {}, "cat_language_4", "Langue"},
      {"MaxNbrAttempt", K::Number, &C::MaxNbrAttempt, &C::MaxNbrAttemptDefined, "3", S::TopLevel,
       {"# Nombre maximal de tentatives d'envoi en cas d'\xC3\xA9" "chec"}, "cat_parameters_2",
       "Nombre maximal de tentatives d'envoi", {0, UINT8_MAX}, {0, UINT8_MAX}},
      // The file may hold any 16-bit value; what is used lies up to the cap.
      {"AttemptDelay", K::Number, &C::AttemptDelay, &C::AttemptDelayDefined, "60", S::TopLevel,
       {"# Nombre de minutes avant la prochaine tentative d'envoi apr\xC3\xA8s un \xC3\xA9" "chec"},
       "cat_parameters_2", "Minutes entre deux tentatives d'envoi", {INT16_MIN, INT16_MAX}, {0, kMaxAttemptDelay}},
      {"LaunchStart", K::OnOff, &C::LaunchStart, &C::LaunchStartDefined, "On", S::Global,
       {"# D\xC3\xA9marrer Dorvane \xC3\xA0 son lancement"}, "cat_onstart_0",
       "D\xC3\xA9marrer le service au lancement de Dorvane"},
      {"KeepLocal", K::OnOff, &C::KeepLocal, &C::KeepLocalDefined, "Off", S::Global,
       {"# Forcer Dorvane \xC3\xA0 accepter les mails mais les laisser",
        "# dans le r\xC3\xA9pertoire local d'envoi 'OutBox'"},
       "cat_parameters_2", "Garder les messages dans OutBox (pas d'envoi)"},
      {"DNSServer", K::Text, &C::DNSServer, &C::DNSServerDefined, nullptr, S::Global,
       {"# Serveur DNS (g\xC3\xA9n\xC3\xA9ralement celui de votre FAI)", "#DNSServer\t127.0.0.1"},
       "cat_network_5", "Serveur DNS"},
      {"SmtpServer", K::Text, &C::SmtpServer, &C::SmtpServerDefined, kDefaultSmtpServer, S::Global,
       {"# Serveur SMTP (pour tous message sortant)"}, "cat_network_5",
       "Serveur SMTP (pour tout message sortant)"},
      {"SmtpPort", K::Number, &C::SmtpPort, &C::SmtpPortDefined, "25", S::Global,
       {"# Port du serveur SMTP (587 pour la soumission, 465 en TLS)"}, "cat_network_5",
       "Port du serveur SMTP", {1, UINT16_MAX}, {1, UINT16_MAX}},
      {"SmtpSecurity", K::Choice, &C::SmtpSecurity, &C::SmtpSecurityDefined, kSecurityNone, S::Global,
       {"# S\xC3\xA9" "curit\xC3\xA9 vers le serveur SMTP : None, StartTls ou Tls"}, "cat_network_5",
       "S\xC3\xA9" "curit\xC3\xA9 de la connexion au serveur SMTP", {}, {},
       {kSecurityNone, kSecurityStartTls, kSecurityTls}},
      {"SmtpUser", K::Text, &C::SmtpUser, &C::SmtpUserDefined, "", S::Global,
       {"# Utilisateur du serveur SMTP (mot de passe dans Dorvane.secret)"}, "cat_network_5",
       "Utilisateur du serveur SMTP (authentification)"},
      {"SmtpTlsVerify", K::OnOff, &C::SmtpTlsVerify, &C::SmtpTlsVerifyDefined, "On", S::Global,
       {"# V\xC3\xA9rifier le certificat du serveur SMTP"}, "cat_network_5",
       "V\xC3\xA9rifier le certificat du serveur SMTP"},
      {"MailDomain", K::Text, &C::MailDomain, &C::MailDomainDefined, nullptr, S::Global,
       {"# Domaine des noms sans domaine (root, alice) de dorvane-sendmail"}, "cat_network_5",
       "Domaine des noms locaux (dorvane-sendmail)"},
      {"Relay", K::OnOff, &C::Relay, &C::RelayDefined, "On", S::Global,
       {"# Etre relai pour le r\xC3\xA9seau 192.168.x.x"}, "cat_relay_6",
       "\xC3\x8Atre relais pour le r\xC3\xA9seau 192.168.x.x"},
      {"ComputerStart", K::OnOff, &C::ComputerStart, &C::ComputerStartDefined, "Off", S::Registry, {},
       "cat_computer_1", "Lancer Dorvane \xC3\xA0 l'ouverture de session"},
  };
  // clang-format on
  return settings;
}

const SettingInfo* FindSetting(const std::string& key) {
  for (const SettingInfo& setting : SettingsTable()) {
    if (key == setting.key) return &setting;
  }
  return nullptr;
}

const std::vector<CategoryInfo>& Categories() {
  // clang-format off
  static const std::vector<CategoryInfo> categories = {
      {"cat_onstart_0", "D\xC3\xA9marrage"},
      {"cat_computer_1", "D\xC3\xA9marrage de l'ordinateur"},
      {"cat_parameters_2", "Param\xC3\xA8tres"},
      {"cat_debug_3", "D\xC3\xA9" "bogage"},
      {"cat_language_4", "Langue"},
      {"cat_network_5", "R\xC3\xA9seau"},
      {"cat_relay_6", "Relais"},
  };
  // clang-format on
  return categories;
}

std::string SettingText(const CConfiguration& config, const SettingInfo& setting) {
  struct Text {
    const CConfiguration& c;
    std::string operator()(bool C::*m) const { return OnOffText(c.*m); }
    std::string operator()(std::string C::*m) const { return c.*m; }
    std::string operator()(int16_t C::*m) const { return std::to_string(c.*m); }
    std::string operator()(uint8_t C::*m) const { return std::to_string(c.*m); }
    std::string operator()(uint16_t C::*m) const { return std::to_string(c.*m); }
  };
  return std::visit(Text{config}, setting.field);
}

void SetSettingValue(CConfiguration& config, const SettingInfo& setting, const std::string& text) {
  struct Set {
    CConfiguration& c;
    const SettingInfo& s;
    const std::string& text;
    void operator()(bool C::*m) const { c.*m = text != "Off"; }
    void operator()(std::string C::*m) const { c.*m = s.kind == K::Choice ? ToChoice(s, text) : text; }
    void operator()(int16_t C::*m) const { c.*m = static_cast<int16_t>(ToInteger(s.key, text, s.accepted)); }
    void operator()(uint8_t C::*m) const { c.*m = static_cast<uint8_t>(ToInteger(s.key, text, s.accepted)); }
    void operator()(uint16_t C::*m) const { c.*m = static_cast<uint16_t>(ToInteger(s.key, text, s.accepted)); }
  };
  std::visit(Set{config, setting, text}, setting.field);
}

void CopySettingValue(const CConfiguration& from, CConfiguration& to, const SettingInfo& setting) {
  std::visit([&](auto member) { to.*member = from.*member; }, setting.field);
}

}  // namespace dorvane
