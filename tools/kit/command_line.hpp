// One command-line parser for the tools: long options with or without a value, the rest
// positional, in any order; "--" ends the options. Every mistake is a kit::UsageError naming
// the option. Every parse also knows --version: it writes "<program> <version>" on standard
// output and ends the program (kit::show_version).
#pragma once

#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kit/error.hpp"

namespace kit {

// Takes an option's value (empty for a switch); false when the value is not good, which is
// told as "<name> needs <needs>". A setter may also throw a UsageError of its own.
using OptionSetter = std::function<bool(const std::string& value)>;

struct Option {
  std::string_view name;   // "--cell"
  std::string_view alias;  // "-h", or empty
  bool takes_value = false;
  OptionSetter set;
  std::string_view needs = "a value";  // what a missing or refused value is told to need
};

// Setters for the common cases: the value as given (any, or not empty), a switch.
OptionSetter store(std::string& field);
OptionSetter store_nonempty(std::string& field);
OptionSetter flag(bool& field);

// The value as `read` makes it (which throws its own UsageError for a bad one).
template <class T, class Read>
OptionSetter store_as(T& field, Read read) {
  return [&field, read](const std::string& value) {
    field = read(value);
    return true;
  };
}

// The positional arguments, in order, after every option has been given to its `set`.
std::vector<std::string> parse_command_line(std::span<const std::string> args,
                                            std::initializer_list<Option> options);
// The same with a list of options built at run time.
std::vector<std::string> parse_command_line(std::span<const std::string> args,
                                            std::span<const Option> options);
// The same for main's arguments after the program's name.
std::vector<std::string> parse_command_line(int argc, char** argv,
                                            std::initializer_list<Option> options);

// A size in metres for `option`: a positive finite number, or a UsageError.
double positive_metres(std::string_view option, std::string_view text);

}  // namespace kit
