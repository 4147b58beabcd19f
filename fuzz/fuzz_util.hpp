// Helpers shared by the fuzz targets: a console that discards its lines, the
// splitting of one input into parts, and a private scratch directory.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "textio/outfile.hpp"

namespace fuzz {

// Standard output of the program under test goes to /dev/null. A small block
// makes every few lines a real write, so the flush path is exercised too.
inline int null_fd() {
  static const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  return fd;
}

inline void attach_console(bf::OutFile& console) {
  console.attach(null_fd(), "standard output", 4096);
}

// A finding that is not a crash of its own (a broken promise of the code under
// test): abort, so that libFuzzer and the replay both report it.
[[noreturn]] inline void finding(const char* what) {
  std::fprintf(stderr, "fuzz finding: %s\n", what);
  std::abort();
}

// The parts of an input separated by "====".
inline std::vector<std::string_view> split_parts(std::string_view data, std::size_t max_parts) {
  static constexpr std::string_view kSep = "====";
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < max_parts) {
    std::size_t k = data.find(kSep);
    if (k == std::string_view::npos) break;
    parts.push_back(data.substr(0, k));
    data.remove_prefix(k + kSep.size());
  }
  parts.push_back(data);
  return parts;
}

// Removes every file of the current directory; directories stay.
inline void clear_scratch_dir() {
  DIR* d = ::opendir(".");
  if (d == nullptr) return;
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    ::unlink(e->d_name);
  }
  ::closedir(d);
}

inline std::string& scratch_path() {
  static std::string path;
  return path;
}

// Empties and removes the scratch directory (its subdirectories are empty).
inline void remove_scratch_dir() {
  clear_scratch_dir();
  DIR* d = ::opendir(".");
  if (d != nullptr) {
    while (dirent* e = ::readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) ::rmdir(e->d_name);
    }
    ::closedir(d);
  }
  if (::chdir("/") == 0) ::rmdir(scratch_path().c_str());
}

// Creates a fresh directory under TMPDIR (or /tmp) and makes it the current
// directory of the process, so that files named by a fuzzed deck (and
// "scan.cal") land there. It is removed when the process exits normally.
inline void enter_scratch_dir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/beamfall-fuzz-XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr || ::chdir(tmpl.c_str()) != 0) {
    std::perror("beamfall fuzz: scratch directory");
    std::exit(2);
  }
  scratch_path() = tmpl;
  std::atexit(remove_scratch_dir);
}

inline void write_file(const char* name, std::string_view bytes) {
  int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) finding("cannot write a scratch file");
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) finding("cannot write a scratch file");
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

}  // namespace fuzz
