#include <optional>
#include <string>
#include <vector>

#include "api/context.hpp"
#include "api/forwarder_config/changes.hpp"
#include "api/forwarder_config/config_json.hpp"
#include "api/forwarder_config/forwarder_config.hpp"
#include "api/gateway/gateway_json.hpp"
#include "gateway/content_hash.hpp"
#include "gateway/forwarder_view.hpp"
#include "gateway/text_file.hpp"
#include "json/parser.hpp"
#include "runtime/os_error.hpp"
#include "server/http_error.hpp"

namespace relaydash {

int versionOf(const Input& input) {
  return static_cast<int>(input.requiredWhole(
      "version",
      {1, 1'000'000'000, ErrorCode::InvalidFormat, "Field version is not a version number"}));
}

Task<JsonNodePtr> forwarderConfig_text(Call& call) {
  const Context& ctx = call.context;
  std::string text;
  try {
    text = readTextFile(ctx.forwarderConfigPath);
  } catch (const OSError& e) {
    raiseHttpException(500, ErrorCode::InternalError,
                       std::string("The configuration file cannot be read: ") + e.what());
  }
  JsonNodePtr error = newJNull();
  try {
    parseJson(text);
  } catch (const JsonParsingError& e) {
    error = newJObject();
    error->set("message", newJString(e.what()));
    error->set("line", newJInt(static_cast<std::int64_t>(e.line())));
    error->set("column", newJInt(static_cast<std::int64_t>(e.column())));
  }
  JsonNodePtr output = newJObject();
  output->set("size", newJInt(static_cast<std::int64_t>(text.size())));
  output->set("parses", newJBool(error->isNull()));
  output->set("error", std::move(error));
  const ForwarderView view = viewAsForwarder(ctx.forwarderConfigPath, text);
  std::string hash = contentHash(text);
  output->set("text", newJString(std::move(text)));
  output->set("hash", newJString(std::move(hash)));
  output->set("forwarder", forwarderReadingJson(view));
  output->set("sideFiles", sideFilesJson(view.side));
  co_return output;
}

Task<JsonNodePtr> forwarderConfig_history(Call& call) {
  Context& ctx = call.context;
  std::vector<ConfigVersion> versions;
  try {
    versions = configChanges(ctx).history().list();
  } catch (const OSError& e) {
    raiseHttpException(500, ErrorCode::InternalError,
                       std::string("The history cannot be read: ") + e.what());
  }
  // The file on the gateway now, as one of the versions.
  std::optional<int> current;
  try {
    current = configChanges(ctx).history().newestHolding(readTextFile(ctx.forwarderConfigPath));
  } catch (const OSError&) {
    // A file that cannot be read is none of them: "current" is null, as the page shows it.
  }
  JsonNodePtr list = newJArray();
  for (const ConfigVersion& v : versions)
    list->add(configVersionJson(v));
  JsonNodePtr output = newJObject();
  output->set("versions", std::move(list));
  output->set("kept", newJInt(static_cast<std::int64_t>(ConfigHistory::kKept)));
  output->set("current", newJIntOrNull(current));
  output->set("lastGood", newJIntOrNull(lastGoodOf(versions)));
  co_return output;
}

Task<JsonNodePtr> forwarderConfig_version(Call& call) {
  const Input input(*call.body, {"version"});
  std::optional<StoredVersion> stored =
      configChanges(call.context).history().read(versionOf(input));
  if (!stored) raiseHttpException(404, ErrorCode::UnknownId);
  JsonNodePtr output = configVersionJson(stored->version);
  output->set("text", newJString(std::move(stored->bytes)));
  co_return output;
}

}  // namespace relaydash
