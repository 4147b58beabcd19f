#include "textio/json_read.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace bf {
namespace {

// Nesting deeper than this is refused rather than risking the stack.
constexpr int kMaxDepth = 64;

class Parser {
 public:
  explicit Parser(std::string_view s) : s_(s) {}

  JsonValue document() {
    JsonValue v = value(0);
    skip_blanks();
    if (k_ != s_.size()) fail("text after the value");
    return v;
  }

 private:
  [[noreturn]] void fail(const char* what) const {
    throw JsonSyntaxError(std::string(what) + " at byte " + std::to_string(k_ + 1));
  }

  void skip_blanks() {
    while (k_ < s_.size() && (s_[k_] == ' ' || s_[k_] == '\t' || s_[k_] == '\n' || s_[k_] == '\r'))
      ++k_;
  }

  bool take(char c) {
    skip_blanks();
    if (k_ < s_.size() && s_[k_] == c) {
      ++k_;
      return true;
    }
    return false;
  }

  void expect(char c) {
    if (!take(c)) fail(c == ':' ? "':' expected" : c == ',' ? "',' expected" : "bracket expected");
  }

  bool word(std::string_view w) {
    if (s_.substr(k_, w.size()) != w) return false;
    k_ += w.size();
    return true;
  }

  JsonValue value(int depth) {
    if (depth > kMaxDepth) fail("nested too deeply");
    skip_blanks();
    if (k_ >= s_.size()) fail("value expected");
    JsonValue v;
    const char c = s_[k_];
    if (c == '{') {
      v.kind = JsonValue::Kind::object;
      object(v, depth);
    } else if (c == '[') {
      v.kind = JsonValue::Kind::array;
      array(v, depth);
    } else if (c == '"') {
      v.kind = JsonValue::Kind::string;
      v.text = string();
    } else if (word("true") || word("false")) {
      v.kind = JsonValue::Kind::boolean;
      v.boolean = c == 't';
    } else if (word("null")) {
      v.kind = JsonValue::Kind::null;
    } else {
      v.kind = JsonValue::Kind::number;
      v.number = number();
    }
    return v;
  }

  void object(JsonValue& v, int depth) {
    ++k_;
    if (take('}')) return;
    do {
      skip_blanks();
      if (k_ >= s_.size() || s_[k_] != '"') fail("key expected");
      std::string key = string();
      expect(':');
      if (!v.members.emplace(std::move(key), value(depth + 1)).second) fail("repeated key");
    } while (take(','));
    expect('}');
  }

  void array(JsonValue& v, int depth) {
    ++k_;
    if (take(']')) return;
    do {
      v.items.push_back(value(depth + 1));
    } while (take(','));
    expect(']');
  }

  // JSON's number grammar: no '+', no leading zeros, digits around the point.
  double number() {
    const std::size_t start = k_;
    auto digits = [this] {
      const std::size_t from = k_;
      while (k_ < s_.size() && s_[k_] >= '0' && s_[k_] <= '9')
        ++k_;
      return k_ - from;
    };
    if (k_ < s_.size() && s_[k_] == '-') ++k_;
    const std::size_t int_start = k_;
    const std::size_t n = digits();
    if (n == 0 || (n > 1 && s_[int_start] == '0')) {
      k_ = start;
      fail("value expected");
    }
    if (k_ < s_.size() && s_[k_] == '.') {
      ++k_;
      if (digits() == 0) fail("digit expected");
    }
    if (k_ < s_.size() && (s_[k_] == 'e' || s_[k_] == 'E')) {
      ++k_;
      if (k_ < s_.size() && (s_[k_] == '+' || s_[k_] == '-')) ++k_;
      if (digits() == 0) fail("digit expected");
    }
    double v = 0;
    const auto r = std::from_chars(s_.data() + start, s_.data() + k_, v);
    if (r.ec != std::errc() || !std::isfinite(v)) fail("number out of range");
    return v;
  }

  unsigned hex4() {
    unsigned u = 0;
    for (int i = 0; i < 4; ++i, ++k_) {
      if (k_ >= s_.size()) fail("unfinished escape");
      const char c = s_[k_];
      const int d = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
      if (d < 0) fail("bad \\u escape");
      u = u * 16 + static_cast<unsigned>(d);
    }
    return u;
  }

  static void put_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  void escape(std::string& out) {
    if (k_ >= s_.size()) fail("unfinished escape");
    const char c = s_[k_++];
    switch (c) {
      case '"':
        out += '"';
        return;
      case '\\':
        out += '\\';
        return;
      case '/':
        out += '/';
        return;
      case 'b':
        out += '\b';
        return;
      case 'f':
        out += '\f';
        return;
      case 'n':
        out += '\n';
        return;
      case 'r':
        out += '\r';
        return;
      case 't':
        out += '\t';
        return;
      case 'u':
        break;
      default:
        --k_;
        fail("bad escape");
    }
    std::uint32_t cp = hex4();
    if (cp >= 0xD800 && cp < 0xDC00 && word("\\u")) {
      const unsigned low = hex4();
      if (low < 0xDC00 || low >= 0xE000) fail("bad surrogate pair");
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
    put_utf8(out, cp);
  }

  std::string string() {
    ++k_;
    std::string out;
    while (true) {
      if (k_ >= s_.size()) fail("unfinished string");
      const char c = s_[k_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) {
        --k_;
        fail("control character in a string");
      }
      if (c == '\\')
        escape(out);
      else
        out += c;
    }
  }

  std::string_view s_;
  std::size_t k_ = 0;
};

}  // namespace

const JsonValue* JsonValue::find(const std::string& key) const {
  if (kind != Kind::object) return nullptr;
  const auto it = members.find(key);
  return it == members.end() ? nullptr : &it->second;
}

JsonValue parse_json(std::string_view text) {
  return Parser(text).document();
}

}  // namespace bf
