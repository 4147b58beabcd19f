// Free-format (list-directed) input: values separated by blanks, tabs, commas
// or line ends; every read starts on a new line and the rest of the last line
// used is skipped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

#include "textio/infile.hpp"

namespace bf {

enum class ReadStatus { ok, end_of_file, bad_value };

class FreeReader {
 public:
  explicit FreeReader(TextInput& in) : in_(in) {}

  // Begins a new read: skips what is left of the line used by the previous one.
  void start_read();

  // The next value of the current read. end_of_file when the stream ends
  // before a value; bad_value when the value can't be read as the type (see
  // error()). Reals take the Fortran forms (1.5D0, .5, 5., 1e3, -2, +2);
  // integers an optional sign and digits; switches T, F, .TRUE., .FALSE. and
  // the like (the first letter after an optional '.' decides).
  ReadStatus real(double& v);
  // A real read straight into single precision (rounded once, from the
  // decimal text); a value beyond the single-precision range is bad_value.
  ReadStatus real(float& v);
  ReadStatus integer(std::int32_t& v);
  ReadStatus logical(bool& v);

  // A read whose values all lie, in their plain forms, on the next line held
  // whole in the input buffer: integers as [sign] and up to 9 digits, reals as
  // [sign]digits[.digits] with up to 15 significant digits, each ended by a
  // blank or the line end. They are decoded straight from memory to the values
  // integer() and real() give, and the line is used up as the next
  // start_read() would. Any other line gives false with nothing read or
  // changed, and is then read value by value. Call it after start_read().
  template <class... T>
  bool plain_line(T&... values);

  // Reads a whole line as a fixed field of `width` characters, padded with
  // blanks (a carriage return before the line end is dropped). Starts a new
  // read. end_of_file when no line is left.
  ReadStatus line_field(char* field, int width);

  // Line number (1-based) of the last value or line read.
  std::int64_t line() const { return token_line_; }
  // Why the last value could not be read, for messages.
  const std::string& error() const { return error_; }

 private:
  ReadStatus next_token();
  template <class Real>
  ReadStatus read_real(Real& v);
  ReadStatus fail(std::string why);
  // One plain value from p on (blanks before it skipped, never a line end);
  // p is left after it.
  static bool plain_value(const char*& p, const char* end, std::int32_t& v);
  static bool plain_value(const char*& p, const char* end, double& v);
  // Uses up the line that begins at start, when its end (at p or after) is
  // buffered.
  bool end_plain_line(const char* start, const char* p, const char* end);

  TextInput& in_;
  std::int64_t line_ = 1;        // line of the next character
  std::int64_t token_line_ = 0;  // line of the last token
  bool mid_line_ = false;        // the current read has used part of line_
  bool comma_seen_ = false;      // a comma since the last value of this read
  bool value_seen_ = false;      // this read has met a value (a comma before it is empty)
  char token_[256];
  int token_len_ = 0;
  std::string error_;
};

template <class... T>
bool FreeReader::plain_line(T&... values) {
  const std::string_view text = in_.buffered();
  const char* p = text.data();
  const char* const end = p + text.size();
  std::tuple<T...> read;
  const bool plain = std::apply([&](auto&... v) { return (plain_value(p, end, v) && ...); }, read);
  if (!plain || !end_plain_line(text.data(), p, end)) return false;
  std::tie(values...) = read;
  return true;
}

}  // namespace bf
