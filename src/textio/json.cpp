#include "textio/json.hpp"

#include <charconv>
#include <cmath>

namespace bf {

namespace {

// Length of the well-formed UTF-8 sequence at s[k], or 0.
std::size_t utf8_length(std::string_view s, std::size_t k) {
  const auto byte = [&](std::size_t j) { return static_cast<unsigned char>(s[j]); };
  const unsigned char c = byte(k);
  std::size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // the second byte's range
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;  // no overlong forms
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (k + n > s.size() || byte(k + 1) < lo || byte(k + 1) > hi) return 0;
  for (std::size_t j = 2; j < n; ++j)
    if (byte(k + j) < 0x80 || byte(k + j) > 0xBF) return 0;
  return n;
}

}  // namespace

void append_json_string(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t k = 0; k < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[k]);
    if (c >= 0x80) {
      const std::size_t n = utf8_length(s, k);
      if (n == 0) {
        out += "\xEF\xBF\xBD";
        ++k;
      } else {
        out.append(s.substr(k, n));
        k += n;
      }
      continue;
    }
    ++k;
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
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

void JsonWriter::before_value() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (counts_.empty()) return;
  if (counts_.back()++ > 0) out_ += ',';
  out_ += '\n';
  out_.append(2 * counts_.size(), ' ');
}

JsonWriter& JsonWriter::key(std::string_view name) {
  before_value();
  append_json_string(out_, name);
  out_ += ": ";
  after_key_ = true;
  return *this;
}

void JsonWriter::open(char bracket) {
  before_value();
  out_ += bracket;
  counts_.push_back(0);
}

void JsonWriter::close(char bracket) {
  const bool empty = counts_.back() == 0;
  counts_.pop_back();
  if (!empty) {
    out_ += '\n';
    out_.append(2 * counts_.size(), ' ');
  }
  out_ += bracket;
  if (counts_.empty()) out_ += '\n';
}

JsonWriter& JsonWriter::begin_object() {
  open('{');
  return *this;
}
JsonWriter& JsonWriter::end_object() {
  close('}');
  return *this;
}
JsonWriter& JsonWriter::begin_array() {
  open('[');
  return *this;
}
JsonWriter& JsonWriter::end_array() {
  close(']');
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view s) {
  before_value();
  append_json_string(out_, s);
  return *this;
}

JsonWriter& JsonWriter::value(bool b) {
  before_value();
  out_ += b ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::value(std::int64_t n) {
  before_value();
  char buf[24];
  out_.append(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
  return *this;
}

JsonWriter& JsonWriter::value(std::uint64_t n) {
  before_value();
  char buf[24];
  out_.append(buf, std::to_chars(buf, buf + sizeof buf, n).ptr);
  return *this;
}

JsonWriter& JsonWriter::value(double d) {
  if (!std::isfinite(d)) return null();
  before_value();
  if (d == 0 && std::signbit(d)) {
    out_ += "-0.0";  // "-0" reads back as the integer 0 in many readers
    return *this;
  }
  char buf[32];
  out_.append(buf, std::to_chars(buf, buf + sizeof buf, d).ptr);
  return *this;
}

JsonWriter& JsonWriter::null() {
  before_value();
  out_ += "null";
  return *this;
}

}  // namespace bf
