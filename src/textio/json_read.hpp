// A strict reader of JSON text (RFC 8259) into a tree: what the core reads of
// the files other programs write (calibration.json). Numbers are doubles as
// std::from_chars reads them; strings are kept as their UTF-8 bytes.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bf {

class JsonValue {
 public:
  enum class Kind { null, boolean, number, string, array, object };

  Kind kind = Kind::null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<JsonValue> items;              // array
  std::map<std::string, JsonValue> members;  // object; a repeated key is refused

  // The member named `key`, or null when this is not an object or has none.
  const JsonValue* find(const std::string& key) const;
};

// Text that is not JSON; what() is one line with the byte offset.
class JsonSyntaxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The one value `text` holds (blanks around it allowed); JsonSyntaxError otherwise.
JsonValue parse_json(std::string_view text);

}  // namespace bf
