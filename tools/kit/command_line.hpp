// One command-line parser for the tools: long options with or without a value, the rest
// positional, in any order. Every mistake is a kit::UsageError naming the option.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"

namespace kit {

struct Option {
  std::string_view name;   // "--cell"
  std::string_view alias;  // "-h", or empty
  bool takes_value = false;
  std::function<void(const std::string& value)> set;  // value empty for a switch
};

// The positional arguments, in order, after every option has been given to its `set`.
std::vector<std::string> parse_command_line(int argc, char** argv,
                                            std::initializer_list<Option> options);

// A size in metres for `option`: a positive finite number, or a UsageError.
double positive_metres(std::string_view option, std::string_view text);

}  // namespace kit
