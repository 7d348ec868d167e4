// Request arguments and the command table: ill-typed or out-of-range input
// becomes an error the caller can act on, with the right code.
#include "Command.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kivo::driver {
namespace {

Json Request(const std::string& text) {
  Json out;
  std::string error;
  EXPECT_TRUE(Json::Parse(text, out, error)) << error;
  return out;
}

std::string CodeOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const CommandError& e) {
    return e.code();
  }
  return "none";
}

TEST(Args, MessageParametersAcceptEveryThirtyTwoBitPattern) {
  Json r = Request(R"({"a": -1, "b": 4294967295, "c": -2147483648, "d": 4294967296, "e": -2147483649})");
  Args args(r);
  EXPECT_EQ(args.Bits("a", 0), 0xFFFFFFFFu);
  EXPECT_EQ(args.Bits("b", 0), 0xFFFFFFFFu);
  EXPECT_EQ(args.Bits("c", 0), 0x80000000u);
  EXPECT_EQ(args.Bits("missing", 7), 7u);
  EXPECT_EQ(CodeOf([&] { args.Bits("d", 0); }), kBadRequest);
  EXPECT_EQ(CodeOf([&] { args.Bits("e", 0); }), kBadRequest);
}

TEST(Args, TypesAreCheckedAndNullMeansAbsent) {
  Json r = Request(R"({"n": "5", "f": 1, "s": 3, "none": null, "list": [1, "x"], "ok": [4, -5]})");
  Args args(r);
  EXPECT_EQ(CodeOf([&] { args.Integer("n"); }), kBadRequest);
  EXPECT_EQ(CodeOf([&] { args.Flag("f", false); }), kBadRequest);
  EXPECT_EQ(CodeOf([&] { args.String("s"); }), kBadRequest);
  EXPECT_EQ(CodeOf([&] { args.Integer("none"); }), kBadRequest);
  EXPECT_EQ(args.Integer("none", 9), 9);
  EXPECT_FALSE(args.Has("none"));
  EXPECT_FALSE(args.OptionalString("none").has_value());
  EXPECT_EQ(CodeOf([&] { args.IntegerList("list"); }), kBadRequest);
  EXPECT_EQ(args.IntegerList("ok"), (std::vector<int64_t>{4, -5}));
  EXPECT_TRUE(args.IntegerList("absent").empty());
}

TEST(Args, TimeoutIsBounded) {
  EXPECT_EQ(Args(Request("{}")).Timeout(), 5000u);
  EXPECT_EQ(Args(Request(R"({"timeout": 0})")).Timeout(), 0u);
  Json tooLong = Request(R"({"timeout": 600001})");
  EXPECT_EQ(CodeOf([&] { Args(tooLong).Timeout(); }), kBadRequest);
  Json negative = Request(R"({"timeout": -1})");
  EXPECT_EQ(CodeOf([&] { Args(negative).Timeout(); }), kBadRequest);
}

TEST(Args, WindowsMustExist) {
  HWND desktop = ::GetDesktopWindow();
  Json r = Request(R"({"real": )" + std::to_string(reinterpret_cast<uintptr_t>(desktop)) +
                   R"(, "bogus": 12345677, "zero": 0})");
  Args args(r);
  EXPECT_EQ(args.Window("real"), desktop);
  EXPECT_EQ(CodeOf([&] { args.Window("bogus"); }), kNoWindow);
  EXPECT_EQ(CodeOf([&] { args.Window("zero"); }), kNoWindow);
  EXPECT_EQ(CodeOf([&] { args.Window("absent"); }), kBadRequest);
  EXPECT_EQ(args.OptionalWindow("zero"), nullptr);
  EXPECT_EQ(args.OptionalWindow("absent"), nullptr);
}

TEST(CommandTable, RunsByNameAndRefusesUnknownNames) {
  CommandTable table;
  table.Add("twice", [](const Args& args) { return Json(args.Integer("n") * 2); });
  Json r = Request(R"({"n": 21})");
  EXPECT_EQ(table.Run("twice", Args(r)).AsInteger(), 42);
  EXPECT_EQ(CodeOf([&] { table.Run("thrice", Args(r)); }), kBadRequest);
  EXPECT_EQ(table.Names().Dump(), R"(["twice"])");
}

}  // namespace
}  // namespace kivo::driver
