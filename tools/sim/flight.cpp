#include "flight.hpp"

#include <cmath>

#include "runfiles/text.hpp"
#include "wgs84.hpp"

namespace bsim {

using namespace runfiles;  // the shared readers and text helpers

namespace {

constexpr double kGravity = 9.80665;  // m/s^2

double smoothstep(double x) {
  if (x <= 0.0) return 0.0;
  if (x >= 1.0) return 1.0;
  return x * x * (3.0 - 2.0 * x);
}

// Turn rate in degrees per second at tau seconds after the first scan.
double turn_rate_at(const FlightPlan& p, double tau) {
  if (p.turn_duration <= 0.0) return 0.0;
  const double ramp = std::min(3.0, 0.5 * p.turn_duration);
  const double in = smoothstep((tau - p.turn_start) / ramp);
  const double out = smoothstep((p.turn_start + p.turn_duration - tau) / ramp);
  return p.turn_rate * std::min(in, out);
}

double wrap180(double deg) {
  while (deg >= 180.0)
    deg -= 360.0;
  while (deg < -180.0)
    deg += 360.0;
  return deg;
}

}  // namespace

std::vector<TrajSample> fly(const FlightPlan& p) {
  double phase[6];
  for (int k = 0; k < 6; ++k) {
    phase[k] = 2.0 * kPi * uniform01(p.seed, 99, static_cast<std::uint64_t>(k));
  }
  const double rate = p.rate * p.oversample;
  const double j0 = std::floor((p.t_first - 1.5) * p.rate) * p.oversample;
  const double j1 = std::ceil((p.t_first + p.duration + 1.5) * p.rate) * p.oversample;
  const int substeps = 20;
  const double dt = 1.0 / (rate * substeps);
  double lat = p.lat0 * kDeg;
  double lon = p.lon0 * kDeg;
  double track = p.track0;
  std::vector<TrajSample> out;
  for (double j = j0; j <= j1; j += 1.0) {
    const double t = j / rate;
    const double tau = t - p.t_first;
    const double two_pi = 2.0 * kPi;
    const double omega = turn_rate_at(p, tau);
    TrajSample s;
    s.t = t / 3600.0;
    s.lat = lat / kDeg;
    s.lon = lon / kDeg;
    s.h = p.altitude + p.wobble * 1.5 * std::sin(two_pi * tau / 27.0 + phase[5]);
    const double bank = std::atan(p.speed * omega * kDeg / kGravity) / kDeg;
    s.roll = bank + p.wobble * (0.6 * std::sin(two_pi * tau / 6.3 + phase[0]) +
                                0.25 * std::sin(two_pi * tau / 2.1 + phase[1]));
    s.pitch = p.pitch + p.wobble * (0.3 * std::sin(two_pi * tau / 9.7 + phase[2]) +
                                    0.1 * std::sin(two_pi * tau / 3.1 + phase[3]));
    s.heading = wrap180(track + p.crab + p.wobble * 0.3 * std::sin(two_pi * tau / 15.0 + phase[4]));
    TrajSample back;
    parse_sample(format_sample(s), back);
    out.push_back(back);
    // Midpoint steps of the ground track on the ellipsoid to the next sample.
    for (int k = 0; k < substeps; ++k) {
      const double tk = tau + k * dt;
      const double r_n = meridian_radius(lat) + s.h;
      const double tr_mid = track + 0.5 * dt * turn_rate_at(p, tk);
      const double lat_mid = lat + 0.5 * dt * p.speed * std::cos(track * kDeg) / r_n;
      const double r_n_mid = meridian_radius(lat_mid) + s.h;
      const double r_e_mid = (normal_radius(lat_mid) + s.h) * std::cos(lat_mid);
      lat += dt * p.speed * std::cos(tr_mid * kDeg) / r_n_mid;
      lon += dt * p.speed * std::sin(tr_mid * kDeg) / r_e_mid;
      track += dt * turn_rate_at(p, tk + 0.5 * dt);
    }
    track = wrap180(track);
  }
  return out;
}

std::vector<TrajSample> with_noise(std::vector<TrajSample> samples, const TrajectoryNoise& noise,
                                   std::uint64_t seed) {
  if (noise.position <= 0.0 && noise.attitude <= 0.0) return samples;
  // Six processes: north, east, up, roll, pitch, heading; streams apart from the range noise's
  // (keyed by scan number) and the other draws.
  const std::uint64_t stream = 0x7a6e0000;
  const double sigma[6] = {noise.position, noise.position, noise.position,
                           noise.attitude, noise.attitude, noise.attitude};
  double x[6];
  for (int c = 0; c < 6; ++c)
    x[c] = sigma[c] * normal01(seed, stream + static_cast<std::uint64_t>(c), 0);
  for (std::size_t k = 0; k < samples.size(); ++k) {
    if (k > 0) {
      const double phi = std::exp(-(samples[k].t - samples[k - 1].t) * 3600.0 / noise.tau);
      for (int c = 0; c < 6; ++c)
        x[c] = phi * x[c] + std::sqrt(1.0 - phi * phi) * sigma[c] *
                                normal01(seed, stream + static_cast<std::uint64_t>(c), k);
    }
    TrajSample& s = samples[k];
    const double lat = s.lat * kDeg;
    s.lat += x[0] / (meridian_radius(lat) + s.h) / kDeg;
    s.lon += x[1] / ((normal_radius(lat) + s.h) * std::cos(lat)) / kDeg;
    s.h += x[2];
    s.roll += x[3];
    s.pitch += x[4];
    s.heading = wrap180(s.heading + x[5]);
    TrajSample back;
    parse_sample(format_sample(s), back);
    s = back;
  }
  return samples;
}

}  // namespace bsim
