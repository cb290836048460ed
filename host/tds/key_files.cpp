#include "tds/key_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>

namespace varrow::host::tds {
namespace {

constexpr char PREFIX[] = "keyfile=";
constexpr std::size_t PREFIX_LENGTH = sizeof PREFIX - 1;
// The procedure reads at most this much of its key parameter, and takes the
// path up to the first NUL byte within it.
constexpr std::size_t KEY_TEXT_MAX = 268;
// The key is the second parameter of both AES procedures.
constexpr std::size_t KEY_PARAM_INDEX = 1;

bool has_key_parameter(const std::string& procedure) {
  return procedure == "xp_AES_Encrypt" || procedure == "xp_AES_Decrypt";
}

bool is_key_file_spec(const Bytes& value) {
  if (value.size() < PREFIX_LENGTH) return false;
  for (std::size_t i = 0; i < PREFIX_LENGTH; ++i) {
    std::uint8_t c = value[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c - 'A' + 'a');
    if (c != static_cast<std::uint8_t>(PREFIX[i])) return false;
  }
  return true;
}

// The path as the procedure will take it from the parameter.
std::string spec_path(const Bytes& value) {
  const auto begin = value.begin() + static_cast<std::ptrdiff_t>(PREFIX_LENGTH);
  const auto end =
      value.begin() + static_cast<std::ptrdiff_t>(std::min(value.size(), KEY_TEXT_MAX));
  return std::string(begin, std::find(begin, end, std::uint8_t{0}));
}

std::optional<std::string> resolved(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                         &std::free);
  if (!real) return std::nullopt;
  return std::string(real.get());
}

}  // namespace

KeyFilePolicy::KeyFilePolicy(const std::optional<std::string>& key_dir) {
  if (!key_dir) return;
  const std::optional<std::string> dir = resolved(*key_dir);
  struct stat info {};
  if (!dir || ::stat(dir->c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    throw std::invalid_argument("the key folder " + *key_dir + " is not a folder");
  }
  dir_ = *dir == "/" ? "" : *dir;
}

std::optional<CallRefusal> KeyFilePolicy::check(const std::string& procedure,
                                                std::vector<Param>& params) const {
  if (!has_key_parameter(procedure) || params.size() <= KEY_PARAM_INDEX) return std::nullopt;
  std::optional<Bytes>& key = params[KEY_PARAM_INDEX].value;
  if (!key || !is_key_file_spec(*key)) return std::nullopt;
  if (!dir_) {
    return CallRefusal{KEY_FILE_REFUSED,
                       "Key files are not available through this server: varrowd takes them "
                       "only from a key folder given with --key-dir."};
  }
  // One answer for every refused path, so that nothing is learnt about
  // files outside the folder (or whether a name inside it exists).
  const CallRefusal refused{KEY_FILE_REFUSED,
                            "Key file refused: the path does not name a regular file in "
                            "varrowd's key folder."};
  const std::optional<std::string> file = resolved(spec_path(*key));
  struct stat info {};
  if (!file || file->size() <= dir_->size() + 1 || file->compare(0, dir_->size(), *dir_) != 0 ||
      (*file)[dir_->size()] != '/' || ::stat(file->c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return refused;
  }
  key = Bytes(PREFIX, PREFIX + PREFIX_LENGTH);
  key->insert(key->end(), file->begin(), file->end());
  Param& param = params[KEY_PARAM_INDEX];
  param.max_length =
      std::max<std::uint32_t>(param.max_length, static_cast<std::uint32_t>(key->size()));
  return std::nullopt;
}

}  // namespace varrow::host::tds
