#include "tds/session/key_files.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <utility>

#include "varrow/key_text.h"

namespace varrow::host::tds {
namespace {

// The key is the second parameter of both AES procedures.
constexpr std::size_t KEY_PARAM_INDEX = 1;

// Where the procedure finds a file varrowd holds open: the name stays
// valid, and means the same file, for as long as the descriptor is open.
constexpr char OPEN_FILE_PATH[] = "/proc/self/fd/";
constexpr std::size_t FD_DIGITS_MAX = 10;
// As the kernel, which gives up after 40 links in one path.
constexpr int MAX_LINKS = 40;
// The name handed to the procedure is within what it takes.
static_assert(sizeof OPEN_FILE_PATH - 1 + FD_DIGITS_MAX < KEY_PATH_MAX &&
              KEYFILE_PREFIX_LENGTH + sizeof OPEN_FILE_PATH - 1 + FD_DIGITS_MAX <= KEY_TEXT_MAX);

// The refusals say what was wrong with the path as given, and nothing of
// what lies outside the folder.
constexpr char RELATIVE[] =
    "Key file refused: varrowd takes only absolute paths into its key folder.";
constexpr char OUTSIDE[] = "Key file refused: the path leads out of varrowd's key folder.";
constexpr char MISSING[] = "Key file refused: no such file in varrowd's key folder.";
constexpr char NOT_REGULAR[] =
    "Key file refused: the path does not name a regular file in varrowd's key folder.";

bool has_key_parameter(const std::string& procedure) {
  return procedure == "xp_AES_Encrypt" || procedure == "xp_AES_Decrypt";
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

// Symbolic links are followed while they stay beneath `dir`, relative ones
// only; /proc's links to open files never are. ENOSYS where the kernel
// lacks openat2.
int open_by_kernel(int dir, const std::string& relative) {
  open_how how{};
  how.flags = O_PATH | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(::syscall(SYS_openat2, dir, relative.c_str(), &how, sizeof how));
}

std::optional<std::string> resolved(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                         &std::free);
  if (!real) return std::nullopt;
  return std::string(real.get());
}

std::string without_trailing_slashes(std::string path) {
  while (!path.empty() && path.back() == '/')
    path.pop_back();
  return path;
}

}  // namespace

struct KeyFilePolicy::Folder {
  Folder(int dir, Resolver how) : fd(dir), resolver(how) {}

  Descriptor fd;
  // Its absolute spellings a path may start with: resolved, and as given.
  std::vector<std::string> names;
  Resolver resolver;

  // The part of an absolute `path` below the folder ("." for the folder
  // itself); none when the path does not start with the folder.
  std::optional<std::string> beneath(const std::string& path) const {
    for (const std::string& name : names) {
      if (path.compare(0, name.size(), name) == 0 &&
          (path.size() == name.size() || path[name.size()] == '/')) {
        return std::string(".").append(path, name.size());
      }
    }
    return std::nullopt;
  }

  // The file opened without following a link out of the folder, or -1 with
  // errno set (EXDEV for a way out).
  int open(const std::string& relative) const {
    if (resolver == Resolver::Kernel) {
      const int file = open_by_kernel(fd.get(), relative);
      // The walk decides what the kernel refuses: an absolute link back in.
      // EPERM: a seccomp filter that does not know openat2.
      if (file >= 0 || (errno != ENOSYS && errno != EPERM && errno != EXDEV)) return file;
    }
    return walk(relative);
  }

  // One component at a time, never letting the kernel follow a link: a
  // link's target is walked in its place, from the link's folder or, when
  // absolute, from this folder if it names it; ".." climbs back at most to
  // this folder.
  int walk(std::string path) const {
    std::vector<std::unique_ptr<Descriptor>> folders;  // beneath this one, innermost last
    const auto current = [&] { return folders.empty() ? fd.get() : folders.back()->get(); };
    int links = 0;
    for (std::size_t begin = 0; begin <= path.size();) {
      const std::size_t end = std::min(path.find('/', begin), path.size());
      const std::string name = path.substr(begin, end - begin);
      begin = end + 1;
      if (name.empty() || name == ".") continue;
      if (name == "..") {
        if (folders.empty()) return errno = EXDEV, -1;
        folders.pop_back();
        continue;
      }
      auto opened = std::make_unique<Descriptor>(
          ::openat(current(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
      struct stat info {};
      if (opened->get() < 0 || ::fstat(opened->get(), &info) != 0) return -1;
      if (S_ISLNK(info.st_mode)) {
        char target[KEY_PATH_MAX];
        const ssize_t n = ::readlinkat(opened->get(), "", target, sizeof target);
        if (++links > MAX_LINKS || n <= 0 || n == sizeof target) return errno = ELOOP, -1;
        std::string next(target, static_cast<std::size_t>(n));
        if (next[0] == '/') {
          const std::optional<std::string> inside = beneath(next);
          if (!inside) return errno = EXDEV, -1;
          folders.clear();
          next = *inside;
        }
        path = next.append(path, end);
        begin = 0;
      } else if (end == path.size() || !S_ISDIR(info.st_mode)) {
        return end == path.size() ? opened->release() : (errno = ENOTDIR, -1);
      } else {
        folders.push_back(std::move(opened));
      }
    }
    return ::fcntl(current(), F_DUPFD_CLOEXEC, 0);
  }
};

KeyFilePolicy::KeyFilePolicy(const std::optional<std::string>& key_dir, Resolver resolver) {
  if (!key_dir) return;
  auto folder = std::make_shared<Folder>(::open(key_dir->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC),
                                         resolver);
  const std::optional<std::string> real = resolved(*key_dir);
  if (folder->fd.get() < 0 || !real) {
    throw std::invalid_argument("the key folder " + *key_dir + " is not a folder");
  }
  if (::access(OPEN_FILE_PATH, F_OK) != 0) {
    throw std::invalid_argument("--key-dir needs /proc, to hand each call the file it checked");
  }
  folder->names.push_back(without_trailing_slashes(*real));
  if ((*key_dir)[0] == '/') folder->names.push_back(without_trailing_slashes(*key_dir));
  folder_ = std::move(folder);
}

std::optional<CallRefusal> KeyFilePolicy::check(const std::string& procedure,
                                                std::vector<Param>& params) const {
  if (!has_key_parameter(procedure) || params.size() <= KEY_PARAM_INDEX) return std::nullopt;
  Param& param = params[KEY_PARAM_INDEX];
  if (!param.value || !names_key_file(param.value->data(), param.value->size())) {
    return std::nullopt;
  }
  if (!folder_) {
    return CallRefusal{KEY_FILE_REFUSED,
                       "Key files are not available through this server: varrowd takes them "
                       "only from a key folder given with --key-dir."};
  }
  const Bytes& key = *param.value;
  if (key.size() > KEY_TEXT_MAX) return std::nullopt;
  const std::size_t length = key_file_path_length(key.data(), key.size());
  if (length >= KEY_PATH_MAX) return std::nullopt;
  const std::string path(key.begin() + KEYFILE_PREFIX_LENGTH,
                         key.begin() + static_cast<std::ptrdiff_t>(KEYFILE_PREFIX_LENGTH + length));

  if (path.empty() || path[0] != '/') return CallRefusal{KEY_FILE_REFUSED, RELATIVE};
  const std::optional<std::string> relative = folder_->beneath(path);
  if (!relative) return CallRefusal{KEY_FILE_REFUSED, OUTSIDE};
  const int fd = folder_->open(*relative);
  const int error = errno;
  auto file = std::make_shared<const Descriptor>(fd);
  if (fd < 0) {
    return CallRefusal{KEY_FILE_REFUSED, error == EXDEV    ? OUTSIDE
                                         : error == ENOENT ? MISSING
                                                           : NOT_REGULAR};
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return CallRefusal{KEY_FILE_REFUSED, NOT_REGULAR};
  }
  const std::string name =
      std::string(KEYFILE_PREFIX).append(OPEN_FILE_PATH).append(std::to_string(fd));
  param.value = Bytes(name.begin(), name.end());
  param.max_length = std::max(param.max_length, static_cast<std::uint32_t>(name.size()));
  param.keep = std::move(file);
  return std::nullopt;
}

}  // namespace varrow::host::tds
