// A file replaced whole: the text goes to a new temporary file beside it,
// which is renamed over the name once complete, so a reader finds the old
// file or the new one, never a part of one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "textio/outfile.hpp"

namespace bf {

class WholeFile {
 public:
  WholeFile() = default;
  ~WholeFile();  // removes the temporary file when nothing was committed
  WholeFile(const WholeFile&) = delete;
  WholeFile& operator=(const WholeFile&) = delete;

  // Creates the temporary file beside `name` now, so that a name that can't
  // be written is known at once. A name that is a terminal, pipe or device is
  // opened and later written directly. Open error (Stop) on failure.
  void open(const std::string& name);
  bool is_open() const { return fd_ >= 0; }
  const std::string& name() const { return name_; }
  // The descriptor written, for a buffered writer that fills the file before commit().
  int fd() const { return fd_; }

  // Writes `text` and puts the file in place. Write error (Stop) on failure,
  // the old file then left as it was.
  void commit(std::string_view text);

 private:
  void discard();

  std::string name_, temp_;  // temp_ empty: written directly
  int fd_ = -1;
};

// A whole file written in parts: records formatted into out()'s buffer go to the
// temporary file, and commit() puts the file in place. Destroyed without commit(), it
// leaves no file behind and an existing one as it was.
class StreamedWholeFile {
 public:
  void open(const std::string& name, std::size_t block = OutFile::kDefaultBlock);
  OutFile& out() { return out_; }
  void commit();  // write error (Stop) on failure, the old file then left as it was

 private:
  WholeFile file_;  // declared first: out_ flushes into it before it is removed
  OutFile out_;
};

}  // namespace bf
