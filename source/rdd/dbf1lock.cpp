// Locks of the DBF driver: where each lock scheme puts the file, header (append) and record
// locks in the data file's offset space, the raw lock actions, record and file locking with the
// list of locked records. Processes that share a table coordinate only through these bytes, so
// the offsets below are a file format as binding as the header's.
//
// Lock layout (v = base offset; every lock lies far beyond the data, so it never covers a real
// byte; the header lock, which is also the append lock, is 1 byte at v):
//   SCHEME            v                    FILE LOCK (offset, length)          RECORD r (1 byte)
//   1, 2              1,000,000,000        v + 1, 1,000,000,000                v + r
//   3, flag bit 0 off 0x40000000           v + 1, 0x3FFFFFFD                   v + header + (r-1) x reclen
//   3, flag bit 0 on  0x7FFFFFFE           v - 0x07FFFFFF, 0x07FFFFFF          v - r
//   4                 4,000,000,000        v + 1, 294,967,295                  v + r
//   5                 0x7FFFFFFF00000001   v + 1, 0x7FFFFFFE                   v + r
#include <cstring>

#include "../vm/xmem.h"
#include "dbf1.h"

namespace {

VlDbfArea* D(VlArea* area) { return vl_dbfArea(area); }

struct Layout {
  uint64_t base;
  uint64_t fileStart, fileLen;
};

// False for a scheme outside 1..5: every lock action then fails.
bool layoutOf(const VlDbfArea* a, Layout* out) {
  switch (a->lockScheme) {
    case 1:
    case 2: *out = {1000000000ULL, 1000000001ULL, 1000000000ULL}; return true;
    case 3:
      if (a->structIdx) *out = {0x7FFFFFFEULL, 0x7FFFFFFEULL - 0x07FFFFFFULL, 0x07FFFFFFULL};
      else *out = {0x40000000ULL, 0x40000001ULL, 0x3FFFFFFDULL};
      return true;
    case 4: *out = {4000000000ULL, 4000000001ULL, 294967295ULL}; return true;
    case 5: *out = {0x7FFFFFFF00000001ULL, 0x7FFFFFFF00000002ULL, 0x7FFFFFFEULL}; return true;
    default: return false;
  }
}

uint64_t recordLockOffset(const VlDbfArea* a, const Layout& l, uint32_t rec) {
  if (a->lockScheme == 3)
    return a->structIdx ? l.base - rec : l.base + a->headerLen + static_cast<uint64_t>(rec - 1) * a->recordLen;
  return l.base + rec;
}

// The header lock waits for other processes. A waiting lock that fails for any reason but a
// conflict (a broken handle, an injected fault) would fail forever: that ends the wait.
bool lockHeaderByte(VlDbfArea* a, uint64_t offset) {
  for (;;) {
    if (vl_fsLockLarge(a->dataFile, offset, 1, VL_FL_LOCK | VL_FL_WAIT)) return true;
    if (vl_fsError() != VL_FERR_LOCK) return false;
  }
}

void addLock(VlDbfArea* a, uint32_t rec) {
  if (a->lockCount == a->lockCapacity) {
    uint32_t capacity = a->lockCapacity ? a->lockCapacity * 2 : 16;
    auto* grown = static_cast<uint32_t*>(vl_xgrab(capacity * sizeof(uint32_t)));
    if (a->lockCount) std::memcpy(grown, a->locks, a->lockCount * sizeof(uint32_t));
    if (a->locks) vl_xfree(a->locks);
    a->locks = grown;
    a->lockCapacity = capacity;
  }
  a->locks[a->lockCount++] = rec;
}

// After a lock is taken the buffer may hold what was there before another process changed it.
VlStatus rereadUnderLock(VlDbfArea* a) {
  if (!a->positioned) return VL_SELF(&a->area, goTo, a->recNo);
  if (!a->hot) a->validBuffer = false;
  return VL_SUCCESS;
}

VlStatus forcePending(VlDbfArea* a) {
  if (!a->pendingRel) return VL_SUCCESS;
  return VL_SELF(&a->area, forceRel);
}

uint32_t recordOf(VlDbfArea* a, const VlItem* item) {
  if (item && VL_IS_NUMERIC(item)) {
    double d = vl_itemGetND(item);
    if (d >= 1 && d <= 4294967295.0) return static_cast<uint32_t>(d);
  }
  return a->recNo;
}

}  // namespace

bool vl_dbfIsLocked(const VlDbfArea* a, uint32_t rec) {
  for (uint32_t i = 0; i < a->lockCount; ++i)
    if (a->locks[i] == rec) return true;
  return false;
}

VlStatus vl_dbfRawLock(VlArea* area, uint16_t action, uint32_t rec) {
  VlDbfArea* a = D(area);
  if (!a->shared) return VL_SUCCESS;
  Layout l;
  if (!layoutOf(a, &l) || a->dataFile == VL_FS_ERROR) return VL_FAILURE;
  switch (action) {
    case VL_RAWLOCK_FILE:
      if (a->fileLocked) return VL_SUCCESS;
      if (!vl_fsLockLarge(a->dataFile, l.fileStart, l.fileLen, VL_FL_LOCK)) return VL_FAILURE;
      a->fileLocked = true;
      return VL_SUCCESS;
    case VL_RAWUNLOCK_FILE:
      if (!a->fileLocked) return VL_SUCCESS;
      a->fileLocked = false;
      return vl_fsLockLarge(a->dataFile, l.fileStart, l.fileLen, VL_FL_UNLOCK) ? VL_SUCCESS : VL_FAILURE;
    case VL_RAWLOCK_RECORD:
      if (a->fileLocked) return VL_SUCCESS;
      return vl_fsLockLarge(a->dataFile, recordLockOffset(a, l, rec), 1, VL_FL_LOCK) ? VL_SUCCESS : VL_FAILURE;
    case VL_RAWUNLOCK_RECORD:
      if (a->fileLocked) return VL_SUCCESS;
      return vl_fsLockLarge(a->dataFile, recordLockOffset(a, l, rec), 1, VL_FL_UNLOCK) ? VL_SUCCESS : VL_FAILURE;
    case VL_RAWLOCK_HEADER:
    case VL_RAWLOCK_APPEND:
      if (a->headerLocked) return VL_SUCCESS;
      if (!lockHeaderByte(a, l.base)) return VL_FAILURE;
      a->headerLocked = true;
      return VL_SUCCESS;
    case VL_RAWUNLOCK_HEADER:
    case VL_RAWUNLOCK_APPEND:
      if (!a->headerLocked) return VL_SUCCESS;
      a->headerLocked = false;
      return vl_fsLockLarge(a->dataFile, l.base, 1, VL_FL_UNLOCK) ? VL_SUCCESS : VL_FAILURE;
    default: return VL_FAILURE;
  }
}

VlStatus vl_dbfLock(VlArea* area, VlLockInfo* info) {
  VlDbfArea* a = D(area);
  info->result = false;
  if (!a->shared) {
    info->result = true;
    return VL_SUCCESS;
  }
  if (info->method == VL_LOCK_FILE) {
    if (a->fileLocked) {
      info->result = true;
      return VL_SUCCESS;
    }
    if (forcePending(a) != VL_SUCCESS) return VL_FAILURE;
    if (VL_SELF(area, unlock, 0) != VL_SUCCESS) return VL_FAILURE;
    VL_SELF(area, rawLock, VL_RAWLOCK_FILE, 0);
    info->result = a->fileLocked;
    if (!info->result) return VL_SUCCESS;
    return rereadUnderLock(a);
  }
  if (info->method != VL_LOCK_RECORD && info->method != VL_LOCK_ADD) return VL_FAILURE;
  if (forcePending(a) != VL_SUCCESS) return VL_FAILURE;
  if (a->fileLocked) {
    info->result = true;
    return VL_SUCCESS;
  }
  uint32_t rec = recordOf(a, info->record);
  if (info->method == VL_LOCK_RECORD && a->lockCount > 0) {
    // Releasing the others writes the current record back first (unlock's goCold).
    if (VL_SELF(area, unlock, 0) != VL_SUCCESS) return VL_FAILURE;
  }
  if (vl_dbfIsLocked(a, rec)) {
    info->result = true;
    return VL_SUCCESS;
  }
  if (VL_SELF(area, rawLock, VL_RAWLOCK_RECORD, rec) != VL_SUCCESS) return VL_SUCCESS;
  addLock(a, rec);
  info->result = true;
  return rereadUnderLock(a);
}
