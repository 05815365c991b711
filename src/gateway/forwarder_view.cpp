#include "gateway/forwarder_view.hpp"

#include "json/parser.hpp"

namespace relaydash {

ForwarderView viewAsForwarder(const std::string& configPath, std::string_view text) {
  ForwarderView view;
  view.reading = readAsForwarder(text);
  if (!view.reading.document) return view;
  try {
    view.misread = differingMembers(*parseJson(text), *view.reading.document);
  } catch (const JsonParsingError&) {
    // Our parser refuses what the forwarder reads (text after the document): the pages then
    // show the forwarder's reading, so nothing is shown otherwise.
  }
  view.side = readSideFiles(configPath, *view.reading.document);
  view.effective = effectiveDocument(*view.reading.document, view.side);
  return view;
}

}  // namespace relaydash
