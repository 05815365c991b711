#include "cli/help.hpp"

#include <algorithm>
#include <array>

namespace relaydash {
namespace {

constexpr std::size_t kColumns = 4;  // keys, type, default, description
using Row = std::array<std::string, kColumns>;

bool isContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::string keysCell(const OptionRow& row) {
  const std::string_view assign = takesValue(row) ? "=" : "";
  std::string cell;
  if (!row.shortKey.empty()) {
    cell.append("-").append(row.shortKey).append(assign).append(", ");
  }
  cell.append("--").append(row.longName).append(assign);
  return cell;
}

std::string typeCell(const OptionRow& row) {
  switch (row.kind) {
    case OptionKind::Text:
      return "string";
    case OptionKind::Integer:
      return "int";
    default:
      return "";
  }
}

std::string defaultCell(const OptionRow& row) {
  switch (row.kind) {
    case OptionKind::Text:
      return quoteDefault(row.textDefault);
    case OptionKind::Integer:
      return std::to_string(row.integerDefault);
    default:
      return "";
  }
}

void appendPadded(std::string& out, std::string_view cell, std::size_t width) {
  out.append(cell);
  out.append(width - std::min(width, printedWidth(cell)), ' ');
}

void trimTrailingSpaces(std::string& line) {
  line.erase(line.find_last_not_of(' ') + 1);
}

// Cuts off the first `count` characters of a UTF-8 text.
std::string_view takeCharacters(std::string_view& text, std::size_t count) {
  std::size_t end = 0;
  for (std::size_t taken = 0; end < text.size() && taken < count; ++taken) {
    ++end;
    while (end < text.size() && isContinuationByte(text[end]))
      ++end;
  }
  const std::string_view piece = text.substr(0, end);
  text.remove_prefix(end);
  return piece;
}

}  // namespace

std::size_t printedWidth(std::string_view text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return !isContinuationByte(c); }));
}

std::string quoteDefault(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\r':
        quoted += "\\r";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
          constexpr std::string_view kHex = "0123456789abcdef";
          quoted += "\\x";
          quoted += kHex[static_cast<unsigned char>(c) >> 4];
          quoted += kHex[static_cast<unsigned char>(c) & 0xf];
        } else {
          quoted += c;
        }
    }
  }
  quoted += '"';
  return quoted;
}

std::vector<std::string> wrapWords(std::string_view text, std::size_t width) {
  width = std::max<std::size_t>(width, 1);
  std::vector<std::string> lines;
  std::string line;
  std::size_t lineWidth = 0;
  auto flush = [&] {
    if (!line.empty()) lines.push_back(std::move(line));
    line.clear();
    lineWidth = 0;
  };
  while (!text.empty()) {
    const std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    text.remove_prefix(start);
    std::string_view word = text.substr(0, text.find(' '));
    text.remove_prefix(word.size());
    std::size_t wordWidth = printedWidth(word);
    if (wordWidth > width) {
      flush();
      while (wordWidth > width) {
        lines.emplace_back(takeCharacters(word, width));
        wordWidth -= width;
      }
    } else if (!line.empty() && lineWidth + 1 + wordWidth > width) {
      flush();
    }
    if (!line.empty()) {
      line += ' ';
      ++lineWidth;
    }
    line.append(word);
    lineWidth += wordWidth;
  }
  flush();
  if (lines.empty()) lines.emplace_back();
  return lines;
}

std::string composeHelp(std::span<const OptionRow> table, int terminalWidth) {
  std::vector<Row> rows;
  std::array<std::size_t, kColumns> widths{};
  for (const OptionRow& option : table) {
    if (!option.listed) continue;
    Row row{keysCell(option), typeCell(option), defaultCell(option),
            std::string(option.description)};
    for (std::size_t c = 0; c + 1 < kColumns; ++c) {
      widths[c] = std::max(widths[c], printedWidth(row[c]));
    }
    rows.push_back(std::move(row));
  }

  // Everything left of the description column: the indent, three cells and their gaps.
  std::size_t lead = kHelpIndent;
  for (std::size_t c = 0; c + 1 < kColumns; ++c)
    lead += widths[c] + kHelpColumnGap;
  const std::size_t width = terminalWidth > 0 ? static_cast<std::size_t>(terminalWidth) : 0;
  const std::size_t descriptionWidth =
      std::max(kMinDescriptionWidth, width > lead ? width - lead : 0);

  std::string help = "Usage:\n";
  help.append(kHelpIndent, ' ').append(kCommandName).append(" [optional-params] \n");
  help.append("Options:\n");
  for (const Row& row : rows) {
    std::string line(kHelpIndent, ' ');
    for (std::size_t c = 0; c + 1 < kColumns; ++c) {
      appendPadded(line, row[c], widths[c] + kHelpColumnGap);
    }
    const std::vector<std::string> description = wrapWords(row[kColumns - 1], descriptionWidth);
    for (std::size_t i = 0; i < description.size(); ++i) {
      if (i > 0) line.assign(lead, ' ');
      line.append(description[i]);
      trimTrailingSpaces(line);
      help.append(line).append("\n");
    }
  }
  return help;
}

}  // namespace relaydash
