// Sequential reading of a whole file in large blocks: lines or fixed-size records handed out
// as views into the block, so that no read costs a system call or an allocation.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace runfiles {

class BlockReader {
 public:
  // Throws ToolError "cannot open PATH" when the file cannot be opened for reading.
  explicit BlockReader(const std::string& path, std::size_t block_bytes = std::size_t{1} << 20);
  ~BlockReader();
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  // The next line without its '\n' (a last line without one counts); false at the end.
  // The view stays valid until the next call.
  bool next_line(std::string_view& line);
  // The next `size` bytes; false when fewer remain (their count is then `leftover()`).
  bool next_record(std::size_t size, const char*& record);
  std::size_t leftover() const { return end_ - begin_; }
  const std::string& path() const { return path_; }

 private:
  // Moves the unread bytes to the front and reads more; false when nothing more came.
  bool refill();

  std::string path_;
  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool at_eof_ = false;
};

}  // namespace runfiles
