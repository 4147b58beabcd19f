#include "textio/infile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "textio/error.hpp"
#include "textio/interrupt.hpp"

namespace bf {

int open_for_reading(const std::string& name) {
  int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  // Opening a pipe waits for its writer; a signal ends that wait.
  if (fd < 0 && errno == EINTR) check_interrupt();
  if (fd < 0) open_error(name, std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    open_error(name, "is a directory");
  }
  return fd;
}

TextInput::TextInput(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

TextInput::TextInput(int fd, std::string name)
    : fd_(fd), name_(std::move(name)), buf_(std::make_unique_for_overwrite<char[]>(kBlock)) {
  struct stat st {};
  may_block_ = ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode);
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

TextInput::~TextInput() {
  close();
}

void TextInput::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool TextInput::refill() {
  if (fd_ < 0) return false;
  // A block boundary is a record boundary for every output: the place to
  // stop on a signal.
  check_interrupt();
  for (;;) {
    if (may_block_) wait_readable(fd_);
    ssize_t n = ::read(fd_, buf_.get(), kBlock);
    if (n > 0) {
      p_ = buf_.get();
      end_ = p_ + n;
      bytes_read_ += n;
      return true;
    }
    if (n == 0) return false;
    if (errno != EINTR) stop("*** read error: " + quoted(name_) + ": " + std::strerror(errno));
    check_interrupt();
  }
}

BinaryInput::BinaryInput(int fd, std::string name)
    : fd_(fd),
      name_(std::move(name)),
      buf_(std::make_unique_for_overwrite<unsigned char[]>(kBlock)) {
  data_ = buf_.get();
}

BinaryInput::BinaryInput(std::string_view bytes)
    : data_(reinterpret_cast<const unsigned char*>(bytes.data())),
      len_(static_cast<std::int64_t>(bytes.size())),
      memory_(true) {}

BinaryInput::~BinaryInput() {
  if (fd_ >= 0) ::close(fd_);
}

const unsigned char* BinaryInput::load(std::int64_t pos, std::size_t n) {
  if (memory_ || pos < 0) return nullptr;
  check_interrupt();
  std::size_t got = 0;
  while (got < kBlock) {
    ssize_t r = ::pread(fd_, buf_.get() + got, kBlock - got,
                        static_cast<off_t>(pos) + static_cast<off_t>(got));
    if (r > 0) {
      got += static_cast<std::size_t>(r);
      continue;
    }
    if (r == 0) break;
    if (errno == EINTR) {
      check_interrupt();
      continue;
    }
    stop("*** read error: " + quoted(name_) + ": " + std::strerror(errno));
  }
  base_ = pos;
  len_ = static_cast<std::int64_t>(got);
  return got >= n ? data_ : nullptr;
}

}  // namespace bf
