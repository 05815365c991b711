#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace relaydash {

struct Account;
struct Context;

// The administrator, whom start-up creates with the factory password unless an initial password
// file gives another.
inline constexpr std::string_view kAdminName = "admin";
inline constexpr std::string_view kAdminInitialPassword = "quilm";

// The variable of the server's environment that names the file holding the administrator's
// initial password (the package sets /etc/relaydash/initial-password). Unset, the administrator
// starts with the factory password.
inline constexpr const char* kInitialPasswordVariable = "RELAYDASH_INITIAL_PASSWORD_FILE";

// Its first line without the line end; nullopt when the file is missing or that line is empty.
// Raises OSError when the file is there but cannot be read.
std::optional<std::string> readInitialPassword(const std::string& path);

// 20 random characters of lower-case letters and digits, none that reads like another (no 0, o,
// 1 or l): about 100 bits.
std::string newInitialPassword();

// At start-up, before init(): remembers the file and reads the password it holds.
void useInitialPasswordFile(Context& ctx, std::string path);

// The password init() gives a new administrator: the file's, or when the file is named but holds
// none, a new one first written there (mode 0600, its folder made when missing; OSError when it
// cannot be); without a file the factory password.
std::string firstPassword(Context& ctx);

// Whether the account still has a password it was given rather than chose: the factory
// password, or the file's while the file is in use.
bool hasGivenPassword(const Context& ctx, const Account& account);

// For standard output at start-up: where the administrator's password is while the account
// still has the file's; nullopt otherwise.
std::optional<std::string> initialPasswordNotice(Context& ctx);

// After the administrator's password has been changed: the file no longer holds it and is
// removed (what keeps it from being removed is printed, and changes nothing else).
void forgetInitialPassword(Context& ctx);

}  // namespace relaydash
