#include "runfiles/las_reader.hpp"

#include <bit>
#include <cstring>
#include <vector>

#include "runfiles/block_reader.hpp"
#include "runfiles/text.hpp"

namespace runfiles {

namespace {

static_assert(std::endian::native == std::endian::little);

// Offsets of the public header block and of point data record format 6.
constexpr std::size_t kHeaderSize = 375;
constexpr std::size_t kVersionMajor = 24, kVersionMinor = 25, kHeaderSizeField = 94;
constexpr std::size_t kOffsetToPoints = 96, kFormat = 104, kRecordLength = 105;
constexpr std::size_t kScale = 131, kOffset = 155, kPointCount = 247;
constexpr std::size_t kFormat6Length = 30;
constexpr std::size_t kX = 0, kY = 4, kZ = 8, kIntensity = 12, kGpsTime = 22;
constexpr std::size_t kBatch = 4096;

template <typename T>
T field(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

LasPoint decode_point(const char* p, const LasHeader& h) {
  LasPoint q;
  q.x = field<std::int32_t>(p + kX) * h.scale[0] + h.offset[0];
  q.y = field<std::int32_t>(p + kY) * h.scale[1] + h.offset[1];
  q.z = field<std::int32_t>(p + kZ) * h.scale[2] + h.offset[2];
  q.intensity = field<std::uint16_t>(p + kIntensity);
  q.gps_time = field<double>(p + kGpsTime);
  return q;
}

}  // namespace

LasHeader decode_las_header(std::span<const char> bytes, const std::string& path) {
  const auto fail = [&](const std::string& what) { throw ToolError(path + ": " + what); };
  if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), "LASF", 4) != 0)
    fail("not a LAS 1.4 file (no 375-byte header starting with LASF)");
  const char* p = bytes.data();
  LasHeader h;
  h.version_major = static_cast<unsigned char>(p[kVersionMajor]);
  h.version_minor = static_cast<unsigned char>(p[kVersionMinor]);
  if (h.version_major != 1 || h.version_minor < 4)
    fail("LAS version " + std::to_string(h.version_major) + "." + std::to_string(h.version_minor) +
         ", not 1.4");
  if (field<std::uint16_t>(p + kHeaderSizeField) < kHeaderSize) fail("header size below 375");
  h.offset_to_points = field<std::uint32_t>(p + kOffsetToPoints);
  h.format = static_cast<unsigned char>(p[kFormat]);
  h.record_length = field<std::uint16_t>(p + kRecordLength);
  h.point_count = field<std::uint64_t>(p + kPointCount);
  for (int k = 0; k < 3; ++k) {
    h.scale[k] = field<double>(p + kScale + 8 * k);
    h.offset[k] = field<double>(p + kOffset + 8 * k);
  }
  if (h.format != 6) fail("point data record format " + std::to_string(h.format) + ", not 6");
  if (h.record_length < kFormat6Length) fail("point record length below 30 bytes");
  if (h.offset_to_points < kHeaderSize) fail("offset to point data inside the header");
  for (double s : h.scale)
    if (!(s > 0.0)) fail("scale factor not positive");
  return h;
}

LasHeader for_each_las_point(const std::string& path,
                             const std::function<void(std::span<const LasPoint>)>& batch) {
  BlockReader in(path);
  const char* head = nullptr;
  if (!in.next_record(kHeaderSize, head))
    throw ToolError(path + ": not a LAS 1.4 file (shorter than its 375-byte header)");
  const LasHeader h = decode_las_header({head, kHeaderSize}, path);
  const char* skip = nullptr;
  if (h.offset_to_points > kHeaderSize && !in.next_record(h.offset_to_points - kHeaderSize, skip))
    throw ToolError(path + ": ends before its point data");
  std::vector<LasPoint> points;
  points.reserve(kBatch);
  const char* rec = nullptr;
  for (std::uint64_t n = 0; n < h.point_count; ++n) {
    if (!in.next_record(h.record_length, rec))
      throw ToolError(path + ": ends after " + std::to_string(n) + " of " +
                      std::to_string(h.point_count) + " points");
    points.push_back(decode_point(rec, h));
    if (points.size() == kBatch) {
      batch(points);
      points.clear();
    }
  }
  if (!points.empty()) batch(points);
  return h;
}

}  // namespace runfiles
