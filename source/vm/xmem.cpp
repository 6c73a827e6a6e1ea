// The memory manager over the C heap; the memory figures of MEMORY() come from Linux.
#include "xmem.h"

#include <sys/sysinfo.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "errint.h"
#include "extend.h"
#include "stack.h"

void* vl_xgrab(size_t size) {
  if (size == 0) vl_errInternal(9023, nullptr, nullptr, nullptr);
  void* p = std::malloc(size);
  if (!p) vl_errInternal(9006, nullptr, nullptr, nullptr);
  return p;
}

void* vl_xalloc(size_t size) {
  if (size == 0) vl_errInternal(9025, "vl_xgrab requested to allocate zero bytes", nullptr, nullptr);
  return std::malloc(size);
}

void* vl_xrealloc(void* block, size_t size) {
  if (!block) vl_errInternal(9007, nullptr, nullptr, nullptr);
  if (size == 0) vl_errInternal(9024, nullptr, nullptr, nullptr);
  void* p = std::realloc(block, size);
  if (!p) vl_errInternal(9009, nullptr, nullptr, nullptr);
  return p;
}

void vl_xfree(void* block) {
  if (!block) vl_errInternal(9011, nullptr, nullptr, nullptr);
  std::free(block);
}

char* vl_strndup(const char* text, size_t len) {
  char* p = static_cast<char*>(vl_xgrab(len + 1));
  if (len) std::memcpy(p, text, len);
  p[len] = '\0';
  return p;
}

char* vl_strdup(const char* text) { return vl_strndup(text, std::strlen(text)); }

void vl_xinit() {}
void vl_xexit() {}

namespace {

// "MemAvailable" and friends from /proc/meminfo, in KB; 0 when the line is missing.
uint64_t meminfoKB(const char* key) {
  FILE* f = std::fopen("/proc/meminfo", "r");
  if (!f) return 0;
  char line[256];
  uint64_t value = 0;
  size_t keyLen = std::strlen(key);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, key, keyLen) == 0 && line[keyLen] == ':') {
      value = std::strtoull(line + keyLen + 1, nullptr, 10);
      break;
    }
  }
  std::fclose(f);
  return value;
}

uint32_t clampKB(uint64_t kb) { return kb > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(kb); }

uint32_t availPhysKB() {
  uint64_t kb = meminfoKB("MemAvailable");
  if (kb == 0) {
    struct sysinfo si{};
    if (sysinfo(&si) == 0) kb = (static_cast<uint64_t>(si.freeram) * si.mem_unit) >> 10;
  }
  return clampKB(kb);
}

}  // namespace

uint32_t vl_xquery(uint16_t code) {
  switch (code) {
    case 0:
    case 1:
    case 2:
      return availPhysKB();
    case 3: {
      // Address space left to this process: the limit on virtual memory, or, without one,
      // what physical memory and swap could still back.
      struct rlimit rl{};
      if (getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) return clampKB(rl.rlim_cur >> 10);
      return clampKB(static_cast<uint64_t>(availPhysKB()) + meminfoKB("SwapFree"));
    }
    case 4:
      return 0;
    case 101: {
      struct sysinfo si{};
      if (sysinfo(&si) == 0) return clampKB((static_cast<uint64_t>(si.totalram) * si.mem_unit) >> 10);
      return clampKB(meminfoKB("MemTotal"));
    }
    case 102:
      return 1;
    case 103:
      return clampKB(meminfoKB("SwapFree"));
    case 1003:
      return static_cast<uint32_t>(vl_stackCapacity());
    case 1004:
      return static_cast<uint32_t>(vl_stackCapacity() * sizeof(VlItem));
    case 1005:
      return static_cast<uint32_t>(vl_stackTopOffset());
    default:
      return 0;
  }
}

// MEMORY([nQuery])
VL_FUNC(MEMORY) {
  const VlItem* q = vl_param(1, VL_IT_NUMERIC);
  vl_retnint(vl_xquery(static_cast<uint16_t>(q ? vl_itemGetNI(q) : 0)));
}

VL_NATIVE_MODULE(xmem, VL_FUNCENTRY(MEMORY));
