#include "tds/server/service_notify.h"

#if defined(VARROW_HAVE_SYSTEMD)
#include <systemd/sd-daemon.h>
#include <time.h>

#include <string>
#endif

namespace varrow::host::tds {

#if defined(VARROW_HAVE_SYSTEMD)
void notify_ready() {
  sd_notify(0, "READY=1\nSTATUS=serving");
}

void notify_reloading() {
  // The time lets systemd (Type=notify-reload) tell this reload from another.
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const long long usec = static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
  sd_notify(0, ("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(usec)).c_str());
}

void notify_stopping() {
  sd_notify(0, "STOPPING=1");
}
#else
void notify_ready() {}
void notify_reloading() {}
void notify_stopping() {}
#endif

}  // namespace varrow::host::tds
