#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace relaydash {

// Whole-file writes that a reader (or a crash, or a kill -9) sees either before or after, never
// half done: the text goes to a temporary file in the same directory, which is synced and renamed
// over the target; then the directory is synced. When one of them raises before the rename, the
// target is untouched and the temporary file is gone. A failure to sync the directory is raised
// too, although the new file is then in place. A temporary file is named "." + the target's name
// + "." + six characters, so a directory listing can tell it from finished files.

// Raised by replaceFile when the file no longer holds what the caller read from it.
class FileChangedError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Replaces the existing file at path with text. The new file gets the old one's permission bits
// and (where allowed) owner. A symbolic link is followed and its target replaced, so the link stays
// a link. With `expected`, the file must still hold exactly those bytes just before the rename,
// or nothing is replaced and FileChangedError is raised: a change made by someone else since the
// caller read the file is not overwritten unseen. Raises OSError.
void replaceFile(const std::string& path, std::string_view text,
                 std::optional<std::string_view> expected = std::nullopt);

// Creates the file at path with text and the permission bits mode (less the umask), replacing
// any file of that name. Raises OSError.
void writeNewFile(const std::string& path, std::string_view text, unsigned mode = 0644);

// Whether the name is one of the temporary files above.
bool isTemporaryFileName(std::string_view name);

// Removes the temporary files that writes of the file at path left behind when the process was
// killed while writing. Never raises: they are only clutter.
void removeLeftoverFiles(const std::string& path) noexcept;

}  // namespace relaydash
