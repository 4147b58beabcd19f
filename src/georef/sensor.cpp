#include "georef/sensor.hpp"

#include "georef/rigorous.hpp"

namespace bf {

SurfacePoint geolocate_measurement(double range, double angle_gon, const AircraftState& s,
                                   const SensorModel& sensor, bool rigorous, GeoidLookup* geoid) {
  const Beam beam = make_beam(angle_gon, boresight_trig(sensor.boresight));
  const double corrected = range + sensor.range_offset;
  if (rigorous) return geolocate_rigorous(corrected, beam, s, sensor.arm, geoid).point;
  return geolocate_full(corrected, beam, s, sensor.arm, geoid);
}

}  // namespace bf
