// A JSON text written in order: objects and arrays are opened and closed,
// and the writer places the commas, the indentation and the escapes. Doubles
// are written in the shortest form that reads back to the same value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bf {

class JsonWriter {
 public:
  // Inside an object every value is preceded by key(); inside an array not.
  JsonWriter& key(std::string_view name);
  JsonWriter& begin_object();
  JsonWriter& end_object();
  JsonWriter& begin_array();
  JsonWriter& end_array();

  JsonWriter& value(std::string_view s);
  JsonWriter& value(const char* s) { return value(std::string_view(s)); }
  JsonWriter& value(const std::string& s) { return value(std::string_view(s)); }
  JsonWriter& value(bool b);
  JsonWriter& value(std::int64_t n);
  JsonWriter& value(std::int32_t n) { return value(static_cast<std::int64_t>(n)); }
  JsonWriter& value(std::uint64_t n);
  // NaN and the infinities, which JSON cannot hold, are written as null.
  JsonWriter& value(double d);
  JsonWriter& null();

  // key(name) then value(v).
  template <class T>
  JsonWriter& field(std::string_view name, const T& v) {
    return key(name).value(v);
  }

  // The text so far; once every object and array is closed, the whole
  // document ending with a line end.
  const std::string& text() const { return out_; }

 private:
  void before_value();
  void open(char bracket);
  void close(char bracket);

  std::string out_;
  std::vector<int> counts_;  // values so far in each open object or array
  bool after_key_ = false;
};

// `s` as a JSON string with its quotes: '"', '\' and the control characters
// escaped; bytes that are not UTF-8 become U+FFFD.
void append_json_string(std::string& out, std::string_view s);

}  // namespace bf
