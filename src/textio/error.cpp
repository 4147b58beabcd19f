#include "textio/error.hpp"

namespace bf {

void stop(std::string message) {
  throw Stop(std::move(message));
}

void input_error(const std::string& detail) {
  stop("*** input error: " + detail);
}

void open_error(const std::string& file, const std::string& reason) {
  stop("*** open error: " + quoted(file) + ": " + reason);
}

void write_error(const std::string& file, const std::string& reason) {
  stop("*** write error: " + quoted(file) + ": " + reason);
}

std::string quoted(const std::string& name) {
  return "'" + name + "'";
}

}  // namespace bf
