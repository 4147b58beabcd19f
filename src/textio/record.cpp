#include "textio/record.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace bf {
namespace {

char* fill(char* out, int n, char c) {
  if (n > 0) std::memset(out, c, static_cast<std::size_t>(n));
  return out + (n > 0 ? n : 0);
}

char* asterisks(char* out, int w) {
  return fill(out, w, '*');
}

// Right-aligns sign + body in w columns. `body` is the unsigned text; when it
// starts with "0." and does not fit, the 0 is dropped.
char* place(char* out, int w, bool minus, const char* body, int len) {
  int need = len + (minus ? 1 : 0);
  if (need > w && len >= 2 && body[0] == '0' && body[1] == '.') {
    ++body;
    --len;
    --need;
  }
  if (need > w) return asterisks(out, w);
  out = fill(out, w - need, ' ');
  if (minus) *out++ = '-';
  std::memcpy(out, body, static_cast<std::size_t>(len));
  return out + len;
}

char* put_nonfinite(char* out, int w, double v) {
  std::string_view text;
  if (std::isnan(v)) {
    text = "NaN";
  } else if (v > 0) {
    text = w >= 8 ? "Infinity" : "Inf";
  } else {
    text = w >= 9 ? "-Infinity" : "-Inf";
  }
  if (static_cast<int>(text.size()) > w) return asterisks(out, w);
  return put_a(out, w, text);
}

// True when the magnitude a lies exactly half-way between two multiples of
// 10^-d: that happens exactly when its lowest set bit is 2^-(d+1).
bool is_exact_tie(double a, int d) {
  if (a == 0) return false;
  int e = 0;
  double m = std::frexp(a, &e);
  auto mant = static_cast<std::uint64_t>(std::ldexp(m, 53));
  int lowest = e - 53 + std::countr_zero(mant);
  return lowest == -(d + 1);
}

// Adds one unit in the last place to a decimal digit string (with '.').
// Returns the new length (one more when a carry adds a digit in front).
int increment_digits(char* s, int len) {
  for (int k = len - 1; k >= 0; --k) {
    if (s[k] == '.') continue;
    if (s[k] != '9') {
      ++s[k];
      return len;
    }
    s[k] = '0';
  }
  std::memmove(s + 1, s, static_cast<std::size_t>(len));
  s[0] = '1';
  return len + 1;
}

// The exact path: std::to_chars rounds the exact binary value, ties to even;
// ties are found separately and rounded away from zero.
char* put_f_exact(char* out, int w, int d, bool minus, double a) {
  char buf[400];
  int len;
  if (is_exact_tie(a, d)) {
    auto r = std::to_chars(buf + 1, buf + sizeof buf, a, std::chars_format::fixed, d + 1);
    len = static_cast<int>(r.ptr - (buf + 1)) - 1;  // drop the final 5
    if (d == 0) --len;                              // and the point before it
    len = increment_digits(buf + 1, len);
  } else {
    auto r = std::to_chars(buf + 1, buf + sizeof buf, a, std::chars_format::fixed, d);
    len = static_cast<int>(r.ptr - (buf + 1));
  }
  char* body = buf + 1;
  if (d == 0) body[len++] = '.';
  bool zero = true;
  for (int k = 0; k < len; ++k) {
    if (body[k] >= '1' && body[k] <= '9') zero = false;
  }
  return place(out, w, minus && !zero, body, len);
}

}  // namespace

char* put_x(char* out, int n) {
  return fill(out, n, ' ');
}

char* put_a(char* out, int w, std::string_view text) {
  int len = static_cast<int>(text.size());
  if (len >= w) {
    std::memcpy(out, text.data(), static_cast<std::size_t>(w));
    return out + w;
  }
  out = fill(out, w - len, ' ');
  std::memcpy(out, text.data(), text.size());
  return out + len;
}

char* put_i(char* out, int w, std::int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  int len = static_cast<int>(r.ptr - buf);
  if (len > w) return asterisks(out, w);
  out = fill(out, w - len, ' ');
  std::memcpy(out, buf, static_cast<std::size_t>(len));
  return out + len;
}

char* put_f(char* out, int w, int d, double v) {
  if (!std::isfinite(v)) return put_nonfinite(out, w, v);
  bool minus = false;
  std::uint64_t n = 0;
  if (detail::scaled_decimal(v, d, minus, n)) return detail::put_scaled(out, w, d, minus, n);
  return put_f_exact(out, w, d, std::signbit(v), std::fabs(v));
}

namespace {

// Format descriptor parsing for format_record.
struct Cursor {
  std::string_view f;
  std::size_t pos = 0;

  void skip_separators() {
    while (pos < f.size() && (f[pos] == ' ' || f[pos] == ','))
      ++pos;
  }
  bool done() const { return pos >= f.size(); }
  int number() {
    int n = 0;
    while (pos < f.size() && f[pos] >= '0' && f[pos] <= '9')
      n = n * 10 + (f[pos++] - '0');
    return n;
  }
  bool digit_next() const { return pos < f.size() && f[pos] >= '0' && f[pos] <= '9'; }
};

[[noreturn]] void bad_format(std::string_view format) {
  throw std::logic_error("bad record format: " + std::string(format));
}

}  // namespace

std::size_t format_record(char* out, std::size_t cap, std::string_view format,
                          std::span<const Item> items) {
  char* const start = out;
  char* const limit = out + cap;
  std::size_t next = 0;
  Cursor c{format};
  auto room = [&](int n) {
    if (n < 0 || limit - out < n) throw std::logic_error("record longer than its buffer");
  };
  for (c.skip_separators(); !c.done(); c.skip_separators()) {
    char ch = c.f[c.pos];
    if (ch == '\'') {
      std::size_t close = c.f.find('\'', c.pos + 1);
      if (close == std::string_view::npos) bad_format(format);
      std::string_view lit = c.f.substr(c.pos + 1, close - c.pos - 1);
      room(static_cast<int>(lit.size()));
      std::memcpy(out, lit.data(), lit.size());
      out += lit.size();
      c.pos = close + 1;
      continue;
    }
    if (ch == '/') {
      room(1);
      *out++ = '\n';
      ++c.pos;
      continue;
    }
    int count = c.digit_next() ? c.number() : 1;
    if (c.done()) bad_format(format);
    char kind = c.f[c.pos++];
    if (kind == 'X') {
      room(count);
      out = put_x(out, count);
      continue;
    }
    int w = c.digit_next() ? c.number() : -1;
    int d = 0;
    if (kind == 'F') {
      if (w < 0 || c.done() || c.f[c.pos] != '.') bad_format(format);
      ++c.pos;
      d = c.number();
    } else if (kind != 'I' && kind != 'A') {
      bad_format(format);
    }
    if (kind == 'I' && w < 0) bad_format(format);
    for (int k = 0; k < count; ++k) {
      if (next >= items.size()) {  // items ran out: the record ends here
        room(1);
        *out++ = '\n';
        return static_cast<std::size_t>(out - start);
      }
      const Item& it = items[next++];
      if (kind == 'A') {
        if (it.kind != Item::Kind::text) bad_format(format);
        int width = w < 0 ? static_cast<int>(it.s.size()) : w;
        room(width);
        out = put_a(out, width, it.s);
      } else if (kind == 'I') {
        if (it.kind != Item::Kind::integer) bad_format(format);
        room(w);
        out = put_i(out, w, it.i);
      } else {
        if (it.kind != Item::Kind::real) bad_format(format);
        room(w);
        out = put_f(out, w, d, it.f);
      }
    }
  }
  room(1);
  *out++ = '\n';
  return static_cast<std::size_t>(out - start);
}

std::size_t free_format(char* out, std::size_t cap, std::span<const Item> items) {
  std::size_t n = 0;
  if (items.empty()) return 0;  // a line without items is an empty line
  auto put = [&](std::string_view s) {
    if (cap - n < s.size()) throw std::logic_error("free-format line longer than its buffer");
    std::memcpy(out + n, s.data(), s.size());
    n += s.size();
  };
  put(" ");
  bool after_text = false;
  for (const Item& it : items) {
    if (it.kind == Item::Kind::text) {
      put(it.s);
      after_text = true;
    } else if (it.kind == Item::Kind::integer) {
      char buf[24];
      auto r = std::to_chars(buf, buf + sizeof buf, it.i);
      if (after_text) put(" ");
      put(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)));
      put(" ");
      after_text = false;
    } else {
      throw std::logic_error("no real values in free-format output");
    }
  }
  return n;
}

}  // namespace bf
