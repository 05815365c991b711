#include "cli/options.hpp"

namespace relaydash {

StartupOptions defaultStartupOptions(std::span<const OptionRow> table) {
  StartupOptions options;
  for (const OptionRow& row : table) {
    if (row.text != nullptr) options.*row.text = std::string(row.textDefault);
    if (row.integer != nullptr) options.*row.integer = row.integerDefault;
  }
  return options;
}

}  // namespace relaydash
