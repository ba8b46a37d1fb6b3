// Fixture for the delivery tests: a temporary program folder with the three
// spool folders, the fake form with the client session on its SmtpDistant
// array, a known configuration, an empty DNS cache with routes the test
// declares, a resolver that finds nothing, a yield that does nothing and a
// session clock the test moves.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "delivery/client_session.h"
#include "tests/support/fake_form.h"
#include "spool/message.h"
#include "tests/support/test_harness.h"

namespace dorvane::testing {

class DeliveryTest : public ::testing::Test {
 protected:
  DeliveryTest();
  ~DeliveryTest() override;

  // Writes a message to `folder`/`name` with the given fields.
  void Queue(const std::string& name, const std::vector<std::string>& rcpts, uint8_t essai = 0,
             bool for_sender = false, const char* folder = "OutBox");
  // Declares the MX hosts of `domain` (in this order) in the DNS cache.
  void Route(const std::string& domain, const std::vector<std::string>& hosts);

  // The message of `folder`/`name`; fails the test when it is missing.
  CMessage Read(const std::string& folder, const std::string& name);
  // The files of a spool folder, sorted.
  std::vector<std::string> Files(const std::string& folder) const;
  // maillog.txt / error.txt lines, each without its leading GMTDate stamp.
  std::vector<std::string> MailLog() const;
  std::vector<std::string> ErrorLog() const;

  // Runs a whole dialogue on slot i after its connect: every reply in turn,
  // with the send-complete event after the body.
  void Converse(int i, const std::vector<std::string>& replies);
  // Commands sent on element i, as sent.
  const std::vector<std::string>& Sent(int i) { return form->distant.Sent(i); }

  TestProgram program;
  fake::ScopedFakeForm form;
  ClientSession session;
  int64_t now = 1000;  // the session clock

 private:
  CConfiguration saved_config_, saved_file_config_;
  std::string saved_host_;
};

// A line of a log without its GMTDate stamp (its first 20 characters).
std::string WithoutStamp(const std::string& line);

}  // namespace dorvane::testing
