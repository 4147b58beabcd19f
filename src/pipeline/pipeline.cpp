#include "pipeline/pipeline.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "input/scanrec.hpp"
#include "pipeline/slot_pool.hpp"

namespace bf {

BeamTable::BeamTable(double aunit, const std::optional<Boresight>& boresight)
    : beams_(std::make_unique<Beam[]>(10000)), tans_(std::make_unique<double[]>(10000)) {
  const std::optional<AttitudeTrig> bore =
      boresight ? std::optional(boresight_trig(*boresight)) : std::nullopt;
  for (std::int32_t count = 0; count < 10000; ++count) {
    const double angle = aunit * 2 * count;
    beams_[count] = bore ? make_beam(angle, *bore) : make_beam(angle);
    tans_[count] = std::tan(beams_[count].scanang);
  }
}

PointPipeline::PointPipeline(const PipelineConfig& cfg, const TrajectoryTable& traj,
                             const GeoidGrid* geoid, const BeamTable* beams, Outputs out)
    : cfg_(cfg),
      traj_(traj),
      geoid_(geoid),
      beams_(beams),
      out_(out),
      geometry_(!cfg.useatt    ? Geometry::profile
                : cfg.rigorous ? Geometry::rigorous
                               : Geometry::flat) {
  caches_.series.emplace(traj);
  if (geoid != nullptr) caches_.geoid.emplace(*geoid);
  if (cfg.boresight) bore_ = boresight_trig(*cfg.boresight);
}

template <Geometry G, bool Geoid, bool Sigma>
LocatedPoint PointPipeline::locate(const Measurement& m, const AircraftState& s,
                                   const TrajectoryPlace& place, LocateCaches& c) const {
  const Beam beam = m.angle_count >= 0 ? (*beams_)[m.angle_count]
                    : bore_            ? make_beam(m.angle, *bore_)
                                       : make_beam(m.angle);
  GeoidLookup* geoid = Geoid ? &*c.geoid : nullptr;
  LocatedPoint r;
  AttitudeTrig trig;
  if constexpr (G != Geometry::profile) c.trig.eval(s, trig);
  if constexpr (G != Geometry::profile && Sigma)
    r.sigma =
        point_sigma(m.range, beam, trig, cfg_.arm, cfg_.noise->nav_at(m.thr), cfg_.noise->sensor);
  if constexpr (G == Geometry::flat) {
    r.sp = geolocate_full(m.range, beam, s, trig, cfg_.arm, geoid);
  } else if constexpr (G == Geometry::rigorous) {
    const RigorousPoint rp = geolocate_rigorous(m.range, beam, s, trig,
                                                c.series->at(place, s, trig.cL), cfg_.arm, geoid);
    r.sp = rp.point;
    r.xdist = rp.xdist;
  } else {
    AircraftState moving = s;
    speed_at(traj_, place, moving);
    r.sp = geolocate_profile(m.range, beam, m.thr, moving, cfg_.arm, geoid);
  }
  return r;
}

namespace {

// The point of one measurement when no averaging is done.
[[gnu::always_inline]] inline OutPoint single_point(const Measurement& m, const AircraftState& s,
                                                    const SurfacePoint& sp) {
  OutPoint p;
  p.thr = m.thr;
  p.lat = sp.lat;
  p.lon = sp.lon;
  p.h = sp.h;
  p.h_a = s.h_a;
  p.scanang = sp.scanang;
  p.ampl = m.ampl;
  p.i = m.i;
  p.range = m.range;
  return p;
}

}  // namespace

template <Geometry G>
double PointPipeline::cross_distance(const Measurement& m, const OutPoint& p, double xdist) const {
  if constexpr (G != Geometry::rigorous) {
    if (cfg_.calib) {
      const double tan_scanang = (cfg_.naver <= 1 && m.angle_count >= 0)
                                     ? beams_->tan(m.angle_count)
                                     : std::tan(p.scanang);
      return tan_scanang * p.h_a;
    }
  }
  return xdist;
}

template <Geometry G, bool Geoid, PointFormat Format, LasMode Las>
void PointPipeline::process_as(Measurement& m, const AircraftState& s, const TrajectoryPlace& place,
                               std::int64_t nscans) {
  constexpr bool sigma = Las == LasMode::sigma;
  LocatedPoint loc = locate<G, Geoid, sigma>(m, s, place, caches_);
  OutPoint p;
  if (cfg_.naver > 1) {
    if (!average<G, sigma>(m, loc.sp, s.h_a, loc.xdist, p, loc.sigma)) return;
    p.i = m.i;
    p.range = m.range;
  } else {
    p = single_point(m, s, loc.sp);
  }
  emit<Format, Las>(p, cross_distance<G>(m, p, loc.xdist), s.roll, m.scanno, nscans, loc.sigma);
}

LasMode PointPipeline::las_mode() const {
  if (out_.las == nullptr) return LasMode::none;
  return cfg_.noise ? LasMode::sigma : LasMode::plain;
}

PointFormat PointPipeline::format() const {
  if (out_.points == nullptr) return PointFormat::none;
  return cfg_.binout ? PointFormat::binary : PointFormat::text;
}

namespace {

// Picks the instantiation of a member template for the run's settings.
template <class Fn, template <Geometry, bool, PointFormat, LasMode> class Pick, Geometry G,
          bool Geoid, PointFormat Format>
Fn pick_las(LasMode las) {
  switch (las) {
    case LasMode::plain:
      return Pick<G, Geoid, Format, LasMode::plain>::fn;
    case LasMode::sigma:
      return Pick<G, Geoid, Format, LasMode::sigma>::fn;
    default:
      return Pick<G, Geoid, Format, LasMode::none>::fn;
  }
}

template <class Fn, template <Geometry, bool, PointFormat, LasMode> class Pick, Geometry G,
          bool Geoid>
Fn pick_format(PointFormat format, LasMode las) {
  switch (format) {
    case PointFormat::binary:
      return pick_las<Fn, Pick, G, Geoid, PointFormat::binary>(las);
    case PointFormat::text:
      return pick_las<Fn, Pick, G, Geoid, PointFormat::text>(las);
    default:
      return pick_las<Fn, Pick, G, Geoid, PointFormat::none>(las);
  }
}

template <class Fn, template <Geometry, bool, PointFormat, LasMode> class Pick, Geometry G>
Fn pick_geoid(bool geoid, PointFormat format, LasMode las) {
  return geoid ? pick_format<Fn, Pick, G, true>(format, las)
               : pick_format<Fn, Pick, G, false>(format, las);
}

template <class Fn, template <Geometry, bool, PointFormat, LasMode> class Pick>
Fn pick(Geometry geometry, bool geoid, PointFormat format, LasMode las) {
  switch (geometry) {
    case Geometry::profile:
      return pick_geoid<Fn, Pick, Geometry::profile>(geoid, format, las);
    case Geometry::flat:
      return pick_geoid<Fn, Pick, Geometry::flat>(geoid, format, las);
    default:
      return pick_geoid<Fn, Pick, Geometry::rigorous>(geoid, format, las);
  }
}

}  // namespace

template <Geometry G, bool Geoid, PointFormat Format, LasMode Las>
struct PointPipeline::ProcessPick {
  static constexpr auto fn = &PointPipeline::process_one<G, Geoid, Format, Las>;
};

template <Geometry G, bool Geoid, PointFormat Format, LasMode Las>
void PointPipeline::process_one(Measurement& m, const AircraftState& s,
                                const TrajectoryPlace& place, std::int64_t nscans) {
  process_as<G, Geoid, Format, Las>(m, s, place, nscans);
}

template <class Reader>
template <Geometry G, bool Geoid, PointFormat Format, LasMode Las>
struct PointPipeline::LoopPick<Reader>::With {
  static constexpr auto fn = &PointPipeline::loop_as<Reader, G, Geoid, Format, Las>;
};

void PointPipeline::process(Measurement& m, const AircraftState& s, const TrajectoryPlace& place,
                            std::int64_t nscans) {
  using Fn = void (PointPipeline::*)(Measurement&, const AircraftState&, const TrajectoryPlace&,
                                     std::int64_t);
  (this->*pick<Fn, ProcessPick>(geometry_, geoid_ != nullptr, format(), las_mode()))(
      m, s, place, nscans);
}

template <class Reader, Geometry G, bool Geoid, PointFormat Format, LasMode Las>
void PointPipeline::loop_as(Reader& reader, MeasurementGate& gate, Measurement& m,
                            const LoopTick& tick) {
  gate.for_each(
      reader, m,
      [this, &reader](Measurement& accepted, const AircraftState& s, const TrajectoryPlace& place) {
        process_as<G, Geoid, Format, Las>(accepted, s, place, reader.timing().nscans);
      },
      tick);
}

template <class Reader>
void PointPipeline::run_loop(Reader& reader, MeasurementGate& gate, Measurement& m,
                             const LoopTick& tick) {
  using Fn = void (PointPipeline::*)(Reader&, MeasurementGate&, Measurement&, const LoopTick&);
  (this->*pick<Fn, LoopPick<Reader>::template With>(geometry_, geoid_ != nullptr, format(),
                                                    las_mode()))(reader, gate, m, tick);
}

// Averaging groups within a scan. Returns true when a group was closed; its
// means are then in p.
template <Geometry G, bool Sigma>
bool PointPipeline::average(Measurement& m, const SurfacePoint& sp, double h_a, double& xdist,
                            OutPoint& p, PointSigma& sigma) {
  const double point_xdist = xdist;
  const PointSigma point_sigma = sigma;
  auto open_group = [&] {
    group_ = Group{true, m.thr, sp.lat, sp.lon, sp.h, h_a, sp.scanang, static_cast<double>(m.ampl),
                   1,    m.i};
    if constexpr (G == Geometry::rigorous) group_xdist_ = point_xdist;
    if constexpr (Sigma) {
      group_var_h_ = point_sigma.horizontal * point_sigma.horizontal;
      group_var_v_ = point_sigma.vertical * point_sigma.vertical;
    }
  };
  if (m.newscan || !group_.open) {
    // A group left open from the previous scan is discarded.
    open_group();
    m.newscan = false;
    return false;
  }
  if (std::int64_t{m.i} - group_.i0 < cfg_.naver) {
    group_.thr += m.thr;
    group_.lat += sp.lat;
    group_.lon += sp.lon;
    group_.h += sp.h;
    group_.h_a += h_a;
    group_.scanang += sp.scanang;
    if constexpr (G == Geometry::rigorous) group_xdist_ += point_xdist;
    if constexpr (Sigma) {
      group_var_h_ += point_sigma.horizontal * point_sigma.horizontal;
      group_var_v_ += point_sigma.vertical * point_sigma.vertical;
    }
    group_.ampl += m.ampl;
    ++group_.gcount;
    return false;
  }
  const auto n = static_cast<double>(group_.gcount);
  p.thr = group_.thr / n;
  p.lat = group_.lat / n;
  p.lon = group_.lon / n;
  p.h = group_.h / n;
  p.h_a = group_.h_a / n;
  p.scanang = group_.scanang / n;
  if constexpr (G == Geometry::rigorous) xdist = group_xdist_ / n;
  // The group's measurements are milliseconds apart, within one correlation
  // time of the navigation's errors: their mean is taken as uncertain as they
  // are (the root of their mean variance). The range's own noise, which the
  // mean does shrink, is overstated by up to the root of the group's size.
  if constexpr (Sigma) sigma = {std::sqrt(group_var_h_ / n), std::sqrt(group_var_v_ / n)};
  p.ampl = static_cast<std::int8_t>(static_cast<std::int32_t>(std::trunc(group_.ampl / n + 0.5)));
  p.gcount = group_.gcount;
  open_group();
  return true;
}

template <PointFormat Format, LasMode Las>
void PointPipeline::emit(const OutPoint& p, double xdist, double roll, std::int64_t scanno,
                         std::int64_t nscans, const PointSigma& sigma) {
  if constexpr (Format == PointFormat::binary) {
    auto* rec = reinterpret_cast<unsigned char*>(out_.points->reserve(18));
    encode_point_record(p, rec);
    out_.points->commit(reinterpret_cast<char*>(rec + 18));
  } else if constexpr (Format == PointFormat::text) {
    char* line = out_.points->reserve(64);
    out_.points->commit(format_point_line(line, p, cfg_.naver > 1));
  }
  if constexpr (Las == LasMode::plain) out_.las->add(p, roll, scanno);
  if constexpr (Las == LasMode::sigma)
    out_.las->add(p, roll, scanno, sigma.horizontal, sigma.vertical);
  if (is_centre_point(p, centre_))
    centre_test(p, scanno, nscans, centre_, *out_.centre, *out_.console);
  ++npout_;
  centre_.prevang = p.scanang;
  if (cfg_.calib) add_cross_distance(xdist, p.h, sums_, *out_.cal);
}

// ---------------------------------------------------------------------------
// The loop on threads

namespace {

constexpr std::size_t kBlockItems = 2048;
// A text point line is formatted into a reserve of 64 bytes, as emit() does.
constexpr std::size_t kRecordStride = 64;

// The bytes a block keeps for each point's record.
template <PointFormat Format>
constexpr std::size_t record_stride() {
  return Format == PointFormat::binary ? 18 : kRecordStride;
}

// Blocks in flight: enough to keep every thread busy while the oldest is
// written, few enough to keep memory small (each holds about 0.7 MB).
std::size_t block_slots(int threads) {
  return std::min<std::size_t>(2 * static_cast<std::size_t>(threads) + 2, 40);
}

}  // namespace

struct PointPipeline::Block {
  // An accepted measurement as the gate handed it on.
  struct Item {
    Measurement m;
    AircraftState s;
    TrajectoryPlace place;
    std::int64_t nscans = 0;  // scans read when it was delivered
  };

  std::vector<Item> items = std::vector<Item>(kBlockItems);
  std::size_t count = 0;
  AttitudeTrigCache trig;  // as the first item finds it
  // The reader's report lines written before the first item, after the last.
  std::string head, tail;

  // Averaging: each measurement geolocated. Otherwise each point, its
  // cross-profile distance and its point record and cross-profile line.
  std::vector<LocatedPoint> located = std::vector<LocatedPoint>(kBlockItems);
  std::vector<OutPoint> points = std::vector<OutPoint>(kBlockItems);
  std::vector<double> xdist = std::vector<double>(kBlockItems);
  std::vector<char> records = std::vector<char>(kBlockItems * kRecordStride);
  std::vector<unsigned char> record_bytes = std::vector<unsigned char>(kBlockItems);
  std::vector<char> cross_lines = std::vector<char>(kBlockItems * kCrossLineBytes);
};

// What filling blocks carries from one block to the next.
struct PointPipeline::BlockFill {
  BlockFill(OutFile& lines, const LoopTick& t) : reader_lines(lines), tick(t) {}

  OutFile& reader_lines;
  const LoopTick& tick;
  TickCount ticks{tick};
  AttitudeTrigCache trig;  // has followed every measurement taken so far
  Block::Item carry;       // taken but left for the next block
  bool carried = false;
};

// Takes b.items[b.count], just filled in: the caches' state before it is the
// block's when it is the first.
template <Geometry G>
void PointPipeline::take_measurement(Block& b, BlockFill& f) const {
  if (b.count == 0) b.trig = f.trig;
  if constexpr (G != Geometry::profile) f.trig.follow(b.items[b.count].s);
  ++b.count;
}

// Fills b with the next accepted measurements: until it is full, the reader
// ends (false), or a report line of the reader has to go between two of them.
template <Geometry G, class Reader>
bool PointPipeline::fill_block(Reader& reader, MeasurementGate& gate, Measurement& m, Block& b,
                               BlockFill& f) {
  b.count = 0;
  b.head.clear();
  b.tail.clear();
  auto lines_to = [&f](std::string& text) {
    text.assign(f.reader_lines.held_text());
    f.reader_lines.clear_held();
  };
  if (f.carried) {
    lines_to(b.head);
    b.items[0] = f.carry;
    f.carried = false;
    take_measurement<G>(b, f);
  }
  auto take = [&](Measurement& a, const AircraftState& s, const TrajectoryPlace& place) {
    Block::Item& item = b.items[b.count];
    item = Block::Item{a, s, place, reader.timing().nscans};
    // As average() does with the reader's own copy.
    if (cfg_.naver > 1) a.newscan = false;
    if (!f.reader_lines.held_text().empty()) [[unlikely]] {
      if (b.count > 0) {
        f.carry = item;
        f.carried = true;
        return false;
      }
      lines_to(b.head);
    }
    take_measurement<G>(b, f);
    return b.count < kBlockItems;
  };
  try {
    if (gate.for_each_while(reader, m, take, f.tick, f.ticks)) return true;
  } catch (...) {
    lines_to(b.tail);
    throw;
  }
  lines_to(b.tail);
  return false;
}

// The work of the threads: geolocation and, without averaging, the points'
// records. Touches the block and nothing else.
template <Geometry G, bool Geoid, PointFormat Format, bool Sigma>
void PointPipeline::locate_block(Block& b) const {
  LocateCaches c{b.trig, std::nullopt, std::nullopt};
  if constexpr (G == Geometry::rigorous) c.series.emplace(traj_);
  if constexpr (Geoid) c.geoid.emplace(*geoid_);
  for (std::size_t k = 0; k < b.count; ++k) {
    const Block::Item& it = b.items[k];
    const LocatedPoint loc = locate<G, Geoid, Sigma>(it.m, it.s, it.place, c);
    if (cfg_.naver > 1) {
      b.located[k] = loc;
      continue;
    }
    if constexpr (Sigma) b.located[k].sigma = loc.sigma;
    const OutPoint p = single_point(it.m, it.s, loc.sp);
    const double xdist = cross_distance<G>(it.m, p, loc.xdist);
    b.points[k] = p;
    b.xdist[k] = xdist;
    char* rec = &b.records[k * record_stride<Format>()];
    if constexpr (Format == PointFormat::binary) {
      encode_point_record(p, reinterpret_cast<unsigned char*>(rec));
      b.record_bytes[k] = 18;
    } else if constexpr (Format == PointFormat::text) {
      b.record_bytes[k] = static_cast<unsigned char>(format_point_line(rec, p, false) - rec);
    }
    if (cfg_.calib) put_cross_line(&b.cross_lines[k * kCrossLineBytes], xdist, p.h);
  }
}

// emit() for a point whose record and cross-profile line are formatted:
// the same writes in the same order.
template <PointFormat Format, LasMode Las>
void PointPipeline::emit_formatted(const Block& b, std::size_t k) {
  const OutPoint& p = b.points[k];
  const Block::Item& it = b.items[k];
  // Whole reserves copied: a copy of constant size is a few moves, and the
  // bytes past the record are overwritten by the next.
  if constexpr (Format == PointFormat::binary) {
    char* out = out_.points->reserve(18);
    std::memcpy(out, &b.records[k * 18], 18);
    out_.points->commit(out + 18);
  } else if constexpr (Format == PointFormat::text) {
    char* out = out_.points->reserve(kRecordStride);
    std::memcpy(out, &b.records[k * kRecordStride], kRecordStride);
    out_.points->commit(out + b.record_bytes[k]);
  }
  if constexpr (Las == LasMode::plain) out_.las->add(p, it.s.roll, it.m.scanno);
  if constexpr (Las == LasMode::sigma) {
    const PointSigma& sigma = b.located[k].sigma;
    out_.las->add(p, it.s.roll, it.m.scanno, sigma.horizontal, sigma.vertical);
  }
  if (is_centre_point(p, centre_))
    centre_test(p, it.m.scanno, it.nscans, centre_, *out_.centre, *out_.console);
  ++npout_;
  centre_.prevang = p.scanang;
  if (cfg_.calib) {
    add_cross_sums(b.xdist[k], p.h, sums_);
    char* out = out_.cal->reserve(kCrossLineBytes);
    std::memcpy(out, &b.cross_lines[k * kCrossLineBytes], kCrossLineBytes);
    out_.cal->commit(out + kCrossLineBytes);
  }
}

// The ordered stage: the block's report lines and points in the order of the
// file, with the averaging and the sums.
template <Geometry G, PointFormat Format, LasMode Las>
void PointPipeline::write_block(Block& b) {
  if (!b.head.empty()) out_.console->write(b.head);
  if (cfg_.naver > 1) {
    for (std::size_t k = 0; k < b.count; ++k) {
      Block::Item& it = b.items[k];
      LocatedPoint& loc = b.located[k];
      OutPoint p;
      if (!average<G, Las == LasMode::sigma>(it.m, loc.sp, it.s.h_a, loc.xdist, p, loc.sigma))
        continue;
      p.i = it.m.i;
      p.range = it.m.range;
      emit<Format, Las>(p, cross_distance<G>(it.m, p, loc.xdist), it.s.roll, it.m.scanno,
                        it.nscans, loc.sigma);
    }
  } else {
    for (std::size_t k = 0; k < b.count; ++k)
      emit_formatted<Format, Las>(b, k);
  }
  if (!b.tail.empty()) out_.console->write(b.tail);
}

template <class Reader, Geometry G, bool Geoid, PointFormat Format, LasMode Las>
void PointPipeline::blocks_as(Reader& reader, MeasurementGate& gate, Measurement& m,
                              const LoopTick& tick, const BlockRun& run) {
  const std::size_t slots = block_slots(run.threads);
  std::vector<Block> blocks(slots);  // outlives the pool's threads
  const int workers = std::min(run.threads - 1, static_cast<int>(slots));
  SlotPool pool(workers, slots,
                [this, &blocks](std::size_t k) { locate_block<G, Geoid, Format, Las == LasMode::sigma>(blocks[k]);
                });
  BlockFill fill{*run.reader_lines, tick};
  std::size_t posted = 0, written = 0;
  auto write_oldest = [&] {
    const std::size_t k = written % slots;
    pool.wait(k);
    write_block<G, Format, Las>(blocks[k]);
    ++written;
  };
  for (bool more = true; more;) {
    if (posted - written == slots) write_oldest();
    const std::size_t k = posted % slots;
    try {
      more = fill_block<G>(reader, gate, m, blocks[k], fill);
    } catch (...) {
      pool.post(k);
      ++posted;
      while (written < posted)
        write_oldest();
      throw;
    }
    pool.post(k);
    ++posted;
  }
  while (written < posted)
    write_oldest();
}

template <class Reader>
template <Geometry G, bool Geoid, PointFormat Format, LasMode Las>
struct PointPipeline::BlocksPick<Reader>::With {
  static constexpr auto fn = &PointPipeline::blocks_as<Reader, G, Geoid, Format, Las>;
};

template <class Reader>
void PointPipeline::run_blocks(Reader& reader, MeasurementGate& gate, Measurement& m,
                               const BlockRun& run, const LoopTick& tick) {
  using Fn = void (PointPipeline::*)(Reader&, MeasurementGate&, Measurement&, const LoopTick&,
                                     const BlockRun&);
  (this->*pick<Fn, BlocksPick<Reader>::template With>(geometry_, geoid_ != nullptr, format(),
                                                      las_mode()))(reader, gate, m, tick, run);
}

template void PointPipeline::run_loop(BinaryScanReader&, MeasurementGate&, Measurement&,
                                      const LoopTick&);
template void PointPipeline::run_loop(TextScanReader&, MeasurementGate&, Measurement&,
                                      const LoopTick&);

template void PointPipeline::run_blocks(BinaryScanReader&, MeasurementGate&, Measurement&,
                                        const BlockRun&, const LoopTick&);
template void PointPipeline::run_blocks(TextScanReader&, MeasurementGate&, Measurement&,
                                        const BlockRun&, const LoopTick&);

}  // namespace bf
