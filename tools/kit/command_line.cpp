#include "command_line.hpp"

#include <cmath>

namespace kit {

namespace {

const Option* find_option(std::initializer_list<Option> options, std::string_view arg) {
  for (const Option& o : options)
    if (arg == o.name || (!o.alias.empty() && arg == o.alias)) return &o;
  return nullptr;
}

}  // namespace

std::vector<std::string> parse_command_line(int argc, char** argv,
                                            std::initializer_list<Option> options) {
  std::vector<std::string> positional;
  for (int k = 1; k < argc; ++k) {
    const std::string_view arg = argv[k];
    const Option* o = find_option(options, arg);
    if (o == nullptr) {
      if (arg.size() > 1 && arg[0] == '-') throw UsageError("unknown option " + std::string(arg));
      positional.emplace_back(arg);
    } else if (!o->takes_value) {
      o->set("");
    } else {
      if (k + 1 >= argc) throw UsageError(std::string(arg) + " needs a value");
      o->set(argv[++k]);
    }
  }
  return positional;
}

double positive_metres(std::string_view option, std::string_view text) {
  double v = 0.0;
  if (!runfiles::parse_double(text, v) || !std::isfinite(v) || v <= 0.0)
    throw UsageError(std::string(option) + " needs a positive number of metres, not '" +
                     std::string(text) + "'");
  return v;
}

}  // namespace kit
