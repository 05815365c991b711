#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace relaydash {

// One label of a sample: the name as written (a valid Prometheus label name, which the caller
// ensures), the value any text, escaped as the format asks.
struct MetricLabel {
  std::string_view name;
  std::string_view value;
};

// Writes the Prometheus text exposition format (version 0.0.4) into a buffer the caller owns and
// reuses: a family's "# HELP" and "# TYPE" lines, then its samples, one line each. Nothing is
// checked but what the format needs escaped: names are the caller's constants.
class ExpositionWriter {
 public:
  explicit ExpositionWriter(std::string& out) : out_(out) {}

  // "# HELP name help" (backslashes and line ends escaped) and "# TYPE name type", where type is
  // "counter", "gauge", "untyped"...
  void family(std::string_view name, std::string_view help, std::string_view type);

  // "name{label="value",...} value": a whole number as it is, a double in its shortest form that
  // reads back the same ("NaN", "+Inf", "-Inf" for those; an integral double within 2^53 without
  // a fraction).
  void sample(std::string_view name, std::int64_t value) { sample(name, {}, value); }
  void sample(std::string_view name, double value) { sample(name, {}, value); }
  void sample(std::string_view name, std::initializer_list<MetricLabel> labels, std::int64_t value);
  void sample(std::string_view name, std::initializer_list<MetricLabel> labels, double value);

 private:
  void nameAndLabels(std::string_view name, std::initializer_list<MetricLabel> labels);

  std::string& out_;
};

// A label value or HELP text escaped: `\` as `\\`, a line end as `\n`, and, with quotes (label
// values), `"` as `\"`. Appended to out.
void appendEscaped(std::string& out, std::string_view text, bool quotes);
// A sample value as the writer writes it. Appended to out.
void appendSampleValue(std::string& out, double value);

}  // namespace relaydash
