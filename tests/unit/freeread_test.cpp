// The free-format reader: separators, line handling, the Fortran forms of
// reals, integers and switches, the input errors and the line numbers.
#include "textio/freeread.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <string>
#include <vector>

namespace bf {
namespace {

// Runs a sequence of reads over `text`. Each read is a string of types
// (R real, I integer, L switch) and starts a new read. The result lists the
// values of each read, then "@" and the line the reader reports; a read that
// fails shows "!eof" or "!bad" where the failing value stands and stops the run.
std::string run_reads(std::string_view text, const std::vector<std::string>& reads,
                      std::string* error = nullptr) {
  TextInput in(text);
  FreeReader r(in);
  std::string out;
  for (const std::string& types : reads) {
    if (!out.empty()) out += " | ";
    r.start_read();
    for (char type : types) {
      ReadStatus s = ReadStatus::ok;
      char buf[32];
      char* end = buf;
      if (type == 'R') {
        double v = 0;
        s = r.real(v);
        end = std::to_chars(buf, buf + sizeof buf, v).ptr;
      } else if (type == 'I') {
        std::int32_t v = 0;
        s = r.integer(v);
        end = std::to_chars(buf, buf + sizeof buf, v).ptr;
      } else {
        bool v = false;
        s = r.logical(v);
        *end++ = v ? 'T' : 'F';
      }
      if (s != ReadStatus::ok) {
        if (error != nullptr) *error = r.error();
        out += s == ReadStatus::end_of_file ? "!eof @" : "!bad @";
        out += std::to_string(r.line());
        return out;
      }
      out.append(buf, end);
      out += ' ';
    }
    out += '@';
    out += std::to_string(r.line());
  }
  return out;
}

struct ReadCase {
  const char* name;
  const char* text;
  std::vector<std::string> reads;
  const char* result;
};

void check(const std::vector<ReadCase>& cases) {
  for (const ReadCase& c : cases) {
    EXPECT_EQ(run_reads(c.text, c.reads), c.result) << c.name;
  }
}

TEST(FreeReaderRows, LinesAndSeparators) {
  check({
      {"one read over several lines", "1\n2 3\n\n4\n", {"IIII"}, "1 2 3 4 @4"},
      {"the rest of the last line is skipped",
       "1 2 3\n4 5\n6\n",
       {"I", "I", "I"},
       "1 @1 | 4 @2 | 6 @3"},
      {"a '/' or '*' in the skipped rest of a line", "1 / 2*3\n4\n", {"I", "I"}, "1 @1 | 4 @2"},
      {"garbage after the values is skipped", "1 x y\n2,zz\n", {"I", "I"}, "1 @1 | 2 @2"},
      {"blank lines before a value", "\n  \n\t7\n", {"I"}, "7 @3"},
      {"carriage return before the line end",
       "1 2\r\n3\r\n4\r\n",
       {"II", "I", "I"},
       "1 2 @1 | 3 @2 | 4 @3"},
      {"a read continues over CR LF lines", "1\r\n2\r\n", {"II"}, "1 2 @2"},
      {"tabs and commas", "1\t2,3 , 4,\t5\n", {"IIIII"}, "1 2 3 4 5 @1"},
      {"a comma ends a line", "1,\n2\n", {"II"}, "1 2 @2"},
      {"no line end after the last value", "1\n5", {"I", "I"}, "1 @1 | 5 @2"},
      {"a read after a line that ended with a comma", "1,\n2\n", {"I", "I"}, "1 @1 | 2 @2"},
  });
}

TEST(FreeReaderRows, EndOfFile) {
  check({
      {"in the middle of a read", "1 2\n", {"RRR"}, "1 2 !eof @1"},
      {"at the start of a read", "1\n", {"I", "I"}, "1 @1 | !eof @1"},
      {"after blank lines", "1\n\n  \n", {"I", "I"}, "1 @1 | !eof @1"},
      {"the rest of the line skipped to the end", "1 2 3", {"I", "I"}, "1 @1 | !eof @1"},
      {"an empty text", "", {"L"}, "!eof @0"},
      {"after a comma", "1,", {"II"}, "1 !eof @1"},
  });
}

TEST(FreeReaderRows, Reals) {
  check({
      {"Fortran forms",
       "1.5D0 1.5d+2 .5 5. 1e3 -2 +2 1E-2 -.5 +.5E1 0 -0 007.25\n",
       {"RRRRRRRRRRRRR"},
       "1.5 150 0.5 5 1000 -2 2 0.01 -0.5 5 0 -0 7.25 @1"},
      {"largest double", "1.7976931348623157e308\n", {"R"}, "1.7976931348623157e+308 @1"},
      {"below the smallest double: zero", "1e-999 -1d-400\n", {"RR"}, "0 -0 @1"},
      {"a comma is a separator, not a decimal mark", "1,5\n", {"R"}, "1 @1"},
  });
}

TEST(FreeReaderRows, Integers) {
  check({
      {"signs and digits",
       "+7 -7 007 2147483647 -2147483648\n",
       {"IIIII"},
       "7 -7 7 2147483647 -2147483648 @1"},
  });
}

TEST(FreeReaderRows, Switches) {
  check({
      {"every form in any case",
       "T F .TRUE. .FALSE. .T. true false tRuE .f. t f Tx\n",
       {"LLLLLLLLLLLL"},
       "T F T F T T F T F T F T @1"},
  });
}

// Each value is an input error where it stands; the line of the error is 2.
TEST(FreeReaderRows, InputErrors) {
  struct Bad {
    const char* type;
    const char* value;
    const char* message;
  };
  const Bad cases[] = {
      {"R", "1e999", "real value out of range: '1e999'"},
      {"R", "-1D999", "real value out of range: '-1D999'"},
      {"R", "Inf", "cannot read a real from 'Inf'"},
      {"R", "-inf", "cannot read a real from '-inf'"},
      {"R", "Infinity", "cannot read a real from 'Infinity'"},
      {"R", "NaN", "cannot read a real from 'NaN'"},
      {"R", "nan", "cannot read a real from 'nan'"},
      {"R", ".", "cannot read a real from '.'"},
      {"R", "e5", "cannot read a real from 'e5'"},
      {"R", "1e", "cannot read a real from '1e'"},
      {"R", "1.5D", "cannot read a real from '1.5D'"},
      {"R", "1.5e+", "cannot read a real from '1.5e+'"},
      {"R", "1.2.3", "cannot read a real from '1.2.3'"},
      {"R", "0x10", "cannot read a real from '0x10'"},
      {"R", "+-1", "cannot read a real from '+-1'"},
      {"R", "1.5q0", "cannot read a real from '1.5q0'"},
      {"R", "T", "cannot read a real from 'T'"},
      {"R", "3*1.5", "repeat counts are not allowed: '3*1.5'"},
      {"R", "/", "'/' is not allowed: '/'"},
      {"R", "1/", "'/' is not allowed: '1/'"},
      {"I", "1.5", "cannot read an integer from '1.5'"},
      {"I", "1e3", "cannot read an integer from '1e3'"},
      {"I", "5.", "cannot read an integer from '5.'"},
      {"I", "x", "cannot read an integer from 'x'"},
      {"I", "+", "cannot read an integer from '+'"},
      {"I", "-", "cannot read an integer from '-'"},
      {"I", "+-7", "cannot read an integer from '+-7'"},
      {"I", "--7", "cannot read an integer from '--7'"},
      {"I", "Inf", "cannot read an integer from 'Inf'"},
      {"I", "2147483648", "integer value out of range: '2147483648'"},
      {"I", "-2147483649", "integer value out of range: '-2147483649'"},
      {"I", "99999999999999999999", "integer value out of range: '99999999999999999999'"},
      {"I", "2*3", "repeat counts are not allowed: '2*3'"},
      {"L", "1", "cannot read a switch (T or F) from '1'"},
      {"L", "yes", "cannot read a switch (T or F) from 'yes'"},
      {"L", ".", "cannot read a switch (T or F) from '.'"},
      {"L", "x", "cannot read a switch (T or F) from 'x'"},
  };
  for (const Bad& c : cases) {
    std::string error;
    const std::string text = std::string("0\n\n ") + c.value + " 1\n";
    // A first read of one value on line 1; the second read passes over the
    // empty line 2 and meets the bad value on line 3.
    EXPECT_EQ(run_reads(text, {"I", c.type}, &error), "0 @1 | !bad @3") << c.value;
    EXPECT_EQ(error, c.message) << c.value;
  }
}

TEST(FreeReaderRows, EmptyValuesBetweenCommas) {
  check({
      {"two commas", "1,,2\n", {"III"}, "1 !bad @1"},
      {"two commas with a blank between", "1, ,2\n", {"III"}, "1 !bad @1"},
      {"a comma at a line end and one at the next line's start", "1,\n,2\n", {"III"}, "1 !bad @2"},
  });
  std::string error;
  run_reads("1,,2\n", {"III"}, &error);
  EXPECT_EQ(error, "empty value between two commas");
  // A comma before the first value of a read stood for an empty value too, but
  // was taken as a mere separator: ",5" read as 5.
  check({
      {"a comma before the first value", ",5\n", {"I"}, "!bad @1"},
      {"after blanks and an empty line", "\n  , 5\n", {"I"}, "!bad @2"},
      {"in the second read", "1\n,2\n", {"I", "I"}, "1 @1 | !bad @2"},
      {"a comma starting a continuation line is a separator", "1\n,2\n", {"II"}, "1 2 @2"},
  });
  run_reads(",5\n", {"I"}, &error);
  EXPECT_EQ(error, "empty value before a comma");
}

TEST(FreeReaderRows, OverlongValue) {
  std::string error;
  const std::string text = "1 " + std::string(300, '1') + "\n";
  EXPECT_EQ(run_reads(text, {"IR"}, &error), "1 !bad @1");
  EXPECT_EQ(error.rfind("value too long: '1111", 0), 0u) << error;
}

TEST(FreeReaderLineField, FixedWidthLines) {
  struct Case {
    const char* text;
    std::vector<std::string> fields;  // width 6; "!eof" when no line is left
  };
  const Case cases[] = {
      {"abc\n", {"abc   ", "!eof"}},
      {"abc\r\n\r\n", {"abc   ", "      ", "!eof"}},
      {"abcdefgh\nx", {"abcdef", "x     ", "!eof"}},  // beyond column 6 ignored
      {"abcdef\r\n", {"abcdef", "!eof"}},             // the CR is past the field
      {"abcde\r\n", {"abcde ", "!eof"}},
      {"a\rb\n", {"a\rb   "}},  // only a CR that ends the line is dropped
      {"\n\n", {"      ", "      ", "!eof"}},
      {" 0\n", {" 0    "}},
  };
  for (const Case& c : cases) {
    TextInput in(c.text);
    FreeReader r(in);
    int line = 0;
    for (const std::string& want : c.fields) {
      char field[6];
      const ReadStatus s = r.line_field(field, 6);
      if (want == "!eof") {
        EXPECT_EQ(s, ReadStatus::end_of_file) << c.text;
        continue;
      }
      ++line;
      EXPECT_EQ(s, ReadStatus::ok) << c.text;
      EXPECT_EQ(std::string(field, 6), want) << c.text;
      EXPECT_EQ(r.line(), line) << c.text;
    }
  }
}

TEST(FreeReaderLineField, AfterAValueReadTheRestOfItsLineIsSkipped) {
  TextInput in("1 2 junk\nname\n3\n");
  FreeReader r(in);
  r.start_read();
  std::int32_t v = 0;
  ASSERT_EQ(r.integer(v), ReadStatus::ok);
  char field[4];
  ASSERT_EQ(r.line_field(field, 4), ReadStatus::ok);
  EXPECT_EQ(std::string(field, 4), "name");
  EXPECT_EQ(r.line(), 2);
  r.start_read();
  ASSERT_EQ(r.integer(v), ReadStatus::ok);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(r.line(), 3);
}

}  // namespace
}  // namespace bf
