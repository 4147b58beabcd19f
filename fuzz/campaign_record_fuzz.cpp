// The campaign's line record: any text is either a whole record or none. A record read must
// write and read back to the same record (the up-to-date decision compares what it reads).
#include <cstdint>
#include <string_view>

#include "campaign/folder/record.hpp"
#include "fuzz_util.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<campaign::LineRecord> r = campaign::read_record(text);
  if (!r) return 0;
  const std::optional<campaign::LineRecord> again =
      campaign::read_record(campaign::write_record(*r));
  if (!again) fuzz::finding("a record read does not read back");
  if (again->status != r->status || again->options != r->options || again->binary != r->binary ||
      again->outputs.size() != r->outputs.size() || again->manifest != r->manifest) {
    fuzz::finding("a record read back differs");
  }
  return 0;
}
