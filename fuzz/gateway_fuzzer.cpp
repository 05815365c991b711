// Feeds arbitrary text to the readers of what the gateway's tools and files say: journalctl's
// JSON lines and the statistics reports in them, systemctl show's properties and timestamps,
// os-release and meminfo, and the comment finder. None may crash or read outside the text; every
// message read is valid UTF-8, and so is what validUtf8 makes of anything. A configuration that
// parses goes through the rules, and through the layout-keeping editor with a patch: what the
// editor writes reads back as the merge.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "gateway/config_rules.hpp"
#include "gateway/config_text_edit.hpp"
#include "gateway/forwarder_config.hpp"
#include "gateway/forwarder_summary.hpp"
#include "gateway/journal.hpp"
#include "gateway/link_health.hpp"
#include "gateway/system_facts.hpp"
#include "gateway/time_text.hpp"
#include "gateway/unit_status.hpp"
#include "json/parser.hpp"

using namespace relaydash;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void editConfiguration(std::string_view text) {
  JsonNodePtr before;
  try {
    before = parseJson(text);
  } catch (const JsonParsingError&) {
    return;
  }
  checkForwarderConfig(*before);
  static const JsonNodePtr patch =
      parseJson(R"({"gateway_conf":{"server_address":"eu1.example.net","servers":[{"a":1}]},)"
                R"("SX1301_conf":{"radio_0":{"freq":867500000}},"0":{"":[]}})");
  const JsonNodePtr after = merge(*before, *patch);
  if (const std::optional<std::string> edited = editJsonText(text, *before, *after))
    check(sameDocument(*parseJson(*edited), *after));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  const std::vector<JournalEntry> entries = parseJournal(text);
  for (const JournalEntry& entry : entries)
    check(validUtf8(entry.message) == entry.message);
  parseLinkReports(entries);

  for (const UnitProperties& unit : parseUnitProperties(text)) {
    const UnitStatus status = unitStatusFrom("unit", unit);
    if (status.activeSince) formatIsoUtc(*status.activeSince, true);
  }
  if (const auto t = parseSystemdTimestamp(text)) formatIsoUtc(*t);

  osPrettyName(text);
  parseMeminfo(text);
  hasJsonComments(text);
  isJournalCursor(text);
  editConfiguration(text);
  const std::string valid = validUtf8(text);
  check(validUtf8(valid) == valid);
  return 0;
}
