// Fuzzed bytes as the start of a connection from a load balancer: the PROXY
// header parser must never read past what arrived, never claim more than the
// header's bytes, and ask for more only while the header can still end.
#include <cstdint>

#include "tds/wire/proxy_header.h"

using namespace varrow::host::tds;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ProxyHeader header = parse_proxy_header(data, size);
  switch (header.status) {
    case ProxyStatus::NeedMore:
      if (size >= MAX_PROXY_HEADER) __builtin_trap();
      break;
    case ProxyStatus::Proxied:
      if (header.source.empty()) __builtin_trap();
      [[fallthrough]];
    case ProxyStatus::Local:
      if (header.length == 0 || header.length > size || header.length > MAX_PROXY_HEADER) {
        __builtin_trap();
      }
      // The same header, cut by one byte, is only a start.
      if (parse_proxy_header(data, header.length - 1).status != ProxyStatus::NeedMore) {
        __builtin_trap();
      }
      break;
    case ProxyStatus::Malformed:
      if (header.error.empty()) __builtin_trap();
      break;
  }
  return 0;
}
