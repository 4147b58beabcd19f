// A strict check of JSON syntax for the fuzz targets: one value, strings of
// well-formed UTF-8 with no raw control characters and only the defined
// escapes, numbers in JSON's grammar.
#pragma once

#include <cstddef>
#include <string_view>

namespace fuzz {

class JsonCheck {
 public:
  static bool valid(std::string_view text) {
    JsonCheck c{text};
    c.blanks();
    if (!c.value(0)) return false;
    c.blanks();
    return c.k_ == text.size();
  }

 private:
  explicit JsonCheck(std::string_view t) : t_(t) {}

  bool more() const { return k_ < t_.size(); }
  char at() const { return t_[k_]; }
  void blanks() {
    while (more() && (at() == ' ' || at() == '\n' || at() == '\t' || at() == '\r'))
      ++k_;
  }
  bool take(char c) {
    if (!more() || at() != c) return false;
    ++k_;
    return true;
  }
  bool word(std::string_view w) {
    if (t_.substr(k_, w.size()) != w) return false;
    k_ += w.size();
    return true;
  }
  bool digits() {
    const std::size_t start = k_;
    while (more() && at() >= '0' && at() <= '9')
      ++k_;
    return k_ > start;
  }
  bool number() {
    take('-');
    if (take('0')) {
      if (more() && at() >= '0' && at() <= '9') return false;
    } else if (!digits()) {
      return false;
    }
    if (take('.') && !digits()) return false;
    if (more() && (at() == 'e' || at() == 'E')) {
      ++k_;
      if (!take('+')) take('-');
      if (!digits()) return false;
    }
    return true;
  }
  bool continuation() {
    if (!more() || (static_cast<unsigned char>(at()) & 0xC0) != 0x80) return false;
    ++k_;
    return true;
  }
  bool string() {
    if (!take('"')) return false;
    while (more()) {
      const unsigned char c = static_cast<unsigned char>(at());
      ++k_;
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (!more()) return false;
        const char e = at();
        ++k_;
        if (e == 'u') {
          for (int j = 0; j < 4; ++j, ++k_) {
            if (!more()) return false;
            const char h = at();
            if (!((h >= '0' && h <= '9') || (h >= 'a' && h <= 'f') || (h >= 'A' && h <= 'F')))
              return false;
          }
        } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
          return false;
        }
      } else if (c >= 0x80) {
        // Lead bytes of 2, 3 and 4 byte sequences (overlong and surrogate
        // forms are checked by the writer's own tests).
        const int n = c >= 0xF0 && c <= 0xF4 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c <= 0xDF ? 1 : -1;
        if (n < 0) return false;
        for (int j = 0; j < n; ++j)
          if (!continuation()) return false;
      }
    }
    return false;
  }
  template <class Item>
  bool sequence(char close, Item item) {
    blanks();
    if (take(close)) return true;
    do {
      blanks();
      if (!item()) return false;
      blanks();
    } while (take(','));
    return take(close);
  }
  bool value(int depth) {
    if (depth > 64 || !more()) return false;
    switch (at()) {
      case '{':
        ++k_;
        return sequence('}', [&] {
          if (!string()) return false;
          blanks();
          if (!take(':')) return false;
          blanks();
          return value(depth + 1);
        });
      case '[':
        ++k_;
        return sequence(']', [&] { return value(depth + 1); });
      case '"':
        return string();
      case 't':
        return word("true");
      case 'f':
        return word("false");
      case 'n':
        return word("null");
      default:
        return number();
    }
  }

  std::string_view t_;
  std::size_t k_ = 0;
};

}  // namespace fuzz
