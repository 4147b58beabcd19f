#include "georef/tpu.hpp"

#include <algorithm>

#include "textio/units.hpp"

namespace bf {
namespace {

void set_axis(double (&axis)[3], const NedOffset& v) {
  axis[0] = v.n;
  axis[1] = v.e;
  axis[2] = v.d;
}

}  // namespace

SensorNoise sensor_noise_axes(SensorNoise noise, const Boresight* boresight) {
  if (boresight == nullptr) return noise;
  const AttitudeTrig b = boresight_trig(*boresight);
  set_axis(noise.x_s, rotate(b, 1, 0, 0));
  set_axis(noise.y_b, NedOffset{-b.sH, b.cH, 0});
  set_axis(noise.z_b, NedOffset{0, 0, 1});
  return noise;
}

NavSigma nav_sigma_at(std::span<const SigmaEpoch> epochs, double thr) {
  const auto after = std::upper_bound(epochs.begin(), epochs.end(), thr,
                                      [](double t, const SigmaEpoch& e) { return t < e.time; });
  const SigmaEpoch& a = after == epochs.begin() ? *after : *(after - 1);
  const SigmaEpoch& b = after == epochs.end() ? *(after - 1) : *after;
  const double f = b.time > a.time ? (thr - a.time) / (b.time - a.time) : 0;
  const auto mix = [f](double x, double y) { return x + f * (y - x); };
  return {mix(a.north, b.north),
          mix(a.east, b.east),
          mix(a.down, b.down),
          mix(a.roll, b.roll) * kDegToRad,
          mix(a.pitch, b.pitch) * kDegToRad,
          mix(a.heading, b.heading) * kDegToRad};
}

}  // namespace bf
