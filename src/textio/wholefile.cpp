#include "textio/wholefile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "textio/error.hpp"

namespace bf {

WholeFile::~WholeFile() {
  discard();
}

void WholeFile::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

void WholeFile::open(const std::string& name) {
  discard();
  name_ = name;
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) open_error(name, "is a directory");
    if (!S_ISREG(st.st_mode)) {
      fd_ = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
      if (fd_ < 0) open_error(name, std::strerror(errno));
      return;
    }
  }
  std::vector<char> pattern(name.begin(), name.end());
  for (const char c : std::string_view(".XXXXXX"))
    pattern.push_back(c);
  pattern.push_back('\0');
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) open_error(name, std::strerror(errno));
  temp_ = pattern.data();
  // As any other output: readable and writable as the umask allows.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd_, 0666 & ~mask) != 0) {
    const int err = errno;
    discard();
    open_error(name, std::strerror(err));
  }
}

void WholeFile::commit(std::string_view text) {
  const auto fail = [this](int err) {
    discard();
    write_error(name_, std::strerror(err));
  };
  while (!text.empty()) {
    const ssize_t n = ::write(fd_, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(n < 0 ? errno : EIO);
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  if (temp_.empty()) {
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) write_error(name_, std::strerror(errno));
    return;
  }
  int err = ::fsync(fd_) == 0 ? 0 : errno;
  if (::close(fd_) != 0 && err == 0) err = errno;
  fd_ = -1;
  if (err != 0) fail(err);
  if (::rename(temp_.c_str(), name_.c_str()) != 0) fail(errno);
  temp_.clear();
}

void StreamedWholeFile::open(const std::string& name, std::size_t block) {
  file_.open(name);
  out_.attach(file_.fd(), name, block);
}

void StreamedWholeFile::commit() {
  out_.close();  // flushes; the descriptor is the WholeFile's to close
  file_.commit({});
}

}  // namespace bf
