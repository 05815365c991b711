#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cli/startup_options.hpp"

namespace relaydash {

enum class OptionKind {
  Help,        // prints the help text and stops
  HelpSyntax,  // prints the syntax cheat sheet and stops
  Version,     // prints the version line and stops
  Text,        // a string value
  Integer,     // a signed 32-bit value
};

// One option of the command line. Text and integer options name the field they fill.
struct OptionRow {
  std::string_view longName;
  std::string_view shortKey = {};  // one character, or empty when the option has none
  OptionKind kind = OptionKind::Text;
  std::string_view description = {};
  bool listed = true;  // listed options show in the help and answer to prefixes
  std::string StartupOptions::*text = nullptr;
  std::string_view textDefault = {};
  std::int32_t StartupOptions::*integer = nullptr;
  std::int32_t integerDefault = 0;
};

// Only the help switches stand alone; every other option, version included, takes a value.
constexpr bool takesValue(const OptionRow& row) {
  return row.kind != OptionKind::Help && row.kind != OptionKind::HelpSyntax;
}

// The options in the order the help lists them; version is recognised but not listed.
inline constexpr std::array kOptionTable{
    OptionRow{.longName = "help",
              .shortKey = "h",
              .kind = OptionKind::Help,
              .description = "print this cligen-erated help"},
    OptionRow{.longName = "help-syntax",
              .kind = OptionKind::HelpSyntax,
              .description = "advanced: prepend,plurals,.."},
    OptionRow{.longName = "listen",
              .shortKey = "l",
              .description = "set listen",
              .text = &StartupOptions::listen,
              .textDefault = "127.0.0.1"},
    OptionRow{.longName = "port",
              .shortKey = "p",
              .kind = OptionKind::Integer,
              .description = "set port",
              .integer = &StartupOptions::port,
              .integerDefault = 9992},
    OptionRow{.longName = "forwarderConfigPath",
              .shortKey = "f",
              .description = "set forwarderConfigPath",
              .text = &StartupOptions::forwarderConfigPath,
              .textDefault = "/opt/kvo/packet_forwarder/lora_pkt_fwd/global_conf.json"},
    OptionRow{.longName = "forwarderUnitServiceName",
              .description = "set forwarderUnitServiceName",
              .text = &StartupOptions::forwarderUnitServiceName,
              .textDefault = "packet-forwarder"},
    OptionRow{.longName = "dataPath",
              .shortKey = "d",
              .description = "set dataPath",
              .text = &StartupOptions::dataPath,
              .textDefault = "relaydash.sqlite3"},
    OptionRow{.longName = "version", .kind = OptionKind::Version, .listed = false},
};

namespace option_table_checks {

constexpr bool rowIsWellFormed(const OptionRow& row) {
  if (row.longName.empty() || row.shortKey.size() > 1) return false;
  switch (row.kind) {
    case OptionKind::Text:
      // A user option describes itself as "set " and its long name.
      return row.text != nullptr && row.integer == nullptr &&
             row.description.substr(0, 4) == "set " && row.description.substr(4) == row.longName;
    case OptionKind::Integer:
      return row.integer != nullptr && row.text == nullptr &&
             row.description.substr(0, 4) == "set " && row.description.substr(4) == row.longName;
    default:
      return row.text == nullptr && row.integer == nullptr;
  }
}

constexpr bool tableIsWellFormed(std::span<const OptionRow> table) {
  bool seenHidden = false;
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (!rowIsWellFormed(table[i])) return false;
    // Hidden rows come last so the help and the prefix search walk one leading run.
    if (table[i].listed && seenHidden) return false;
    seenHidden = seenHidden || !table[i].listed;
    if (!table[i].listed && !table[i].shortKey.empty()) return false;
    for (std::size_t j = 0; j < i; ++j) {
      if (!table[i].shortKey.empty() && table[i].shortKey == table[j].shortKey) return false;
    }
  }
  return true;
}

static_assert(tableIsWellFormed(kOptionTable));

}  // namespace option_table_checks

// The values before any option is applied.
StartupOptions defaultStartupOptions(std::span<const OptionRow> table = kOptionTable);

}  // namespace relaydash
