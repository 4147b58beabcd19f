// The one error type of the program, and the one place that words it.
#pragma once

#include <exception>
#include <string>

namespace bf {

// A run stops with a one-line message. The message is printed as a free-format
// line on standard output (one leading blank) and the process exits with 1.
class Stop : public std::exception {
 public:
  explicit Stop(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

[[noreturn]] void stop(std::string message);
[[noreturn]] void input_error(const std::string& detail);  // "*** input error: " + detail
[[noreturn]] void open_error(const std::string& file, const std::string& reason);
[[noreturn]] void write_error(const std::string& file, const std::string& reason);

// "'name'" with the name quoted, for messages.
std::string quoted(const std::string& name);

}  // namespace bf
