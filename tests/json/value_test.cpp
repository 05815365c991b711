#include "json/value.hpp"

#include <gtest/gtest.h>

#include <string>

#include "json/parser.hpp"
#include "json/writer.hpp"

namespace relaydash {
namespace {

TEST(JsonValue, MembersKeepTheirOrderAndReplaceInPlace) {
  JsonNodePtr object = parseJson(R"({"b":1,"a":2})");
  EXPECT_EQ(toCompact(*object), R"({"b":1,"a":2})");
  object->set("b", newJInt(3));
  EXPECT_EQ(toCompact(*object), R"({"b":3,"a":2})");
  object->set("c", newJInt(4));
  EXPECT_EQ(toCompact(*object), R"({"b":3,"a":2,"c":4})");
}

TEST(JsonValue, LargeObjectsFindEveryMemberAndKeepOrder) {
  // Crosses the size where objects switch from scanning to their hash index, and its growth.
  JsonNodePtr object = newJObject();
  constexpr int kCount = 1000;
  for (int i = 0; i < kCount; ++i)
    object->set(std::string("k").append(std::to_string(i)), newJInt(i));
  object->set("k500", newJString("replaced"));
  object->set("k3", newJNull());
  ASSERT_EQ(object->size(), std::size_t{kCount});
  int position = 0;
  for (const JsonMember& member : object->object()) {
    EXPECT_EQ(member.key, std::string("k").append(std::to_string(position++)));
  }
  for (int i = 0; i < kCount; ++i) {
    const std::string key = std::string("k").append(std::to_string(i));
    ASSERT_TRUE(object->hasKey(key)) << key;
    if (i != 3 && i != 500) {
      EXPECT_EQ(object->at(key)->getInt(-1), i);
    }
  }
  EXPECT_EQ(object->at("k500")->getString(), "replaced");
  EXPECT_TRUE(object->at("k3")->isNull());
  EXPECT_FALSE(object->hasKey("k1000"));
  EXPECT_EQ(object->get("k"), nullptr);
}

TEST(JsonValue, MemberLookups) {
  JsonNodePtr object = parseJson(R"({"input":{"a":1},"s":"text"})");
  EXPECT_TRUE(object->hasKey("input"));
  EXPECT_TRUE(object->contains("s"));
  EXPECT_FALSE(object->contains("missing"));
  EXPECT_EQ((*object)["input"]->at("a")->getInt(), 1);
  try {
    object->at("currentPassword");
    FAIL() << "a missing member was found";
  } catch (const JsonKeyError& error) {
    EXPECT_STREQ(error.what(), "key not found: currentPassword");
  }
  // Lookups into nodes that are not objects.
  JsonNodePtr array = parseJson("[1]");
  EXPECT_FALSE(array->hasKey("a"));
  EXPECT_EQ(array->get("a"), nullptr);
  EXPECT_THROW(array->at("a"), JsonKindError);
  EXPECT_THROW(array->set("a", newJNull()), JsonKindError);
  EXPECT_THROW(object->add(newJNull()), JsonKindError);
}

TEST(JsonValue, StringOfANodeIsEmptyUnlessItIsAString) {
  struct Case {
    JsonNodePtr node;
    std::string string;
  };
  const Case cases[] = {
      {newJString("admin"), "admin"},
      {newJRawNumber("123456789012345678901"), "123456789012345678901"},
      {newJInt(5), ""},
      {newJFloat(2.5), ""},
      {newJBool(true), ""},
      {newJNull(), ""},
      {parseJson(R"({"a":"b"})"), ""},
      {parseJson(R"(["a"])"), ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.node->getString(), c.string) << toCompact(*c.node);
}

TEST(JsonValue, CopySharesNothingWithTheOriginal) {
  JsonNodePtr original = parseJson(R"({"a":{"b":[1,{"c":"x"}]},"d":2.5})");
  std::string before = toCompact(*original);
  JsonNodePtr duplicate = copy(*original);
  EXPECT_EQ(toCompact(*duplicate), before);
  duplicate->at("a")->at("b")->add(newJInt(3));
  duplicate->at("a")->at("b")->array()[1]->set("c", newJString("y"));
  duplicate->set("d", newJNull());
  EXPECT_EQ(toCompact(*original), before);
  EXPECT_EQ(toCompact(*duplicate), R"({"a":{"b":[1,{"c":"y"},3]},"d":null})");
}

}  // namespace
}  // namespace relaydash
