#include "runtime/spawn.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <exception>
#include <string_view>

#include "runtime/os_error.hpp"

extern char** environ;

namespace relaydash {
namespace {

// A posix_spawn argument list: pointers into strings that outlive it.
std::vector<char*> pointers(const std::vector<std::string>& strings) {
  std::vector<char*> list;
  list.reserve(strings.size() + 1);
  for (const std::string& s : strings)
    list.push_back(const_cast<char*>(s.c_str()));
  list.push_back(nullptr);
  return list;
}

class FileActions {
 public:
  FileActions() { check(::posix_spawn_file_actions_init(&actions_)); }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  ~FileActions() { ::posix_spawn_file_actions_destroy(&actions_); }

  void open(int fd, const char* path, int flags) {
    check(::posix_spawn_file_actions_addopen(&actions_, fd, path, flags, 0));
  }
  void dup2(int from, int to) { check(::posix_spawn_file_actions_adddup2(&actions_, from, to)); }
  // Whatever a library or another thread opened without close-on-exec stays ours.
  void closeFrom([[maybe_unused]] int lowest) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    check(::posix_spawn_file_actions_addclosefrom_np(&actions_, lowest));
#endif
  }
  const posix_spawn_file_actions_t* get() const noexcept {
    return &actions_;
  }

  static void check(int error) {
    if (error != 0) throw OSError(error);
  }

 private:
  posix_spawn_file_actions_t actions_;
};

class Attributes {
 public:
  Attributes() { FileActions::check(::posix_spawnattr_init(&attributes_)); }
  Attributes(const Attributes&) = delete;
  Attributes& operator=(const Attributes&) = delete;
  ~Attributes() { ::posix_spawnattr_destroy(&attributes_); }

  // The child starts with no signal blocked: the loop blocks SIGCHLD where it reads it from a
  // signalfd, and a blocked mask survives exec.
  void unblockSignals() {
    sigset_t none;
    sigemptyset(&none);
    FileActions::check(::posix_spawnattr_setsigmask(&attributes_, &none));
    flags_ |= POSIX_SPAWN_SETSIGMASK;
  }
  void defaultSignals() {
    sigset_t all;
    sigfillset(&all);
    FileActions::check(::posix_spawnattr_setsigdefault(&attributes_, &all));
    flags_ |= POSIX_SPAWN_SETSIGDEF;
  }
  void ownProcessGroup() {
    FileActions::check(::posix_spawnattr_setpgroup(&attributes_, 0));
    flags_ |= POSIX_SPAWN_SETPGROUP;
  }
  const posix_spawnattr_t* get() {
    FileActions::check(::posix_spawnattr_setflags(&attributes_, static_cast<short>(flags_)));
    return &attributes_;
  }

 private:
  posix_spawnattr_t attributes_;
  int flags_ = 0;
};

struct Pipe {
  FileDescriptor read;
  FileDescriptor write;
};

// Both ends close-on-exec; only our end non-blocking, since the child's end is a plain
// standard output to it.
Pipe newPipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) raiseOSError();
  Pipe p{FileDescriptor(fds[0]), FileDescriptor(fds[1])};
  if (::fcntl(p.read.get(), F_SETFL, O_NONBLOCK) != 0) raiseOSError();
  return p;
}

bool isExecutableFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = EACCES;
    return false;
  }
  return ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string findProgram(const std::string& name, const std::string& path) {
  if (name.empty()) {
    errno = ENOENT;
    return {};
  }
  if (name.find('/') != std::string::npos) return isExecutableFile(name) ? name : std::string();
  bool denied = false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(path.find(':', start), path.size());
    // An empty entry means the working directory, as for execvp.
    std::string directory = path.substr(start, end - start);
    const std::string candidate = (directory.empty() ? "." : directory) + "/" + name;
    if (isExecutableFile(candidate)) return candidate;
    denied = denied || errno == EACCES;
    if (end == path.size()) break;
    start = end + 1;
  }
  errno = denied ? EACCES : ENOENT;
  return {};
}

SpawnedProgram spawnProgram(const std::string& program, const std::vector<std::string>& argv,
                            const std::vector<std::string>& environment) {
  Pipe out = newPipe();
  Pipe err = newPipe();
  FileActions actions;
  actions.open(STDIN_FILENO, "/dev/null", O_RDONLY);
  actions.dup2(out.write.get(), STDOUT_FILENO);
  actions.dup2(err.write.get(), STDERR_FILENO);
  actions.closeFrom(STDERR_FILENO + 1);
  Attributes attributes;
  attributes.unblockSignals();
  attributes.defaultSignals();
  attributes.ownProcessGroup();

  const std::vector<char*> args = pointers(argv);
  const std::vector<char*> env = pointers(environment);
  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(),
                                  args.data(), env.data());
  if (error != 0) throw OSError(error);
  return {pid, std::move(out.read), std::move(err.read)};
}

namespace {

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
  }
}

// Keeps nothing of ours open but its output: a connection we close must not stay open in it.
void keepOnlyOutput(int out, int err) {
  ::dup2(out, STDOUT_FILENO);
  ::dup2(err, STDERR_FILENO);
  const int null = ::open("/dev/null", O_RDONLY);
  if (null >= 0) ::dup2(null, STDIN_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  ::close_range(STDERR_FILENO + 1, ~0U, 0);
#else
  for (int fd = STDERR_FILENO + 1; fd < 4096; ++fd)
    ::close(fd);
#endif
}

[[noreturn]] void runInChild(const std::function<std::string()>& work, int out, int err) {
  keepOnlyOutput(out, err);
  ::setpgid(0, 0);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int signal = 1; signal < NSIG; ++signal)
    ::signal(signal, SIG_DFL);
  try {
    writeAll(STDOUT_FILENO, work());
  } catch (const std::exception& e) {
    writeAll(STDERR_FILENO, e.what());
    ::_exit(1);
  } catch (...) {
    ::_exit(1);
  }
  ::_exit(0);
}

}  // namespace

SpawnedProgram forkWork(const std::function<std::string()>& work) {
  Pipe out = newPipe();
  Pipe err = newPipe();
  const pid_t pid = ::fork();
  if (pid < 0) raiseOSError();
  if (pid == 0) runInChild(work, out.write.get(), err.write.get());
  return {pid, std::move(out.read), std::move(err.read)};
}

std::optional<pid_t> spawnShell(const std::string& commandLine) {
  FileActions actions;
  actions.closeFrom(STDERR_FILENO + 1);
  Attributes attributes;
  attributes.unblockSignals();
  const std::vector<std::string> argv{"sh", "-c", commandLine};
  const std::vector<char*> args = pointers(argv);
  pid_t pid = -1;
  const int error =
      ::posix_spawn(&pid, "/bin/sh", actions.get(), attributes.get(), args.data(), environ);
  if (error == 0) return pid;
  if (error == ENOENT || error == EACCES || error == ENOEXEC) return std::nullopt;
  throw OSError(error);
}

}  // namespace relaydash
