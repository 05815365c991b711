// Feeds arbitrary bytes to the reader of configuration files as the packet forwarder reads them.
// It must never crash, recurse without bound or read outside the text. Every reading either has a
// document or a refusal, its notes point into the text (or just past its end), it stops at the
// first NUL, and what it reads compares equal to itself.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "gateway/forwarder_reader.hpp"
#include "json/value.hpp"

namespace {

using relaydash::TextNote;

void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "reader fuzz check failed: %s\n", what);
  std::abort();
}

// The offset a note's line and column name, or npos when they name no place of the text.
std::size_t offsetOf(std::string_view text, const TextNote& note) {
  std::size_t lineStart = 0;
  for (std::size_t line = 1; line < note.line; ++line) {
    lineStart = text.find('\n', lineStart);
    if (lineStart == std::string_view::npos) return std::string_view::npos;
    ++lineStart;
  }
  std::size_t offset = lineStart + note.column - 1;
  std::size_t lineEnd = text.find('\n', lineStart);
  bool onItsLine = note.column >= 1 && offset <= std::min(lineEnd, text.size());
  return onItsLine ? offset : std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string_view text = bytes.substr(0, bytes.find('\0'));
  const relaydash::ForwarderReading reading = relaydash::readAsForwarder(bytes);

  check((reading.document != nullptr) != reading.refusal.has_value(), "a document or a refusal");
  check(!reading.ignoredTail || reading.document, "a tail only after a document");
  if (reading.refusal) check(offsetOf(text, *reading.refusal) != std::string_view::npos, "refusal");
  if (reading.ignoredTail) {
    check(offsetOf(text, *reading.ignoredTail) < text.size(), "the tail is inside the text");
  }
  check(reading.quirks.size() <= 5, "at most five quirks");
  std::size_t previous = 0;
  for (std::size_t i = 0; i < reading.quirks.size(); ++i) {
    const std::size_t offset = offsetOf(text, reading.quirks[i]);
    check(offset < text.size(), "a quirk is inside the text");
    check(i == 0 || offset > previous, "quirks in their order, each once");
    check(!reading.quirks[i].message.empty(), "a quirk says what it is");
    previous = offset;
  }
  if (reading.document) {
    check(relaydash::differingMembers(*reading.document, *reading.document).empty(),
          "a document is the same as itself");
  }

  // Whatever follows a NUL byte is never read.
  std::string cut(text);
  cut += std::string("\0]} \"", 5);
  const relaydash::ForwarderReading again = relaydash::readAsForwarder(cut);
  check(again.refusal == reading.refusal && again.ignoredTail == reading.ignoredTail &&
            again.quirks == reading.quirks,
        "the text ends at its first NUL");
  return 0;
}
