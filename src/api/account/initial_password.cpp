#include "api/account/initial_password.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "api/context.hpp"
#include "crypto/buffer.hpp"
#include "model/account_model.hpp"
#include "runtime/file_descriptor.hpp"
#include "runtime/os_error.hpp"
#include "runtime/print_line.hpp"

namespace relaydash {
namespace {

// 32 characters: a random byte picks one without bias.
constexpr std::string_view kAlphabet = "abcdefghijkmnpqrstuvwxyz23456789";
static_assert(256 % kAlphabet.size() == 0);
constexpr int kLength = 20;
// A password file is a line; anything longer is not one.
constexpr std::size_t kMaxFileBytes = 4096;

[[noreturn]] void raiseFileError(const std::string& what, const std::string& path) {
  const int error = errno;
  throw OSError(error, what + " " + path + ": " + std::strerror(error));
}

void writeNewFile(const std::string& path, const std::string& text) {
  if (const std::size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0) {
    const std::string folder = path.substr(0, slash);
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
      raiseFileError("cannot make the folder of", path);
    }
  }
  const FileDescriptor file(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!file) raiseFileError("cannot write", path);
  if (::write(file.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
      ::fsync(file.get()) != 0) {
    raiseFileError("cannot write", path);
  }
}

}  // namespace

std::optional<std::string> readInitialPassword(const std::string& path) {
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) {
    if (errno == ENOENT) return std::nullopt;
    raiseFileError("cannot read", path);
  }
  std::string text(kMaxFileBytes, '\0');
  const ssize_t n = ::read(file.get(), text.data(), text.size());
  if (n < 0) raiseFileError("cannot read", path);
  text.resize(static_cast<std::size_t>(n));
  text.resize(std::min(text.find('\n'), text.size()));
  if (!text.empty() && text.back() == '\r') text.pop_back();
  if (text.empty()) return std::nullopt;
  return text;
}

std::string newInitialPassword() {
  const Buffer bytes = newBufferRandomized(kLength);
  std::string password;
  for (const char byte : toString(bytes))
    password += kAlphabet[static_cast<unsigned char>(byte) % kAlphabet.size()];
  return password;
}

void useInitialPasswordFile(Context& ctx, std::string path) {
  ctx.initialPasswordFile = std::move(path);
  ctx.initialPassword.reset();
  if (!ctx.initialPasswordFile.empty()) {
    ctx.initialPassword = readInitialPassword(ctx.initialPasswordFile);
  }
}

std::string firstPassword(Context& ctx) {
  if (ctx.initialPasswordFile.empty()) return std::string(kAdminInitialPassword);
  if (!ctx.initialPassword) {
    std::string password = newInitialPassword();
    writeNewFile(ctx.initialPasswordFile, password + "\n");
    ctx.initialPassword = std::move(password);
  }
  return *ctx.initialPassword;
}

bool hasGivenPassword(const Context& ctx, const Account& account) {
  return passwordMatches(account, kAdminInitialPassword) ||
         (ctx.initialPassword && passwordMatches(account, *ctx.initialPassword));
}

std::optional<std::string> initialPasswordNotice(Context& ctx) {
  if (!ctx.initialPassword) return std::nullopt;
  try {
    if (!checkAccountPassword(ctx.database.connection(), kAdminName, *ctx.initialPassword)) {
      return std::nullopt;
    }
  } catch (const UserNotFoundError&) {
    return std::nullopt;
  }
  return "Sign in as " + std::string(kAdminName) + " with the password in " +
         ctx.initialPasswordFile + "; it is removed once the password is changed";
}

void forgetInitialPassword(Context& ctx) {
  if (!ctx.initialPassword) return;
  ctx.initialPassword.reset();
  if (::unlink(ctx.initialPasswordFile.c_str()) != 0 && errno != ENOENT) {
    const int error = errno;
    printLine("The initial password file " + ctx.initialPasswordFile +
              " could not be removed: " + std::strerror(error));
  }
}

}  // namespace relaydash
