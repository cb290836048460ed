#include "key/key_file.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstring>

#include "common/wipe.h"
#include "key/ansi_codepage.h"

namespace varrow {
namespace {

constexpr std::uint16_t BYTE_ORDER_MARK = 0xFEFF;
constexpr std::uint16_t NOT_A_CHARACTER = 0xFFFF;
constexpr int CTRL_Z = 0x1A;

// Where the C library opens files untranslated, its text-mode rules are
// applied here; on Windows text mode does them itself.
#if defined(_WIN32)
constexpr bool TRANSLATE_TEXT = false;
#else
constexpr bool TRANSLATE_TEXT = true;
#endif

enum class Mode { Binary, Text };

// A key file opened for reading, only if it is a regular file: a FIFO, a
// terminal, a device or a directory is refused before anything is read, so
// that no call waits for a writer. Opening does not wait either (O_NONBLOCK).
// Reads through a buffer of its own, which it clears when it closes, so that
// no copy of the key stays behind.
class KeyFile {
 public:
  static constexpr int END = -1;

  KeyFile(const char* path, Mode mode) {
#if defined(_WIN32)
    fd_ = _open(path, _O_RDONLY | (mode == Mode::Text ? _O_TEXT : _O_BINARY));
    if (fd_ < 0) return;
    struct _stat64 info;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd_));
    if (_fstat64(fd_, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG ||
        GetFileType(handle) != FILE_TYPE_DISK) {
      close_file();
      return;
    }
#else
    (void)mode;
    fd_ = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return;
    struct stat info;
    if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
      close_file();
      return;
    }
#endif
    size_ = static_cast<long long>(info.st_size);
  }
  ~KeyFile() {
    close_file();
    secure_zero(buffer_, sizeof buffer_);
  }
  KeyFile(const KeyFile&) = delete;
  KeyFile& operator=(const KeyFile&) = delete;

  bool is_open() const {
    return fd_ >= 0;
  }
  bool failed() const {
    return failed_;
  }
  // The size the file had when it was opened.
  long long size() const {
    return size_;
  }

  // The next byte, or END at the end of the file or after a failed read.
  int get() {
    if (pushed_back_ != END) {
      const int c = pushed_back_;
      pushed_back_ = END;
      return c;
    }
    if (position_ == filled_ && !refill()) return END;
    return buffer_[position_++];
  }
  void unget(int c) {
    pushed_back_ = c;
  }

 private:
  bool refill() {
    if (failed_ || at_end_) return false;
#if defined(_WIN32)
    const int got = _read(fd_, buffer_, sizeof buffer_);
#else
    const auto got = read(fd_, buffer_, sizeof buffer_);
#endif
    if (got < 0) failed_ = true;
    if (got <= 0) {
      at_end_ = true;
      return false;
    }
    position_ = 0;
    filled_ = static_cast<std::size_t>(got);
    return true;
  }
  void close_file() {
    if (fd_ < 0) return;
#if defined(_WIN32)
    _close(fd_);
#else
    close(fd_);
#endif
    fd_ = -1;
  }

  int fd_ = -1;
  long long size_ = 0;
  std::uint8_t buffer_[512] = {};
  std::size_t position_ = 0;
  std::size_t filled_ = 0;
  int pushed_back_ = END;
  bool failed_ = false;
  bool at_end_ = false;
};

bool is_white_space(std::uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One little-endian unit, or false at end of file (a lone last byte included).
bool read_unit(KeyFile& file, std::uint16_t* unit) {
  const int low = file.get();
  if (low == KeyFile::END) return false;
  const int high = file.get();
  if (high == KeyFile::END) return false;
  *unit = static_cast<std::uint16_t>(low | high << 8);
  return true;
}

}  // namespace

bool is_keyfile_spec(const std::uint8_t key_text[KEY_TEXT_MAX]) {
  return names_key_file(key_text, KEY_TEXT_MAX);
}

int load_key_file(std::uint8_t key_text[KEY_TEXT_MAX]) {
  const std::size_t path_length = key_file_path_length(key_text, KEY_TEXT_MAX);
  if (path_length >= KEY_PATH_MAX) return -1;
  char path[KEY_PATH_MAX] = {};
  std::memcpy(path, key_text + KEYFILE_PREFIX_LENGTH, path_length);

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
  KeyFile file(path, Mode::Binary);
  if (!file.is_open()) return KEY_FILE_UNUSABLE;
  std::uint16_t unit = 0;
  const bool marked = read_unit(file, &unit) && unit == BYTE_ORDER_MARK;
  if (file.failed()) return KEY_FILE_UNUSABLE;
  return marked ? KEY_FILE_UTF16 : KEY_FILE_TEXT;
}

int read_key_file_text(const char* path, std::uint8_t* buffer, std::size_t capacity) {
  KeyFile file(path, Mode::Text);
  if (!file.is_open()) return -1;
  std::size_t stored = 0;
  while (stored < capacity) {
    int c = file.get();
    if (c == KeyFile::END) break;
    if constexpr (TRANSLATE_TEXT) {
      if (c == CTRL_Z) break;
      if (c == '\r') {
        const int next = file.get();
        if (next == '\n') {
          c = '\n';
        } else if (next != KeyFile::END) {
          file.unget(next);
        }
      }
    }
    buffer[stored++] = static_cast<std::uint8_t>(c);
  }
  if (file.failed()) return -1;
  return static_cast<int>(stored);
}

int read_key_file_utf16(const char* path, std::uint8_t* buffer, std::size_t capacity) {
  KeyFile file(path, Mode::Binary);
  if (!file.is_open() || file.size() < 2) return -1;
  std::uint16_t unit = 0;
  if (!read_unit(file, &unit) || unit != BYTE_ORDER_MARK) return -1;

  std::uint16_t units[KEY_TEXT_MAX];
  std::size_t count = 0;
  while (count < KEY_TEXT_MAX && read_unit(file, &unit) && unit != NOT_A_CHARACTER) {
    units[count++] = unit;
  }
  const std::size_t written = utf16_to_ansi(units, count, buffer, capacity);
  secure_zero(units, sizeof units);
  return static_cast<int>(written);
}

}  // namespace varrow
