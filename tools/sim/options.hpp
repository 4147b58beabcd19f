// A small "--name value" command-line parser shared by the tools.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace bsim {

class Options {
 public:
  // `takes_value` false: a switch.
  void add(const std::string& name, bool takes_value, std::function<void(const std::string&)> set);
  // Returns the arguments that are not options; throws ToolError on an unknown option.
  std::vector<std::string> parse(int argc, char** argv);

 private:
  struct Opt {
    bool takes_value;
    std::function<void(const std::string&)> set;
  };
  std::map<std::string, Opt> opts_;
};

double to_double(const std::string& option, const std::string& text);
long long to_integer(const std::string& option, const std::string& text);
// "a,b,c" into exactly n numbers.
std::vector<double> to_doubles(const std::string& option, const std::string& text, std::size_t n);

}  // namespace bsim
