// Fuzzed bytes as a key file, through the loader and the key decoding, and
// as key text straight to the decoder.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "key/hex_key.h"
#include "key/key_file.h"

namespace {

const std::string& key_path() {
  static const std::string path = [] {
    char pattern[] = "/tmp/varrow-fuzz-key-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) std::abort();
    close(fd);
    return std::string(pattern);
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The decoder on the raw bytes, with exactly `size` readable bytes.
  std::uint8_t key[varrow::KEY_TEXT_MAX / 2 + 1];
  const std::size_t text_length = std::min<std::size_t>(size, varrow::KEY_TEXT_MAX);
  varrow::hex_key_decode(data, key, static_cast<std::uint32_t>(text_length));

  // The same bytes as the content of a key file.
  std::FILE* file = std::fopen(key_path().c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size != 0) std::fwrite(data, 1, size, file);
  std::fclose(file);

  std::uint8_t key_text[varrow::KEY_TEXT_MAX] = {};
  const std::string parameter = "KeyFile=" + key_path();
  std::memcpy(key_text, parameter.data(), parameter.size());
  const int length = varrow::load_key_file(key_text);
  if (length < 0 || length > static_cast<int>(varrow::KEY_TEXT_MAX)) std::abort();
  if (length == 32 || length == 48 || length == 64) {
    varrow::hex_key_decode(key_text, key, static_cast<std::uint32_t>(length));
  }
  for (int i = 0; i < length; ++i) {
    const std::uint8_t c = key_text[i];
    if (c == ' ' || (c >= '\t' && c <= '\r')) std::abort();  // cut at the first white space
  }
  return 0;
}
