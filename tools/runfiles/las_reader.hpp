// Reader for LAS 1.4 point files of point data record format 6 (ASPRS LAS 1.4 R15): the
// public header block is checked, then the point records are streamed in blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace runfiles {

struct LasHeader {
  int version_major = 0, version_minor = 0;
  std::uint32_t offset_to_points = 0;  // bytes from the start of the file
  int format = 0;                      // point data record format
  std::uint16_t record_length = 0;     // bytes; at least 30 for format 6 (extra bytes allowed)
  std::uint64_t point_count = 0;       // the 64-bit "Number of Point Records"
  double scale[3] = {0.0, 0.0, 0.0};   // X, Y, Z scale factors
  double offset[3] = {0.0, 0.0, 0.0};  // X, Y, Z offsets
};

// Coordinates after scale and offset, in the file's own units and axes.
struct LasPoint {
  double x = 0.0, y = 0.0, z = 0.0;
  double gps_time = 0.0;
  std::uint16_t intensity = 0;
};

// Decodes and checks the 375-byte header; throws ToolError naming `path` and the field.
LasHeader decode_las_header(std::span<const char> bytes, const std::string& path);

// Streams the points of a format-6 file, up to 4096 per call, in file order. Throws ToolError
// when the file is not one, or when it holds fewer points than its header says.
LasHeader for_each_las_point(const std::string& path,
                             const std::function<void(std::span<const LasPoint>)>& batch);

}  // namespace runfiles
