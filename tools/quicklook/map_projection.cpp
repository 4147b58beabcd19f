#include "map_projection.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <string>

#include "kit/error.hpp"

namespace quicklook {

namespace {

constexpr double kA = 6378137.0;            // WGS84 semi-major axis, metres
constexpr double kF = 1.0 / 298.257223563;  // WGS84 flattening
const double kE = std::sqrt(kF * (2.0 - kF));
constexpr double kDeg = std::numbers::pi / 180.0;
constexpr double kUtmScale = 0.9996;
constexpr double kUtmFalseEasting = 500000.0;
constexpr double kUtmFalseNorthingSouth = 10000000.0;

// tan(pi/4 - phi/2) / ((1 - e sin phi) / (1 + e sin phi))^(e/2), the conformal latitude's
// measure from the north pole.
double pole_distance_t(double phi) {
  const double s = std::sin(phi), c = std::cos(phi);
  return c / (1.0 + s) * std::exp(kE * std::atanh(kE * s));
}

}  // namespace

MapProjection::MapProjection(int epsg) {
  if (epsg == 3413 || epsg == 3031) {
    // 3413: standard parallel 70 N, central meridian 45 W; 3031: 71 S, 0.
    polar_ = true;
    sign_ = epsg == 3413 ? 1.0 : -1.0;
    lon0_ = (epsg == 3413 ? -45.0 : 0.0) * kDeg;
    const double phi_c = (epsg == 3413 ? 70.0 : 71.0) * kDeg;  // in the north's sense
    const double s = std::sin(phi_c);
    const double m_c = std::cos(phi_c) / std::sqrt(1.0 - kE * kE * s * s);
    scale_ = kA * m_c / pole_distance_t(phi_c);
    return;
  }
  const int zone = epsg % 100;
  if ((epsg - zone != 32600 && epsg - zone != 32700) || zone < 1 || zone > 60)
    throw kit::ToolError("no closed-form projection for EPSG:" + std::to_string(epsg));
  lon0_ = (6.0 * zone - 183.0) * kDeg;
  false_northing_ = epsg - zone == 32700 ? kUtmFalseNorthingSouth : 0.0;
  const double n = kF / (2.0 - kF), n2 = n * n, n3 = n2 * n, n4 = n3 * n, n5 = n4 * n, n6 = n5 * n;
  scale_ = kUtmScale * kA / (1.0 + n) * (1.0 + n2 / 4.0 + n4 / 64.0 + n6 / 256.0);
  alpha_ = {
      n / 2.0 - 2.0 * n2 / 3.0 + 5.0 * n3 / 16.0 + 41.0 * n4 / 180.0 - 127.0 * n5 / 288.0 +
          7891.0 * n6 / 37800.0,
      13.0 * n2 / 48.0 - 3.0 * n3 / 5.0 + 557.0 * n4 / 1440.0 + 281.0 * n5 / 630.0 -
          1983433.0 * n6 / 1935360.0,
      61.0 * n3 / 240.0 - 103.0 * n4 / 140.0 + 15061.0 * n5 / 26880.0 + 167603.0 * n6 / 181440.0,
      49561.0 * n4 / 161280.0 - 179.0 * n5 / 168.0 + 6601661.0 * n6 / 7257600.0,
      34729.0 * n5 / 80640.0 - 3418889.0 * n6 / 1995840.0,
      212378941.0 * n6 / 319334400.0};
}

void MapProjection::stereographic(double& lon_x, double& lat_y) const {
  // The south pole's case is the north's with latitude and longitude negated, and both
  // coordinates negated after.
  const double dlon = sign_ * (lon_x * kDeg - lon0_);
  const double rho = scale_ * pole_distance_t(sign_ * lat_y * kDeg);
  lon_x = sign_ * rho * std::sin(dlon);
  lat_y = -sign_ * rho * std::cos(dlon);
}

void MapProjection::transverse_mercator(double& lon_x, double& lat_y) const {
  const double lam = lon_x * kDeg - lon0_, phi = lat_y * kDeg;
  const double s = std::sin(phi), c = std::cos(phi);
  const double cos_lam = std::cos(lam), sin_lam = std::sin(lam);
  // The conformal latitude's tangent from the geographic one's.
  const double tau = s / c, sigma = std::sinh(kE * std::atanh(kE * s));
  const double tau_c = tau * std::hypot(1.0, sigma) - sigma * std::hypot(1.0, tau);
  // The spherical transverse Mercator, then Krueger's series in 2 zeta (Clenshaw's sum).
  const double xi = std::atan2(tau_c, cos_lam);
  const double eta = std::asinh(sin_lam / std::hypot(tau_c, cos_lam));
  const std::complex<double> two_zeta(2.0 * xi, 2.0 * eta);
  const std::complex<double> sin2 = std::sin(two_zeta), cos2 = std::cos(two_zeta);
  std::complex<double> b1 = 0.0, b2 = 0.0;
  for (int j = 5; j >= 0; --j) {
    const std::complex<double> b0 = alpha_[static_cast<std::size_t>(j)] + 2.0 * cos2 * b1 - b2;
    b2 = b1;
    b1 = b0;
  }
  const std::complex<double> zeta = std::complex<double>(xi, eta) + b1 * sin2;
  lon_x = kUtmFalseEasting + scale_ * zeta.imag();
  lat_y = false_northing_ + scale_ * zeta.real();
}

void MapProjection::forward(std::span<double> lon_x, std::span<double> lat_y) const {
  const std::size_t n = std::min(lon_x.size(), lat_y.size());
  if (polar_) {
    for (std::size_t k = 0; k < n; ++k)
      stereographic(lon_x[k], lat_y[k]);
  } else {
    for (std::size_t k = 0; k < n; ++k)
      transverse_mercator(lon_x[k], lat_y[k]);
  }
}

}  // namespace quicklook
