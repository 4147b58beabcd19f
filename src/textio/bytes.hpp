// Little-endian fields decoded from a byte buffer.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace bf {

static_assert(std::endian::native == std::endian::little,
              "binary fields are decoded and written without byte swapping");

inline std::int16_t le_i16(const unsigned char* p) {
  std::int16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline std::uint16_t le_u16(const unsigned char* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline std::uint32_t le_u24(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16;
}
inline float le_f32(const unsigned char* p) {
  float v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void put_le_i32(unsigned char* p, std::int32_t v) {
  std::memcpy(p, &v, 4);
}

}  // namespace bf
