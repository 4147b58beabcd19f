#include "output/las.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "georef/geolocate.hpp"
#include "output/points.hpp"
#include "textio/bytes.hpp"
#include "textio/infile.hpp"
#include "textio/rounding.hpp"
#include "textio/units.hpp"

namespace bf {
namespace {

// Days from 1970-01-01 to a day of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

struct LeapStep {
  int year, month;  // the step takes effect at 0 h UTC on the 1st of this month
};

// Every leap second inserted since GPS time began; GPS - UTC grows by one at each.
constexpr LeapStep kLeapSteps[] = {{1981, 7}, {1982, 7}, {1983, 7}, {1985, 7}, {1988, 1},
                                   {1990, 1}, {1991, 1}, {1992, 7}, {1993, 7}, {1994, 7},
                                   {1996, 1}, {1997, 7}, {1999, 1}, {2006, 1}, {2009, 1},
                                   {2012, 7}, {2015, 7}, {2017, 1}};

template <class T>
void put(unsigned char* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// Copies text into a zero-filled fixed field, cut to the field's width.
void put_text(unsigned char* p, std::size_t width, const std::string& text) {
  std::memset(p, 0, width);
  std::memcpy(p, text.data(), std::min(width, text.size()));
}

// True when y (not NaN) rounds into the 32-bit range.
inline bool fits_int32(double y) {
  return (y > -2147483648.5) & (y < 2147483647.5);
}

// Scan angle in units of 0.006 degrees from the vertical, counter-clockwise
// seen from behind (to the right of the aircraft) positive: the beam's angle
// in the body frame (scanang is positive to the left) less the roll (right
// wing down turns the beam to the left).
inline double las_scan_angle_units(double scanang, double roll) {
  constexpr double kUnitsPerDegree = 1 / 0.006;
  constexpr double kUnitsPerRadian = kUnitsPerDegree / kDegToRad;
  return -(scanang * kUnitsPerRadian + roll * kUnitsPerDegree);
}

// The scan angle field of units beyond +-180 degrees (a roll that went
// round) or NaN.
std::int16_t wrapped_scan_angle(double units) {
  units = std::remainder(units, 60000);  // into -180 .. 180
  if (!fits_int32(units)) return 0;      // NaN: no attitude
  return static_cast<std::int16_t>(round_half_away_int32(units));
}

inline void widen(LasWriter::IntRange& r, std::int32_t v) {
  r.lo = v < r.lo ? v : r.lo;
  r.hi = v > r.hi ? v : r.hi;
}

std::string wkt_quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    out += c;
    if (c == '"') out += '"';  // WKT doubles a quote inside a quoted text
  }
  return out + "\"";
}

constexpr const char* kGeogcsWgs84 =
    R"(GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563,)"
    R"(AUTHORITY["EPSG","7030"]],AUTHORITY["EPSG","6326"]],PRIMEM["Greenwich",0,)"
    R"(AUTHORITY["EPSG","8901"]],UNIT["degree",0.0174532925199433,)"
    R"(AUTHORITY["EPSG","9122"]],AUTHORITY["EPSG","4326"]])";
constexpr const char* kMetre = R"(UNIT["metre",1,AUTHORITY["EPSG","9001"]])";

struct KnownVerticalCrs {
  const char* code;
  const char* name;
  const char* datum;
  const char* datum_code;
};

// The geoid-based heights a user is most likely to name.
constexpr KnownVerticalCrs kKnownVertical[] = {
    {"5773", "EGM96 height", "EGM96 geoid", "5171"},
    {"3855", "EGM2008 height", "EGM2008 geoid", "1027"},
    {"5798", "EGM84 height", "EGM84 geoid", "5203"},
};

std::string vert_cs(const std::string& name, const std::string& datum,
                    const std::string& datum_authority, const std::string& authority) {
  return "VERT_CS[" + wkt_quoted(name) + ",VERT_DATUM[" + wkt_quoted(datum) + ",2005" +
         datum_authority + "]," + kMetre + R"(,AXIS["Gravity-related height",UP])" + authority +
         "]";
}

// A vertical CRS named AUTHORITY:CODE; its name goes to `name`.
std::string named_vert_cs(const std::string& crs_name, std::string& name) {
  const auto colon = crs_name.find(':');
  std::string auth = crs_name.substr(0, colon);
  for (char& c : auth)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string code = crs_name.substr(colon + 1);
  const std::string authority = ",AUTHORITY[" + wkt_quoted(auth) + "," + wkt_quoted(code) + "]";
  if (auth == "EPSG") {
    for (const auto& k : kKnownVertical)
      if (code == k.code) {
        name = k.name;
        return vert_cs(k.name, k.datum, ",AUTHORITY[\"EPSG\"," + wkt_quoted(k.datum_code) + "]",
                       authority);
      }
  }
  name = auth + ":" + code;
  return vert_cs(name, "unknown", "", authority);
}

// One extra bytes descriptor (192 bytes) of the Extra Bytes VLR: name at
// byte 4, scale at 112, description at 160.
void put_extra_bytes(unsigned char* d, unsigned char data_type, const char* name,
                     const char* description, double scale) {
  std::memset(d, 0, 192);
  d[2] = data_type;
  if (scale != 0) {
    d[3] = 1 << 3;  // the scale field applies
    put(d + 112, scale);
  }
  put_text(d + 4, 32, name);
  put_text(d + 160, 32, description);
}

void put_vlr_header(unsigned char* v, const char* user, std::uint16_t record_id, std::size_t length,
                    const char* description) {
  std::memset(v, 0, 54);
  put_text(v + 2, 16, user);
  put(v + 18, record_id);
  put(v + 20, static_cast<std::uint16_t>(length));
  put_text(v + 22, 32, description);
}

}  // namespace

LasScale choose_las_scale(const TrajectoryTable& traj) {
  LasScale s;
  if (traj.ngps < 1) return s;
  double lat_lo = 90, lat_hi = -90, lon_lo = 1e300, lon_hi = -1e300, h_top = 0;
  for (std::int32_t k = 1; k <= traj.ngps; ++k) {
    lat_lo = std::min(lat_lo, traj.lat[k]);
    lat_hi = std::max(lat_hi, traj.lat[k]);
    lon_lo = std::min(lon_lo, traj.lon[k]);
    lon_hi = std::max(lon_hi, traj.lon[k]);
    h_top = std::max(h_top, std::fabs(traj.h[k]));
  }
  // A beam up to 76 degrees from the vertical lands within four flying heights.
  const double margin_m = std::max(2000.0, 4 * h_top);
  const double dlat = margin_m * kInvMetresPerDegree;
  const double pole_side = std::min(89.0, std::max(std::fabs(lat_lo), std::fabs(lat_hi)) + dlat);
  const double dlon =
      std::min(180.0, margin_m / (kMetresPerDegree * std::cos(pole_side * kDegToRad)));
  lat_lo -= dlat, lat_hi += dlat, lon_lo -= dlon, lon_hi += dlon;

  // Offsets on whole hundredths of a degree read well in a header dump.
  const double x_off = std::round((lon_lo + lon_hi) / 2 * 100) / 100;
  const double y_off = std::round((lat_lo + lat_hi) / 2 * 100) / 100;
  const double reach = std::max({lon_hi - x_off, x_off - lon_lo, lat_hi - y_off, y_off - lat_lo});
  s.x_offset = x_off;
  s.y_offset = y_off;
  for (double scale : {1e-9, 1e-8, 1e-7}) {
    s.x_scale = s.y_scale = scale;
    if (reach / scale < 2147483647.0) break;
  }
  return s;
}

int gps_minus_utc(int year, int month, int /*day*/) {
  int n = 0;
  for (const auto& step : kLeapSteps)
    if (year > step.year || (year == step.year && month >= step.month)) ++n;
  return n;
}

double adjusted_gps_time_at_day_start(int year, int month, int day, bool utc_scale) {
  const std::int64_t days = days_from_civil(year, month, day) - days_from_civil(1980, 1, 6);
  const int leap = utc_scale ? gps_minus_utc(year, month, day) : 0;
  return static_cast<double>(days * 86400 + leap) - 1e9;
}

std::string las_wkt(const std::string& geoid_name, const std::string& vertical_crs) {
  const std::string geog = kGeogcsWgs84;
  if (geoid_name.empty()) {
    // PROJ's WKT 1 form of EPSG:4979: WKT 1 has no geographic 3D CRS.
    return R"w(COMPD_CS["WGS 84 + Ellipsoid (metre)",)w" + geog +
           R"w(,VERT_CS["Ellipsoid (metre)",VERT_DATUM["Ellipsoid",2002],)w" + kMetre +
           R"(,AXIS["Ellipsoidal height",UP]]])";
  }
  std::string vert_name, vert;
  if (vertical_crs.empty()) {
    vert_name = "height above geoid grid " + geoid_name;
    vert = vert_cs(vert_name, "geoid grid " + geoid_name, "", "");
  } else {
    vert = named_vert_cs(vertical_crs, vert_name);
  }
  return "COMPD_CS[" + wkt_quoted("WGS 84 + " + vert_name) + "," + geog + "," + vert + "]";
}

LasCreationDate las_creation_date(std::int64_t unix_seconds) {
  const std::int64_t days =
      unix_seconds >= 0 ? unix_seconds / 86400 : -((-unix_seconds + 86399) / 86400);
  // Civil year from the day count (inverse of days_from_civil).
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy_march = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy_march + 2) / 153;
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const std::int64_t year = yoe + era * 400 + (month <= 2);
  LasCreationDate d;
  d.year = static_cast<std::uint16_t>(std::clamp<std::int64_t>(year, 0, 65535));
  d.day_of_year = static_cast<std::uint16_t>(days - days_from_civil(year, 1, 1) + 1);
  return d;
}

double MillimetreHistogram::percentile(double q) const {
  if (n_ == 0) return std::numeric_limits<double>::quiet_NaN();
  const auto rank = static_cast<std::uint64_t>(std::ceil(q / 100 * static_cast<double>(n_)));
  std::uint64_t below = 0;
  for (std::uint32_t mm = 0; mm < kBins; ++mm) {
    below += counts_[mm];
    if (below >= std::max<std::uint64_t>(rank, 1)) return mm / 1000.0;
  }
  return (kBins - 1) / 1000.0;
}

namespace {

// A standard deviation in whole millimetres; beyond the field (or NaN) its largest value.
std::uint32_t sigma_mm(double sigma) {
  constexpr double kTop = 4294967295.0;
  const double mm = sigma * 1000 + 0.5;
  return mm >= 0 && mm < kTop ? static_cast<std::uint32_t>(mm) : std::uint32_t{4294967295u};
}

}  // namespace

LasWriter::~LasWriter() {
  try {
    close();
  } catch (...) {
    // the run is stopping already, or close() was called and reported it
  }
}

void LasWriter::create(const std::string& name) {
  file_.create(name, CreateMode::replace_regular);
}

void LasWriter::check_creatable(const std::string& name) {
  OutFile::check_creatable(name, CreateMode::replace_regular);
}

void LasWriter::begin(const LasSetup& setup) {
  setup_ = setup;
  inv_x_ = 1 / setup.scale.x_scale;
  inv_y_ = 1 / setup.scale.y_scale;
  inv_z_ = 1 / setup.scale.z_scale;
  record_length_ = kCoreRecordLength + (setup_.with_gcount ? 13 : 9) + (setup_.with_sigma ? 8 : 0);
  sigma_offset_ = kCoreRecordLength + (setup_.with_gcount ? 13 : 9);
  batch_bytes_ = OutFile::kDefaultBlock / record_length_ * record_length_;
  if (setup_.with_sigma)
    for (auto& h : sigma_mm_)
      h.reset();
  write_header();

  const std::size_t n_extra = extra_fields();
  unsigned char vlr[54];
  put_vlr_header(vlr, "LASF_Projection", 2112, setup_.wkt.size() + 1, "OGC coordinate system WKT");
  file_.write({reinterpret_cast<char*>(vlr), 54});
  file_.write({setup_.wkt.c_str(), setup_.wkt.size() + 1});

  put_vlr_header(vlr, "LASF_Spec", 4, n_extra * 192, "Extra bytes: raw measurement");
  file_.write({reinterpret_cast<char*>(vlr), 54});
  unsigned char d[192];
  put_extra_bytes(d, 2, "amplitude", "amplitude as recorded", 0);
  file_.write({reinterpret_cast<char*>(d), 192});
  put_extra_bytes(d, 6, "measurement index", "index within the scan, 1 = first", 0);
  file_.write({reinterpret_cast<char*>(d), 192});
  put_extra_bytes(d, 6, "range", "range, metres", 0.001);
  file_.write({reinterpret_cast<char*>(d), 192});
  if (setup_.with_gcount) {
    put_extra_bytes(d, 5, "group count", "measurements averaged", 0);
    file_.write({reinterpret_cast<char*>(d), 192});
  }
  if (setup_.with_sigma) {
    put_extra_bytes(d, 5, "sigma_horizontal", "1 sigma horizontal, metres", 0.001);
    file_.write({reinterpret_cast<char*>(d), 192});
    put_extra_bytes(d, 5, "sigma_vertical", "1 sigma vertical, metres", 0.001);
    file_.write({reinterpret_cast<char*>(d), 192});
  }
  next_batch();
  begun_ = true;
}

// The common case calls nothing, so that it needs no saved registers: the
// rare ones (a full batch, a wrapped scan angle) are left to finish_rare().
void LasWriter::add(const OutPoint& p, double roll, std::int64_t scanno) {
  const double fx = (p.lon - setup_.scale.x_offset) * inv_x_;
  const double fy = (p.lat - setup_.scale.y_offset) * inv_y_;
  const double fz = (p.h - setup_.scale.z_offset) * inv_z_;
  if (!(fits_int32(fx) & fits_int32(fy) & fits_int32(fz))) {
    ++left_out_;
    return;
  }
  // The previous record is still in the batch: its flags are known now.
  const bool same_scan = scanno == prev_scanno_;
  // Scan angles fall as the beam sweeps from left to right.
  if (same_scan && p.scanang != prev_scanang_) last_dir_ = p.scanang < prev_scanang_;
  *prev_flags_ = static_cast<char>(last_dir_ << 6 | !same_scan << 7);

  const std::int32_t range_mm = scaled_int(p.range, 1000);
  const double angle_units = las_scan_angle_units(p.scanang, roll);
  const bool angle_wraps = !(std::fabs(angle_units) <= 30000);
  // Return 1 of 1, the flags (set when the next point comes), class 0, user data 0.
  constexpr std::uint32_t kReturnFlagsClass = 0x11;
  auto* r = reinterpret_cast<unsigned char*>(pos_);  // the batch has room for one record
  put(r, round_half_away_int32(fx));
  put(r + 4, round_half_away_int32(fy));
  put(r + 8, round_half_away_int32(fz));
  put(r + 12, static_cast<std::uint16_t>((p.ampl + 128) * 256));
  put(r + 14, kReturnFlagsClass);
  put(r + 18, static_cast<std::int16_t>(round_half_away_int32(angle_wraps ? 0 : angle_units)));
  put(r + 20, setup_.line_id);
  put(r + 22, setup_.gps_day_start + p.thr * kSecondsPerHour);
  r[30] = static_cast<unsigned char>(p.ampl);
  put(r + 31, p.i);
  put(r + 35, range_mm);
  if (setup_.with_gcount) put(r + 39, static_cast<std::uint32_t>(p.gcount));
  pos_ = reinterpret_cast<char*>(r) + record_length_;
  prev_flags_ = reinterpret_cast<char*>(r) + 15;
  prev_scanno_ = scanno;
  prev_scanang_ = p.scanang;
  ++count_;
  if (angle_wraps | (pos_ == batch_end_)) finish_rare(r, angle_units);
}

void LasWriter::add(const OutPoint& p, double roll, std::int64_t scanno, double sigma_horizontal,
                    double sigma_vertical) {
  const std::uint64_t before = count_;
  add(p, roll, scanno);
  if (count_ == before) return;
  // The record just written is the last one in the batch, carried over when
  // the batch was full.
  auto* r = reinterpret_cast<unsigned char*>(pos_ - record_length_ + sigma_offset_);
  const std::uint32_t mm[2] = {sigma_mm(sigma_horizontal), sigma_mm(sigma_vertical)};
  put(r, mm[0]);
  put(r + 4, mm[1]);
  sigma_mm_[0].add(mm[0]);
  sigma_mm_[1].add(mm[1]);
}

void LasWriter::finish_rare(unsigned char* r, double angle_units) {
  if (!(std::fabs(angle_units) <= 30000)) put(r + 18, wrapped_scan_angle(angle_units));
  if (pos_ == batch_end_) next_batch();
}

// Commits the records of the batch so far, their bounds taken first.
void LasWriter::end_batch() {
  if (pos_ == batch_begin_) return;
  widen_bounds(batch_begin_, pos_);
  file_.commit(pos_);
  batch_begin_ = pos_;
}

// Commits the batch and reserves the next one: the whole output buffer, so
// that the file is written in large blocks straight from it. The last record
// waits for its flags: it is carried over to the start of the next batch.
void LasWriter::next_batch() {
  char last[kMaxRecordLength];
  const bool carry = pos_ != batch_begin_;
  if (carry) {
    pos_ -= record_length_;
    std::memcpy(last, pos_, record_length_);
  }
  end_batch();
  pos_ = batch_begin_ = batch_end_ = nullptr;  // a failed write leaves no batch behind
  char* b = file_.reserve(batch_bytes_);
  pos_ = batch_begin_ = b;
  batch_end_ = b + batch_bytes_;
  if (carry) {
    std::memcpy(pos_, last, record_length_);
    prev_flags_ = pos_ + 15;
    pos_ += record_length_;
  }
}

void LasWriter::widen_bounds(const char* from, const char* to) {
  // Plain locals, so that the loop keeps them in registers.
  std::int32_t x_lo = bound_[0].lo, x_hi = bound_[0].hi, y_lo = bound_[1].lo, y_hi = bound_[1].hi,
               z_lo = bound_[2].lo, z_hi = bound_[2].hi;
  for (const char* r = from; r < to; r += record_length_) {
    std::int32_t x, y, z;
    std::memcpy(&x, r, 4);
    std::memcpy(&y, r + 4, 4);
    std::memcpy(&z, r + 8, 4);
    x_lo = std::min(x_lo, x), x_hi = std::max(x_hi, x);
    y_lo = std::min(y_lo, y), y_hi = std::max(y_hi, y);
    z_lo = std::min(z_lo, z), z_hi = std::max(z_hi, z);
  }
  bound_[0] = {x_lo, x_hi};
  bound_[1] = {y_lo, y_hi};
  bound_[2] = {z_lo, z_hi};
}

std::size_t LasWriter::extra_fields() const {
  return 3 + (setup_.with_gcount ? 1 : 0) + (setup_.with_sigma ? 2 : 0);
}

std::size_t LasWriter::point_offset() const {
  return kHeaderSize + 54 + setup_.wkt.size() + 1 + 54 + extra_fields() * 192;
}

void LasWriter::write_header() {
  unsigned char h[kHeaderSize] = {};
  std::memcpy(h, "LASF", 4);
  put(h + 4, setup_.line_id);
  put(h + 6, std::uint16_t{1 | 1 << 4});  // Adjusted Standard GPS Time; CRS as WKT
  h[24] = 1;
  h[25] = 4;
  const std::string name = std::string("Beamfall ") + BEAMFALL_VERSION;
  put_text(h + 26, 32, name);
  put_text(h + 58, 32, name);
  put(h + 90, setup_.created.day_of_year);
  put(h + 92, setup_.created.year);
  put(h + 94, static_cast<std::uint16_t>(kHeaderSize));
  put(h + 96, static_cast<std::uint32_t>(point_offset()));
  put(h + 100, std::uint32_t{2});
  h[104] = 6;
  put(h + 105, static_cast<std::uint16_t>(record_length_));
  // Legacy counts stay 0: format 6 has no legacy form.
  const LasScale& s = setup_.scale;
  const double scale[3] = {s.x_scale, s.y_scale, s.z_scale};
  const double offset[3] = {s.x_offset, s.y_offset, s.z_offset};
  for (int k = 0; k < 3; ++k) {
    put(h + 131 + 8 * k, scale[k]);
    put(h + 155 + 8 * k, offset[k]);
    if (count_ > 0) {
      put(h + 179 + 16 * k, offset[k] + bound_[k].hi * scale[k]);
      put(h + 187 + 16 * k, offset[k] + bound_[k].lo * scale[k]);
    }
  }
  put(h + 247, std::uint64_t{count_});
  put(h + 255, std::uint64_t{count_});  // all of them first returns
  if (begun_) {
    file_.write_at(0, reinterpret_cast<char*>(h), kHeaderSize);
  } else {
    file_.write({reinterpret_cast<char*>(h), kHeaderSize});
  }
}

void LasWriter::close() {
  if (!file_.is_open()) return;
  if (begun_) {
    if (count_ > 0) *prev_flags_ = static_cast<char>(last_dir_ << 6 | 1 << 7);  // last point
    end_batch();
    file_.flush();
    count_written_records();
    write_header();
  }
  file_.close();
}

// A write that failed earlier in the run dropped the records in the buffer:
// the header counts what the file holds, and a record cut short is removed.
void LasWriter::count_written_records() {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file_.name(), ec);
  const std::uintmax_t first = point_offset();
  if (ec || size < first) return;
  const std::uint64_t on_disk = (size - first) / record_length_;
  if (on_disk >= count_ && size == first + count_ * record_length_) return;
  count_ = std::min<std::uint64_t>(count_, on_disk);
  std::filesystem::resize_file(file_.name(), first + count_ * record_length_, ec);
  bounds_from_disk();
}

// The bounds of the records on disk, read back (only after a failed write).
void LasWriter::bounds_from_disk() {
  BinaryInput in(open_for_reading(file_.name()), file_.name());
  const auto first = static_cast<std::int64_t>(point_offset());
  for (std::uint64_t k = 0; k < count_; ++k) {
    const unsigned char* r =
        in.at(first + static_cast<std::int64_t>(k * record_length_), 3 * sizeof(std::int32_t));
    if (r == nullptr) break;
    for (int a = 0; a < 3; ++a) {
      std::int32_t v;
      std::memcpy(&v, r + 4 * a, 4);
      if (k == 0) bound_[a] = IntRange{};
      widen(bound_[a], v);
    }
  }
}

}  // namespace bf
