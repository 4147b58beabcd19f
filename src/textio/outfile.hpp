// Buffered output to a file descriptor: records are formatted straight into
// a large buffer, and every write, the last flush and the close are checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "textio/record.hpp"

namespace bf {

enum class CreateMode { truncate, replace_regular };

class OutFile {
 public:
  static constexpr std::size_t kDefaultBlock = 1 << 20;

  OutFile() = default;
  ~OutFile();  // flushes without throwing; call close() to see errors
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;

  // Creates or overwrites `name` for writing from its start. With
  // replace_regular an existing regular file (or a link to one) is deleted
  // first and a name that exists as anything else is refused. Open error
  // (Stop) on failure.
  void create(const std::string& name, CreateMode mode = CreateMode::truncate,
              std::size_t block = kDefaultBlock);
  // The open error create() would give for `name`, found without creating,
  // truncating or deleting anything (Stop), as far as that can be told
  // beforehand: a missing or read-only directory, a file that can't be
  // written or, with replace_regular, is not a regular file. Terminals, pipes
  // and devices are left to create().
  static void check_creatable(const std::string& name, CreateMode mode = CreateMode::truncate);
  // Writes to an already open descriptor (standard output); not closed here.
  void attach(int fd, std::string name, std::size_t block);
  // Takes whatever is written and drops it, writing nowhere: the report of
  // a caller that wants none. is_open() stays false.
  void discard(std::size_t block = 4096);

  bool is_open() const { return fd_ >= 0; }
  const std::string& name() const { return name_; }
  int fd() const { return fd_; }  // -1 when not open

  // Room for n more bytes (n <= block size); write them, then commit().
  char* reserve(std::size_t n) {
    if (static_cast<std::size_t>(end_ - pos_) < n) make_room();
    return pos_;
  }
  void commit(char* new_pos) { pos_ = new_pos; }

  void write(std::string_view s);
  // One formatted record (format_record's notation), line end included.
  void record(std::string_view format, std::initializer_list<Item> items);
  // One free-format line, line end included.
  void free_line(std::initializer_list<Item> items);

  // Writes out the buffer, then overwrites n bytes at byte `offset` of the
  // file (a header completed at the end); Stop on failure.
  void write_at(std::uint64_t offset, const char* data, std::size_t n);

  void flush();  // write out the buffer; Stop on failure
  void close();  // flush and close; Stop on failure

  // Holds what is written from now on in memory (the buffer grows) until
  // release(), so that drop_held() can still take it back. flush() and
  // close() write it out.
  void hold();
  void release() { held_ = false; }
  void drop_held();  // forgets what was written since hold()
  // What was written since hold(), and forgetting it while holding on: a
  // reader's report lines kept aside to be placed among later lines.
  std::string_view held_text() const {
    return {buf_.get() + held_from_, static_cast<std::size_t>(pos_ - buf_.get()) - held_from_};
  }
  void clear_held() { pos_ = buf_.get() + held_from_; }

 private:
  void flush_buffer();
  void make_room();  // a full buffer: written out, or grown while held

  int fd_ = -1;
  bool owned_ = false;
  std::string name_;
  std::unique_ptr<char[]> buf_;
  char* pos_ = nullptr;
  char* end_ = nullptr;
  bool held_ = false;
  bool discarding_ = false;
  std::size_t held_from_ = 0;  // buffer offset where the held text begins
};

}  // namespace bf
