#include "gateway/atomic_file.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "ascii/ascii.hpp"
#include "gateway/text_file.hpp"
#include "runtime/file_descriptor.hpp"
#include "runtime/os_error.hpp"

namespace relaydash {
namespace {

// Between the target's name and the six characters mkstemp picks: whose file it is.
constexpr std::string_view kTemporaryMark = ".relaydash-";
constexpr std::size_t kRandomLength = 6;
constexpr char kCannotSearch[] =
    " could not be searched for temporary files that an interrupted write left";

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
  TemporaryFile(TemporaryFile&& other) noexcept : path_(std::exchange(other.path_, {})) {}
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

struct Target {
  std::string path;  // absolute
  std::string directory;
};

Target splitAbsolute(std::string path) {
  const std::size_t slash = path.rfind('/');
  std::string directory = slash == 0 ? "/" : path.substr(0, slash);
  return {std::move(path), std::move(directory)};
}

// Writes the text to a new temporary file beside the target, synced and with the given bits,
// and hands over its name. The caller renames it.
template <typename Prepare>
TemporaryFile writeTemporary(const Target& target, std::string_view text, Prepare prepare) {
  // Same directory, same file system: the rename cannot turn into a copy.
  const std::size_t slash = target.path.rfind('/');
  std::string pattern = target.path.substr(0, slash + 1);
  pattern += '.';
  pattern.append(target.path, slash + 1);
  pattern += kTemporaryMark;
  pattern.append(kRandomLength, 'X');
  FileDescriptor file(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!file) raiseOSError();
  TemporaryFile temporary(std::move(pattern));
  writeAll(file.get(), text);
  prepare(file.get());
  if (::fsync(file.get()) != 0) raiseOSError();
  if (::close(file.release()) != 0) raiseOSError();
  return temporary;
}

}  // namespace

void replaceFile(const std::string& path, std::string_view text,
                 std::optional<std::string_view> expected) {
  // Renaming over a symbolic link would turn it into a plain file and cut the operator's link
  // to wherever the forwarder really reads its configuration.
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                             &std::free);
  if (!resolved) raiseOSError();
  const Target target = splitAbsolute(resolved.get());
  struct stat old {};
  if (::stat(target.path.c_str(), &old) != 0) raiseOSError();

  TemporaryFile temporary = writeTemporary(target, text, [&old](int fd) {
    // Owner before mode: a change of owner clears the set-user-ID and set-group-ID bits. Only a
    // privileged process may give a file away; otherwise the file stays ours.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM) raiseOSError();
    if (::fchmod(fd, old.st_mode & 07777) != 0) raiseOSError();
  });
  // Checked as late as can be: what is left is the moment between this read and the rename.
  if (expected && readTextFile(target.path) != *expected) {
    throw FileChangedError("the file " + path + " was changed by someone else meanwhile");
  }
  if (::rename(temporary.path().c_str(), target.path.c_str()) != 0) raiseOSError();
  temporary.keep();
  syncDirectory(target.directory);
}

void writeNewFile(const std::string& path, std::string_view text, unsigned mode) {
  std::string absolute = path;
  if (absolute.empty() || absolute.front() != '/') {
    const std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (!cwd) raiseOSError();
    absolute = std::string(cwd.get()) + "/" + path;
  }
  const Target target = splitAbsolute(std::move(absolute));
  const mode_t mask = ::umask(0);
  ::umask(mask);
  TemporaryFile temporary = writeTemporary(target, text, [mode, mask](int fd) {
    if (::fchmod(fd, static_cast<mode_t>(mode) & ~mask & 07777) != 0) raiseOSError();
  });
  if (::rename(temporary.path().c_str(), target.path.c_str()) != 0) raiseOSError();
  temporary.keep();
  syncDirectory(target.directory);
}

std::string_view temporaryFileTarget(std::string_view name, bool earlierToo) {
  if (name.size() < 2 + kRandomLength || name.front() != '.') return {};
  // mkstemp picks from letters and digits only.
  const std::string_view random = name.substr(name.size() - kRandomLength);
  if (!std::all_of(random.begin(), random.end(), ascii::isAlnum)) return {};
  std::string_view rest = name.substr(1, name.size() - 1 - kRandomLength);
  if (rest.ends_with(kTemporaryMark)) {
    rest.remove_suffix(kTemporaryMark.size());
    return rest;
  }
  if (earlierToo && rest.ends_with('.')) {
    rest.remove_suffix(1);
    return rest;
  }
  return {};
}

std::vector<std::string> removeTemporaryFiles(const std::string& directory,
                                              const std::function<bool(std::string_view)>& isOurs,
                                              bool earlierToo) {
  std::vector<std::string> problems;
  // errno is read first: building the sentence may change it.
  const auto problem = [&problems](std::string what) {
    const int error = errno;
    problems.push_back(what + ": " + std::strerror(error));
  };
  const auto close = [](DIR* d) { ::closedir(d); };
  const std::unique_ptr<DIR, decltype(close)> dir(::opendir(directory.c_str()), close);
  if (!dir) {
    if (errno != ENOENT) problem("The folder " + directory + kCannotSearch);
    return problems;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view target = temporaryFileTarget(entry->d_name, earlierToo);
    struct stat info {};
    // What mkstemp made is a regular file; a link or a folder of that name is someone else's.
    if (!target.empty() && isOurs(target) &&
        ::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode) && ::unlinkat(::dirfd(dir.get()), entry->d_name, 0) != 0 &&
        errno != ENOENT) {
      problem("The temporary file " + directory + "/" + entry->d_name +
              " that an interrupted write left could not be removed");
    }
    errno = 0;
  }
  if (errno != 0) problem("The folder " + directory + kCannotSearch);
  return problems;
}

std::vector<std::string> removeLeftoverFiles(const std::string& path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                             &std::free);
  if (!resolved) {
    const int error = errno;
    // No file, no write of it that could have been interrupted.
    if (error == ENOENT || error == ENOTDIR) return {};
    return {"The folder of " + path + kCannotSearch + ": " + std::strerror(error)};
  }
  const Target target = splitAbsolute(resolved.get());
  const std::string name = target.path.substr(target.path.rfind('/') + 1);
  return removeTemporaryFiles(
      target.directory, [&name](std::string_view of) { return of == name; }, false);
}

}  // namespace relaydash
