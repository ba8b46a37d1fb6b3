#include "delivery/delivery_service.h"

#include <chrono>

#include "base/event_loop.h"
#include "relay/environment.h"
#include "relay/form.h"

namespace dorvane {
namespace {

// Far below the limits themselves (60 s, 5 min).
constexpr std::chrono::milliseconds kLimitCheck{5000};

}  // namespace

DeliveryService::DeliveryService(Environment& env)
    : env_(env),
      moves_(env),
      limits_(env.clock),
      failure_(env, moves_, limits_),
      queue_(env, moves_, failure_, limits_),
      session_(env, moves_, failure_, limits_, queue_) {
  env_.form.SmtpDistant().SetEvents(&session_);
  limit_timer_ = env_.loop.Every(kLimitCheck, [this] { session_.CheckLimits(); });
}

DeliveryService::~DeliveryService() { env_.form.SmtpDistant().SetEvents(nullptr); }

}  // namespace dorvane
