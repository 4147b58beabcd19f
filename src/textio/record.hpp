// Text records: fixed-width fields (Iw, Fw.d, Aw, nX), a small interpreter for
// record formats written in that notation, and free-format output lines.
//
// Every field writer writes exactly w characters at `out` and returns the
// position after them; none allocates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace bf {

// Iw: integer right-aligned in w columns; w asterisks when it does not fit.
char* put_i(char* out, int w, std::int64_t v);

// Fw.d: the exact binary value rounded to d decimals (ties away from zero),
// right-aligned in w columns. A magnitude below 1 gets its leading 0 only when
// the field has room; a value that rounds to zero has no minus sign;
// non-finite values are written as Infinity/Inf, -Infinity/-Inf or NaN.
char* put_f(char* out, int w, int d, double v);

// Aw: text in w columns, right-aligned when shorter, its first w characters
// when longer.
char* put_a(char* out, int w, std::string_view text);

// nX: n blanks.
char* put_x(char* out, int n);

// One value for a formatted record or a free-format line.
struct Item {
  enum class Kind { integer, real, text };
  Kind kind;
  std::int64_t i = 0;
  double f = 0;
  std::string_view s;

  Item(int v) : kind(Kind::integer), i(v) {}
  Item(long v) : kind(Kind::integer), i(v) {}
  Item(long long v) : kind(Kind::integer), i(v) {}
  Item(double v) : kind(Kind::real), f(v) {}
  Item(float v) : kind(Kind::real), f(v) {}
  Item(std::string_view v) : kind(Kind::text), s(v) {}
  Item(const std::string& v) : kind(Kind::text), s(v) {}
  Item(const char* v) : kind(Kind::text), s(v) {}
};

// Writes the record described by `format` in the text record notation:
//   'literal'  Iw  Fw.d  Aw  A  nX  /   and a repeat count before I, F, A (2F9.2).
// Descriptors are separated by blanks or commas. '/' and the end of the
// format end a line ("\n" is written). When the items run out, the record
// ends at the first descriptor that would need a value; literal text before
// it is still written. Returns the number of characters written, which is at
// most `cap` (longer output is a programming error and throws logic_error).
std::size_t format_record(char* out, std::size_t cap, std::string_view format,
                          std::span<const Item> items);

// A free-format output line (no line end): one leading blank, text items
// exactly, integers in their shortest form, a number after a text preceded by
// one blank, every number followed by one blank. Real items are a programming
// error. Returns the number of characters written (at most cap).
std::size_t free_format(char* out, std::size_t cap, std::span<const Item> items);

inline std::size_t format_record(char* out, std::size_t cap, std::string_view format,
                                 std::initializer_list<Item> items) {
  return format_record(out, cap, format, std::span<const Item>(items.begin(), items.size()));
}
inline std::size_t free_format(char* out, std::size_t cap, std::initializer_list<Item> items) {
  return free_format(out, cap, std::span<const Item>(items.begin(), items.size()));
}

}  // namespace bf
