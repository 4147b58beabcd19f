#include "records.hpp"

#include <filesystem>
#include <system_error>

#include "runfiles/text.hpp"

namespace sbet {

using runfiles::ToolError;

RecordFile::RecordFile(const std::string& path, std::size_t doubles_per_record, const char* what)
    : reader_(path), record_bytes_(doubles_per_record * sizeof(double)) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) throw ToolError(path + ": " + error.message());
  count_ = size / record_bytes_;
  const std::string layout = std::to_string(record_bytes_) + "-byte " + what + " records";
  if (size % record_bytes_ != 0)
    throw ToolError(path + ": " + std::to_string(size) + " bytes are not a whole number of " +
                    layout + " (record " + std::to_string(count_ + 1) + " is cut short)");
  if (count_ == 0) throw ToolError(path + ": no " + layout + " (the file is empty)");
}

bool RecordFile::next(const char*& record) {
  if (number_ == count_) return false;
  // The size was checked: a record missing now means the file shrank while being read.
  if (!reader_.next_record(record_bytes_, record))
    throw ToolError(path() + ", record " + std::to_string(number_ + 1) + ": the file ended early");
  ++number_;
  return true;
}

void RecordFile::fail(const std::string& why) const {
  throw ToolError(path() + ", record " + std::to_string(number_) + ": " + why);
}

}  // namespace sbet
