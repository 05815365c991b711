#include "gateway/config_text_edit.hpp"

#include <algorithm>
#include <vector>

#include "json/parser.hpp"
#include "json/text_spans.hpp"
#include "json/writer.hpp"

namespace relaydash {
namespace {

struct Edit {
  std::size_t begin;
  std::size_t end;
  std::string text;
};

// How a value that replaces another, or a new member's value, is written.
struct Style {
  bool multiline = false;  // one member or element a line
  std::string indent;      // of the line the value starts on
  bool childrenInline = false;
  bool padded = false;  // "[ 1, 2 ]" rather than "[1, 2]"
};

bool isContainer(const JsonNode& node) {
  return node.isObject() || node.isArray();
}

// Short lists of numbers read best on one line, whatever their surroundings.
bool scalarArray(const JsonNode& node) {
  if (!node.isArray()) return false;
  return std::none_of(node.array().begin(), node.array().end(),
                      [](const JsonNodePtr& element) { return isContainer(*element); });
}

class TextEditor {
 public:
  explicit TextEditor(std::string_view text)
      : text_(text), eol_(text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n") {}

  bool edit(const JsonSpan& root, const JsonNode& before, const JsonNode& after) {
    unit_ = indentUnit(root);
    return value(root, before, after, spansLines(root));
  }

  std::optional<std::string> result() {
    std::stable_sort(edits_.begin(), edits_.end(),
                     [](const Edit& a, const Edit& b) { return a.begin < b.begin; });
    std::string out;
    out.reserve(text_.size() + 256);
    std::size_t at = 0;
    for (const Edit& e : edits_) {
      if (e.begin < at) return std::nullopt;
      out.append(text_.substr(at, e.begin - at));
      out += e.text;
      at = e.end;
    }
    out.append(text_.substr(at));
    return out;
  }

 private:
  bool value(const JsonSpan& span, const JsonNode& before, const JsonNode& after,
             bool parentMultiline) {
    if (sameDocument(before, after)) return true;
    if (before.isObject() && after.isObject() && span.isObject()) {
      return object(span, before, after, parentMultiline);
    }
    if (before.isArray() && after.isArray() && span.isArray() && before.size() == after.size() &&
        span.elements.size() == before.size()) {
      const bool multiline = spansLines(span);
      for (std::size_t i = 0; i < span.elements.size(); ++i) {
        if (!value(span.elements[i], *before.array()[i], *after.array()[i], multiline))
          return false;
      }
      return true;
    }
    replace(span, after, styleOf(span, after, parentMultiline));
    return true;
  }

  bool object(const JsonSpan& span, const JsonNode& before, const JsonNode& after,
              bool parentMultiline) {
    // A merge never removes a member, but an array's element may lose one: that object is
    // written anew.
    for (const auto& member : before.object()) {
      if (!after.hasKey(member.key)) {
        replace(span, after, styleOf(span, after, parentMultiline));
        return true;
      }
    }
    const bool multiline = spansLines(span);
    std::vector<const JsonMember*> added;
    for (const JsonMember& member : after.object()) {
      const JsonNodePtr* old = before.object().find(member.key);
      if (!old) {
        added.push_back(&member);
        continue;
      }
      const JsonSpanMember* place = span.find(member.key);
      if (!place || !value(place->value, **old, *member.value, multiline)) return false;
    }
    if (added.empty()) return true;
    if (span.members.empty()) {
      replace(span, after, styleOf(span, after, parentMultiline));
      return true;
    }
    addMembers(span, added);
    return true;
  }

  void addMembers(const JsonSpan& span, const std::vector<const JsonMember*>& added) {
    const JsonSpanMember& last = span.members.back();
    const std::size_t next = skipSpaceAndComments(last.value.end);
    const bool trailingComma = next < text_.size() && text_[next] == ',';
    const std::size_t anchor = trailingComma ? next + 1 : last.value.end;
    const bool multiline = contains(last.value.end, span.end, '\n');
    std::string text;
    if (multiline) {
      const std::string indent = lineIndent(last.keyBegin);
      const Style style{.multiline = true, .indent = indent};
      for (std::size_t i = 0; i < added.size(); ++i) {
        if (i > 0) text += ',';
        text += eol_ + indent;
        writeMember(text, *added[i], style);
      }
      if (!trailingComma) edits_.push_back({anchor, anchor, ","});
      const std::size_t at = endOfLine(anchor);
      edits_.push_back({at, at, std::move(text)});
      return;
    }
    for (std::size_t i = 0; i < added.size(); ++i) {
      text += i == 0 && trailingComma ? " " : ", ";
      writeMember(text, *added[i], Style{});
    }
    edits_.push_back({anchor, anchor, std::move(text)});
  }

  void replace(const JsonSpan& span, const JsonNode& node, const Style& style) {
    std::string text;
    write(text, node, style);
    edits_.push_back({span.begin, span.end, std::move(text)});
  }

  Style styleOf(const JsonSpan& span, const JsonNode& node, bool parentMultiline) const {
    Style style;
    style.indent = lineIndent(span.begin);
    if (span.kind == JsonSpan::Kind::Scalar || (span.members.empty() && span.elements.empty())) {
      style.multiline = parentMultiline && !scalarArray(node);
      return style;
    }
    style.multiline = spansLines(span);
    const JsonSpan& first = span.isObject() ? span.members.front().value : span.elements.front();
    style.childrenInline =
        style.multiline && first.kind != JsonSpan::Kind::Scalar && !spansLines(first);
    style.padded = !style.multiline && span.end - span.begin > 2 && text_[span.begin + 1] == ' ';
    return style;
  }

  void writeMember(std::string& out, const JsonMember& member, const Style& parent) {
    writeCompact(out, *newJString(member.key));
    out += ": ";
    Style style{.multiline = parent.multiline && !scalarArray(*member.value),
                .indent = parent.indent};
    write(out, *member.value, style);
  }

  void write(std::string& out, const JsonNode& node, const Style& style) {
    if (!isContainer(node) || node.size() == 0) {
      writeCompact(out, node);
      return;
    }
    const bool isObject = node.isObject();
    out += isObject ? '{' : '[';
    const std::string inner = style.indent + unit_;
    const Style child{.multiline = style.multiline && !style.childrenInline, .indent = inner};
    const auto item = [&](const JsonMember* member, const JsonNode& element, bool first) {
      if (!first) out += style.multiline ? "," : ", ";
      if (style.multiline) {
        out += eol_;
        out += inner;
      } else if (first && style.padded) {
        out += ' ';
      }
      if (member) {
        writeMember(out, *member, child);
      } else {
        write(out, element,
              Style{.multiline = child.multiline && !scalarArray(element), .indent = inner});
      }
    };
    bool first = true;
    if (isObject) {
      for (const JsonMember& member : node.object()) {
        item(&member, *member.value, first);
        first = false;
      }
    } else {
      for (const JsonNodePtr& element : node.array()) {
        item(nullptr, *element, first);
        first = false;
      }
    }
    if (style.multiline) {
      out += eol_;
      out += style.indent;
    } else if (style.padded) {
      out += ' ';
    }
    out += isObject ? '}' : ']';
  }

  // The step of indentation: how much deeper the document's first member sits than its brace.
  std::string indentUnit(const JsonSpan& root) const {
    if (root.isObject() && !root.members.empty() && spansLines(root)) {
      const std::string outer = lineIndent(root.begin);
      const std::string inner = lineIndent(root.members.front().keyBegin);
      if (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0)
        return inner.substr(outer.size());
    }
    return "  ";
  }

  // The blanks that start the line holding pos.
  std::string lineIndent(std::size_t pos) const {
    const std::size_t newline = text_.rfind('\n', pos == 0 ? 0 : pos - 1);
    const std::size_t start = newline == std::string_view::npos || pos == 0 ? 0 : newline + 1;
    std::size_t end = start;
    while (end < text_.size() && (text_[end] == ' ' || text_[end] == '\t'))
      ++end;
    return std::string(text_.substr(start, end - start));
  }

  bool contains(std::size_t begin, std::size_t end, char c) const {
    return text_.substr(begin, end - begin).find(c) != std::string_view::npos;
  }

  bool spansLines(const JsonSpan& span) const { return contains(span.begin, span.end, '\n'); }

  std::size_t skipSpaceAndComments(std::size_t pos) const {
    while (pos < text_.size()) {
      const char c = text_[pos];
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        ++pos;
      } else if (text_.substr(pos, 2) == "//") {
        pos = std::min(text_.find('\n', pos), text_.size());
      } else if (text_.substr(pos, 2) == "/*") {
        const std::size_t end = text_.find("*/", pos + 2);
        if (end == std::string_view::npos) return text_.size();
        pos = end + 2;
      } else {
        break;
      }
    }
    return pos;
  }

  // Where the line that pos is on ends, past blanks and the comments that end on it; pos itself
  // when something else follows on the line.
  std::size_t endOfLine(std::size_t pos) const {
    std::size_t at = pos;
    for (;;) {
      while (at < text_.size() && (text_[at] == ' ' || text_[at] == '\t'))
        ++at;
      if (text_.substr(at, 2) == "//") return std::min(text_.find('\n', at), text_.size());
      if (text_.substr(at, 2) != "/*") break;
      const std::size_t end = text_.find("*/", at + 2);
      if (end == std::string_view::npos || contains(at, end, '\n')) break;
      at = end + 2;
    }
    if (at == text_.size() || text_[at] == '\n' || text_[at] == '\r') return at;
    return pos;
  }

  std::string_view text_;
  std::string eol_;
  std::string unit_ = "  ";
  std::vector<Edit> edits_;
};

}  // namespace

std::optional<std::string> editJsonText(std::string_view text, const JsonNode& before,
                                        const JsonNode& after) {
  const std::optional<JsonSpan> spans = scanJsonSpans(text);
  if (!spans) return std::nullopt;
  TextEditor editor(text);
  if (!editor.edit(*spans, before, after)) return std::nullopt;
  std::optional<std::string> edited = editor.result();
  if (!edited) return std::nullopt;
  try {
    if (!sameDocument(*parseJson(*edited), after)) return std::nullopt;
  } catch (const JsonParsingError&) {
    return std::nullopt;
  }
  return edited;
}

bool sameDocument(const JsonNode& a, const JsonNode& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case JsonKind::Null:
      return true;
    case JsonKind::Bool:
      return a.getBool() == b.getBool();
    case JsonKind::Int:
      return a.getInt() == b.getInt();
    case JsonKind::Float:
      return a.getFloat() == b.getFloat();
    case JsonKind::String:
      return a.isRawNumber() == b.isRawNumber() && a.getString() == b.getString();
    case JsonKind::Array:
      return std::equal(
          a.array().begin(), a.array().end(), b.array().begin(), b.array().end(),
          [](const JsonNodePtr& x, const JsonNodePtr& y) { return sameDocument(*x, *y); });
    case JsonKind::Object:
      if (a.size() != b.size()) return false;
      return std::all_of(a.object().begin(), a.object().end(), [&b](const JsonMember& m) {
        const JsonNodePtr* other = b.object().find(m.key);
        return other && sameDocument(*m.value, **other);
      });
  }
  return false;
}

}  // namespace relaydash
