// Fuzzed bytes as a balancer's PROXY header: never more claimed than arrived
// or allowed, and a header found, cut by one byte, is only a start.
#include <algorithm>
#include <cstdint>

#include "tds/wire/proxy_header.h"

using namespace varrow::host::tds;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ProxyHeader header = parse_proxy_header(data, size);
  const bool whole = header.status == ProxyStatus::Proxied || header.status == ProxyStatus::Local;
  if (header.status == ProxyStatus::NeedMore && size >= MAX_PROXY_HEADER) __builtin_trap();
  if (whole && (header.length == 0 || header.length > std::min(size, MAX_PROXY_HEADER) ||
                parse_proxy_header(data, header.length - 1).status != ProxyStatus::NeedMore)) {
    __builtin_trap();
  }
  return 0;
}
