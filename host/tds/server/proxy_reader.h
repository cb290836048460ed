// The PROXY header at the start of a connection from a load balancer, read
// off the socket before anything else of the connection, and never a byte
// past it: the PRELOGIN or TLS ClientHello after it stays for the channel.
#pragma once

#include <string>

#include "tds/server/transport.h"

namespace varrow::host::tds {

struct ProxyOutcome {
  bool refused = false;
  std::string client;   // the client the header names; empty: the TCP peer stands
  std::string failure;  // refused: why, for the log; empty when closed before any byte
};

// From a `trusted` peer (a listed balancer), reads its header by `deadline`:
// refused when none arrives in time, the connection closes first, or what
// arrives is not a whole valid header within its bound. From any other peer,
// looks at the first bytes without taking them and refuses a PROXY header
// (a balancer the server was not told to trust: its client's address would
// be its own); a timeout or close there is left for the channel to find.
ProxyOutcome read_proxy_header(SocketTransport& socket, bool trusted, Deadline deadline);

}  // namespace varrow::host::tds
