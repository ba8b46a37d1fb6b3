#include "delivery/outbound_slot.h"

#include <ctime>

#include "base/clock.h"
#include "base/dates.h"
#include "log/guard.h"
#include "log/logs.h"
#include "mx/cdns.h"
#include "relay/connexion.h"
#include "relay/environment.h"
#include "relay/form.h"
#include "spool/message.h"

namespace dorvane {

std::string LogStamp(Clock& clock) {
  const std::time_t now = clock.Now();
  std::tm local{};
  localtime_r(&now, &local);
  return GMTDateAt(local);
}

void ReleaseSmtpDistant(const Environment& env, int i) {
  Guard("MOD:MODConnexion[ReleaseSmtpDistant]", [&] {
    CConnexion& cnx = env.pools.Out(i);
    cnx.SetStatus(0);
    cnx.Message().MClear();
    cnx.DNS().ClearMx();
    SocketArray& distant = env.form.SmtpDistant();
    if (distant.Exists(i)) distant.Unload(i);
    env.logs.DbgAdd("<FONT face='Verdana' size='2'>Release connexion out: " + std::to_string(i) + "</FONT><BR>");
    env.form.Shell().RefreshConnection("OUT", i);
    env.form.tmrVerifOutBox().SetEnabled(true);
  });
}

}  // namespace dorvane
