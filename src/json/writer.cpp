#include "json/writer.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

namespace relaydash {

namespace {

// How each byte appears inside a written string; an empty entry means as it is.
struct Escape {
  char text[7] = {};
  std::size_t size = 0;
};

constexpr std::array<Escape, 256> kEscapes = [] {
  constexpr char kHex[] = "0123456789ABCDEF";
  std::array<Escape, 256> table{};
  for (int byte = 0; byte < 0x20; ++byte) {
    table[byte] = {{'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]}, 6};
  }
  // Byte 11 alone has a lower-case digit, as in the texts we must reproduce byte for byte.
  table[0x0B] = {{'\\', 'u', '0', '0', '0', 'b'}, 6};
  auto shortForm = [&table](unsigned char byte, char letter) { table[byte] = {{'\\', letter}, 2}; };
  shortForm('\b', 'b');
  shortForm('\t', 't');
  shortForm('\n', 'n');
  shortForm('\f', 'f');
  shortForm('\r', 'r');
  shortForm('"', '"');
  shortForm('\\', '\\');
  return table;
}();
static_assert(kEscapes['/'].size == 0 && kEscapes[0x7F].size == 0 && kEscapes[0x1F].size == 6);

void writeString(std::string& out, std::string_view text) {
  out += '"';
  std::size_t run = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < text.size(); ++i) {
    const Escape& escape = kEscapes[static_cast<unsigned char>(text[i])];
    if (escape.size == 0) continue;
    out.append(text, run, i - run);
    out.append(escape.text, escape.size);
    run = i + 1;
  }
  out.append(text, run);
  out += '"';
}

void writeFloat(std::string& out, double value) {
  if (!std::isfinite(value)) {
    // JSON has no number for these: null, as browsers write them.
    out += "null";
  } else {
    // to_chars with a precision formats exactly as printf's "%.16g" in the C locale, whatever
    // locale the process has set.
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 16).ptr;
    std::string_view written(text, static_cast<std::size_t>(end - text));
    out += written;
    // A float must not read back as an integer; "e" is the only letter of a finite number here.
    if (written.find_first_of(".e") == std::string_view::npos) out += ".0";
  }
}

void writeInt(std::string& out, std::int64_t value) {
  char text[24];
  auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, static_cast<std::size_t>(end - text));
}

// The single writer; the layout is the only difference between the two forms.
class Writer {
 public:
  Writer(std::string& out, int indent, bool multiline)
      : out_(out), indent_(indent), multiline_(multiline) {}

  void write(const JsonNode& node, int level) {
    switch (node.kind()) {
      case JsonKind::Null:
        out_ += "null";
        break;
      case JsonKind::Bool:
        out_ += node.getBool() ? "true" : "false";
        break;
      case JsonKind::Int:
        writeInt(out_, node.getInt());
        break;
      case JsonKind::Float:
        writeFloat(out_, node.getFloat());
        break;
      case JsonKind::String:
        if (node.isRawNumber()) {
          out_ += node.getString();
        } else {
          writeString(out_, node.getString());
        }
        break;
      case JsonKind::Object:
        writeObject(node.object(), level);
        break;
      case JsonKind::Array:
        writeArray(node.array(), level);
        break;
    }
  }

 private:
  void writeObject(const JsonObject& members, int level) {
    if (members.empty()) {
      out_ += "{}";
      return;
    }
    out_ += '{';
    bool first = true;
    for (const JsonMember& member : members) {
      if (!first) out_ += ',';
      first = false;
      newline(level + 1);
      writeString(out_, member.key);
      out_ += multiline_ ? ": " : ":";
      write(*member.value, level + 1);
    }
    newline(level);
    out_ += '}';
  }

  void writeArray(const JsonArray& elements, int level) {
    if (elements.empty()) {
      out_ += "[]";
      return;
    }
    out_ += '[';
    bool first = true;
    for (const JsonNodePtr& element : elements) {
      if (!first) out_ += ',';
      first = false;
      newline(level + 1);
      write(*element, level + 1);
    }
    newline(level);
    out_ += ']';
  }

  void newline(int level) {
    if (!multiline_) return;
    out_ += '\n';
    out_.append(static_cast<std::size_t>(level) * static_cast<std::size_t>(indent_), ' ');
  }

  std::string& out_;
  int indent_;
  bool multiline_;
};

}  // namespace

void writeCompact(std::string& out, const JsonNode& node) {
  Writer(out, 0, false).write(node, 0);
}

void writePretty(std::string& out, const JsonNode& node, int indent) {
  Writer(out, indent < 0 ? 0 : indent, true).write(node, 0);
}

std::string toCompact(const JsonNode& node) {
  std::string out;
  writeCompact(out, node);
  return out;
}

std::string toPretty(const JsonNode& node, int indent) {
  std::string out;
  writePretty(out, node, indent);
  return out;
}

}  // namespace relaydash
