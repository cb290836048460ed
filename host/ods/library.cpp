#include "ods/library.h"

#include <filesystem>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#ifndef VARROW_LIBRARY_NAME
#define VARROW_LIBRARY_NAME "libvarrow.so"
#endif
#ifndef VARROW_INSTALLED_LIBDIR
#define VARROW_INSTALLED_LIBDIR "/usr/local/lib"
#endif
#ifndef VARROW_RELATIVE_LIBDIR
#define VARROW_RELATIVE_LIBDIR "lib"
#endif

namespace varrow::host {

#if defined(_WIN32)

Library::Library(const std::string& path) {
  handle_ = reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
  if (handle_ == nullptr) {
    throw std::runtime_error("cannot load " + path + ": error " + std::to_string(GetLastError()));
  }
  remember_procedures();
}

Library::~Library() {
  if (handle_ != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(handle_));
}

Procedure Library::lookup(const std::string& name) const {
  return reinterpret_cast<Procedure>(
      reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name.c_str())));
}

static std::filesystem::path executable_dir() {
  char buffer[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  return std::filesystem::path(buffer).parent_path();
}

#else

Library::Library(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    throw std::runtime_error("cannot load " + path + ": " + (reason ? reason : "unknown error"));
  }
  remember_procedures();
}

Library::~Library() {
  if (handle_ != nullptr) dlclose(handle_);
}

Procedure Library::lookup(const std::string& name) const {
  return reinterpret_cast<Procedure>(dlsym(handle_, name.c_str()));
}

static std::filesystem::path executable_dir() {
  std::error_code error;
  return std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
}

#endif

void Library::remember_procedures() {
  for (std::size_t i = 0; i < PROCEDURE_NAMES.size(); ++i)
    procedures_[i] = lookup(std::string(PROCEDURE_NAMES[i]));
}

Procedure Library::find(const std::string& name) const {
  for (std::size_t i = 0; i < PROCEDURE_NAMES.size(); ++i) {
    if (name == PROCEDURE_NAMES[i]) return procedures_[i];
  }
  return lookup(name);
}

std::string default_library_path() {
  // Beside the program (a build tree), then where an installation under any
  // prefix puts it, then the prefix the program was built for.
  const std::filesystem::path dir = executable_dir();
  const std::filesystem::path candidates[] = {
      dir / VARROW_LIBRARY_NAME,
      dir.parent_path() / VARROW_RELATIVE_LIBDIR / VARROW_LIBRARY_NAME,
  };
  for (const auto& candidate : candidates) {
    std::error_code error;
    if (std::filesystem::exists(candidate, error)) return candidate.string();
  }
  return (std::filesystem::path(VARROW_INSTALLED_LIBDIR) / VARROW_LIBRARY_NAME).string();
}

}  // namespace varrow::host
