// Telling systemd (a Type=notify unit) where varrowd stands: ready once it
// listens, reloading around a SIGHUP, stopping once it stops accepting.
// Nothing is sent when systemd did not start varrowd (no NOTIFY_SOCKET), or
// when varrowd was built without libsystemd.
#pragma once

namespace varrow::host::tds {

void notify_ready();
void notify_reloading();
void notify_stopping();

}  // namespace varrow::host::tds
