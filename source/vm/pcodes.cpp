// The instruction table and instruction lengths.
#include "pcodes.h"

#include <cstring>

const VlOpInfo vl_pcodeInfo[VL_PCODE_COUNT] = {
#define VL_OP_INFO(code, name, fmt, pops, pushes) {#name, VL_FMT_##fmt, pops, pushes},
    VL_PCODE_LIST(VL_OP_INFO)
#undef VL_OP_INFO
};

#define VL_OP_CHECK(code, name, fmt, pops, pushes) +1
static_assert(0 VL_PCODE_LIST(VL_OP_CHECK) == VL_PCODE_COUNT, "the table lists every code once");
#undef VL_OP_CHECK

namespace {
// Length of a zero-terminated name starting at p, including the zero; 0 when it runs past end.
size_t zlen(const uint8_t* p, size_t avail) {
  const void* z = std::memchr(p, 0, avail);
  return z ? static_cast<size_t>(static_cast<const uint8_t*>(z) - p) + 1 : 0;
}
}  // namespace

size_t vl_pcodeLength(const uint8_t* p, size_t avail) {
  if (avail == 0 || *p >= VL_PCODE_COUNT) return 0;
  size_t len = 0;
  switch (vl_pcodeInfo[*p].format) {
    case VL_FMT_NONE: len = 1; break;
    case VL_FMT_U1:
    case VL_FMT_S1:
    case VL_FMT_SYM1:
    case VL_FMT_LOCAL1:
    case VL_FMT_JMP1: len = 2; break;
    case VL_FMT_U2:
    case VL_FMT_S2:
    case VL_FMT_SYM2:
    case VL_FMT_LOCAL2:
    case VL_FMT_JMP2:
    case VL_FMT_ENTER: len = 3; break;
    case VL_FMT_JMP3:
    case VL_FMT_ENTERWIDE:
    case VL_FMT_LOCALINT:
    case VL_FMT_SYM2U1: len = 4; break;
    case VL_FMT_I4:
    case VL_FMT_SYM2U2: len = 5; break;
    case VL_FMT_I8:
    case VL_FMT_PTR: len = 1 + 8; break;
    case VL_FMT_DOUBLE: len = 11; break;
    case VL_FMT_STR1:
      if (avail < 2) return 0;
      len = 2 + p[1];
      break;
    case VL_FMT_STR2:
      if (avail < 3) return 0;
      len = 3 + vl_pcodeU2(p + 1);
      break;
    case VL_FMT_LOCALSTR:
      if (avail < 4) return 0;
      len = 4 + vl_pcodeU2(p + 2);
      break;
    case VL_FMT_DBGLOCAL: {
      if (avail < 4) return 0;
      size_t z = zlen(p + 3, avail - 3);
      if (!z) return 0;
      len = 3 + z;
      break;
    }
    case VL_FMT_DBGMODULE: {
      if (avail < 2) return 0;
      size_t z = zlen(p + 1, avail - 1);
      if (!z) return 0;
      len = 1 + z;
      break;
    }
    case VL_FMT_DBGSTATIC: {
      if (avail < 5) return 0;
      size_t z = zlen(p + 4, avail - 4);
      if (!z) return 0;
      len = 4 + z;
      break;
    }
    case VL_FMT_BLOCK1:
      if (avail < 2) return 0;
      len = p[1];
      if (len < 2) return 0;
      break;
    case VL_FMT_BLOCK2:
      if (avail < 7) return 0;
      len = vl_pcodeU2(p + 1);
      if (len < 7u + 2u * vl_pcodeU2(p + 5)) return 0;
      break;
    case VL_FMT_RTBLOCK:
      if (avail < 5) return 0;
      len = vl_pcodeU2(p + 1);
      if (len < 5) return 0;
      break;
    case VL_FMT_HIDDEN:
      if (avail < 6) return 0;
      len = 6 + vl_pcodeU2(p + 4);
      break;
    case VL_FMT_LOCALHIDDEN:
      if (avail < 7) return 0;
      len = 7 + vl_pcodeU2(p + 5);
      break;
    case VL_FMT_UNASSIGNED: return 0;
  }
  return len <= avail ? len : 0;
}

double vl_pcodeF8(const uint8_t* p) {
  double d;
  std::memcpy(&d, p, sizeof d);
  return d;
}

void* vl_pcodePtr(const uint8_t* p) {
  void* v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
