// The driver's JSON codec: what a test script may send must either parse to
// exactly what it meant or be refused, never misread.
#include "Json.h"

#include <gtest/gtest.h>

#include <string>

namespace kivo::driver {
namespace {

Json MustParse(const std::string& text) {
  Json out;
  std::string error;
  EXPECT_TRUE(Json::Parse(text, out, error)) << text << ": " << error;
  return out;
}

std::string Refusal(const std::string& text) {
  Json out;
  std::string error;
  EXPECT_FALSE(Json::Parse(text, out, error)) << "accepted: " << text;
  return error;
}

TEST(JsonParse, RequestShapesAndTypes) {
  Json v = MustParse(R"( {"id": 7, "cmd": "send", "wparam": -1, "ok": true, "none": null,
                         "list": [1, 2.5, "x"], "nested": {"a": {}}} )");
  ASSERT_TRUE(v.IsObject());
  EXPECT_EQ(v.Find("id")->AsInteger(), 7);
  EXPECT_EQ(v.Find("cmd")->AsString(), "send");
  EXPECT_EQ(v.Find("wparam")->AsInteger(), -1);
  EXPECT_TRUE(v.Find("ok")->AsBool());
  EXPECT_TRUE(v.Find("none")->IsNull());
  ASSERT_EQ(v.Find("list")->AsArray().size(), 3u);
  EXPECT_TRUE(v.Find("list")->AsArray()[0].IsInteger());
  EXPECT_FALSE(v.Find("list")->AsArray()[1].IsInteger());
  EXPECT_DOUBLE_EQ(v.Find("list")->AsArray()[1].AsReal(), 2.5);
  EXPECT_TRUE(v.Find("nested")->Find("a")->IsObject());
  EXPECT_EQ(v.Find("missing"), nullptr);
}

TEST(JsonParse, IntegersKeepEverySixtyFourBits) {
  EXPECT_EQ(MustParse("9223372036854775807").AsInteger(), INT64_MAX);
  EXPECT_EQ(MustParse("-9223372036854775808").AsInteger(), INT64_MIN);
  EXPECT_EQ(MustParse("4294967295").AsInteger(), 4294967295LL);
  Refusal("9223372036854775808");
  EXPECT_FALSE(MustParse("1e3").IsInteger());
  Refusal("1e999");
}

TEST(JsonParse, EscapesBecomeUtf8) {
  EXPECT_EQ(MustParse(R"("a\"b\\c\/d\b\f\n\r\t")").AsString(), "a\"b\\c/d\b\f\n\r\t");
  EXPECT_EQ(MustParse(R"("\u00fc\u7528")").AsString(), "\xC3\xBC\xE7\x94\xA8");
  // A surrogate pair is one four-byte character (U+1F600).
  EXPECT_EQ(MustParse(R"("\ud83d\ude00")").AsString(), "\xF0\x9F\x98\x80");
  EXPECT_EQ(MustParse("\"\xE7\x94\xA8\xF0\x9F\x98\x80\"").AsString(), "\xE7\x94\xA8\xF0\x9F\x98\x80");
}

TEST(JsonParse, RefusesWhatCouldBeMisread) {
  const char* cases[] = {
      "",                              // nothing
      "{",                             // unterminated object
      R"({"a" 1})",                    // missing colon
      R"({"a": 1,})",                  // trailing comma
      "[1 2]",                         // missing comma
      "01",                            // leading zero
      "-",                             // sign alone
      "1.",                            // fraction without digits
      "tru",                           // broken literal
      R"("abc)",                       // unterminated string
      "\"a\nb\"",                      // raw control character
      R"("\x41")",                     // unknown escape
      R"("\u12")",                     // short \u
      R"("\ud800")",                   // lone high surrogate
      R"("\ud800\u0041")",             // high surrogate without its low half
      R"("\udc00")",                   // lone low surrogate
      "\"\xC0\x80\"",                  // overlong encoding
      "\"\xED\xA0\x80\"",              // UTF-8 encoded surrogate
      "\"\xF4\x90\x80\x80\"",          // beyond U+10FFFF
      "\"\xE7\x94\"",                  // truncated sequence
      "\"\x80\"",                      // stray continuation byte
      R"({"cmd": "x"} {"cmd": "y"})",  // two documents
  };
  for (const char* text : cases) EXPECT_FALSE(Refusal(text).empty()) << text;
}

TEST(JsonParse, NestingIsBounded) {
  std::string ok(Json::kMaxDepth, '[');
  ok += std::string(Json::kMaxDepth, ']');
  MustParse(ok);
  std::string deep(Json::kMaxDepth + 2, '[');
  deep += std::string(Json::kMaxDepth + 2, ']');
  EXPECT_NE(Refusal(deep).find("deep"), std::string::npos);
  // Far deeper input must be refused too, not overflow the stack.
  Refusal(std::string(100000, '['));
}

TEST(JsonParse, ErrorsNameTheOffset) {
  EXPECT_NE(Refusal(R"({"a": nul})").find("offset 6"), std::string::npos);
}

TEST(JsonDump, WritesWhatParsesBack) {
  Json v = Json::MakeObject();
  v.Set("text", std::string("q\"\\\x01\x1F\x7F\n\t\xE7\x94\xA8", 11));
  v.Set("n", Json(-42));
  v.Set("list", Json(Json::Array{Json(true), Json(), Json(0.5)}));
  std::string text = v.Dump();
  EXPECT_EQ(text.find('\x01'), std::string::npos);
  EXPECT_EQ(text.find('\x7F'), std::string::npos);
  EXPECT_EQ(text.find('\n'), std::string::npos);  // one answer, one line
  Json back = MustParse(text);
  EXPECT_EQ(back.Find("text")->AsString(), v.Find("text")->AsString());
  EXPECT_EQ(back.Find("n")->AsInteger(), -42);
  EXPECT_EQ(back.Find("list")->Dump(), "[true,null,0.5]");
}

TEST(JsonObject, SetReplacesAndFindTakesTheFirstKey) {
  Json v = Json::MakeObject();
  v.Set("a", Json(1)).Set("b", Json(2)).Set("a", Json(3));
  EXPECT_EQ(v.Dump(), R"({"a":3,"b":2})");
  EXPECT_EQ(MustParse(R"({"k": 1, "k": 2})").Find("k")->AsInteger(), 1);
  EXPECT_EQ(Json(5).Find("a"), nullptr);
}

}  // namespace
}  // namespace kivo::driver
