#include "gateway/forwarder_config.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "gateway/text_file.hpp"
#include "json/parser.hpp"
#include "json/writer.hpp"
#include "runtime/file_descriptor.hpp"
#include "runtime/os_error.hpp"

namespace relaydash {
namespace {

void writeAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      raiseOSError();
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Removes the temporary file unless it has been renamed into place.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }

  const std::string& path() const noexcept { return path_; }
  void keep() noexcept { path_.clear(); }

 private:
  std::string path_;
};

// A rename is durable only once the directory entry itself reaches the disk.
void syncDirectory(const std::string& directory) {
  FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir || ::fsync(dir.get()) != 0) raiseOSError();
}

}  // namespace

Task<JsonNodePtr> getForwarderConfig(std::string path) {
  co_return parseJson(readTextFile(path));
}

Task<void> updateForwarderConfig(std::string path, JsonNodePtr patch) {
  const JsonNodePtr current = parseJson(readTextFile(path));
  const std::string text = toPretty(*merge(*current, *patch), 2);
  // A number beyond a double's range reads as infinity and would be written as "inf", which no
  // reader accepts, the forwarder's included: a file that cannot be read back is never written.
  try {
    parseJson(text);
  } catch (const JsonParsingError& e) {
    throw std::invalid_argument(std::string("the patched configuration is not valid JSON: ") +
                                e.what());
  }
  replaceFile(path, text);
  co_return;
}

JsonNodePtr merge(const JsonNode& base, const JsonNode& patch) {
  if (!base.isObject() || !patch.isObject()) return copy(patch);
  const JsonObject& old = base.object();
  const JsonObject& changes = patch.object();
  JsonNodePtr result = newJObject();
  JsonObject& members = result->object();
  members.reserve(old.size() + changes.size());
  for (const auto& [key, value] : old) {
    if (!changes.contains(key)) members.set(key, copy(*value));
  }
  for (const auto& [key, value] : changes) {
    const JsonNodePtr* previous = old.find(key);
    members.set(key, previous ? merge(**previous, *value) : copy(*value));
  }
  return result;
}

void replaceFile(const std::string& path, std::string_view text) {
  // Renaming over a symbolic link would turn it into a plain file and cut the operator's link
  // to wherever the forwarder really reads its configuration.
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                             &std::free);
  if (!resolved) raiseOSError();
  const std::string target = resolved.get();
  struct stat old {};
  if (::stat(target.c_str(), &old) != 0) raiseOSError();

  // realpath gives an absolute path, so there is a slash. Same directory, same file system:
  // the rename cannot turn into a copy.
  const std::size_t slash = target.rfind('/');
  const std::string directory = slash == 0 ? "/" : target.substr(0, slash);
  std::string pattern = target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".XXXXXX";
  FileDescriptor file(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!file) raiseOSError();
  TemporaryFile temporary(std::move(pattern));

  writeAll(file.get(), text);
  // Owner before mode: a change of owner clears the set-user-ID and set-group-ID bits. Only a
  // privileged process may give a file away; otherwise the file stays ours.
  if (::fchown(file.get(), old.st_uid, old.st_gid) != 0 && errno != EPERM) raiseOSError();
  if (::fchmod(file.get(), old.st_mode & 07777) != 0) raiseOSError();
  if (::fsync(file.get()) != 0) raiseOSError();
  if (::close(file.release()) != 0) raiseOSError();
  if (::rename(temporary.path().c_str(), target.c_str()) != 0) raiseOSError();
  temporary.keep();
  syncDirectory(directory);
}

}  // namespace relaydash
