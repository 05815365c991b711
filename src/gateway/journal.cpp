#include "gateway/journal.hpp"

#include <charconv>

#include "ascii/ascii.hpp"
#include "gateway/command.hpp"
#include "gateway/journal_line.hpp"
#include "gateway/time_text.hpp"

namespace relaydash {
namespace {

constexpr std::size_t kMaxCursorLength = 512;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at the start of `bytes`, or 0 when there is none
// (RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF).
std::size_t sequenceLength(std::string_view bytes) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

// Cuts what journalctl writes into lines as it comes and hands on the entry of each.
class EntryReader {
 public:
  EntryReader(const std::function<bool(JournalEntry&&)>& take, std::size_t maxLine)
      : take_(take), maxLine_(maxLine) {}

  // False once the taker wants no more.
  bool feed(std::string_view piece) {
    for (;;) {
      const std::size_t newline = piece.find('\n');
      if (newline == std::string_view::npos) {
        keep(piece);
        return true;
      }
      const std::string_view part = piece.substr(0, newline);
      piece.remove_prefix(newline + 1);
      bool more = true;
      if (partial_.empty() && !overlong_) {
        // A line longer than any kept is skipped, whether it came in pieces or whole.
        if (part.size() <= maxLine_) more = line(part);
      } else {
        keep(part);
        if (!overlong_) more = line(partial_);
        partial_.clear();
        overlong_ = false;
      }
      if (!more) return false;
    }
  }

  // The last line, when the output did not end with a line break.
  bool finish() {
    const bool more = partial_.empty() || overlong_ || line(partial_);
    partial_.clear();
    return more;
  }

  std::size_t delivered() const noexcept { return delivered_; }

 private:
  void keep(std::string_view part) {
    if (overlong_) return;
    if (partial_.size() + part.size() > maxLine_) {
      overlong_ = true;
      partial_.clear();
      return;
    }
    partial_.append(part);
  }

  bool line(std::string_view text) {
    std::optional<JournalEntry> entry = parseJournalLine(text);
    if (!entry) return true;
    ++delivered_;
    return take_(std::move(*entry));
  }

  const std::function<bool(JournalEntry&&)>& take_;
  std::size_t maxLine_;
  std::string partial_;
  bool overlong_ = false;
  std::size_t delivered_ = 0;
};

// Whether journalctl failed for want of --output-fields (before systemd 236).
bool refusedFields(const ProcessResult& failed) {
  return failed.started() && !failed.timedOut &&
         failed.errorOutput.find("output-fields") != std::string::npos;
}

}  // namespace

std::string journalTime(std::int64_t microseconds) {
  // "2026-12-09T21:05:00Z" becomes "2026-12-09 21:05:00", the fraction and the zone follow.
  std::string text = formatIsoUtc(microseconds);
  text[10] = ' ';
  text.pop_back();
  if (const std::int64_t fraction = ((microseconds % 1'000'000) + 1'000'000) % 1'000'000) {
    const std::string digits = std::to_string(fraction);
    text += '.' + std::string(6 - digits.size(), '0') + digits;
  }
  return text + " UTC";
}

std::string validUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  while (!bytes.empty()) {
    const std::size_t length = sequenceLength(bytes);
    if (length == 0) {
      text += kReplacement;
      bytes.remove_prefix(1);
      continue;
    }
    text.append(bytes.substr(0, length));
    bytes.remove_prefix(length);
  }
  return text;
}

std::vector<JournalEntry> parseJournal(std::string_view output) {
  std::vector<JournalEntry> entries;
  while (!output.empty()) {
    const std::size_t end = std::min(output.find('\n'), output.size());
    if (std::optional<JournalEntry> entry = parseJournalLine(output.substr(0, end))) {
      entries.push_back(std::move(*entry));
    }
    output.remove_prefix(std::min(end + 1, output.size()));
  }
  return entries;
}

bool isJournalCursor(std::string_view text) {
  // A cursor starts with its "s=" field; nothing that starts with "-" could be read as an
  // option, even glued to --after-cursor=.
  if (text.empty() || text.size() > kMaxCursorLength || text.front() == '-') return false;
  for (const char c : text) {
    const bool allowed = ascii::isAlnum(c) || c == '=' || c == ';' || c == '-';
    if (!allowed) return false;
  }
  return true;
}

std::vector<std::string> journalctlArguments(const JournalQuery& query, bool selectFields) {
  std::vector<std::string> argv{"journalctl", "--unit=" + query.unit, "--output=json", "--no-pager",
                                "--lines=" + std::to_string(query.lines)};
  if (selectFields) argv.push_back("--output-fields=" + query.fields);
  if (query.afterCursor) argv.push_back("--after-cursor=" + *query.afterCursor);
  if (query.since) argv.push_back("--since=" + *query.since);
  if (query.until) argv.push_back("--until=" + *query.until);
  if (query.priority) argv.push_back("--priority=" + std::to_string(*query.priority));
  if (query.newestFirst) argv.emplace_back("--reverse");
  return argv;
}

Task<std::vector<JournalEntry>> readJournal(JournalQuery query) {
  try {
    const ProcessResult result = co_await runTool(journalctlArguments(query, true), query.limits);
    co_return parseJournal(result.output);
  } catch (const CommandError& e) {
    if (!refusedFields(e.result())) throw;
  }
  const ProcessResult result = co_await runTool(journalctlArguments(query, false), query.limits);
  co_return parseJournal(result.output);
}

Task<bool> scanJournal(JournalQuery query, std::function<bool(JournalEntry&&)> take) {
  for (bool selectFields = true;; selectFields = false) {
    EntryReader reader(take, query.limits.maxOutput);
    ProcessResult result =
        co_await runProcess(journalctlArguments(query, selectFields), query.limits,
                            [&reader](std::string_view piece) { return reader.feed(piece); });
    if (result.stopped) co_return true;
    if (result.started() && !result.timedOut && result.status == 0) co_return !reader.finish();
    if (!selectFields || reader.delivered() > 0 || !refusedFields(result)) {
      std::string message = describeFailure("journalctl", result, query.limits);
      throw CommandError(std::move(message), std::move(result));
    }
  }
}

}  // namespace relaydash
