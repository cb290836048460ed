#include "key/key_file.h"

#include <cstdio>
#include <cstring>

#include "key/ansi_codepage.h"

namespace varrow {
namespace {

constexpr char KEYFILE_PREFIX[] = "keyfile=";
constexpr std::size_t KEYFILE_PREFIX_LENGTH = sizeof(KEYFILE_PREFIX) - 1;
constexpr std::uint16_t BYTE_ORDER_MARK = 0xFEFF;
constexpr std::uint16_t NOT_A_CHARACTER = 0xFFFF;
constexpr int CTRL_Z = 0x1A;

// Where the C library opens files untranslated, its text-mode rules are
// applied here; on Windows text mode does them itself.
#if defined(_WIN32)
constexpr const char* TEXT_MODE = "r";
constexpr bool TRANSLATE_TEXT = false;
#else
constexpr const char* TEXT_MODE = "rb";
constexpr bool TRANSLATE_TEXT = true;
#endif

// Closes the file on every path out of a reader.
class OpenFile {
 public:
  OpenFile(const char* path, const char* mode) : file_(std::fopen(path, mode)) {}
  ~OpenFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

bool is_white_space(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One little-endian unit, or false at end of file (a lone last byte included).
bool read_unit(std::FILE* file, std::uint16_t* unit) {
  const int low = std::getc(file);
  if (low == EOF) return false;
  const int high = std::getc(file);
  if (high == EOF) return false;
  *unit = static_cast<std::uint16_t>(low | high << 8);
  return true;
}

}  // namespace

bool is_keyfile_spec(const std::uint8_t key_text[KEY_TEXT_MAX]) {
  for (std::size_t k = 0; k < KEYFILE_PREFIX_LENGTH; ++k) {
    std::uint8_t c = key_text[k];
    if (c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c - 'A' + 'a');
    if (c != static_cast<std::uint8_t>(KEYFILE_PREFIX[k])) return false;
  }
  return true;
}

int load_key_file(std::uint8_t key_text[KEY_TEXT_MAX]) {
  const std::uint8_t* path_text = key_text + KEYFILE_PREFIX_LENGTH;
  const std::size_t available = KEY_TEXT_MAX - KEYFILE_PREFIX_LENGTH;
  const void* nul = std::memchr(path_text, 0, available);
  const std::size_t path_length =
      nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - path_text)
                     : available;
  if (path_length >= KEY_PATH_MAX) return -1;
  char path[KEY_PATH_MAX] = {};
  std::memcpy(path, path_text, path_length);

  int stored = -1;
  switch (probe_key_file(path)) {
    case KEY_FILE_UTF16:
      stored = read_key_file_utf16(path, key_text, KEY_TEXT_MAX);
      break;
    case KEY_FILE_TEXT:
      stored = read_key_file_text(path, key_text, KEY_TEXT_MAX);
      break;
    default:
      return -1;
  }
  if (stored < 0) return -1;
  for (int i = 0; i < stored; ++i) {
    if (is_white_space(key_text[i])) return i;
  }
  return stored;
}

int probe_key_file(const char* path) {
  OpenFile file(path, "rb");
  if (file.get() == nullptr) return KEY_FILE_UNUSABLE;
  std::uint16_t unit = 0;
  const bool marked = read_unit(file.get(), &unit) && unit == BYTE_ORDER_MARK;
  // Opening can succeed on what is no file (a directory); reading then fails.
  if (std::ferror(file.get())) return KEY_FILE_UNUSABLE;
  return marked ? KEY_FILE_UTF16 : KEY_FILE_TEXT;
}

int read_key_file_text(const char* path, std::uint8_t* buffer, std::size_t capacity) {
  OpenFile file(path, TEXT_MODE);
  if (file.get() == nullptr) return -1;
  std::size_t stored = 0;
  while (stored < capacity) {
    int c = std::getc(file.get());
    if (c == EOF) break;
    if constexpr (TRANSLATE_TEXT) {
      if (c == CTRL_Z) break;
      if (c == '\r') {
        const int next = std::getc(file.get());
        if (next == '\n') {
          c = '\n';
        } else if (next != EOF) {
          std::ungetc(next, file.get());
        }
      }
    }
    buffer[stored++] = static_cast<std::uint8_t>(c);
  }
  if (std::ferror(file.get())) return -1;
  return static_cast<int>(stored);
}

int read_key_file_utf16(const char* path, std::uint8_t* buffer, std::size_t capacity) {
  OpenFile file(path, "rb");
  if (file.get() == nullptr) return -1;
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return -1;
  const long size = std::ftell(file.get());
  if (size < 2 || std::fseek(file.get(), 0, SEEK_SET) != 0) return -1;
  std::uint16_t unit = 0;
  if (!read_unit(file.get(), &unit) || unit != BYTE_ORDER_MARK) return -1;

  std::uint16_t units[KEY_TEXT_MAX];
  std::size_t count = 0;
  while (count < KEY_TEXT_MAX && read_unit(file.get(), &unit) && unit != NOT_A_CHARACTER) {
    units[count++] = unit;
  }
  return static_cast<int>(utf16_to_ansi(units, count, buffer, capacity));
}

}  // namespace varrow
