// The campaign record of one flight line (`.campaign-record` in its folder): what the line's
// task ran with and what it produced, written once the line has finished. "Up to date" is
// decided from it, and the summary takes each line's status, time and results from it.
//
// One small versioned JSON object, read and written here only. Anything the reader cannot
// take (corrupt text, another version, a field missing or of the wrong type) counts as no
// record: the line runs again. The sensor options (rigorous, boresight, range offset) are
// written only when used, so records of runs without them stay as they were.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace campaign {

inline constexpr int kRecordVersion = 2;
inline constexpr const char* kRecordName = ".campaign-record";

// A file as the record saw it: its name as the line uses it (relative to the line folder,
// or absolute), its size and modification time; `exists` false when it was not there.
struct FileStamp {
  std::string name;
  bool exists = false;
  std::int64_t size = 0;
  std::int64_t mtime_ns = 0;  // nanoseconds since 1970

  bool operator==(const FileStamp&) const = default;
};

// The options a line ran with; two runs with different options never share outputs.
struct LineOptions {
  bool las = false;
  int line_id = 0;    // with las
  std::string date;   // with las: YYYY-MM-DD
  std::string roll0;  // run --roll0, as given; empty without
  bool quicklook = false;
  bool rigorous = false;
  std::string boresight;     // run --boresight, as given; empty without
  std::string range_offset;  // run --range-offset, as given; empty without
  // run --calibration and the noise model: option and value pairs; empty without
  std::vector<std::string> uncertainty;
  int threads = 1;           // beamfall --threads: never changes an output byte

  bool operator==(const LineOptions&) const = default;
};

// Options that give the same outputs: all alike but the threads.
inline bool same_outputs(LineOptions a, const LineOptions& b) {
  a.threads = b.threads;
  return a == b;
}

struct LineRecord {
  int status = -1;       // exit status of the line's task
  double seconds = 0.0;  // wall time of the task
  LineOptions options;
  FileStamp binary;               // the beamfall program
  std::vector<FileStamp> inputs;  // the deck first, then the files it reads
  std::vector<FileStamp> outputs;
  nlohmann::json manifest;  // beamfall's manifest of the run; null when it wrote none
};

std::string write_record(const LineRecord& r);
// The record in `text`, or nothing when it is not a whole record of this version.
std::optional<LineRecord> read_record(std::string_view text);

// The record in the line folder; nothing when it is absent or unreadable.
std::optional<LineRecord> load_record(const std::string& line_dir);
// Written under a temporary name and renamed, so a reader never sees half a record.
void save_record(const std::string& line_dir, const LineRecord& r);

// The file's stamp now; `name` is kept as given and looked up from `base` when relative.
FileStamp stamp_file(const std::string& base, const std::string& name);

}  // namespace campaign
