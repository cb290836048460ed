// A fresh folder of key files for the fuzz targets, so that key files of
// every kind are read without touching the machine's other files: good ones
// of each size in 8-bit and UTF-16 text, bad text, an empty file, a folder, a
// FIFO (which must be refused at once, not waited on) and a link leading out
// of the folder. Made on first use, removed when the process exits.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace varrow::fuzz {

class KeySandbox {
 public:
  KeySandbox() {
    char pattern[] = "/tmp/varrow-fuzz-keys-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    dir_ = pattern;
    const std::string k128 = "000102030405060708090a0b0c0d0e0f";
    std::ofstream(path("k128")) << k128 << "\r\n";
    std::ofstream(path("k192")) << k128 << "1011121314151617 comment";
    std::ofstream(path("k256")) << k128 << "101112131415161718191A1B1C1D1E1F";
    std::ofstream utf16(path("u128"), std::ios::binary);
    utf16 << '\xFF' << '\xFE';
    for (char c : k128)
      utf16 << c << '\0';
    utf16.close();
    std::ofstream(path("bad")) << "not hex";
    std::ofstream{path("empty")};
    if (mkdir(path("folder").c_str(), 0700) != 0 || mkfifo(path("fifo").c_str(), 0600) != 0 ||
        symlink("/etc/hostname", path("outside").c_str()) != 0) {
      std::abort();
    }
  }
  ~KeySandbox() {
    for (const char* name : {"k128", "k192", "k256", "u128", "bad", "empty", "fifo", "outside"})
      unlink(path(name).c_str());
    rmdir(path("folder").c_str());
    rmdir(dir_.c_str());
  }
  KeySandbox(const KeySandbox&) = delete;
  KeySandbox& operator=(const KeySandbox&) = delete;

  const std::string& dir() const { return dir_; }

 private:
  std::string path(const char* name) const { return dir_ + "/" + name; }
  std::string dir_;
};

// The process's one sandbox folder.
inline const std::string& key_sandbox() {
  static const KeySandbox box;
  return box.dir();
}

}  // namespace varrow::fuzz
