#include "delivery/delivery_service.h"

#include "delivery/session_limits.h"
#include "relay/form.h"

namespace dorvane {
namespace {

// Far below the limits themselves (60 s, 5 min).
constexpr int kLimitCheckMs = 5000;

}  // namespace

DeliveryService::DeliveryService(Form& form) : form_(form) {
  form_.SmtpDistant().SetEvents(&session_);
  QObject::connect(&limits_, &QTimer::timeout, [] { CheckSessionLimits(); });
  limits_.start(kLimitCheckMs);
}

DeliveryService::~DeliveryService() { form_.SmtpDistant().SetEvents(nullptr); }

}  // namespace dorvane
