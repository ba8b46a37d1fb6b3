#include "delivery/tests/delivery_support.h"

#include <filesystem>

#include "config/configuration.h"
#include "delivery/session_states.h"
#include "mx/dns_cache.h"
#include "mx/mx_lookup.h"
#include "relay/connexion.h"
#include "spool/spool_file.h"

namespace dorvane::testing {

DeliveryTest::DeliveryTest() {
  test.ResetSpoolFolders();
  CConfiguration& config = test.settings.running;
  config.KeepLocal = false;
  config.MaxNbrAttempt = 3;
  config.AttemptDelay = 60;
  config.DNSServer = "127.0.0.53";
  config.DebugMode = false;
  config.SmtpServer = "smarthost.test";
  config.SmtpPort = 25;
  config.SmtpSecurity = kSecurityNone;
  config.SmtpTlsVerify = true;
  test.settings.file.SmtpServerDefined = false;
  test.settings.host_name = "relay.test";
}

DeliveryTest::~DeliveryTest() = default;

void DeliveryTest::Reset() {
  test.pools.Reset();
  test.ResetSpoolFolders();
}

void DeliveryTest::Queue(const std::string& name, const std::vector<std::string>& rcpts, uint8_t essai,
                         bool for_sender, const char* folder) {
  CMessage m;
  m.ID = name;
  m.TxtEng = SpoolWarningEnglish();
  m.TxtFr = SpoolWarningFrench();
  m.Essai = essai;
  m.ForSender = for_sender;
  m.From = "<sender@origin.test>";
  for (const std::string& r : rcpts) m.AddRcptTo(r);
  m.Data = "Subject: hello\r\n\r\nbody line\r\n";
  test.WriteMessage(m, folder, name);
  if (folder == std::string("OutBox")) queue().Added(name);
}

void DeliveryTest::Route(const std::string& domain, const std::vector<std::string>& hosts) {
  CMXServer mx;
  for (size_t k = 0; k < hosts.size(); ++k) mx.Add(static_cast<int16_t>(10 * (k + 1)), hosts[k], "", 3600);
  test.dns_cache.Append(domain, mx);
}

CMessage DeliveryTest::Read(const std::string& folder, const std::string& name) {
  CMessage m;
  std::string path = SpoolPath(folder.c_str(), name);
  EXPECT_TRUE(std::filesystem::exists(path)) << path;
  m.MOpen(test.files, test.logs, path);
  return m;
}

void DeliveryTest::Converse(int i, const std::vector<std::string>& replies) {
  for (const std::string& reply : replies) {
    form.distant.Receive(i, reply);
    const int32_t status = Out(i).Status();
    if (form.distant.Exists(i) && (status == kOutBodySending || status == kOutEnding))
      form.distant.FireSendComplete(i);
    if (refuse_ehlo && form.distant.Exists(i) && form.distant.LastSent(i).starts_with("EHLO "))
      form.distant.Receive(i, "500 5.5.1 Command unrecognized\r\n");
  }
}

}  // namespace dorvane::testing
