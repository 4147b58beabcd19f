// Files of fixed-size records of little-endian doubles (the SBET and its accuracy file):
// the size is checked to be a whole number of records before the first one is read, then
// the records are handed out one by one from large blocks.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "runfiles/block_reader.hpp"

namespace sbet {

static_assert(std::endian::native == std::endian::little,
              "the records' doubles are decoded without byte swapping");

// The double at byte `offset` of a record.
inline double le_f64(const char* record, std::size_t offset) {
  double v;
  std::memcpy(&v, record + offset, sizeof v);
  return v;
}

class RecordFile {
 public:
  // Opens `path` and checks its size; ToolError naming the file when it can't be opened,
  // holds no record, or ends inside one (naming that record). `what` names the format in
  // messages ("SBET").
  RecordFile(const std::string& path, std::size_t doubles_per_record, const char* what);

  // The next record's bytes, valid until the next call; false after the last one.
  bool next(const char*& record);
  // The 1-based number of the record last handed out, and the count in the file.
  std::uint64_t number() const { return number_; }
  std::uint64_t count() const { return count_; }
  const std::string& path() const { return reader_.path(); }

  // "PATH, record N: " + why, for the record last handed out.
  [[noreturn]] void fail(const std::string& why) const;

 private:
  runfiles::BlockReader reader_;
  std::size_t record_bytes_;
  std::uint64_t count_ = 0;
  std::uint64_t number_ = 0;
};

}  // namespace sbet
