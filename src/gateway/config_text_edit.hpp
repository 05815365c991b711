#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "json/value.hpp"

namespace relaydash {

// Writes a changed configuration document back into the text it was read from, so that a diff
// of the file shows only what changed: comments, member order, blank lines and indentation stay.
//
// `text` holds the document `before`; `after` is `before` with members changed or added (as a
// merge makes it; an object that lost a member is written anew). Only the text of values that
// differ is replaced; an array of the same length is edited element by element. A new member goes
// to the end of its object, on a line of its own at the indentation of the member before it when
// the object spans lines, after a ", " when it does not; a comment that ends the previous member's
// line stays on that line. A replaced object or array is written in the style of the one it
// replaces (one member a line or all on one line, the file's indentation step, its line ends).
//
// nullopt when the text cannot be edited so: the text is not one the scanner follows, or the edited
// text does not read back as `after` (member order aside). The caller then writes the document in a
// form of its own.
std::optional<std::string> editJsonText(std::string_view text, const JsonNode& before,
                                        const JsonNode& after);

// Whether two documents hold the same values, the order of object members aside. An integer and a
// float are different values, as they are different texts.
bool sameDocument(const JsonNode& a, const JsonNode& b);

}  // namespace relaydash
