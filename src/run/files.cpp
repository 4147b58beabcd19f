#include "run/files.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "textio/error.hpp"

namespace bf {
namespace {

namespace fs = std::filesystem;

// What a name leads to: an existing file (device and inode), or a file still
// to be created (its directory's device and inode, and the final name), or,
// when even the directory can't be found, the path made absolute.
struct FileIdentity {
  enum class Kind { existing, to_create, unresolved };
  Kind kind = Kind::unresolved;
  dev_t dev = 0;
  ino_t ino = 0;
  std::string name;
  bool shareable = false;  // a terminal, pipe or device: writing there destroys nothing

  bool operator==(const FileIdentity& o) const {
    return kind == o.kind && dev == o.dev && ino == o.ino && name == o.name;
  }
};

// The path a chain of links to nothing ends at: the file that opening the
// name for writing would create.
std::string follow_dangling_links(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::error_code ec;
    fs::path target = fs::read_symlink(path, ec);
    if (ec) break;
    if (target.is_relative()) target = fs::path(path).parent_path() / target;
    path = target.string();
  }
  return path;
}

FileIdentity identify(const std::string& name) {
  FileIdentity id;
  struct stat st {};
  if (::stat(name.c_str(), &st) == 0) {
    id.kind = FileIdentity::Kind::existing;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.shareable = S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
    return id;
  }
  std::error_code ec;
  // Absolute first: a relative name with no existing part would stay relative.
  const fs::path target = fs::absolute(follow_dangling_links(name), ec);
  fs::path resolved = fs::weakly_canonical(target, ec);
  if (ec) resolved = target.lexically_normal();
  if (::stat(resolved.parent_path().c_str(), &st) == 0) {
    id.kind = FileIdentity::Kind::to_create;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.name = resolved.filename().string();
  } else {
    id.name = resolved.string();
  }
  return id;
}

constexpr const char* kReportRole = "the report (standard output)";

struct RunFile {
  std::string role;  // "name line 1 (scanner file)"
  std::string name;
  FileIdentity id;
};

RunFile run_file(std::string role, std::string name) {
  FileIdentity id = identify(name);
  return RunFile{std::move(role), std::move(name), std::move(id)};
}

// A regular file on a standard stream (the deck read from a file, the report
// written to one), known by its device and inode only.
std::optional<RunFile> stream_file(int fd, std::string role) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  RunFile f{std::move(role), std::string(), FileIdentity{}};
  f.id.kind = FileIdentity::Kind::existing;
  f.id.dev = st.st_dev;
  f.id.ino = st.st_ino;
  return f;
}

std::string describe(const RunFile& f) {
  return f.name.empty() ? f.role : f.role + " " + quoted(f.name);
}

[[noreturn]] void clash(const RunFile& output, const RunFile& other) {
  const std::string message =
      "*** file clash: " + describe(output) + " is the same file as " + describe(other);
  if (output.role == kReportRole || other.role == kReportRole) throw ReportClash(message);
  stop(message);
}

}  // namespace

std::vector<RunFileName> run_file_names(const RunPar& par, const RunOptions& options) {
  const bool wrtpts = !is_no_file(par.ptname);
  std::vector<RunFileName> files;
  const auto add = [&files](const char* role, const char* label, std::string name, bool output) {
    if (!name.empty()) files.push_back(RunFileName{role, label, std::move(name), output});
  };
  add("scanner", "name line 1 (scanner file)", file_name(par.scanname), false);
  add("trajectory", "name line 2 (trajectory file)", file_name(par.gpsname), false);
  if (!is_no_file(par.geoidname))
    add("geoid", "name line 3 (geoid grid file)", file_name(par.geoidname), false);
  if (wrtpts) add("points", "name line 4 (point file)", file_name(par.ptname), true);
  add("centre", "name line 5 (centre file)", file_name(par.cenname), true);
  if (par.calib && wrtpts) add("cross_profiles", "the cross-profile file", "scan.cal", true);
  add("las", "--las", options.las_file, true);
  add("manifest", "--manifest", options.manifest, true);
  return files;
}

namespace {

struct RunFileSets {
  std::vector<RunFile> inputs, outputs;
};

RunFileSets identify_run_files(const RunPar& par, const RunOptions& options,
                               StandardStreams streams) {
  RunFileSets sets;
  for (RunFileName& f : run_file_names(par, options))
    (f.output ? sets.outputs : sets.inputs).push_back(run_file(f.label, f.name));
  if (auto deck = stream_file(streams.deck, "the deck (standard input)"))
    sets.inputs.push_back(*deck);
  if (auto report = stream_file(streams.report, kReportRole))
    sets.outputs.insert(sets.outputs.begin(), *report);
  return sets;
}

bool same_file(const RunFile& output, const RunFile& other) {
  return !output.id.shareable && output.id == other.id;
}

// A binary point file is deleted and created anew, a text one overwritten.
CreateMode point_file_mode(const RunPar& par) {
  return par.binout ? CreateMode::replace_regular : CreateMode::truncate;
}

}  // namespace

void check_file_clashes(const RunPar& par, const RunOptions& options, StandardStreams streams) {
  const RunFileSets sets = identify_run_files(par, options, streams);
  const std::vector<RunFile>& outputs = sets.outputs;
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    const RunFile& out = outputs[k];
    for (const RunFile& in : sets.inputs)
      if (same_file(out, in)) clash(out, in);
    for (std::size_t j = 0; j < k; ++j)
      if (same_file(out, outputs[j])) clash(out, outputs[j]);
  }
}

std::optional<std::string> manifest_clash(const RunPar& par, const RunOptions& options,
                                          StandardStreams streams) {
  RunFileSets sets = identify_run_files(par, options, streams);
  std::vector<RunFile>& outputs = sets.outputs;
  const auto manifest = std::find_if(outputs.begin(), outputs.end(),
                                     [](const RunFile& f) { return f.role == "--manifest"; });
  if (manifest == outputs.end()) return std::nullopt;
  const RunFile mine = *manifest;
  outputs.erase(manifest);
  for (const std::vector<RunFile>* set : {&sets.inputs, &outputs})
    for (const RunFile& other : *set)
      if (same_file(mine, other)) return describe(mine) + " is the same file as " + describe(other);
  return std::nullopt;
}

void check_outputs_creatable(const RunPar& par, const RunOptions& options) {
  if (par.wrtpts) OutFile::check_creatable(file_name(par.ptname), point_file_mode(par));
  OutFile::check_creatable(file_name(par.cenname));
  if (par.calib) OutFile::check_creatable("scan.cal");
  if (!options.las_file.empty()) LasWriter::check_creatable(options.las_file);
}

void create_outputs(const RunPar& par, RunFiles& f, const RunOptions& options) {
  if (par.wrtpts) f.points.create(file_name(par.ptname), point_file_mode(par));
  f.centre.create(file_name(par.cenname));
  if (par.calib) f.cal.create("scan.cal");
  if (!options.las_file.empty()) f.las.create(options.las_file);
}

void close_outputs(RunFiles& f) {
  f.points.close();
  f.centre.close();
  f.cal.close();
  f.las.close();
}

void close_outputs_after_stop(RunFiles& f, OutFile* console) {
  for (OutFile* out : {&f.points, &f.centre, &f.cal}) {
    try {
      out->close();
    } catch (const Stop& s) {
      if (console != nullptr) console->free_line({s.what()});
    }
  }
  try {
    f.las.close();  // the last point's flags, the header's counts and bounds
  } catch (const Stop& s) {
    if (console != nullptr) console->free_line({s.what()});
  }
}

}  // namespace bf
