#include "runfiles/block_reader.hpp"

#include <cstring>

#include "runfiles/text.hpp"

namespace runfiles {

BlockReader::BlockReader(const std::string& path, std::size_t block_bytes)
    : path_(path), buffer_(block_bytes) {
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) throw ToolError("cannot open " + path);
  std::setvbuf(file_, nullptr, _IONBF, 0);  // our own block is the buffer
}

BlockReader::~BlockReader() {
  std::fclose(file_);
}

bool BlockReader::refill() {
  if (at_eof_) return false;
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  // A line longer than the block: the block grows.
  if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
  const std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, file_);
  if (got < buffer_.size() - end_) {
    if (std::ferror(file_)) throw ToolError("cannot read " + path_);
    at_eof_ = true;
  }
  end_ += got;
  return got > 0;
}

bool BlockReader::next_line(std::string_view& line) {
  std::size_t scanned = begin_;
  for (;;) {
    const void* nl = std::memchr(buffer_.data() + scanned, '\n', end_ - scanned);
    if (nl != nullptr) {
      const std::size_t at =
          static_cast<std::size_t>(static_cast<const char*>(nl) - buffer_.data());
      line = std::string_view(buffer_.data() + begin_, at - begin_);
      begin_ = at + 1;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      return true;
    }
    const std::size_t seen = end_ - begin_;
    if (!refill()) {
      if (begin_ == end_) return false;
      line = std::string_view(buffer_.data() + begin_, end_ - begin_);
      begin_ = end_;
      return true;
    }
    scanned = begin_ + seen;
  }
}

bool BlockReader::next_record(std::size_t size, const char*& record) {
  while (end_ - begin_ < size) {
    if (!refill()) return false;
  }
  record = buffer_.data() + begin_;
  begin_ += size;
  return true;
}

}  // namespace runfiles
