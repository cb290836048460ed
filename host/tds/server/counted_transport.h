// A transport that counts the bytes that cross it, for a connection's line
// in the access log and the server's metrics.
#pragma once

#include <cstdint>

#include "tds/server/transport.h"

namespace varrow::host::tds {

struct ByteCounts {
  std::uint64_t in = 0;   // from the client
  std::uint64_t out = 0;  // to the client
};

class CountedTransport final : public Transport {
 public:
  CountedTransport(Transport& inner, ByteCounts& counts) : inner_(inner), counts_(counts) {}

  IoResult read(std::uint8_t* data, std::size_t size, Deadline deadline) override {
    const IoResult got = inner_.read(data, size, deadline);
    if (got.status == IoStatus::Ok) counts_.in += got.size;
    return got;
  }
  IoStatus write(const std::uint8_t* data, std::size_t size, Deadline deadline) override {
    const IoStatus status = inner_.write(data, size, deadline);
    if (status == IoStatus::Ok) counts_.out += size;
    return status;
  }

 private:
  Transport& inner_;
  ByteCounts& counts_;
};

}  // namespace varrow::host::tds
