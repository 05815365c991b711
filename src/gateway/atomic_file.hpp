#pragma once

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace relaydash {

// Whole-file writes that a reader (or a crash, or a kill -9) sees either before or after, never
// half done: the text goes to a temporary file in the same directory, which is synced and renamed
// over the target; then the directory is synced. When one of them raises before the rename, the
// target is untouched and the temporary file is gone. A failure to sync the directory is raised
// too, although the new file is then in place. A temporary file is named "." + the target's name
// + ".relaydash-" + six letters or digits, so that a directory listing tells it from finished
// files, and from an operator's files beside the forwarder's configuration.

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

// The name of the file whose write made the temporary file called name, or empty when name is
// not one. With earlierToo, also "." + target + "." + six letters or digits, the names that
// earlier builds gave their temporary files: outside relaydash's own folders that may as well be
// an operator's file (".global_conf.json.backup"), so only those folders are tidied of them.
std::string_view temporaryFileTarget(std::string_view name, bool earlierToo = false);

// Removes the regular files in directory that are temporary files of a write (as
// temporaryFileTarget tells, with earlierToo) whose target isOurs accepts: what a write killed
// midway leaves. Never raises: they are only clutter. Answers what could not be done, a sentence
// each with the system's words, for the server's output; nothing when the folder does not exist.
std::vector<std::string> removeTemporaryFiles(const std::string& directory,
                                              const std::function<bool(std::string_view)>& isOurs,
                                              bool earlierToo);

// Removes the temporary files that writes of the file at path left behind when the process was
// killed while writing (beside the file a symbolic link at path leads to), in the shape this
// build gives them only. Answers what could not be done, as removeTemporaryFiles does.
std::vector<std::string> removeLeftoverFiles(const std::string& path);

}  // namespace relaydash
