// Buffered input: a text stream read in large blocks (or a string, for
// tests), and a positional reader for binary files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace bf {

// Opens an existing regular file for reading; an open error (Stop) when it
// does not exist, can't be read or is a directory.
int open_for_reading(const std::string& name);

// A forward-only character stream over a file descriptor or a fixed string.
class TextInput {
 public:
  static constexpr std::size_t kBlock = 256 * 1024;

  explicit TextInput(std::string_view text);  // reads the text itself
  TextInput(int fd, std::string name);        // takes ownership of fd
  ~TextInput();
  TextInput(const TextInput&) = delete;
  TextInput& operator=(const TextInput&) = delete;

  // The next character, or -1 at the end of the stream.
  int peek() {
    if (p_ == end_ && !refill()) return -1;
    return static_cast<unsigned char>(*p_);
  }
  void advance() { ++p_; }
  // The characters buffered from the current one on (refilled when none are
  // left; empty at the end of the stream), for readers that decode in memory;
  // skip(n) then passes over n of them.
  std::string_view buffered() {
    if (p_ == end_ && !refill()) return {};
    return {p_, static_cast<std::size_t>(end_ - p_)};
  }
  void skip(std::size_t n) { p_ += n; }
  void close();
  // Bytes read from the file so far, for progress (the buffer's end).
  std::int64_t bytes_read() const { return bytes_read_; }
  // The descriptor read, -1 for a string or after close().
  int fd() const { return fd_; }

 private:
  bool refill();

  const char* p_ = nullptr;
  const char* end_ = nullptr;
  int fd_ = -1;
  bool may_block_ = false;  // a pipe or a terminal: a read may wait for input
  std::string name_;
  std::unique_ptr<char[]> buf_;
  std::int64_t bytes_read_ = 0;
};

// Random-access reads of a binary file through a large block buffer, so a
// byte-addressed reader costs no system call per field. Positions are 0-based
// 64-bit offsets.
class BinaryInput {
 public:
  static constexpr std::size_t kBlock = 1 << 20;

  BinaryInput(int fd, std::string name);         // takes ownership of fd
  explicit BinaryInput(std::string_view bytes);  // reads the bytes themselves
  ~BinaryInput();
  BinaryInput(const BinaryInput&) = delete;
  BinaryInput& operator=(const BinaryInput&) = delete;

  // Pointer to n bytes (n <= 64) at offset pos, or nullptr when the file holds
  // fewer. A read failure other than the end of the file throws Stop.
  const unsigned char* at(std::int64_t pos, std::size_t n) {
    if (pos >= base_ && pos - base_ + static_cast<std::int64_t>(n) <= len_)
      return data_ + (pos - base_);
    return load(pos, n);
  }
  // The file offset up to which the file has been read, for progress.
  std::int64_t bytes_read() const { return base_ + len_; }
  const std::string& name() const { return name_; }  // empty for bytes in memory

 private:
  const unsigned char* load(std::int64_t pos, std::size_t n);

  int fd_ = -1;
  std::string name_;
  std::unique_ptr<unsigned char[]> buf_;
  const unsigned char* data_ = nullptr;
  std::int64_t base_ = 0;  // file offset of data_[0]
  std::int64_t len_ = 0;   // valid bytes at data_
  bool memory_ = false;
};

}  // namespace bf
