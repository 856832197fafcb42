#include "json_value.h"

#include <cstdlib>

namespace tomeva::tool {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view t) : t_(t) {}

  bool Parse(JsonValue* v, std::string* error) {
    bool ok = Value(v, 0);
    SkipSpace();
    if (ok && pos_ != t_.size()) ok = Fail("trailing characters");
    if (!ok) *error = error_ + " at byte " + std::to_string(pos_);
    return ok;
  }

 private:
  static constexpr int kMaxDepth = 200;

  bool Fail(const char* what) {
    if (error_.empty()) error_ = what;
    return false;
  }
  void SkipSpace() {
    while (pos_ < t_.size() && (t_[pos_] == ' ' || t_[pos_] == '\t' || t_[pos_] == '\n' ||
                                t_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool Literal(std::string_view word) {
    if (t_.substr(pos_, word.size()) != word) return Fail("bad literal");
    pos_ += word.size();
    return true;
  }
  static void AppendUtf8(unsigned cp, std::string* out) {
    if (cp < 0x80) {
      *out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      *out += static_cast<char>(0xC0 | (cp >> 6));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      *out += static_cast<char>(0xE0 | (cp >> 12));
      *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | (cp >> 18));
      *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      *out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  bool Hex4(unsigned* cp) {
    if (pos_ + 4 > t_.size()) return Fail("short \\u escape");
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
      char c = t_[pos_++];
      v <<= 4;
      if (c >= '0' && c <= '9') v |= c - '0';
      else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') v |= c - 'A' + 10;
      else return Fail("bad \\u escape");
    }
    *cp = v;
    return true;
  }
  bool String(std::string* out) {
    ++pos_;  // opening quote
    while (pos_ < t_.size()) {
      char c = t_[pos_++];
      if (c == '"') return true;
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (pos_ >= t_.size()) break;
      char e = t_[pos_++];
      switch (e) {
        case '"': *out += '"'; break;
        case '\\': *out += '\\'; break;
        case '/': *out += '/'; break;
        case 'b': *out += '\b'; break;
        case 'f': *out += '\f'; break;
        case 'n': *out += '\n'; break;
        case 'r': *out += '\r'; break;
        case 't': *out += '\t'; break;
        case 'u': {
          unsigned cp;
          if (!Hex4(&cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00 && t_.substr(pos_, 2) == "\\u") {
            pos_ += 2;
            unsigned low;
            if (!Hex4(&low)) return false;
            if (low >= 0xDC00 && low < 0xE000) cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          }
          AppendUtf8(cp, out);
          break;
        }
        default:
          return Fail("bad escape");
      }
    }
    return Fail("unterminated string");
  }
  bool Value(JsonValue* v, int depth) {
    if (depth > kMaxDepth) return Fail("nesting too deep");
    SkipSpace();
    if (pos_ >= t_.size()) return Fail("unexpected end");
    char c = t_[pos_];
    if (c == '"') {
      v->kind = JsonValue::Kind::kString;
      return String(&v->string);
    }
    if (c == '{') {
      v->kind = JsonValue::Kind::kObject;
      ++pos_;
      SkipSpace();
      if (pos_ < t_.size() && t_[pos_] == '}') return ++pos_, true;
      for (;;) {
        SkipSpace();
        if (pos_ >= t_.size() || t_[pos_] != '"') return Fail("expected a member name");
        std::string name;
        if (!String(&name)) return false;
        SkipSpace();
        if (pos_ >= t_.size() || t_[pos_] != ':') return Fail("expected ':'");
        ++pos_;
        JsonValue member;
        if (!Value(&member, depth + 1)) return false;
        v->member_names.push_back(std::move(name));
        v->member_values.push_back(std::move(member));
        SkipSpace();
        if (pos_ < t_.size() && t_[pos_] == ',') { ++pos_; continue; }
        if (pos_ < t_.size() && t_[pos_] == '}') return ++pos_, true;
        return Fail("expected ',' or '}'");
      }
    }
    if (c == '[') {
      v->kind = JsonValue::Kind::kArray;
      ++pos_;
      SkipSpace();
      if (pos_ < t_.size() && t_[pos_] == ']') return ++pos_, true;
      for (;;) {
        JsonValue item;
        if (!Value(&item, depth + 1)) return false;
        v->array.push_back(std::move(item));
        SkipSpace();
        if (pos_ < t_.size() && t_[pos_] == ',') { ++pos_; continue; }
        if (pos_ < t_.size() && t_[pos_] == ']') return ++pos_, true;
        return Fail("expected ',' or ']'");
      }
    }
    if (c == 't') { v->kind = JsonValue::Kind::kBool; v->boolean = true; return Literal("true"); }
    if (c == 'f') { v->kind = JsonValue::Kind::kBool; return Literal("false"); }
    if (c == 'n') { v->kind = JsonValue::Kind::kNull; return Literal("null"); }
    if (c == '-' || (c >= '0' && c <= '9')) {
      std::string num(t_.substr(pos_, 64));
      char* end = nullptr;
      v->kind = JsonValue::Kind::kNumber;
      v->number = std::strtod(num.c_str(), &end);
      if (end == num.c_str()) return Fail("bad number");
      pos_ += static_cast<size_t>(end - num.c_str());
      return true;
    }
    return Fail("unexpected character");
  }

  std::string_view t_;
  size_t pos_ = 0;
  std::string error_;
};

}  // namespace

bool ParseJson(std::string_view text, JsonValue* value, std::string* error) {
  *value = JsonValue();
  return Parser(text).Parse(value, error);
}

}  // namespace tomeva::tool
