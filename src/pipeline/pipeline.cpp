#include "pipeline/pipeline.hpp"

#include <cmath>

#include "input/scanrec.hpp"

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
      beams_(beams),
      out_(out),
      series_(traj),
      geometry_(!cfg.useatt    ? Geometry::profile
                : cfg.rigorous ? Geometry::rigorous
                               : Geometry::flat) {
  if (geoid != nullptr) geoid_lookup_.emplace(*geoid);
  if (cfg.boresight) bore_ = boresight_trig(*cfg.boresight);
}

template <Geometry G, bool Geoid, PointFormat Format, LasMode Las>
void PointPipeline::process_as(Measurement& m, const AircraftState& s, const TrajectoryPlace& place,
                               std::int64_t nscans) {
  const Beam beam = m.angle_count >= 0 ? (*beams_)[m.angle_count]
                    : bore_            ? make_beam(m.angle, *bore_)
                                       : make_beam(m.angle);
  GeoidLookup* geoid = Geoid ? &*geoid_lookup_ : nullptr;
  SurfacePoint sp;
  double xdist = 0;  // rigorous mode: the offset across the heading
  AttitudeTrig trig;
  if constexpr (G != Geometry::profile) trig_.eval(s, trig);
  PointSigma sigma;
  if constexpr (G != Geometry::profile && Las == LasMode::sigma)
    sigma =
        point_sigma(m.range, beam, trig, cfg_.arm, cfg_.noise->nav_at(m.thr), cfg_.noise->sensor);
  if constexpr (G == Geometry::flat) {
    sp = geolocate_full(m.range, beam, s, trig, cfg_.arm, geoid);
  } else if constexpr (G == Geometry::rigorous) {
    const RigorousPoint r =
        geolocate_rigorous(m.range, beam, s, trig, series_.at(place, s, trig.cL), cfg_.arm, geoid);
    sp = r.point;
    xdist = r.xdist;
  } else {
    AircraftState moving = s;
    speed_at(traj_, place, moving);
    sp = geolocate_profile(m.range, beam, m.thr, moving, cfg_.arm, geoid);
  }

  OutPoint p;
  if (cfg_.naver > 1) {
    if (!average<G, Las == LasMode::sigma>(m, sp, s.h_a, xdist, p, sigma)) return;
  } else {
    p.thr = m.thr;
    p.lat = sp.lat;
    p.lon = sp.lon;
    p.h = sp.h;
    p.h_a = s.h_a;
    p.scanang = sp.scanang;
    p.ampl = m.ampl;
  }
  p.i = m.i;
  p.range = m.range;
  if constexpr (G != Geometry::rigorous) {
    if (cfg_.calib) {
      const double tan_scanang = (cfg_.naver <= 1 && m.angle_count >= 0)
                                     ? beams_->tan(m.angle_count)
                                     : std::tan(p.scanang);
      xdist = tan_scanang * p.h_a;
    }
  }
  emit<Format, Las>(p, xdist, s.roll, m.scanno, nscans, sigma);
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
  (this->*pick<Fn, ProcessPick>(geometry_, geoid_lookup_.has_value(), format(), las_mode()))(
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
  (this->*pick<Fn, LoopPick<Reader>::template With>(geometry_, geoid_lookup_.has_value(), format(),
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

template void PointPipeline::run_loop(BinaryScanReader&, MeasurementGate&, Measurement&,
                                      const LoopTick&);
template void PointPipeline::run_loop(TextScanReader&, MeasurementGate&, Measurement&,
                                      const LoopTick&);

}  // namespace bf
