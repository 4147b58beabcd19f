// The surface points as an ASPRS LAS 1.4 file, point data record format 6,
// with the raw measurement values as described extra bytes. The header is
// written first with empty counts and completed (counts, bounds) at close.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "input/trajectory.hpp"
#include "output/outpoint.hpp"
#include "textio/outfile.hpp"

namespace bf {

// Integer coordinate = (value - offset) / scale, for X = longitude and
// Y = latitude in degrees and Z = height in metres.
struct LasScale {
  double x_scale = 1e-7, y_scale = 1e-7, z_scale = 0.001;
  double x_offset = 0, y_offset = 0, z_offset = 0;
};

// Scale and offset for the points of a flight over the trajectory samples
// 1 .. ngps: their extent widened by a swath margin, the finest of 1e-9,
// 1e-8 and 1e-7 degrees whose 32-bit range covers it (1e-7 when none does).
LasScale choose_las_scale(const TrajectoryTable& traj);

// Adjusted Standard GPS Time (GPS seconds minus 1e9) at 0 h of a calendar
// day of the trajectory's time scale; with utc_scale the leap seconds
// between UTC and GPS time on that day are added.
double adjusted_gps_time_at_day_start(int year, int month, int day, bool utc_scale);

// GPS minus UTC in seconds on a calendar day (0 before 1981-07-01).
int gps_minus_utc(int year, int month, int day);

// The CRS as OGC 01-009 WKT: WGS 84 longitude and latitude with ellipsoidal
// heights (geoid_name empty), or compound with a vertical CRS for heights
// above the geoid: `vertical_crs` ("EPSG:5773") when given, else one named
// after the geoid grid file.
std::string las_wkt(const std::string& geoid_name, const std::string& vertical_crs);

struct LasCreationDate {
  std::uint16_t day_of_year = 1, year = 1970;
};

// Day of year and year (UTC) of a time in seconds since 1970-01-01.
LasCreationDate las_creation_date(std::int64_t unix_seconds);

struct LasSetup {
  LasScale scale;
  double gps_day_start = 0;  // Adjusted Standard GPS Time at thr = 0 h
  std::uint16_t line_id = 1;
  bool with_gcount = false;  // averaging: the group count as an extra byte field
  bool with_sigma = false;   // each point's sigma_horizontal and sigma_vertical, after them
  std::string wkt;
  LasCreationDate created;
};

// Whole millimetres counted in bins, for percentiles of millions of values
// without keeping them; values from 100 m on share the last bin.
class MillimetreHistogram {
 public:
  static constexpr std::uint32_t kBins = 100000;

  void add(std::uint32_t mm) {
    ++counts_[mm < kBins ? mm : kBins - 1];
    ++n_;
  }
  std::uint64_t count() const { return n_; }
  // The q-th percentile (0 < q <= 100) of the values counted, metres, by the
  // nearest rank: the smallest value with at least q % of them at or below it.
  // NaN when none was counted.
  double percentile(double q) const;
  void reset() { counts_.assign(kBins, 0), n_ = 0; }

 private:
  std::vector<std::uint64_t> counts_;
  std::uint64_t n_ = 0;
};

// Streams points into a LAS file. Records are encoded straight into the
// file's output buffer, a batch filling it at a time; the bounds are taken
// from a batch's records when it is complete. A point's scan direction and
// edge-of-flight-line flags are known only when the next point (or the end)
// comes: they are set in its record while it is still in the batch.
class LasWriter {
 public:
  LasWriter() = default;
  ~LasWriter();  // completes the file without throwing; call close() to see errors
  LasWriter(const LasWriter&) = delete;
  LasWriter& operator=(const LasWriter&) = delete;

  // Creates (replaces) the file; nothing is written until begin().
  void create(const std::string& name);
  // The open error create() would give, found beforehand without touching a
  // file (OutFile::check_creatable).
  static void check_creatable(const std::string& name);
  bool is_open() const { return file_.is_open(); }
  const std::string& name() const { return file_.name(); }

  // Writes the header and the VLRs; points follow.
  void begin(const LasSetup& setup);
  bool begun() const { return begun_; }

  // One surface point of scan `scanno`, after begin(); `roll` is the aircraft
  // roll in degrees (misalignment included) at the point. A point whose
  // coordinates fall outside the 32-bit range is left out and counted.
  void add(const OutPoint& p, double roll, std::int64_t scanno);
  // The same with the point's standard deviations (setup.with_sigma), metres,
  // written as whole millimetres and counted in sigma_histogram.
  void add(const OutPoint& p, double roll, std::int64_t scanno, double sigma_horizontal,
           double sigma_vertical);
  // The sigmas written: 0 horizontal, 1 vertical.
  const MillimetreHistogram& sigma_histogram(int k) const { return sigma_mm_[k]; }

  // Sets the last point's flags, completes the header and closes the file;
  // Stop on a write failure. Safe to call more than once.
  void close();

  std::uint64_t points_written() const { return count_; }
  std::uint64_t points_left_out() const { return left_out_; }

  static constexpr std::size_t kHeaderSize = 375;
  static constexpr std::size_t kCoreRecordLength = 30;  // format 6
  static constexpr std::size_t kMaxRecordLength = kCoreRecordLength + 21;

  // Smallest and largest integer coordinate written (empty until the first).
  struct IntRange {
    std::int32_t lo = std::numeric_limits<std::int32_t>::max();
    std::int32_t hi = std::numeric_limits<std::int32_t>::min();
  };

 private:
  // The rare ends of add(), out of line: a scan angle beyond +-180 degrees,
  // a full batch.
  [[gnu::noinline]] void finish_rare(unsigned char* r, double angle_units);
  void next_batch();
  void end_batch();
  void widen_bounds(const char* from, const char* to);
  void write_header();
  void count_written_records();
  void bounds_from_disk();
  std::size_t point_offset() const;  // header and VLRs
  std::size_t extra_fields() const;

  OutFile file_;
  LasSetup setup_;
  bool begun_ = false;
  double inv_x_ = 1e7, inv_y_ = 1e7, inv_z_ = 1000;

  std::size_t record_length_ = kCoreRecordLength + 9;
  std::size_t batch_bytes_ = 0;  // whole records that fill the output buffer

  // The batch reserved in the output buffer: records from batch_begin_ to
  // pos_ are written but neither committed nor in the bounds yet.
  char* batch_begin_ = nullptr;
  char* pos_ = nullptr;
  char* batch_end_ = nullptr;

  // The last record written, still in the batch: next_batch() carries it over
  // to the next batch, as its flags are set only when the next point comes.
  // Before the first point they go to flag_sink_, as no scan number matches.
  char flag_sink_ = 0;
  char* prev_flags_ = &flag_sink_;
  std::int64_t prev_scanno_ = std::numeric_limits<std::int64_t>::min();
  double prev_scanang_ = 0;
  bool last_dir_ = false;  // the sweep direction seen last

  std::uint64_t count_ = 0, left_out_ = 0;
  IntRange bound_[3];
  std::size_t sigma_offset_ = 0;  // in a record
  MillimetreHistogram sigma_mm_[2];
};

}  // namespace bf
