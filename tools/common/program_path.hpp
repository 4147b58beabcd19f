// Where one Beamfall program finds another: from its own location, never from the build
// tree or the working directory. Installed, the programs users call are in PREFIX/bin and
// the helpers they don't call in PREFIX/libexec/beamfall; in the build tree all of them
// are side by side. Header only and standard library only, for every tool.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string_view>
#include <system_error>

namespace beamfall_tools {

// The directory of the running program's own file (empty when /proc/self/exe can't be read).
inline std::filesystem::path own_directory() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path{} : exe.parent_path();
}

// The program NAME as seen from a program in DIR: DIR/NAME, else DIR/../libexec/beamfall/NAME;
// else NAME alone, which posix_spawnp and execvp look up on PATH.
inline std::filesystem::path find_program_from(const std::filesystem::path& dir,
                                               std::string_view name) {
  if (!dir.empty()) {
    for (const auto& candidate : {dir / name, dir / ".." / "libexec" / "beamfall" / name}) {
      if (::access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate))
        return candidate.lexically_normal();
    }
  }
  return std::filesystem::path(name);
}

// The program NAME as seen from the running program.
inline std::filesystem::path find_program(std::string_view name) {
  return find_program_from(own_directory(), name);
}

}  // namespace beamfall_tools
