#include "kit/command_line.hpp"

#include <algorithm>
#include <cmath>

#include "kit/version.hpp"

namespace kit {

namespace {

const Option* find_option(std::span<const Option> options, std::string_view arg) {
  for (const Option& o : options)
    if (arg == o.name || (!o.alias.empty() && arg == o.alias)) return &o;
  return nullptr;
}

UsageError needs(const Option& o) {
  return UsageError(std::string(o.name) + " needs " + std::string(o.needs));
}

}  // namespace

OptionSetter store(std::string& field) {
  return [&field](const std::string& v) {
    field = v;
    return true;
  };
}

OptionSetter store_nonempty(std::string& field) {
  return [&field](const std::string& v) {
    field = v;
    return !v.empty();
  };
}

OptionSetter flag(bool& field) {
  return [&field](const std::string&) { return field = true; };
}

std::vector<std::string> parse_command_line(std::span<const std::string> args,
                                            std::initializer_list<Option> options) {
  return parse_command_line(args, std::span<const Option>(options.begin(), options.size()));
}

std::vector<std::string> parse_command_line(std::span<const std::string> args,
                                            std::span<const Option> options) {
  std::vector<std::string> positional;
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& arg = args[k];
    if (arg == "--") {
      positional.insert(positional.end(), args.begin() + static_cast<std::ptrdiff_t>(k) + 1,
                        args.end());
      break;
    }
    if (arg == "--version") kit::show_version();
    const Option* o = find_option(options, arg);
    if (o == nullptr) {
      if (arg.size() > 1 && arg[0] == '-') throw UsageError("unknown option '" + arg + "'");
      positional.push_back(arg);
    } else if (!o->takes_value) {
      o->set("");
    } else {
      if (k + 1 >= args.size()) throw needs(*o);
      if (!o->set(args[++k])) throw needs(*o);
    }
  }
  return positional;
}

std::vector<std::string> parse_command_line(int argc, char** argv,
                                            std::initializer_list<Option> options) {
  const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
  return parse_command_line(args, options);
}

double positive_metres(std::string_view option, std::string_view text) {
  double v = 0.0;
  if (!runfiles::parse_double(text, v) || !std::isfinite(v) || v <= 0.0)
    throw UsageError(std::string(option) + " needs a positive number of metres, not '" +
                     std::string(text) + "'");
  return v;
}

}  // namespace kit
