#include "runfiles/run_files.hpp"

#include <bit>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "runfiles/block_reader.hpp"
#include "runfiles/las_reader.hpp"
#include "runfiles/text.hpp"

namespace runfiles {

namespace {

// A fixed-column field, blanks around it allowed.
bool column(std::string_view line, std::size_t from, std::size_t width, double& v) {
  if (line.size() < from + width) return false;
  std::string_view f = line.substr(from, width);
  while (!f.empty() && f.front() == ' ')
    f.remove_prefix(1);
  return parse_double(f, v);
}

bool column_int(std::string_view line, std::size_t from, std::size_t width, int& v) {
  double d = 0.0;
  if (!column(line, from, width, d)) return false;
  v = static_cast<int>(d);
  return static_cast<double>(v) == d;
}

template <typename T>
T get(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

namespace {

PointRecord decode_binary_point(const char* p) {
  PointRecord r;
  r.thr = get<std::int32_t>(p) * 1e-7;
  r.lat = get<std::int32_t>(p + 4) * 1e-7;
  r.lon = get<std::int32_t>(p + 8) * 1e-7;
  r.h = get<std::int32_t>(p + 12) * 1e-3;
  r.ampl = get<std::int8_t>(p + 16);
  r.i = static_cast<unsigned char>(p[17]);
  return r;
}

bool parse_text_point(std::string_view line, bool averaged, PointRecord& r) {
  const std::size_t width = averaged ? 50 : 47;
  return line.size() == width && column(line, 0, 9, r.thr) && column(line, 9, 10, r.lat) &&
         column(line, 19, 12, r.lon) && column(line, 31, 8, r.h) && line[39] == ' ' &&
         column_int(line, 40, 3, r.ampl) && column_int(line, 43, 4, r.i) &&
         (!averaged || column_int(line, 47, 3, r.gcount));
}

bool parse_centre(std::string_view line, CentreRecord& r) {
  return line.size() == 62 && line[0] == ' ' && column(line, 1, 11, r.thr) &&
         column(line, 12, 10, r.lat) && column(line, 22, 12, r.lon) && column(line, 34, 8, r.h) &&
         line[42] == ' ' && column_int(line, 43, 3, r.ampl) && column(line, 46, 8, r.airh) &&
         column(line, 54, 8, r.range);
}

constexpr std::size_t kBinaryPoint = 18;

}  // namespace

std::int64_t for_each_point_batch(const std::string& path, bool binary, bool averaged,
                                  const PointBatchFn& batch) {
  static_assert(std::endian::native == std::endian::little);
  BlockReader in(path);
  std::vector<PointRecord> records;
  records.reserve(kPointBatch);
  const auto flush = [&] {
    if (!records.empty()) batch(records);
    records.clear();
  };
  std::int64_t bad = 0;
  if (binary) {
    const char* p = nullptr;
    while (in.next_record(kBinaryPoint, p)) {
      records.push_back(decode_binary_point(p));
      if (records.size() == kPointBatch) flush();
    }
    if (in.leftover() != 0) ++bad;  // a last record cut short
  } else {
    std::string_view line;
    PointRecord r;
    while (in.next_line(line)) {
      if (!parse_text_point(line, averaged, r)) {
        ++bad;
        continue;
      }
      records.push_back(r);
      if (records.size() == kPointBatch) flush();
    }
  }
  flush();
  return bad;
}

std::int64_t for_each_point(const std::string& path, bool binary, bool averaged,
                            const std::function<void(const PointRecord&)>& point) {
  return for_each_point_batch(path, binary, averaged, [&](std::span<const PointRecord> rs) {
    for (const PointRecord& r : rs)
      point(r);
  });
}

std::vector<PointRecord> read_points(const std::string& path, bool binary, bool averaged,
                                     std::int64_t& bad) {
  std::vector<PointRecord> out;
  bad = for_each_point_batch(path, binary, averaged, [&](std::span<const PointRecord> rs) {
    out.insert(out.end(), rs.begin(), rs.end());
  });
  return out;
}

std::int64_t for_each_centre(const std::string& path,
                             const std::function<void(const CentreRecord&)>& centre) {
  BlockReader in(path);
  std::int64_t bad = 0;
  std::string_view line;
  CentreRecord r;
  while (in.next_line(line)) {
    if (parse_centre(line, r)) {
      centre(r);
    } else {
      ++bad;
    }
  }
  return bad;
}

std::vector<CentreRecord> read_centre(const std::string& path, std::int64_t& bad) {
  std::vector<CentreRecord> out;
  bad = for_each_centre(path, [&](const CentreRecord& r) { out.push_back(r); });
  return out;
}

std::int64_t for_each_cal(const std::string& path,
                          const std::function<void(const CalRecord&)>& cal) {
  BlockReader in(path);
  std::int64_t bad = 0;
  std::string_view line;
  CalRecord r;
  while (in.next_line(line)) {
    if (line.size() == 20 && column(line, 0, 10, r.xdist) && column(line, 10, 10, r.h)) {
      cal(r);
    } else {
      ++bad;
    }
  }
  return bad;
}

void for_each_lon_lat_height(const std::string& path, bool las, bool binary, bool averaged,
                             const LonLatHeightFn& batch) {
  std::vector<double> lon, lat, h;
  const auto add = [&](double x, double y, double z) {
    lon.push_back(x);
    lat.push_back(y);
    h.push_back(z);
  };
  const auto emit = [&] {
    batch(lon, lat, h);
    lon.clear();
    lat.clear();
    h.clear();
  };
  if (las) {
    for_each_las_point(path, [&](std::span<const LasPoint> ps) {
      for (const LasPoint& p : ps)
        add(p.x, p.y, p.z);
      emit();
    });
    return;
  }
  for_each_point_batch(path, binary, averaged, [&](std::span<const PointRecord> ps) {
    for (const PointRecord& p : ps)
      add(p.lon, p.lat, p.h);
    emit();
  });
}

}  // namespace runfiles
