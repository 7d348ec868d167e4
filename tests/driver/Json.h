// A small JSON value with a strict parser and a compact writer: what the
// driver needs to speak one request and one answer per line. Texts are UTF-8;
// the parser rejects malformed UTF-8, lone surrogates, raw control
// characters, trailing data and nesting deeper than kMaxDepth.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kivo::driver {

class Json {
 public:
  enum class Type { kNull, kBool, kInteger, kReal, kString, kArray, kObject };
  using Array = std::vector<Json>;
  using Member = std::pair<std::string, Json>;
  using Object = std::vector<Member>;

  static constexpr int kMaxDepth = 64;

  Json() = default;
  Json(std::nullptr_t) {}
  Json(bool b) : type_(Type::kBool), bool_(b) {}
  Json(int v) : type_(Type::kInteger), int_(v) {}
  Json(long v) : type_(Type::kInteger), int_(v) {}
  Json(long long v) : type_(Type::kInteger), int_(v) {}
  Json(unsigned v) : type_(Type::kInteger), int_(v) {}
  Json(unsigned long v) : type_(Type::kInteger), int_(static_cast<int64_t>(v)) {}
  Json(double v) : type_(Type::kReal), real_(v) {}
  Json(std::string s) : type_(Type::kString), string_(std::move(s)) {}
  Json(const char* s) : type_(Type::kString), string_(s) {}
  Json(Array a) : type_(Type::kArray), array_(std::move(a)) {}
  Json(Object o) : type_(Type::kObject), object_(std::move(o)) {}

  static Json MakeObject() { return Json(Object{}); }
  static Json MakeArray() { return Json(Array{}); }

  Type type() const noexcept { return type_; }
  bool IsNull() const noexcept { return type_ == Type::kNull; }
  bool IsBool() const noexcept { return type_ == Type::kBool; }
  bool IsInteger() const noexcept { return type_ == Type::kInteger; }
  bool IsNumber() const noexcept { return type_ == Type::kInteger || type_ == Type::kReal; }
  bool IsString() const noexcept { return type_ == Type::kString; }
  bool IsArray() const noexcept { return type_ == Type::kArray; }
  bool IsObject() const noexcept { return type_ == Type::kObject; }

  bool AsBool() const noexcept { return bool_; }
  int64_t AsInteger() const noexcept { return int_; }
  double AsReal() const noexcept { return type_ == Type::kInteger ? static_cast<double>(int_) : real_; }
  const std::string& AsString() const noexcept { return string_; }
  const Array& AsArray() const noexcept { return array_; }
  const Object& AsObject() const noexcept { return object_; }

  // Object access: the member's value, or nullptr when absent (or when this
  // is not an object). A repeated key finds its first occurrence.
  const Json* Find(std::string_view key) const noexcept;
  // Adds or replaces a member; turns a null value into an object first.
  Json& Set(std::string key, Json value);
  // Appends to an array; turns a null value into an array first.
  Json& Push(Json value);

  std::string Dump() const;

  // Parses exactly one value surrounded by optional white space. On failure
  // returns false and describes the first fault in `error`.
  static bool Parse(std::string_view text, Json& out, std::string& error);

 private:
  void DumpTo(std::string& out) const;

  Type type_ = Type::kNull;
  bool bool_ = false;
  int64_t int_ = 0;
  double real_ = 0;
  std::string string_;
  Array array_;
  Object object_;
};

// Appends `s` as a quoted JSON string (control characters escaped, other
// bytes copied as they are).
void AppendQuoted(std::string& out, std::string_view s);

}  // namespace kivo::driver
