// The forwarder's real configuration files: read, rewritten in the pretty form and read again,
// they must keep every value, and their floats must print back as they were written.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "json/parser.hpp"
#include "json/writer.hpp"

namespace relaydash {
namespace {

const std::filesystem::path kSamples = "tests/data/forwarder";

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void collectFloats(const JsonNode& node, std::vector<std::string>& out) {
  if (node.isFloat()) out.push_back(toCompact(node));
  if (node.isObject()) {
    for (const JsonMember& member : node.object())
      collectFloats(*member.value, out);
  }
  if (node.isArray()) {
    for (const JsonNodePtr& element : node.array())
      collectFloats(*element, out);
  }
}

// The float literals of a text in order, found after ":", "[" or "," once comments and strings
// are gone.
std::vector<std::string> floatLiterals(const std::string& text) {
  std::string code = std::regex_replace(text, std::regex(R"(/\*[\s\S]*?\*/)"), " ");
  code = std::regex_replace(code, std::regex(R"("(?:[^"\\]|\\.)*")"), "\"\"");
  std::regex literal(R"([:\[,]\s*(-?[0-9]*\.[0-9]+(?:[eE][-+]?[0-9]+)?)\b)");
  std::vector<std::string> found;
  for (auto it = std::sregex_iterator(code.begin(), code.end(), literal);
       it != std::sregex_iterator(); ++it) {
    found.push_back((*it)[1]);
  }
  return found;
}

TEST(JsonSampleFiles, SurviveAPrettyRewriteAndKeepTheirFloats) {
  ASSERT_TRUE(std::filesystem::is_directory(kSamples)) << "run from the repository root";
  int files = 0;
  std::size_t floatCount = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kSamples)) {
    if (entry.path().extension() != ".json") continue;
    SCOPED_TRACE(entry.path().filename().string());
    ++files;
    std::string text = readFile(entry.path());
    JsonNodePtr document = parseJson(text);
    std::string compact = toCompact(*document);
    std::string pretty = toPretty(*document);
    EXPECT_NE(pretty.back(), '\n');
    EXPECT_EQ(toCompact(*parseJson(pretty)), compact);
    EXPECT_EQ(toPretty(*parseJson(pretty)), pretty);

    std::vector<std::string> floats;
    collectFloats(*document, floats);
    EXPECT_EQ(floats, floatLiterals(text));
    floatCount += floats.size();
  }
  EXPECT_EQ(files, 6);
  EXPECT_GT(floatCount, 10u);
}

}  // namespace
}  // namespace relaydash
