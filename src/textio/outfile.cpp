#include "textio/outfile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "textio/error.hpp"
#include "textio/interrupt.hpp"

namespace bf {

OutFile::~OutFile() {
  try {
    if (fd_ >= 0) flush();
  } catch (...) {
    // the error has already been reported, or the run is stopping anyway
  }
  if (owned_ && fd_ >= 0) ::close(fd_);
}

void OutFile::create(const std::string& name, CreateMode mode, std::size_t block) {
  if (mode == CreateMode::replace_regular) {
    // Only a regular file is ours to delete: a directory, a device or a pipe
    // under that name is left alone and refused.
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0) {
      if (!S_ISREG(st.st_mode)) open_error(name, "exists and is not a regular file");
      if (::unlink(name.c_str()) != 0) open_error(name, std::strerror(errno));
    } else if (::lstat(name.c_str(), &st) == 0) {
      open_error(name, "is a link to nothing");
    }
  }
  int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
  if (mode == CreateMode::replace_regular) flags |= O_EXCL;
  int fd = ::open(name.c_str(), flags, 0666);
  // Opening a pipe waits for its reader; a signal ends that wait.
  if (fd < 0 && errno == EINTR) check_interrupt();
  if (fd < 0) open_error(name, std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    open_error(name, "is a directory");
  }
  attach(fd, name, block);
  owned_ = true;
}

namespace {

// The directory a file named `name` is created in.
std::string directory_of(const std::string& name) {
  const std::size_t slash = name.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : name.substr(0, slash);
}

// Where opening `name` with O_CREAT creates a file: the end of a chain of
// links to nothing.
std::string creation_target(std::string name) {
  for (int hops = 0; hops < 40; ++hops) {
    char target[4096];
    const ssize_t n = ::readlink(name.c_str(), target, sizeof target);
    if (n < 0 || static_cast<std::size_t>(n) == sizeof target) break;
    const std::string link(target, static_cast<std::size_t>(n));
    name = !link.empty() && link.front() == '/' ? link : directory_of(name) + "/" + link;
  }
  return name;
}

void check_access(const std::string& name, const std::string& path, int mode) {
  if (::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) != 0)
    open_error(name, std::strerror(errno));
}

}  // namespace

void OutFile::check_creatable(const std::string& name, CreateMode mode) {
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0) {
    if (mode == CreateMode::replace_regular) {
      if (!S_ISREG(st.st_mode)) open_error(name, "exists and is not a regular file");
      check_access(name, directory_of(name), W_OK | X_OK);  // to delete it
    } else if (S_ISDIR(st.st_mode)) {
      open_error(name, std::strerror(EISDIR));
    } else if (S_ISREG(st.st_mode)) {
      check_access(name, name, W_OK);
    }
    return;
  }
  if (errno != ENOENT) open_error(name, std::strerror(errno));
  const bool dangling = ::lstat(name.c_str(), &st) == 0;
  if (dangling && mode == CreateMode::replace_regular) open_error(name, "is a link to nothing");
  check_access(name, directory_of(dangling ? creation_target(name) : name), W_OK | X_OK);
}

void OutFile::attach(int fd, std::string name, std::size_t block) {
  fd_ = fd;
  owned_ = false;
  discarding_ = false;
  name_ = std::move(name);
  buf_ = std::make_unique_for_overwrite<char[]>(block);
  pos_ = buf_.get();
  end_ = pos_ + block;
}

void OutFile::discard(std::size_t block) {
  attach(-1, "", block);
  discarding_ = true;
}

void OutFile::write(std::string_view s) {
  while (!s.empty()) {
    std::size_t room = static_cast<std::size_t>(end_ - pos_);
    if (room == 0) {
      make_room();
      continue;
    }
    std::size_t n = s.size() < room ? s.size() : room;
    std::memcpy(pos_, s.data(), n);
    pos_ += n;
    s.remove_prefix(n);
  }
}

void OutFile::record(std::string_view format, std::initializer_list<Item> items) {
  char line[1024];
  std::size_t n = format_record(line, sizeof line, format, items);
  write(std::string_view(line, n));
}

void OutFile::free_line(std::initializer_list<Item> items) {
  char line[1024];
  std::size_t n = free_format(line, sizeof line - 1, items);
  line[n++] = '\n';
  write(std::string_view(line, n));
}

void OutFile::hold() {
  held_ = true;
  held_from_ = static_cast<std::size_t>(pos_ - buf_.get());
}

void OutFile::drop_held() {
  if (held_) pos_ = buf_.get() + held_from_;
  held_ = false;
}

void OutFile::make_room() {
  if (!held_) {
    flush_buffer();
    return;
  }
  const std::size_t size = static_cast<std::size_t>(end_ - buf_.get());
  const std::size_t used = static_cast<std::size_t>(pos_ - buf_.get());
  auto bigger = std::make_unique_for_overwrite<char[]>(2 * size);
  std::memcpy(bigger.get(), buf_.get(), used);
  buf_ = std::move(bigger);
  pos_ = buf_.get() + used;
  end_ = buf_.get() + 2 * size;
}

void OutFile::flush_buffer() {
  if (discarding_) {
    pos_ = buf_.get();
    held_ = false;
    return;
  }
  const char* p = buf_.get();
  while (p < pos_) {
    ssize_t n = ::write(fd_, p, static_cast<std::size_t>(pos_ - p));
    if (n > 0) {
      p += n;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      int err = n < 0 ? errno : ENOSPC;
      pos_ = buf_.get();  // what could not be written is dropped, once
      write_error(name_, std::strerror(err));
    }
  }
  pos_ = buf_.get();
  held_ = false;  // what was held is out
}

void OutFile::flush() {
  if (fd_ >= 0 && pos_ != buf_.get()) flush_buffer();
}

void OutFile::write_at(std::uint64_t offset, const char* data, std::size_t n) {
  flush();
  while (n > 0) {
    ssize_t k = ::pwrite(fd_, data, n, static_cast<off_t>(offset));
    if (k > 0) {
      data += k;
      n -= static_cast<std::size_t>(k);
      offset += static_cast<std::uint64_t>(k);
    } else if (!(k < 0 && errno == EINTR)) {
      write_error(name_, std::strerror(k < 0 ? errno : ENOSPC));
    }
  }
}

void OutFile::close() {
  if (fd_ < 0) return;
  flush();
  int fd = fd_;
  fd_ = -1;
  if (owned_ && ::close(fd) != 0) write_error(name_, std::strerror(errno));
}

}  // namespace bf
