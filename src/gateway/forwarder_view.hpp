#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "gateway/forwarder_reader.hpp"
#include "gateway/side_files.hpp"
#include "json/value.hpp"

namespace relaydash {

// The configuration file as the forwarder sees it, for the pages that show a file already on
// the gateway: whether it reads it, where its reading differs from ours, the side files it reads
// too, and the values it works with.
struct ForwarderView {
  ForwarderReading reading;
  // The members our own reading (a plain reader of JSON with comments) shows otherwise than the
  // forwarder reads them; empty when both read the same or one of them cannot read the file.
  std::vector<std::string> misread;
  SideFiles side;
  // The forwarder's document with the side files in place; null when it cannot read the file.
  JsonNodePtr effective;
};

// `text` is the content of the file at configPath.
ForwarderView viewAsForwarder(const std::string& configPath, std::string_view text);

}  // namespace relaydash
