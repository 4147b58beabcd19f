#include "options.hpp"

#include "kit/version.hpp"
#include "runfiles/text.hpp"

namespace bsim {

using namespace runfiles;  // the shared readers and text helpers

void Options::add(const std::string& name, bool takes_value,
                  std::function<void(const std::string&)> set) {
  opts_[name] = {takes_value, std::move(set)};
}

std::vector<std::string> Options::parse(int argc, char** argv) {
  std::vector<std::string> rest;
  for (int k = 1; k < argc; ++k) {
    std::string a = argv[k];
    if (a.rfind("--", 0) != 0) {
      rest.push_back(a);
      continue;
    }
    std::string value;
    const std::size_t eq = a.find('=');
    bool has_value = false;
    if (eq != std::string::npos) {
      value = a.substr(eq + 1);
      a = a.substr(0, eq);
      has_value = true;
    }
    if (a == "--version" && !has_value) kit::show_version();  // every program's, in one place
    auto it = opts_.find(a);
    if (it == opts_.end()) throw ToolError("unknown option " + a + " (try --help)");
    if (it->second.takes_value && !has_value) {
      if (k + 1 >= argc) throw ToolError("option " + a + " needs a value");
      value = argv[++k];
    }
    it->second.set(value);
  }
  return rest;
}

double to_double(const std::string& option, const std::string& text) {
  double v = 0.0;
  if (!parse_double(text, v)) throw ToolError("option " + option + ": '" + text + "' is no number");
  return v;
}

long long to_integer(const std::string& option, const std::string& text) {
  std::int64_t v = 0;
  if (!parse_int(text, v)) throw ToolError("option " + option + ": '" + text + "' is no integer");
  return v;
}

std::vector<double> to_doubles(const std::string& option, const std::string& text, std::size_t n) {
  std::vector<double> out;
  for (std::string_view f : split_fields(text))
    out.push_back(to_double(option, std::string(f)));
  if (out.size() != n) {
    throw ToolError("option " + option + " needs " + std::to_string(n) +
                    " comma-separated numbers");
  }
  return out;
}

}  // namespace bsim
