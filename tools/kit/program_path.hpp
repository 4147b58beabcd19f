// Where one Beamfall program finds another: from its own location, never from the build
// tree or the working directory. Installed, the programs users call are in PREFIX/bin and
// the helpers they don't call in PREFIX/libexec/beamfall; in the build tree all of them
// are side by side. Header only and standard library only, for every tool.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace kit {

// The running program's own file (empty when /proc/self/exe can't be read).
inline std::filesystem::path own_path() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path{} : exe;
}

// The directory of the running program's own file (empty when it can't be known).
inline std::filesystem::path own_directory() {
  return own_path().parent_path();
}

// A file this process may run: executable and not a directory.
inline bool is_program_file(const std::filesystem::path& path) {
  return ::access(path.c_str(), X_OK) == 0 && !std::filesystem::is_directory(path);
}

// NAME as execvp finds it on PATH (an empty entry is the working directory); NAME alone
// when no entry holds it.
inline std::filesystem::path find_on_path(std::string_view name) {
  const char* path = std::getenv("PATH");
  const std::string_view dirs = path != nullptr ? path : "";
  for (std::size_t at = 0; at <= dirs.size();) {
    std::size_t end = dirs.find(':', at);
    if (end == std::string_view::npos) end = dirs.size();
    const std::filesystem::path dir = end > at ? dirs.substr(at, end - at) : ".";
    if (is_program_file(dir / name)) return dir / name;
    at = end + 1;
  }
  return std::filesystem::path(name);
}

// The program NAME as seen from a program in DIR: DIR/NAME, else DIR/../libexec/beamfall/NAME;
// else NAME alone, which posix_spawnp and execvp look up on PATH.
inline std::filesystem::path find_program_from(const std::filesystem::path& dir,
                                               std::string_view name) {
  if (!dir.empty()) {
    for (const auto& candidate : {dir / name, dir / ".." / "libexec" / "beamfall" / name}) {
      if (is_program_file(candidate)) return candidate.lexically_normal();
    }
  }
  return std::filesystem::path(name);
}

// The program NAME as seen from the running program.
inline std::filesystem::path find_program(std::string_view name) {
  return find_program_from(own_directory(), name);
}

}  // namespace kit
