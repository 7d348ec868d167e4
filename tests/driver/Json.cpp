#include "Json.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kivo::driver {

namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  bool ParseDocument(Json& out, std::string& error) {
    SkipSpace();
    if (!ParseValue(out, 0)) {
      error = Describe();
      return false;
    }
    SkipSpace();
    if (pos_ != text_.size()) {
      Fail("trailing characters");
      error = Describe();
      return false;
    }
    return true;
  }

 private:
  bool Fail(const char* what) {
    if (what_ == nullptr) what_ = what;
    return false;
  }

  std::string Describe() const {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s at offset %zu", what_ ? what_ : "malformed JSON", pos_);
    return buf;
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

  void SkipSpace() {
    while (!AtEnd()) {
      char c = text_[pos_];
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
      ++pos_;
    }
  }

  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return Fail("unknown literal");
    pos_ += word.size();
    return true;
  }

  bool ParseValue(Json& out, int depth) {
    if (depth > Json::kMaxDepth) return Fail("nesting too deep");
    switch (Peek()) {
      case '{':
        return ParseObject(out, depth);
      case '[':
        return ParseArray(out, depth);
      case '"': {
        std::string s;
        if (!ParseString(s)) return false;
        out = Json(std::move(s));
        return true;
      }
      case 't':
        out = Json(true);
        return Literal("true");
      case 'f':
        out = Json(false);
        return Literal("false");
      case 'n':
        out = Json();
        return Literal("null");
      case '\0':
        if (AtEnd()) return Fail("unexpected end");
        return Fail("unexpected character");
      default:
        return ParseNumber(out);
    }
  }

  bool ParseObject(Json& out, int depth) {
    ++pos_;  // '{'
    Json::Object members;
    SkipSpace();
    if (Peek() == '}') {
      ++pos_;
      out = Json(std::move(members));
      return true;
    }
    for (;;) {
      SkipSpace();
      if (Peek() != '"') return Fail("expected a member name");
      std::string key;
      if (!ParseString(key)) return false;
      SkipSpace();
      if (Peek() != ':') return Fail("expected ':'");
      ++pos_;
      SkipSpace();
      Json value;
      if (!ParseValue(value, depth + 1)) return false;
      members.emplace_back(std::move(key), std::move(value));
      SkipSpace();
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == '}') {
        ++pos_;
        out = Json(std::move(members));
        return true;
      }
      return Fail("expected ',' or '}'");
    }
  }

  bool ParseArray(Json& out, int depth) {
    ++pos_;  // '['
    Json::Array items;
    SkipSpace();
    if (Peek() == ']') {
      ++pos_;
      out = Json(std::move(items));
      return true;
    }
    for (;;) {
      SkipSpace();
      Json value;
      if (!ParseValue(value, depth + 1)) return false;
      items.push_back(std::move(value));
      SkipSpace();
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == ']') {
        ++pos_;
        out = Json(std::move(items));
        return true;
      }
      return Fail("expected ',' or ']'");
    }
  }

  bool ParseNumber(Json& out) {
    size_t start = pos_;
    if (Peek() == '-') ++pos_;
    if (Peek() == '0') {
      ++pos_;
    } else if (Peek() >= '1' && Peek() <= '9') {
      while (Peek() >= '0' && Peek() <= '9') ++pos_;
    } else {
      return Fail("unexpected character");
    }
    bool integral = true;
    if (Peek() == '.') {
      integral = false;
      ++pos_;
      if (!(Peek() >= '0' && Peek() <= '9')) return Fail("digit expected");
      while (Peek() >= '0' && Peek() <= '9') ++pos_;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      integral = false;
      ++pos_;
      if (Peek() == '+' || Peek() == '-') ++pos_;
      if (!(Peek() >= '0' && Peek() <= '9')) return Fail("digit expected");
      while (Peek() >= '0' && Peek() <= '9') ++pos_;
    }
    std::string token(text_.substr(start, pos_ - start));
    if (integral) {
      errno = 0;
      char* end = nullptr;
      long long v = std::strtoll(token.c_str(), &end, 10);
      if (errno == ERANGE || end != token.c_str() + token.size()) return Fail("integer out of range");
      out = Json(v);
      return true;
    }
    double d = std::strtod(token.c_str(), nullptr);
    if (!std::isfinite(d)) return Fail("number out of range");
    out = Json(d);
    return true;
  }

  bool ParseHex4(uint32_t& value) {
    if (text_.size() - pos_ < 4) return Fail("short \\u escape");
    value = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[pos_++];
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return Fail("bad \\u escape");
      }
    }
    return true;
  }

  static void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  bool ParseEscape(std::string& out) {
    if (AtEnd()) return Fail("unexpected end");
    char c = text_[pos_++];
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out += c;
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        break;
      default:
        return Fail("bad escape");
    }
    uint32_t cp = 0;
    if (!ParseHex4(cp)) return false;
    if (cp >= 0xDC00 && cp <= 0xDFFF) return Fail("lone low surrogate");
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      uint32_t low = 0;
      if (text_.substr(pos_, 2) != "\\u") return Fail("lone high surrogate");
      pos_ += 2;
      if (!ParseHex4(low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return Fail("lone high surrogate");
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(out, cp);
    return true;
  }

  // Copies one UTF-8 sequence starting with lead byte `b`, checking it.
  bool CopyUtf8(std::string& out) {
    auto b = static_cast<unsigned char>(text_[pos_]);
    size_t extra = 0;
    uint32_t cp = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      extra = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2;
      cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3;
      cp = b & 0x07;
    } else {
      return Fail("invalid UTF-8");
    }
    if (text_.size() - pos_ <= extra) return Fail("invalid UTF-8");
    for (size_t i = 1; i <= extra; ++i) {
      auto cont = static_cast<unsigned char>(text_[pos_ + i]);
      if ((cont & 0xC0) != 0x80) return Fail("invalid UTF-8");
      cp = (cp << 6) | (cont & 0x3F);
    }
    static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return Fail("invalid UTF-8");
    out.append(text_.substr(pos_, extra + 1));
    pos_ += extra + 1;
    return true;
  }

  bool ParseString(std::string& out) {
    ++pos_;  // opening quote
    for (;;) {
      if (AtEnd()) return Fail("unterminated string");
      auto c = static_cast<unsigned char>(text_[pos_]);
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (c == '\\') {
        ++pos_;
        if (!ParseEscape(out)) return false;
      } else if (c < 0x20) {
        return Fail("control character in string");
      } else if (c < 0x80) {
        out += static_cast<char>(c);
        ++pos_;
      } else if (!CopyUtf8(out)) {
        return false;
      }
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
  const char* what_ = nullptr;
};

}  // namespace

void AppendQuoted(std::string& out, std::string_view s) {
  out += '"';
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

const Json* Json::Find(std::string_view key) const noexcept {
  if (type_ != Type::kObject) return nullptr;
  for (const auto& [name, value] : object_) {
    if (name == key) return &value;
  }
  return nullptr;
}

Json& Json::Set(std::string key, Json value) {
  if (type_ == Type::kNull) type_ = Type::kObject;
  for (auto& member : object_) {
    if (member.first == key) {
      member.second = std::move(value);
      return *this;
    }
  }
  object_.emplace_back(std::move(key), std::move(value));
  return *this;
}

Json& Json::Push(Json value) {
  if (type_ == Type::kNull) type_ = Type::kArray;
  array_.push_back(std::move(value));
  return *this;
}

std::string Json::Dump() const {
  std::string out;
  DumpTo(out);
  return out;
}

void Json::DumpTo(std::string& out) const {
  switch (type_) {
    case Type::kNull:
      out += "null";
      break;
    case Type::kBool:
      out += bool_ ? "true" : "false";
      break;
    case Type::kInteger:
      out += std::to_string(int_);
      break;
    case Type::kReal: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.17g", real_);
      out += buf;
      break;
    }
    case Type::kString:
      AppendQuoted(out, string_);
      break;
    case Type::kArray: {
      out += '[';
      bool first = true;
      for (const auto& item : array_) {
        if (!first) out += ',';
        first = false;
        item.DumpTo(out);
      }
      out += ']';
      break;
    }
    case Type::kObject: {
      out += '{';
      bool first = true;
      for (const auto& [name, value] : object_) {
        if (!first) out += ',';
        first = false;
        AppendQuoted(out, name);
        out += ':';
        value.DumpTo(out);
      }
      out += '}';
      break;
    }
  }
}

bool Json::Parse(std::string_view text, Json& out, std::string& error) {
  Parser parser(text);
  Json value;
  if (!parser.ParseDocument(value, error)) return false;
  out = std::move(value);
  return true;
}

}  // namespace kivo::driver
