#pragma once

#include <string>
#include <string_view>

#include "gateway/atomic_file.hpp"
#include "json/value.hpp"
#include "runtime/task.hpp"

namespace relaydash {

// The packet forwarder's configuration: whatever JSON document the file at `path` (the
// context's forwarderConfigPath) holds. It is given no schema; members keep their order.
//
// A file that cannot be opened or read raises OSError with the system's text; text that is not
// JSON raises the parser's JsonParsingError (comments are accepted), unless the forwarder reads
// it all the same (readConfigDocument).

// The document a configuration text holds: as our parser reads it, or, for a text it refuses but
// the forwarder reads (text after the document, which the forwarder ignores), as the forwarder
// reads it. Raises the parser's JsonParsingError when neither reads it.
JsonNodePtr readConfigDocument(std::string_view text);

// The parsed file. The document of the last file read is remembered, and given again (the same
// nodes: callers do not change them) while the file keeps its inode, size and times and those
// times are more than two seconds old: reading the same unchanged file again costs a stat.
Task<JsonNodePtr> getForwarderConfig(std::string path);

// Reads the file, merges patch into it and replaces the file with the merged document in the
// pretty form (indent 2, no newline after the last bracket), through replaceFile. A file that
// cannot be read or parsed is left as it is and nothing is created. Comments are not kept.
Task<void> updateForwarderConfig(std::string path, JsonNodePtr patch);

// A new document: when both are objects, base's members that patch does not name (in base's
// order), then patch's members (in patch's order), each merged with base's member of the same
// key when there is one; otherwise patch. Arrays, scalars and null replace whole; nothing is
// removed. Shares no node with either argument.
JsonNodePtr merge(const JsonNode& base, const JsonNode& patch);

}  // namespace relaydash
