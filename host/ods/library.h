// Opens the procedure library and finds its procedures by exported name, as
// the server does with an extended procedure DLL.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "varrow/ods.h"

namespace varrow::host {

using Procedure = int (*)(SRV_PROC*);

inline constexpr std::array<std::string_view, 5> PROCEDURE_NAMES = {
    "xp_AES_Encrypt", "xp_AES_Decrypt", "xp_MD5_Encrypt", "xp_SHA1_Encrypt", "xp_hexstr"};

class Library {
 public:
  // Throws std::runtime_error naming the path and the loader's reason.
  explicit Library(const std::string& path);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  // The procedure exported under exactly this name, or nullptr.
  Procedure find(const std::string& name) const;

 private:
  Procedure lookup(const std::string& name) const;
  void remember_procedures();

  void* handle_ = nullptr;
  // The five procedures, looked up once at load: a call finds its procedure
  // without a symbol lookup, which takes the loader's lock that every
  // connection's thread would otherwise wait on.
  std::array<Procedure, PROCEDURE_NAMES.size()> procedures_{};
};

// The library file a program should load when none is named: the one beside
// the running executable, else the one installed with it.
std::string default_library_path();

}  // namespace varrow::host
