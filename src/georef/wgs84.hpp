// The WGS84 ellipsoid, on which the rigorous geolocation places points.
#pragma once

namespace bf {

constexpr double kWgs84A = 6378137.0;  // semi-major axis, metres
constexpr double kWgs84F = 1 / 298.257223563;
constexpr double kWgs84E2 = kWgs84F * (2 - kWgs84F);  // first eccentricity squared

}  // namespace bf
