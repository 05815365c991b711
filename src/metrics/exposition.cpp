#include "metrics/exposition.hpp"

#include <charconv>
#include <cmath>

namespace relaydash {

void appendEscaped(std::string& out, std::string_view text, bool quotes) {
  for (const char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' && quotes) {
      out += "\\\"";
    } else {
      out += c;
    }
  }
}

void appendSampleValue(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NaN";
    return;
  }
  if (std::isinf(value)) {
    out += value > 0 ? "+Inf" : "-Inf";
    return;
  }
  char digits[32];
  // Counters and most gauges are whole: written as integers, not "1e+06", which reads the same
  // but surprises a person reading a scrape.
  constexpr double kExact = 9007199254740992.0;  // 2^53
  if (value == std::trunc(value) && std::fabs(value) < kExact) {
    const auto end =
        std::to_chars(digits, digits + sizeof digits, static_cast<std::int64_t>(value)).ptr;
    out.append(digits, end);
    return;
  }
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

void ExpositionWriter::family(std::string_view name, std::string_view help, std::string_view type) {
  out_ += "# HELP ";
  out_ += name;
  out_ += ' ';
  appendEscaped(out_, help, false);
  out_ += "\n# TYPE ";
  out_ += name;
  out_ += ' ';
  out_ += type;
  out_ += '\n';
}

void ExpositionWriter::nameAndLabels(std::string_view name,
                                     std::initializer_list<MetricLabel> labels) {
  out_ += name;
  if (labels.size() == 0) {
    out_ += ' ';
    return;
  }
  char separator = '{';
  for (const MetricLabel& label : labels) {
    out_ += separator;
    out_ += label.name;
    out_ += "=\"";
    appendEscaped(out_, label.value, true);
    out_ += '"';
    separator = ',';
  }
  out_ += "} ";
}

void ExpositionWriter::sample(std::string_view name, std::initializer_list<MetricLabel> labels,
                              std::int64_t value) {
  nameAndLabels(name, labels);
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out_.append(digits, end);
  out_ += '\n';
}

void ExpositionWriter::sample(std::string_view name, std::initializer_list<MetricLabel> labels,
                              double value) {
  nameAndLabels(name, labels);
  appendSampleValue(out_, value);
  out_ += '\n';
}

}  // namespace relaydash
