#include "surface.hpp"

#include <algorithm>
#include <cmath>

#include "runfiles/text.hpp"
#include "wgs84.hpp"

namespace bsim {

using namespace runfiles;  // the shared readers and text helpers

Surface::Surface(SurfaceDef def, const GeoidGrid* geoid) : def_(std::move(def)), geoid_(geoid) {
  lat0_ = def_.lat0 * kDeg;
  lon0_ = def_.lon0 * kDeg;
  m0_ = meridian_radius(lat0_);
  n0c_ = normal_radius(lat0_) * std::cos(lat0_);
  if (def_.on_geoid && geoid_ == nullptr) throw ToolError("a surface on the geoid needs a grid");
  index_ridges();
  constant_ = def_.ridges.empty() && def_.hills.empty() && !def_.on_geoid && def_.slope_n == 0.0 &&
              def_.slope_e == 0.0;
}

void Surface::to_ne(double lat, double lon, double& n, double& e) const {
  n = (lat - lat0_) * m0_;
  double dlon = lon - lon0_;
  if (dlon > kPi) dlon -= 2.0 * kPi;
  if (dlon < -kPi) dlon += 2.0 * kPi;
  e = dlon * n0c_;
}

void Surface::index_ridges() {
  if (def_.ridges.empty()) return;
  double nlo = 1e300, nhi = -1e300, elo = 1e300, ehi = -1e300;
  for (const Ridge& r : def_.ridges) {
    const double reach = r.half_length + 5.0 * r.width;
    nlo = std::min(nlo, r.n - reach);
    nhi = std::max(nhi, r.n + reach);
    elo = std::min(elo, r.e - reach);
    ehi = std::max(ehi, r.e + reach);
  }
  cell_n0_ = nlo;
  cell_e0_ = elo;
  cells_n_ = static_cast<int>((nhi - nlo) / kCell) + 1;
  cells_e_ = static_cast<int>((ehi - elo) / kCell) + 1;
  cells_.assign(static_cast<std::size_t>(cells_n_) * static_cast<std::size_t>(cells_e_), {});
  for (std::size_t k = 0; k < def_.ridges.size(); ++k) {
    const Ridge& r = def_.ridges[k];
    // Bounding box of the segment widened by the cut-off distance.
    const double an = std::cos(r.azimuth * kDeg) * r.half_length;
    const double ae = std::sin(r.azimuth * kDeg) * r.half_length;
    const double w5 = 5.0 * r.width;
    const int i0 = static_cast<int>((r.n - std::abs(an) - w5 - cell_n0_) / kCell);
    const int i1 = static_cast<int>((r.n + std::abs(an) + w5 - cell_n0_) / kCell);
    const int j0 = static_cast<int>((r.e - std::abs(ae) - w5 - cell_e0_) / kCell);
    const int j1 = static_cast<int>((r.e + std::abs(ae) + w5 - cell_e0_) / kCell);
    for (int i = std::max(i0, 0); i <= std::min(i1, cells_n_ - 1); ++i) {
      for (int j = std::max(j0, 0); j <= std::min(j1, cells_e_ - 1); ++j) {
        cells_[static_cast<std::size_t>(i * cells_e_ + j)].push_back(static_cast<int>(k));
      }
    }
  }
}

const std::vector<int>* Surface::cell(double n, double e) const {
  if (cells_.empty()) return nullptr;
  const double fi = (n - cell_n0_) / kCell;
  const double fj = (e - cell_e0_) / kCell;
  if (!(fi >= 0.0 && fj >= 0.0 && fi < cells_n_ && fj < cells_e_)) return nullptr;
  return &cells_[static_cast<std::size_t>(static_cast<int>(fi) * cells_e_ + static_cast<int>(fj))];
}

namespace {

// Offset (dn, de) from the closest point of the ridge's crest segment to (n, e).
void crest_offset(const Ridge& r, double n, double e, double& dn, double& de) {
  const double un = std::cos(r.azimuth * kDeg);
  const double ue = std::sin(r.azimuth * kDeg);
  double s = (n - r.n) * un + (e - r.e) * ue;
  s = std::clamp(s, -r.half_length, r.half_length);
  dn = n - (r.n + s * un);
  de = e - (r.e + s * ue);
}

}  // namespace

Surface::Sample Surface::at(double lat, double lon) const {
  double n = 0.0;
  double e = 0.0;
  to_ne(lat, lon, n, e);
  Sample s;
  s.h = def_.height + def_.slope_n * n + def_.slope_e * e;
  s.dh_dn = def_.slope_n;
  s.dh_de = def_.slope_e;
  if (const std::vector<int>* list = cell(n, e)) {
    for (int k : *list) {
      const Ridge& r = def_.ridges[static_cast<std::size_t>(k)];
      double dn = 0.0;
      double de = 0.0;
      crest_offset(r, n, e, dn, de);
      const double q = (dn * dn + de * de) / (r.width * r.width);
      if (q > 25.0) continue;
      const double bump = r.height * std::exp(-q);
      s.h += bump;
      s.dh_dn += -2.0 * bump * dn / (r.width * r.width);
      s.dh_de += -2.0 * bump * de / (r.width * r.width);
    }
  }
  for (const Hill& hill : def_.hills) {
    const double dn = n - hill.n, de = e - hill.e;
    const double r2 = hill.radius * hill.radius;
    const double q = 1.0 - (dn * dn + de * de) / r2;
    if (q <= 0.0) continue;
    s.h += hill.height * q * q;
    s.dh_dn += -4.0 * hill.height * q * dn / r2;
    s.dh_de += -4.0 * hill.height * q * de / r2;
  }
  if (def_.on_geoid) s.h += geoid_height(*geoid_, lat / kDeg, lon / kDeg);
  return s;
}

bool Surface::level(double lat, double lon) const {
  double n = 0.0;
  double e = 0.0;
  to_ne(lat, lon, n, e);
  for (const Hill& hill : def_.hills) {
    if (std::hypot(n - hill.n, e - hill.e) < hill.radius) return false;
  }
  if (const std::vector<int>* list = cell(n, e)) {
    for (int k : *list) {
      const Ridge& r = def_.ridges[static_cast<std::size_t>(k)];
      double dn = 0.0;
      double de = 0.0;
      crest_offset(r, n, e, dn, de);
      if (dn * dn + de * de <= 25.0 * r.width * r.width) return false;
    }
  }
  return true;
}

bool Surface::on_feature(double lat, double lon) const {
  double n = 0.0;
  double e = 0.0;
  to_ne(lat, lon, n, e);
  if (const std::vector<int>* list = cell(n, e)) {
    for (int k : *list) {
      const Ridge& r = def_.ridges[static_cast<std::size_t>(k)];
      double dn = 0.0;
      double de = 0.0;
      crest_offset(r, n, e, dn, de);
      if (dn * dn + de * de < 9.0 * r.width * r.width) return true;
    }
  }
  return false;
}

void generate_terrain(std::uint64_t seed, double size, std::vector<Ridge>& ridges,
                      std::vector<Hill>& hills) {
  std::uint64_t draw = 0;
  auto u = [&](double lo, double hi) { return lo + (hi - lo) * uniform01(seed, 78, draw++); };
  const double half = 0.5 * size;
  const auto nridges = static_cast<int>(size * size / (250.0 * 250.0));
  for (int k = 0; k < nridges; ++k) {
    Ridge r;
    r.n = u(-half, half);
    r.e = u(-half, half);
    r.azimuth = u(0.0, 180.0);
    r.half_length = u(40.0, 200.0);
    r.height = u(0.5, 2.0);
    r.width = 2.2 * r.height + u(0.0, 3.0);  // steepest flank 0.858 h / w below 0.4
    ridges.push_back(r);
  }
  const auto nhills = std::max(1, static_cast<int>(size * size / (900.0 * 900.0)));
  for (int k = 0; k < nhills; ++k) {
    Hill h;
    h.n = u(-half, half);
    h.e = u(-half, half);
    h.height = u(2.0, 8.0) * (u(0.0, 1.0) < 0.5 ? -1.0 : 1.0);
    h.radius = u(150.0, 450.0);  // steepest slope 1.54 |h| / radius below 0.09
    hills.push_back(h);
  }
}

std::vector<Ridge> generate_ridges(const std::vector<double>& track_n,
                                   const std::vector<double>& track_e, std::uint64_t seed) {
  std::vector<Ridge> out;
  if (track_n.size() < 2) return out;
  std::uint64_t draw = 0;
  auto u = [&](double lo, double hi) { return lo + (hi - lo) * uniform01(seed, 77, draw++); };
  double next = u(40.0, 200.0);
  double walked = 0.0;
  for (std::size_t k = 1; k < track_n.size(); ++k) {
    const double dn = track_n[k] - track_n[k - 1];
    const double de = track_e[k] - track_e[k - 1];
    const double step = std::hypot(dn, de);
    while (step > 0.0 && walked + step >= next) {
      const double f = (next - walked) / step;
      const double side = u(-120.0, 120.0);
      Ridge r;
      r.n = track_n[k - 1] + f * dn - side * de / step;
      r.e = track_e[k - 1] + f * de + side * dn / step;
      r.azimuth = u(0.0, 180.0);
      r.half_length = u(40.0, 200.0);
      r.height = u(0.6, 2.5);
      // Steepest flank of h*exp(-(d/w)^2) is 0.858*h/w: keep it below about 0.4.
      r.width = 2.2 * r.height + u(0.0, 3.0);
      out.push_back(r);
      next += u(80.0, 250.0);
    }
    walked += step;
  }
  return out;
}

}  // namespace bsim
