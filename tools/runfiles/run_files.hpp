// Readers for the output files of a beamfall run, shared by the checker, the quick-look and
// the campaign: the point file (binary 18-byte records or text lines), the centre file and
// the cross profiles "scan.cal". The large files are
// streamed in blocks (for_each_*), in memory independent of their length; the read_* forms
// collect the same records into a vector for small runs.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace runfiles {

struct PointRecord {
  double thr = 0.0;  // decimal hours
  double lat = 0.0;  // degrees
  double lon = 0.0;
  double h = 0.0;  // metres
  int ampl = 0;
  int i = 0;  // binary form: low 8 bits only
  int gcount = 0;
};

// Binary records or text lines; `bad` counts text lines that are not 47 (50 with averaging)
// characters of readable fields.
std::vector<PointRecord> read_points(const std::string& path, bool binary, bool averaged,
                                     std::int64_t& bad);

// Streams the point file in file order, up to kPointBatch records per call; returns `bad`.
constexpr std::size_t kPointBatch = 4096;
using PointBatchFn = std::function<void(std::span<const PointRecord>)>;
std::int64_t for_each_point_batch(const std::string& path, bool binary, bool averaged,
                                  const PointBatchFn& batch);
std::int64_t for_each_point(const std::string& path, bool binary, bool averaged,
                            const std::function<void(const PointRecord&)>& point);

// Every point's longitude, latitude (degrees) and height (metres), a batch at a time, from a
// LAS file written by beamfall (`las`: X longitude, Y latitude, Z height) or from a point
// file. The vectors are the caller's to change (a projection in place) until the next batch.
using LonLatHeightFn =
    std::function<void(std::vector<double>& lon, std::vector<double>& lat, std::vector<double>& h)>;
void for_each_lon_lat_height(const std::string& path, bool las, bool binary, bool averaged,
                             const LonLatHeightFn& batch);

struct CentreRecord {
  double thr = 0.0, lat = 0.0, lon = 0.0, h = 0.0;
  int ampl = 0;
  double airh = 0.0, range = 0.0;
};

std::vector<CentreRecord> read_centre(const std::string& path, std::int64_t& bad);
// Streams the centre file; returns the number of lines that are not 62 characters of fields.
std::int64_t for_each_centre(const std::string& path,
                             const std::function<void(const CentreRecord&)>& centre);

// One line of "scan.cal": cross-track distance and height, metres.
struct CalRecord {
  double xdist = 0.0;
  double h = 0.0;
};
// Streams "scan.cal"; returns the number of lines that are not two F10.2 numbers (asterisks
// of a value too wide for its field count here).
std::int64_t for_each_cal(const std::string& path,
                          const std::function<void(const CalRecord&)>& cal);

}  // namespace runfiles
