// Little-endian byte accessors for the file formats of the drivers. Every reader takes the end
// of the bytes it may look at and fails instead of reading past it; writers work on buffers the
// caller has sized. Bytes are assembled one at a time, so no alignment or host order leaks in.
#pragma once

#include <cstdint>

inline bool vl_leGet8(const uint8_t* p, const uint8_t* end, uint8_t* v) {
  if (p >= end) return false;
  *v = p[0];
  return true;
}

inline bool vl_leGet16(const uint8_t* p, const uint8_t* end, uint16_t* v) {
  if (p > end || end - p < 2) return false;
  *v = static_cast<uint16_t>(p[0] | (p[1] << 8));
  return true;
}

inline bool vl_leGet24(const uint8_t* p, const uint8_t* end, uint32_t* v) {
  if (p > end || end - p < 3) return false;
  *v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
  return true;
}

inline bool vl_leGet32(const uint8_t* p, const uint8_t* end, uint32_t* v) {
  if (p > end || end - p < 4) return false;
  *v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
       (static_cast<uint32_t>(p[3]) << 24);
  return true;
}

inline bool vl_leGet64(const uint8_t* p, const uint8_t* end, uint64_t* v) {
  uint32_t lo, hi;
  if (!vl_leGet32(p, end, &lo) || !vl_leGet32(p + 4, end, &hi)) return false;
  *v = static_cast<uint64_t>(lo) | (static_cast<uint64_t>(hi) << 32);
  return true;
}

inline void vl_lePut16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void vl_lePut24(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}

inline void vl_lePut32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline void vl_lePut64(uint8_t* p, uint64_t v) {
  vl_lePut32(p, static_cast<uint32_t>(v));
  vl_lePut32(p + 4, static_cast<uint32_t>(v >> 32));
}
