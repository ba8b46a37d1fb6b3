#include "delivery/tests/delivery_support.h"

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "delivery/session_limits.h"
#include "delivery/spool_moves.h"
#include "delivery/yield.h"
#include "mx/dns_cache.h"
#include "relay/connexion.h"
#include "mx/mx_lookup.h"
#include "spool/spool_file.h"

namespace dorvane::testing {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(WithoutStamp(line));
  }
  return lines;
}

}  // namespace

std::string WithoutStamp(const std::string& line) {
  const size_t stamp = std::string("Dec 06 2026 19:52:52").size();
  return line.size() < stamp ? line : line.substr(stamp);
}

DeliveryTest::DeliveryTest()
    : saved_config_(Config()), saved_file_config_(FileConfig()), saved_host_(HostName) {
  for (const char* folder : {kOutBox, kDeferred, kError})
    std::filesystem::create_directories(program.Path(folder));
  form->distant.SetEvents(&session);
  Config().KeepLocal = false;
  Config().MaxNbrAttempt = 3;
  Config().AttemptDelay = 60;
  Config().DNSServer = "127.0.0.53";
  Config().DebugMode = false;
  Config().SmtpServer = "smarthost.test";
  FileConfig().SmtpServerDefined = false;
  HostName = "relay.test";
  DnsCacheReset();
  SetMxLookup([](std::string&, const std::string&) { return std::string(); });
  SetYieldAction([] {});
  SetSessionClock([this] { return now; });
}

DeliveryTest::~DeliveryTest() {
  SetSessionClock(nullptr);
  SetYieldAction(nullptr);
  SetMxLookup(nullptr);
  DnsCacheReset();
  Config() = saved_config_;
  FileConfig() = saved_file_config_;
  HostName = saved_host_;
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
  m.MWrite(SpoolPath(folder, name));
}

void DeliveryTest::Route(const std::string& domain, const std::vector<std::string>& hosts) {
  CMXServer mx;
  for (size_t k = 0; k < hosts.size(); ++k) mx.Add(static_cast<int16_t>(10 * (k + 1)), hosts[k], "", 3600);
  DnsCacheAppend(domain, mx);
}

CMessage DeliveryTest::Read(const std::string& folder, const std::string& name) {
  CMessage m;
  std::string path = SpoolPath(folder.c_str(), name);
  EXPECT_TRUE(std::filesystem::exists(path)) << path;
  m.MOpen(path);
  return m;
}

std::vector<std::string> DeliveryTest::Files(const std::string& folder) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(program.Path(folder), ec))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> DeliveryTest::MailLog() const { return Lines(program.Read("maillog.txt")); }
std::vector<std::string> DeliveryTest::ErrorLog() const { return Lines(program.Read("error.txt")); }

void DeliveryTest::Converse(int i, const std::vector<std::string>& replies) {
  for (const std::string& reply : replies) {
    form->distant.Receive(i, reply);
    if (form->distant.Exists(i) && CnxOut(i).Status() == 9) form->distant.FireSendComplete(i);
  }
}

}  // namespace dorvane::testing
