// The DBF driver: opening and creating tables, the record buffer with its hot/cold discipline,
// positioning, field values, deletion flags, the header rewrite and the relation hooks.
// States and invariants of the record buffer are listed in dbf1.h.
//
// A damaged table must never be made worse: every check of the header and descriptors happens
// before anything is written, and a table that fails them is closed without a write.
#include "dbf1.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "../rtl/set.h"
#include "../vm/arrays.h"
#include "../vm/extend.h"
#include "../vm/xmem.h"
#include "dbfformat.h"

namespace {

VlRddFuncs s_super;     // the parent (base work area) table
uint8_t s_tableType = VL_DBF_VERSION_PLAIN;  // version byte of new tables (DBFTABLETYPE)

constexpr uint32_t READ_AHEAD_BYTES = 64 * 1024;

VlDbfArea* D(VlArea* area) { return vl_dbfArea(area); }

uint64_t recordOffset(const VlDbfArea* a, uint32_t rec) {
  return a->headerLen + static_cast<uint64_t>(rec - 1) * a->recordLen;
}

void freeText(char*& text) {
  if (text) vl_xfree(text);
  text = nullptr;
}

void dropCache(VlDbfArea* a) { a->cacheCount = 0; }

bool hasExtension(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (!dot) return false;
  return !std::strpbrk(dot, "\\/:");
}

// name + ext (when name has none) into out (VL_FS_PATH_MAX bytes).
void withExtension(char* out, const char* name, const char* ext) {
  std::snprintf(out, VL_FS_PATH_MAX, "%.*s", VL_RDD_MAX_FILENAME, name);
  if (!hasExtension(out)) {
    size_t len = std::strlen(out);
    std::snprintf(out + len, VL_FS_PATH_MAX - len, "%s", ext);
  }
}

// The data name with its extension replaced by ext.
void replaceExtension(char* out, const char* name, const char* ext) {
  std::snprintf(out, VL_FS_PATH_MAX, "%s", name);
  if (hasExtension(out)) *std::strrchr(out, '.') = '\0';
  size_t len = std::strlen(out);
  std::snprintf(out + len, VL_FS_PATH_MAX - len, "%s", ext);
}

void blankRecord(VlDbfArea* a) {
  a->record[0] = ' ';
  for (uint16_t i = 0; i < a->area.fieldCount; ++i) {
    const VlField& f = a->area.fields[i];
    vl_dbfBlankField(f.type, f.len, a->record + a->fieldOffsets[i]);
  }
}

// The end position (record count + 1).
void goEnd(VlDbfArea* a) {
  a->recNo = a->recCount + 1;
  a->positioned = false;
  a->validBuffer = true;
  if (a->record) blankRecord(a);
  a->area.bof = a->area.eof = true;
  a->deleted = a->encrypted = false;
}

VlStatus forcePending(VlDbfArea* a) {
  if (!a->pendingRel) return VL_SUCCESS;
  return VL_SELF(&a->area, forceRel);
}

// ---- record I/O ----
bool inPending(const VlDbfArea* a, uint32_t rec) {
  return a->pendingCount && rec >= a->pendingFirst && rec - a->pendingFirst < a->pendingCount;
}

VlStatus readRecordBytes(VlDbfArea* a, uint32_t rec) {
  if (inPending(a, rec)) {
    std::memcpy(a->record, a->pending + static_cast<size_t>(rec - a->pendingFirst) * a->recordLen, a->recordLen);
    return VL_SUCCESS;
  }
  if (a->pendingCount && vl_dbfFlushWrites(a) != VL_SUCCESS) return VL_FAILURE;
  if (a->cacheCount && rec >= a->cacheFirst && rec - a->cacheFirst < a->cacheCount) {
    std::memcpy(a->record, a->cache + static_cast<size_t>(rec - a->cacheFirst) * a->recordLen, a->recordLen);
    a->lastRead = rec;
    return VL_SUCCESS;
  }
  // Sequential access (forward or backward) in an exclusive table reads a block of records at
  // once; one read per record costs a system call each.
  uint32_t previous = a->lastRead;
  a->lastRead = rec;
  bool forward = previous != 0 && rec == previous + 1;
  bool backward = previous != 0 && rec + 1 == previous;
  if (!a->shared && (forward || backward) && a->cacheCapacity > 1) {
    if (!a->cache) a->cache = static_cast<uint8_t*>(vl_xgrab(static_cast<size_t>(a->cacheCapacity) * a->recordLen));
    uint32_t count = a->cacheCapacity;
    uint32_t first = rec;
    if (backward) first = rec >= count ? rec - count + 1 : 1;
    if (static_cast<uint64_t>(first) + count - 1 > a->recCount) count = a->recCount - first + 1;
    uint32_t bytes = vl_fsReadAt(a->dataFile, a->cache, count * a->recordLen, recordOffset(a, first));
    a->cacheFirst = first;
    a->cacheCount = bytes / a->recordLen;
    if (rec - first < a->cacheCount) {
      std::memcpy(a->record, a->cache + static_cast<size_t>(rec - first) * a->recordLen, a->recordLen);
      return VL_SUCCESS;
    }
    dropCache(a);
  }
  if (vl_fsReadAt(a->dataFile, a->record, a->recordLen, recordOffset(a, rec)) != a->recordLen) {
    vl_dbfError(a, 1010, a->dataName, static_cast<int>(vl_fsError()), 0);
    return VL_FAILURE;
  }
  return VL_SUCCESS;
}

// Exclusive tables collect runs of consecutive records (appends above all) and write each run
// at once: one write a record costs a system call each.
VlStatus writeRecordBytes(VlDbfArea* a) {
  uint32_t rec = a->recNo;
  if (!a->shared && a->cacheCapacity > 1) {
    if (!inPending(a, rec) && !(a->pendingCount && rec == a->pendingFirst + a->pendingCount &&
                                a->pendingCount < a->cacheCapacity)) {
      if (vl_dbfFlushWrites(a) != VL_SUCCESS) return VL_FAILURE;
      a->pendingFirst = rec;
    }
    if (!a->pending) a->pending = static_cast<uint8_t*>(vl_xgrab(static_cast<size_t>(a->cacheCapacity) * a->recordLen));
    uint32_t slot = rec - a->pendingFirst;
    std::memcpy(a->pending + static_cast<size_t>(slot) * a->recordLen, a->record, a->recordLen);
    if (slot == a->pendingCount) ++a->pendingCount;
  } else if (vl_fsWriteAt(a->dataFile, a->record, a->recordLen, recordOffset(a, rec)) != a->recordLen) {
    vl_dbfError(a, 1011, a->dataName, static_cast<int>(vl_fsError()), 0);
    return VL_FAILURE;
  }
  if (a->cacheCount && rec >= a->cacheFirst && rec - a->cacheFirst < a->cacheCount)
    std::memcpy(a->cache + static_cast<size_t>(rec - a->cacheFirst) * a->recordLen, a->record, a->recordLen);
  a->hot = false;
  a->dataNeedsCommit = true;
  return VL_SUCCESS;
}

bool isLocked(const VlDbfArea* a, uint32_t rec) {
  for (uint32_t i = 0; i < a->lockCount; ++i)
    if (a->locks[i] == rec) return true;
  return false;
}

// ---- header ----
// Reads and checks the 32 header bytes; "Corruption detected" is retried on request.
VlStatus readHeader(VlDbfArea* a, VlDbfHeader* header) {
  for (;;) {
    uint8_t bytes[VL_DBF_HEADER_SIZE];
    uint32_t got = vl_fsReadAt(a->dataFile, bytes, sizeof bytes, 0);
    if (got == sizeof bytes && vl_dbfHeaderDecode(bytes, bytes + got, header)) return VL_SUCCESS;
    if (vl_dbfError(a, 1012, a->dataName, 0, VL_ERR_FLAG_RETRY | VL_ERR_FLAG_DEFAULT) != VL_ERR_RESULT_RETRY)
      return VL_FAILURE;
  }
}

void todayParts(uint8_t* year, uint8_t* month, uint8_t* day) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  *year = static_cast<uint8_t>(local.tm_year & 0xFF);
  *month = static_cast<uint8_t>(local.tm_mon + 1);
  *day = static_cast<uint8_t>(local.tm_mday);
}

// ---- slots ----
VlStatus dbfBof(VlArea* area, bool* out) {
  if (forcePending(D(area)) != VL_SUCCESS) return VL_FAILURE;
  *out = area->bof;
  return VL_SUCCESS;
}

VlStatus dbfEof(VlArea* area, bool* out) {
  if (forcePending(D(area)) != VL_SUCCESS) return VL_FAILURE;
  *out = area->eof;
  return VL_SUCCESS;
}

VlStatus dbfFound(VlArea* area, bool* out) {
  if (forcePending(D(area)) != VL_SUCCESS) return VL_FAILURE;
  *out = area->found;
  return VL_SUCCESS;
}

VlStatus dbfGoTo(VlArea* area, uint32_t rec) {
  VlDbfArea* a = D(area);
  if (VL_SELF(area, goCold) != VL_SUCCESS) return VL_FAILURE;
  if (a->pendingRel) {
    if (a->pendingRel->scoped) {
      if (VL_SELF(area, forceRel) != VL_SUCCESS) return VL_FAILURE;
    } else {
      a->pendingRel = nullptr;
    }
  }
  if (a->shared && rec > a->recCount && vl_dbfCountRecords(a) != VL_SUCCESS) return VL_FAILURE;
  if (rec >= 1 && rec <= a->recCount) {
    a->recNo = rec;
    a->validBuffer = false;
    area->bof = area->eof = false;
    a->positioned = true;
  } else {
    goEnd(a);
  }
  area->found = false;
  if (area->relations) return VL_SELF(area, syncChildren);
  return VL_SUCCESS;
}

VlStatus dbfGoToId(VlArea* area, VlItem* id) {
  uint32_t rec;
  if (VL_IS_NUMERIC(id)) {
    double d = vl_itemGetND(id);
    rec = d >= 1 && d <= 4294967295.0 ? static_cast<uint32_t>(d) : 0;
  } else if (VL_IS_DATE(id)) {
    int32_t day = vl_itemGetDL(id);
    rec = day > 0 ? static_cast<uint32_t>(day) : 0;
  } else if (VL_IS_STRING(id) && !VL_IS_MEMO(id) && vl_itemGetCLen(id) == 1) {
    rec = static_cast<unsigned char>(vl_itemGetCPtr(id)[0]);
  } else {
    vl_dbfError(D(area), 1020, nullptr, 0, 0);
    return VL_FAILURE;
  }
  return VL_SELF(area, goTo, rec);
}

VlStatus dbfGoTop(VlArea* area) {
  area->top = true;
  area->bottom = false;
  if (VL_SELF(area, goTo, 1) != VL_SUCCESS) return VL_FAILURE;
  return VL_SELF(area, skipFilter, 1);
}

VlStatus dbfGoBottom(VlArea* area) {
  VlDbfArea* a = D(area);
  if (VL_SELF(area, goCold) != VL_SUCCESS) return VL_FAILURE;
  if (a->shared && vl_dbfCountRecords(a) != VL_SUCCESS) return VL_FAILURE;
  area->top = false;
  area->bottom = true;
  if (VL_SELF(area, goTo, a->recCount) != VL_SUCCESS) return VL_FAILURE;
  return VL_SELF(area, skipFilter, -1);
}

VlStatus dbfSkipRaw(VlArea* area, long n) {
  VlDbfArea* a = D(area);
  if (forcePending(a) != VL_SUCCESS) return VL_FAILURE;
  if (n == 0) {
    bool bof = area->bof, eof = area->eof;
    VlStatus status = VL_SELF(area, goTo, a->recNo);
    area->bof = bof;
    area->eof = eof;
    return status;
  }
  int64_t target = static_cast<int64_t>(a->recNo) + n;
  if (target < 1 || target > static_cast<int64_t>(a->recCount)) {
    // Outside the table: the end position, with bof and eof both set.
    return VL_SELF(area, goTo, 0);
  }
  return VL_SELF(area, goTo, static_cast<uint32_t>(target));
}

VlStatus dbfSkip(VlArea* area, long n) {
  VlDbfArea* a = D(area);
  if (forcePending(a) != VL_SUCCESS) return VL_FAILURE;
  area->top = area->bottom = false;
  if (n == 0 || vl_set.deleted || area->filterBlock || area->filterActive) return VL_SUPER(s_super, area, skip, n);
  VlStatus status = VL_SELF(area, skipRaw, n);
  if (status == VL_SUCCESS && n < 0 && area->bof) {
    status = VL_SELF(area, goTop);
    area->bof = true;
  }
  // Only the end position (an empty table) keeps eof after a backward move.
  if (n < 0) {
    if (!(area->bof && area->eof)) area->eof = false;
  } else {
    area->bof = false;
  }
  return status;
}

VlStatus dbfAddField(VlArea* area, VlFieldInfo* info) {
  VlDbfArea* a = D(area);
  if (area->fieldCount >= area->fieldExtent) return VL_FAILURE;
  // The record length is a 16-bit value in the header.
  if (static_cast<uint32_t>(a->recordLen) + info->len > 0xFFFF) return VL_FAILURE;
  uint16_t offset = a->recordLen;
  if (VL_SUPER(s_super, area, addField, info) != VL_SUCCESS) return VL_FAILURE;
  a->fieldOffsets[area->fieldCount - 1] = offset;
  a->recordLen = static_cast<uint16_t>(a->recordLen + info->len);
  return VL_SUCCESS;
}

VlStatus dbfSetFieldExtent(VlArea* area, uint16_t count) {
  VlDbfArea* a = D(area);
  if (VL_SUPER(s_super, area, setFieldExtent, count) != VL_SUCCESS) return VL_FAILURE;
  if (a->fieldOffsets) vl_xfree(a->fieldOffsets);
  a->fieldOffsets = nullptr;
  if (count) {
    a->fieldOffsets = static_cast<uint32_t*>(vl_xgrab(count * sizeof(uint32_t)));
    std::memset(a->fieldOffsets, 0, count * sizeof(uint32_t));
  }
  return VL_SUCCESS;
}

VlStatus dbfDeleted(VlArea* area, bool* out) {
  VlDbfArea* a = D(area);
  if (forcePending(a) != VL_SUCCESS) return VL_FAILURE;
  if (vl_dbfReadRecord(a) != VL_SUCCESS) return VL_FAILURE;
  *out = a->deleted;
  return VL_SUCCESS;
}

VlStatus setDeletedFlag(VlArea* area, bool deleted) {
  VlDbfArea* a = D(area);
  if (forcePending(a) != VL_SUCCESS) return VL_FAILURE;
  if (vl_dbfReadRecord(a) != VL_SUCCESS) return VL_FAILURE;
  if (!a->positioned) return VL_SUCCESS;
  if (!a->hot && VL_SELF(area, goHot) != VL_SUCCESS) return VL_FAILURE;
  a->record[0] = a->encrypted ? (deleted ? 'D' : 'E') : (deleted ? '*' : ' ');
  a->deleted = deleted;
  return VL_SUCCESS;
}

VlStatus dbfDeleteRec(VlArea* area) { return setDeletedFlag(area, true); }
VlStatus dbfRecall(VlArea* area) { return setDeletedFlag(area, false); }

VlStatus dbfGetRec(VlArea* area, uint8_t** out) {
  VlDbfArea* a = D(area);
  if (vl_dbfReadRecord(a) != VL_SUCCESS) return VL_FAILURE;
  if (out) *out = a->record;
  return VL_SUCCESS;
}

VlStatus dbfPutRec(VlArea* area, const uint8_t* image) {
  VlDbfArea* a = D(area);
  if (!image) return writeRecordBytes(a);
  if (!a->hot && VL_SELF(area, goHot) != VL_SUCCESS) return VL_FAILURE;
  std::memcpy(a->record, image, a->recordLen);
  a->validBuffer = true;
  return VL_SUCCESS;
}

VlStatus dbfGetValue(VlArea* area, uint16_t index, VlItem* out) {
  VlDbfArea* a = D(area);
  if (forcePending(a) != VL_SUCCESS) return VL_FAILURE;
  if (index == 0 || index > area->fieldCount) return VL_FAILURE;
  if (!a->validBuffer && vl_dbfReadRecord(a) != VL_SUCCESS) return VL_FAILURE;
  const VlField& f = area->fields[index - 1];
  if (!vl_dbfGetValue(f.type, f.len, f.dec, a->record + a->fieldOffsets[index - 1], out)) {
    vl_dbfError(a, 1020, nullptr, 0, 0);
    return VL_FAILURE;
  }
  // Text is kept in the table's code page and given to the program in its own.
  if (f.type == VL_IT_STRING && a->cdp != vl_cdpCurrent() && f.len > 0)
    vl_cdpTranslate(vl_itemUnShareString(out), f.len, a->cdp, vl_cdpCurrent());
  return VL_SUCCESS;
}

VlStatus dbfGetVarLen(VlArea* area, uint16_t index, uint32_t* out) {
  if (index == 0 || index > area->fieldCount) return VL_FAILURE;
  *out = area->fields[index - 1].len;
  return VL_SUCCESS;
}

VlStatus dbfPutValue(VlArea* area, uint16_t index, VlItem* value) {
  VlDbfArea* a = D(area);
  if (forcePending(a) != VL_SUCCESS) return VL_FAILURE;
  if (index == 0 || index > area->fieldCount) return VL_FAILURE;
  if (vl_dbfReadRecord(a) != VL_SUCCESS) return VL_FAILURE;
  if (!a->positioned) return VL_SUCCESS;
  if (!a->hot && VL_SELF(area, goHot) != VL_SUCCESS) return VL_FAILURE;
  const VlField& f = area->fields[index - 1];
  uint8_t* p = a->record + a->fieldOffsets[index - 1];
  int subCode = f.type == VL_IT_MEMO ? VL_DBF_PUT_TYPE : vl_dbfPutValue(f.type, f.len, f.dec, p, value);
  if (subCode != VL_DBF_PUT_OK) {
    vl_dbfError(a, subCode, nullptr, 0, VL_ERR_FLAG_DEFAULT);
    return VL_SUCCESS;
  }
  if (f.type == VL_IT_STRING && VL_IS_STRING(value) && a->cdp != vl_cdpCurrent())
    vl_cdpTranslate(reinterpret_cast<char*>(p), f.len, vl_cdpCurrent(), a->cdp);
  a->record[0] = a->deleted ? '*' : ' ';
  a->encrypted = false;
  return VL_SUCCESS;
}

VlStatus dbfGoHot(VlArea* area) {
  VlDbfArea* a = D(area);
  if (a->readOnly) {
    vl_dbfError(a, 1025, nullptr, 0, 0);
    return VL_FAILURE;
  }
  if (!a->shared || a->fileLocked || isLocked(a, a->recNo)) {
    a->hot = true;
    return VL_SUCCESS;
  }
  vl_dbfError(a, 1022, nullptr, 0, 0);
  return VL_FAILURE;
}

VlStatus dbfGoCold(VlArea* area) {
  VlDbfArea* a = D(area);
  if (!a->hot) return VL_SUCCESS;
  if (writeRecordBytes(a) != VL_SUCCESS) return VL_FAILURE;
  if (a->appended) {
    a->appended = false;
    a->updateHeader = true;
  }
  if (a->shared && a->updateHeader) return VL_SELF(area, writeDBHeader);
  return VL_SUCCESS;
}

VlStatus dbfFlush(VlArea* area) {
  VlDbfArea* a = D(area);
  VlStatus status = VL_SELF(area, goCold);
  if (a->dataFile != VL_FS_ERROR && vl_dbfFlushWrites(a) != VL_SUCCESS) status = VL_FAILURE;
  if (a->updateHeader) VL_SELF(area, writeDBHeader);
  if (vl_set.hardCommit) {
    if (a->dataNeedsCommit && a->dataFile != VL_FS_ERROR) {
      vl_fsCommit(a->dataFile);
      a->dataNeedsCommit = false;
    }
    if (a->hasMemo && a->memoFile != VL_FS_ERROR && a->memoNeedsCommit) {
      vl_fsCommit(a->memoFile);
      a->memoNeedsCommit = false;
    }
  }
  return status;
}

VlStatus dbfRecCount(VlArea* area, uint32_t* out) {
  VlDbfArea* a = D(area);
  if (a->shared && vl_dbfCountRecords(a) != VL_SUCCESS) return VL_FAILURE;
  *out = a->recCount;
  return VL_SUCCESS;
}

VlStatus dbfRecNo(VlArea* area, uint32_t* out) {
  VlDbfArea* a = D(area);
  if (forcePending(a) != VL_SUCCESS) return VL_FAILURE;
  *out = a->recNo;
  return VL_SUCCESS;
}

VlStatus dbfAppend(VlArea* area, bool unlockAll) {
  VlDbfArea* a = D(area);
  if (a->readOnly) {
    vl_dbfError(a, 1025, nullptr, 0, 0);
    return VL_FAILURE;
  }
  if (VL_SELF(area, goCold) != VL_SUCCESS) return VL_FAILURE;
  if (a->pendingRel) {
    if (a->pendingRel->scoped) {
      if (VL_SELF(area, forceRel) != VL_SUCCESS) return VL_FAILURE;
    } else {
      a->pendingRel = nullptr;
    }
  }
  if (a->shared) {
    // Appends of several processes are serialised by the append lock; the count is taken
    // from the file under it.
    if (VL_SELF(area, rawLock, VL_RAWLOCK_APPEND, 0) != VL_SUCCESS) return VL_FAILURE;
    if (vl_dbfCountRecords(a) != VL_SUCCESS) {
      VL_SELF(area, rawLock, VL_RAWUNLOCK_APPEND, 0);
      return VL_FAILURE;
    }
    uint32_t rec = a->recCount + 1;
    bool locked = a->fileLocked || isLocked(a, rec);
    if (!locked) {
      VlItem recItem;
      recItem.type = VL_IT_NIL;
      vl_itemPutNInt(&recItem, rec);
      VlLockInfo lock{&recItem, unlockAll ? VL_LOCK_RECORD : VL_LOCK_ADD, false};
      locked = VL_SELF(area, lock, &lock) == VL_SUCCESS && lock.result;
    }
    if (!locked) {
      VL_SELF(area, rawLock, VL_RAWUNLOCK_APPEND, 0);
      vl_dbfError(a, 1024, nullptr, 0, VL_ERR_FLAG_DEFAULT);
      return VL_FAILURE;
    }
  }
  a->recNo = a->recCount + 1;
  blankRecord(a);
  a->positioned = a->appended = a->hot = a->updateHeader = a->validBuffer = true;
  ++a->recCount;
  area->found = area->bof = area->eof = false;
  a->deleted = a->encrypted = false;
  if (!a->shared) return VL_SUCCESS;
  VlStatus status = VL_SELF(area, goCold);
  VL_SELF(area, rawLock, VL_RAWUNLOCK_APPEND, 0);
  return status;
}

VlStatus dbfUnlock(VlArea* area, uint32_t rec) {
  VlDbfArea* a = D(area);
  if (!a->shared) return VL_SUCCESS;
  VlStatus status = VL_SUCCESS;
  if (a->lockCount > 0) {
    if (rec == 0) {
      status = VL_SELF(area, goCold);
      for (uint32_t i = 0; i < a->lockCount; ++i) VL_SELF(area, rawLock, VL_RAWUNLOCK_RECORD, a->locks[i]);
      a->lockCount = 0;
    } else if (isLocked(a, rec)) {
      status = VL_SELF(area, goCold);
      VL_SELF(area, rawLock, VL_RAWUNLOCK_RECORD, rec);
      uint32_t j = 0;
      for (uint32_t i = 0; i < a->lockCount; ++i)
        if (a->locks[i] != rec) a->locks[j++] = a->locks[i];
      a->lockCount = j;
    }
  }
  if (a->fileLocked) {
    status = VL_SELF(area, goCold);
    if (status == VL_SUCCESS) status = VL_SELF(area, rawLock, VL_RAWUNLOCK_FILE, 0);
  }
  return status;
}

VlStatus dbfClose(VlArea* area) {
  VlDbfArea* a = D(area);
  a->pendingRel = nullptr;
  VL_SUPER(s_super, area, close);
  if (a->dataFile != VL_FS_ERROR) {
    VL_SELF(area, goCold);
    VL_SELF(area, unlock, 0);
    vl_dbfFlushWrites(a);
    if (a->updateHeader) VL_SELF(area, writeDBHeader);
    if (vl_set.hardCommit) VL_SELF(area, flush);
    vl_fsClose(a->dataFile);
    a->dataFile = VL_FS_ERROR;
  }
  if (a->pending) vl_xfree(a->pending);
  a->pending = nullptr;
  a->pendingCount = 0;
  if (a->memoFile != VL_FS_ERROR) {
    vl_fsClose(a->memoFile);
    a->memoFile = VL_FS_ERROR;
  }
  if (a->fieldOffsets) vl_xfree(a->fieldOffsets);
  a->fieldOffsets = nullptr;
  if (a->record) vl_xfree(a->record);
  a->record = nullptr;
  if (a->cache) vl_xfree(a->cache);
  a->cache = nullptr;
  a->cacheCount = 0;
  if (a->locks) vl_xfree(a->locks);
  a->locks = nullptr;
  a->lockCount = a->lockCapacity = 0;
  freeText(a->dataName);
  freeText(a->memoName);
  a->hot = a->appended = a->updateHeader = false;
  return VL_SUCCESS;
}

VlStatus dbfReadDBHeader(VlArea* area) {
  VlDbfArea* a = D(area);
  VlDbfHeader header;
  if (readHeader(a, &header) != VL_SUCCESS) return VL_FAILURE;
  a->lastUpdate[0] = header.year;
  a->lastUpdate[1] = header.month;
  a->lastUpdate[2] = header.day;
  a->structIdx = (header.flags & VL_DBF_FLAG_STRUCTIDX) != 0;
  a->version = header.version;
  a->codePageByte = header.codePage;
  a->headerLen = header.headerLen;
  a->fileRecordLen = header.recordLen;
  a->recCount = header.recCount;
  a->hasMemo = vl_dbfHasMemo(header.version, header.flags);
  return VL_SUCCESS;
}

VlStatus dbfWriteDBHeader(VlArea* area) {
  VlDbfArea* a = D(area);
  VlDbfHeader header{};
  header.version = a->version;
  todayParts(&header.year, &header.month, &header.day);
  header.flags = static_cast<uint8_t>((a->structIdx ? VL_DBF_FLAG_STRUCTIDX : 0) |
                                      (a->hasMemo && a->version == VL_DBF_VERSION_30 ? VL_DBF_FLAG_MEMO : 0));
  header.codePage = a->codePageByte;
  if (vl_dbfFlushWrites(a) != VL_SUCCESS) return VL_FAILURE;
  bool tookLock = false;
  if (a->shared) {
    if (!a->headerLocked) {
      if (VL_SELF(area, rawLock, VL_RAWLOCK_HEADER, 0) != VL_SUCCESS) return VL_FAILURE;
      tookLock = true;
    }
    vl_dbfCountRecords(a);
  } else {
    // Only an exclusive user may mark the end and cut what follows it.
    uint64_t end = a->headerLen + static_cast<uint64_t>(a->recCount) * a->recordLen;
    uint8_t eof = VL_DBF_EOF;
    if (vl_fsWriteAt(a->dataFile, &eof, 1, end) != 1 || !vl_fsTruncate(a->dataFile, end + 1)) {
      vl_dbfError(a, 1011, a->dataName, static_cast<int>(vl_fsError()), 0);
      return VL_FAILURE;
    }
  }
  header.recCount = a->recCount;
  header.headerLen = a->headerLen;
  header.recordLen = a->recordLen;
  uint8_t bytes[VL_DBF_HEADER_SIZE];
  vl_dbfHeaderEncode(header, bytes);
  VlStatus status = VL_SUCCESS;
  if (vl_fsWriteAt(a->dataFile, bytes, sizeof bytes, 0) != sizeof bytes) {
    vl_dbfError(a, 1011, a->dataName, static_cast<int>(vl_fsError()), 0);
    status = VL_FAILURE;
  } else {
    a->lastUpdate[0] = header.year;
    a->lastUpdate[1] = header.month;
    a->lastUpdate[2] = header.day;
    a->dataNeedsCommit = true;
    a->updateHeader = false;
  }
  if (tookLock) VL_SELF(area, rawLock, VL_RAWUNLOCK_HEADER, 0);
  return status;
}

// Reads the descriptors and turns them into fields; raises "Corruption detected" itself.
VlStatus readFields(VlDbfArea* a) {
  VlArea* area = &a->area;
  uint32_t count = a->headerLen > VL_DBF_HEADER_SIZE ? (a->headerLen - VL_DBF_HEADER_SIZE) / VL_DBF_FIELD_SIZE : 0;
  size_t size = static_cast<size_t>(count) * VL_DBF_FIELD_SIZE;
  uint8_t* block = size ? static_cast<uint8_t*>(vl_xgrab(size)) : nullptr;
  while (size && vl_fsReadAt(a->dataFile, block, static_cast<uint32_t>(size), VL_DBF_HEADER_SIZE) != size) {
    if (vl_dbfError(a, 1012, a->dataName, 0, VL_ERR_FLAG_RETRY | VL_ERR_FLAG_DEFAULT) != VL_ERR_RESULT_RETRY) {
      vl_xfree(block);
      return VL_FAILURE;
    }
  }
  const uint8_t* end = block + size;
  uint16_t fields = 0;
  bool bad = false;
  VlDbfFieldDesc desc;
  for (uint32_t i = 0; i < count; ++i) {
    VlDbfFieldStatus st = vl_dbfFieldDecode(block + i * VL_DBF_FIELD_SIZE, end, a->version, &desc);
    if (st == VL_DBF_FIELD_END) break;
    if (st != VL_DBF_FIELD_OK) {
      bad = true;
      break;
    }
    ++fields;
  }
  if (!bad && fields > 0) {
    VL_SELF(area, setFieldExtent, fields);
    for (uint16_t i = 0; i < fields && !bad; ++i) {
      vl_dbfFieldDecode(block + i * VL_DBF_FIELD_SIZE, end, a->version, &desc);
      VlFieldInfo info{desc.name, desc.type, 0, desc.len, desc.dec};
      bad = VL_SELF(area, addField, &info) != VL_SUCCESS;
    }
  }
  if (block) vl_xfree(block);
  // A record length that disagrees with the fields would read every record but the first at the
  // wrong place; a copy made from such a reading would spread the damage.
  if (bad || fields == 0 || a->recordLen != a->fileRecordLen) {
    vl_dbfError(a, 1012, a->dataName, 0, VL_ERR_FLAG_DEFAULT);
    return VL_FAILURE;
  }
  return VL_SUCCESS;
}

VlStatus dbfOpen(VlArea* area, VlOpenInfo* info) {
  VlDbfArea* a = D(area);
  if (vl_rddSetAlias(area, info->alias ? info->alias : "") != VL_SUCCESS) return VL_FAILURE;
  // A scheme outside 1..5 is kept: every lock then fails, which is safer than a wrong layout.
  if (!a->lockScheme) a->lockScheme = vl_set.dbfLockScheme != 0 ? static_cast<uint8_t>(vl_set.dbfLockScheme) : 1;
  const VlCodePage* named = info->codePage ? vl_cdpFind(info->codePage) : nullptr;
  a->cdp = named ? named : vl_cdpCurrent();
  a->shared = info->shared && vl_set.autoShare != 2;
  a->readOnly = info->readOnly;
  uint32_t mode = (a->readOnly ? VL_FO_READ : VL_FO_READWRITE) | (a->shared ? VL_FO_DENYNONE : VL_FO_EXCLUSIVE);

  char name[VL_FS_PATH_MAX];
  VlItem ext;
  ext.type = VL_IT_NIL;
  VL_SELF(area, info, VL_DBI_TABLEEXT, &ext);
  withExtension(name, info->fileName ? info->fileName : "", vl_itemGetCPtr(&ext));
  vl_itemClear(&ext);
  char path[VL_FS_PATH_MAX];
  if (!vl_spFile(name, path)) std::snprintf(path, sizeof path, "%s", name);

  for (;;) {
    a->dataFile = vl_fsOpen(path, mode);
    if (a->dataFile != VL_FS_ERROR) break;
    uint32_t error = vl_fsError();
    if (error == 0) return VL_FAILURE;
    if (error == 5) error = 32;
    if (vl_dbfError(a, 1001, path, static_cast<int>(error), VL_ERR_FLAG_RETRY | VL_ERR_FLAG_DEFAULT) !=
        VL_ERR_RESULT_RETRY)
      return VL_FAILURE;
  }
  a->dataName = vl_strdup(path);

  if (VL_SELF(area, readDBHeader) != VL_SUCCESS || readFields(a) != VL_SUCCESS) {
    VL_SELF(area, close);
    return VL_FAILURE;
  }
  if (a->hasMemo) {
    VlItem memoExt;
    memoExt.type = VL_IT_NIL;
    VL_SELF(area, info, VL_DBI_MEMOEXT, &memoExt);
    char memoName[VL_FS_PATH_MAX];
    replaceExtension(memoName, a->dataName, vl_itemGetCPtr(&memoExt));
    vl_itemClear(&memoExt);
    VlOpenInfo memoInfo = *info;
    memoInfo.fileName = memoName;
    if (VL_SELF(area, openMemFile, &memoInfo) != VL_SUCCESS) {
      VL_SELF(area, close);
      return VL_FAILURE;
    }
  }
  a->record = static_cast<uint8_t*>(vl_xgrab(a->recordLen));
  a->cacheCapacity = READ_AHEAD_BYTES / a->recordLen;
  a->validBuffer = false;
  if (vl_dbfCountRecords(a) != VL_SUCCESS) {
    VL_SELF(area, close);
    return VL_FAILURE;
  }
  return VL_SELF(area, goTop);
}

VlStatus dbfCreate(VlArea* area, VlOpenInfo* info) {
  VlDbfArea* a = D(area);
  char name[VL_FS_PATH_MAX];
  VlItem ext;
  ext.type = VL_IT_NIL;
  VL_SELF(area, info, VL_DBI_TABLEEXT, &ext);
  withExtension(name, info->fileName ? info->fileName : "", vl_itemGetCPtr(&ext));
  vl_itemClear(&ext);

  // Everything about the new file is checked before it is created.
  uint16_t fields = area->fieldCount;
  uint8_t version = s_tableType;
  uint32_t headerLen = VL_DBF_HEADER_SIZE + VL_DBF_FIELD_SIZE * fields + (version == VL_DBF_VERSION_30 ? 1 : 2);
  uint32_t recordLen = 1;
  bool hasMemo = false;
  for (uint16_t i = 0; i < fields; ++i) {
    recordLen += vl_dbfStoredLength(area->fields[i].type, area->fields[i].len);
    if (area->fields[i].type == VL_IT_MEMO) hasMemo = true;
  }
  if (fields == 0 || headerLen > 0xFFFF || recordLen != a->recordLen) return VL_FAILURE;
  size_t descSize = static_cast<size_t>(fields) * VL_DBF_FIELD_SIZE + 3;
  auto* desc = static_cast<uint8_t*>(vl_xgrab(descSize));
  for (uint16_t i = 0; i < fields; ++i) {
    const VlField& f = area->fields[i];
    if (!vl_dbfFieldEncode(f.sym->symbol->name, f.type, f.len, f.dec, desc + i * VL_DBF_FIELD_SIZE)) {
      vl_xfree(desc);
      return VL_FAILURE;
    }
  }
  size_t tail = static_cast<size_t>(fields) * VL_DBF_FIELD_SIZE;
  desc[tail++] = VL_DBF_HEADER_END;
  if (version != VL_DBF_VERSION_30) desc[tail++] = 0;
  desc[tail++] = VL_DBF_EOF;

  for (;;) {
    a->dataFile = vl_spCreate(name, VL_FC_NORMAL);
    if (a->dataFile != VL_FS_ERROR) break;
    if (vl_dbfError(a, 1004, name, static_cast<int>(vl_fsError()), VL_ERR_FLAG_RETRY | VL_ERR_FLAG_DEFAULT) !=
        VL_ERR_RESULT_RETRY) {
      vl_xfree(desc);
      return VL_FAILURE;
    }
  }
  a->dataName = vl_strdup(name);
  a->shared = info->shared;
  a->readOnly = false;
  a->version = version;
  a->headerLen = static_cast<uint16_t>(headerLen);
  a->recCount = 0;
  a->memoBlockSize = 0;
  a->hasMemo = hasMemo;
  a->codePageByte = 0;
  a->structIdx = false;
  const VlCodePage* named = info->codePage ? vl_cdpFind(info->codePage) : nullptr;
  a->cdp = named ? named : vl_cdpCurrent();

  bool ok = VL_SELF(area, writeDBHeader) == VL_SUCCESS &&
            vl_fsWriteAt(a->dataFile, desc, static_cast<uint32_t>(tail), VL_DBF_HEADER_SIZE) == tail;
  vl_xfree(desc);
  if (!ok) {
    vl_fsClose(a->dataFile);
    a->dataFile = VL_FS_ERROR;
    return VL_FAILURE;
  }
  a->record = static_cast<uint8_t*>(vl_xgrab(a->recordLen));
  a->cacheCapacity = READ_AHEAD_BYTES / a->recordLen;
  goEnd(a);
  if (!hasMemo) return VL_SUCCESS;
  VlItem memoExt;
  memoExt.type = VL_IT_NIL;
  VL_SELF(area, info, VL_DBI_MEMOEXT, &memoExt);
  char memoName[VL_FS_PATH_MAX];
  replaceExtension(memoName, a->dataName, vl_itemGetCPtr(&memoExt));
  vl_itemClear(&memoExt);
  VlOpenInfo memoInfo = *info;
  memoInfo.fileName = memoName;
  return VL_SELF(area, createMemFile, &memoInfo);
}

VlStatus dbfInfo(VlArea* area, uint16_t code, VlItem* item) {
  VlDbfArea* a = D(area);
  switch (code) {
    case VL_DBI_ISDBF:
    case VL_DBI_CANPUTREC: vl_itemPutL(item, true); break;
    case VL_DBI_GETHEADERSIZE: vl_itemPutNInt(item, a->headerLen); break;
    case VL_DBI_LASTUPDATE: vl_itemPutD(item, a->lastUpdate[0] + 1900, a->lastUpdate[1], a->lastUpdate[2]); break;
    case VL_DBI_GETDELIMITER:
    case VL_DBI_SETDELIMITER: break;
    case VL_DBI_GETRECSIZE: vl_itemPutNInt(item, a->recordLen); break;
    case VL_DBI_GETLOCKARRAY: {
      vl_arrayNew(item, a->lockCount);
      for (uint32_t i = 0; i < a->lockCount; ++i) vl_itemPutNInt(vl_arrayGetItemPtr(item, i + 1), a->locks[i]);
      break;
    }
    case VL_DBI_TABLEEXT: vl_itemPutC(item, ".dbf"); break;
    case VL_DBI_FULLPATH: vl_itemPutC(item, a->dataName ? a->dataName : ""); break;
    case VL_DBI_ISFLOCK: vl_itemPutL(item, a->fileLocked); break;
    case VL_DBI_FILEHANDLE: vl_itemPutNInt(item, a->dataFile); break;
    case VL_DBI_LOCKCOUNT: vl_itemPutNInt(item, a->lockCount); break;
    case VL_DBI_VALIDBUFFER: vl_itemPutL(item, a->validBuffer); break;
    case VL_DBI_SHARED: {
      bool old = a->shared;
      if (VL_IS_LOGICAL(item)) {
        if (vl_dbfFlushWrites(a) != VL_SUCCESS) return VL_FAILURE;
        a->shared = vl_itemGetL(item);
        dropCache(a);
      }
      vl_itemPutL(item, old);
      break;
    }
    case VL_DBI_MEMOEXT: vl_itemPutC(item, ""); break;
    case VL_DBI_MEMOHANDLE: vl_itemPutNInt(item, a->memoFile); break;
    case VL_DBI_MEMOBLOCKSIZE: vl_itemPutNInt(item, a->memoBlockSize); break;
    case VL_DBI_RDD_VERSION:
    case VL_DBI_RDD_BUILD: {
      char text[64];
      int kind = VL_IS_NUMERIC(item) ? vl_itemGetNI(item) : 0;
      if (kind == 1) std::snprintf(text, sizeof text, "%d.%d (%s)", 0, 1, "DBF");
      else if (kind == 2) std::snprintf(text, sizeof text, "%d.%d (%s:%d)", 0, 1, "DBF", area->rddId);
      else std::snprintf(text, sizeof text, "%d.%d", 0, 1);
      vl_itemPutC(item, text);
      break;
    }
    case VL_DBI_LOCKSCHEME: {
      int old = a->lockScheme;
      if (VL_IS_NUMERIC(item)) {
        int scheme = vl_itemGetNI(item);
        if (scheme >= 1 && scheme <= 5) a->lockScheme = static_cast<uint8_t>(scheme);
      }
      vl_itemPutNI(item, old);
      break;
    }
    case VL_DBI_ISREADONLY: vl_itemPutL(item, a->readOnly); break;
    case VL_DBI_ROLLBACK:
      if (a->hot) {
        if (a->appended) {
          blankRecord(a);
          a->deleted = a->encrypted = false;
        } else {
          a->validBuffer = false;
          a->hot = false;
        }
      }
      break;
    default: return VL_SUPER(s_super, area, info, code, item);
  }
  return VL_SUCCESS;
}

VlStatus dbfRecInfo(VlArea* area, VlItem* recId, uint16_t code, VlItem* out) {
  VlDbfArea* a = D(area);
  if (forcePending(a) != VL_SUCCESS) return VL_FAILURE;
  uint32_t rec = recId && VL_IS_NUMERIC(recId) ? static_cast<uint32_t>(vl_itemGetNInt(recId)) : 0;
  if (rec == 0) rec = a->recNo;
  bool visit = rec != a->recNo && (code == VL_DBRI_DELETED || code == VL_DBRI_ENCRYPTED || code == VL_DBRI_RAWRECORD ||
                                   code == VL_DBRI_RAWMEMOS || code == VL_DBRI_RAWDATA);
  uint32_t previous = a->recNo;
  if (visit && VL_SELF(area, goTo, rec) != VL_SUCCESS) return VL_FAILURE;
  VlStatus status = VL_SUCCESS;
  switch (code) {
    case VL_DBRI_DELETED: {
      bool deleted = false;
      status = VL_SELF(area, deleted, &deleted);
      vl_itemPutL(out, deleted);
      break;
    }
    case VL_DBRI_LOCKED: vl_itemPutL(out, !a->shared || isLocked(a, rec)); break;
    case VL_DBRI_RECSIZE: vl_itemPutNInt(out, a->recordLen); break;
    case VL_DBRI_RECNO: vl_itemPutNInt(out, rec); break;
    case VL_DBRI_UPDATED: vl_itemPutL(out, rec == a->recNo && a->hot); break;
    case VL_DBRI_ENCRYPTED:
      status = vl_dbfReadRecord(a);
      vl_itemPutL(out, a->encrypted);
      break;
    case VL_DBRI_RAWRECORD:
    case VL_DBRI_RAWMEMOS:
    case VL_DBRI_RAWDATA: {
      status = vl_dbfReadRecord(a);
      if (status != VL_SUCCESS) break;
      VlItem text;
      text.type = VL_IT_NIL;
      if (code == VL_DBRI_RAWMEMOS) vl_itemPutC(&text, "");
      else vl_itemPutCL(&text, reinterpret_cast<const char*>(a->record), a->recordLen);
      if (code != VL_DBRI_RAWRECORD) {
        for (uint16_t i = 0; i < area->fieldCount && status == VL_SUCCESS; ++i) {
          if (area->fields[i].type != VL_IT_MEMO) continue;
          VlItem memo;
          memo.type = VL_IT_NIL;
          status = VL_SELF(area, getValue, static_cast<uint16_t>(i + 1), &memo);
          size_t old = vl_itemGetCLen(&text), add = vl_itemGetCLen(&memo);
          char* buffer = vl_itemReSizeString(&text, old + add);
          std::memcpy(buffer + old, vl_itemGetCPtr(&memo), add);
          vl_itemClear(&memo);
        }
      }
      vl_itemMove(out, &text);
      break;
    }
    default:
      status = VL_SUPER(s_super, area, recInfo, recId, code, out);
  }
  if (visit) VL_SELF(area, goTo, previous);
  return status;
}

VlStatus dbfNewArea(VlArea* area) {
  VlDbfArea* a = D(area);
  if (VL_SUPER(s_super, area, newArea) != VL_SUCCESS) return VL_FAILURE;
  a->dataFile = a->memoFile = VL_FS_ERROR;
  a->dataNeedsCommit = a->memoNeedsCommit = false;
  a->recordLen = 1;
  return VL_SUCCESS;
}

VlStatus dbfStructSize(VlArea*, uint16_t* size) {
  *size = sizeof(VlDbfArea);
  return VL_SUCCESS;
}

VlStatus dbfSysName(VlArea*, char* buffer) {
  std::snprintf(buffer, VL_RDD_NAME_LEN + 1, "%s", "DBF");
  return VL_SUCCESS;
}

VlStatus dbfTrans(VlArea* area, VlTransInfo* info) {
  if ((info->flags & VL_TRANS_MATCH) && !D(area)->hasMemo) {
    VlItem answer;
    answer.type = VL_IT_NIL;
    if (VL_SELF(info->dest, info, VL_DBI_CANPUTREC, &answer) == VL_SUCCESS && vl_itemGetL(&answer))
      info->flags |= VL_TRANS_PUTREC;
    vl_itemClear(&answer);
  }
  return VL_SUPER(s_super, area, trans, info);
}

VlStatus dbfTransRec(VlArea* area, VlTransInfo* info) {
  if (!(info->flags & VL_TRANS_MATCH) || !(info->flags & VL_TRANS_PUTREC))
    return VL_SUPER(s_super, area, transRec, info);
  bool deleted = false;
  uint8_t* image = nullptr;
  if (VL_SELF(area, deleted, &deleted) != VL_SUCCESS || VL_SELF(area, getRec, &image) != VL_SUCCESS)
    return VL_FAILURE;
  VlArea* dest = info->dest;
  if (VL_SELF(dest, append, true) != VL_SUCCESS) return VL_FAILURE;
  if (VL_SELF(dest, putRec, image) != VL_SUCCESS) {
    VL_SELF(dest, deleteRec);
    return VL_FAILURE;
  }
  if (deleted && VL_SELF(dest, deleteRec) != VL_SUCCESS) return VL_FAILURE;
  return VL_SUCCESS;
}

VlStatus dbfForceRel(VlArea* area) {
  VlDbfArea* a = D(area);
  if (!a->pendingRel) return VL_SUCCESS;
  VlRelInfo* rel = a->pendingRel;
  a->pendingRel = nullptr;
  if (VL_SELF(area, goCold) != VL_SUCCESS) return VL_FAILURE;
  return VL_SELF(rel->parent, relEval, rel);
}

VlStatus dbfChildSync(VlArea* area, VlRelInfo* rel) {
  D(area)->pendingRel = rel;
  if (area->relations) return VL_SELF(area, syncChildren);
  return VL_SUCCESS;
}

VlStatus dbfChildStart(VlArea* area, VlRelInfo* rel) {
  if (VL_SELF(area, childSync, rel) != VL_SUCCESS) return VL_FAILURE;
  return VL_SUPER(s_super, area, childStart, rel);
}

VlStatus dbfChildEnd(VlArea* area, VlRelInfo* rel) {
  VlDbfArea* a = D(area);
  if (a->pendingRel == rel && VL_SELF(area, forceRel) != VL_SUCCESS) return VL_FAILURE;
  if (a->pendingRel == rel) a->pendingRel = nullptr;
  return VL_SUPER(s_super, area, childEnd, rel);
}

VlStatus dbfSetFilter(VlArea* area, VlFilterInfo* info) {
  if (forcePending(D(area)) != VL_SUCCESS) return VL_FAILURE;
  return VL_SUPER(s_super, area, setFilter, info);
}

// Plain DBF has no memo file: a table that needs one must be used through a memo driver.
VlStatus dbfCreateMemFile(VlArea* area, VlOpenInfo* info) {
  VlDbfArea* a = D(area);
  vl_rddRaise(area, VL_EG_DATATYPE, 1020, info ? info->fileName : nullptr, 0, 0, "Create error");
  a->hasMemo = false;
  return VL_FAILURE;
}

VlStatus dbfOpenMemFile(VlArea* area, VlOpenInfo* info) {
  vl_dbfError(D(area), 1001, info ? info->fileName : nullptr, 0, VL_ERR_FLAG_DEFAULT);
  return VL_FAILURE;
}

VlStatus dbfDrop(VlRddNode*, VlItem* table) {
  if (!table || !VL_IS_STRING(table) || vl_itemGetCLen(table) == 0) return VL_FAILURE;
  char name[VL_FS_PATH_MAX];
  withExtension(name, vl_itemGetCPtr(table), ".dbf");
  return vl_fsDelete(name) ? VL_SUCCESS : VL_FAILURE;
}

VlStatus dbfExists(VlRddNode*, VlItem* table, VlItem* index) {
  bool hasTable = table && VL_IS_STRING(table) && vl_itemGetCLen(table) > 0;
  bool hasIndex = index && VL_IS_STRING(index) && vl_itemGetCLen(index) > 0;
  if (!hasTable && !hasIndex) return VL_FAILURE;
  char name[VL_FS_PATH_MAX];
  std::snprintf(name, sizeof name, "%s", vl_itemGetCPtr(hasIndex ? index : table));
  if (hasTable && !std::strchr(name, '.')) {
    size_t len = std::strlen(name);
    std::snprintf(name + len, sizeof name - len, "%s", ".dbf");
  }
  return vl_fsFile(name) ? VL_SUCCESS : VL_FAILURE;
}

VlRddFuncs makeTable() {
  VlRddFuncs t{};
  t.bof = dbfBof;
  t.eof = dbfEof;
  t.found = dbfFound;
  t.goBottom = dbfGoBottom;
  t.goTo = dbfGoTo;
  t.goToId = dbfGoToId;
  t.goTop = dbfGoTop;
  t.skip = dbfSkip;
  t.skipRaw = dbfSkipRaw;
  t.addField = dbfAddField;
  t.append = dbfAppend;
  t.deleteRec = dbfDeleteRec;
  t.deleted = dbfDeleted;
  t.flush = dbfFlush;
  t.getRec = dbfGetRec;
  t.getValue = dbfGetValue;
  t.getVarLen = dbfGetVarLen;
  t.goCold = dbfGoCold;
  t.goHot = dbfGoHot;
  t.putRec = dbfPutRec;
  t.putValue = dbfPutValue;
  t.recall = dbfRecall;
  t.recCount = dbfRecCount;
  t.recInfo = dbfRecInfo;
  t.recNo = dbfRecNo;
  t.setFieldExtent = dbfSetFieldExtent;
  t.close = dbfClose;
  t.create = dbfCreate;
  t.info = dbfInfo;
  t.newArea = dbfNewArea;
  t.open = dbfOpen;
  t.structSize = dbfStructSize;
  t.sysName = dbfSysName;
  t.trans = dbfTrans;
  t.transRec = dbfTransRec;
  t.childEnd = dbfChildEnd;
  t.childStart = dbfChildStart;
  t.childSync = dbfChildSync;
  t.forceRel = dbfForceRel;
  t.setFilter = dbfSetFilter;
  t.unlock = dbfUnlock;
  t.createMemFile = dbfCreateMemFile;
  t.openMemFile = dbfOpenMemFile;
  t.readDBHeader = dbfReadDBHeader;
  t.writeDBHeader = dbfWriteDBHeader;
  t.drop = dbfDrop;
  t.exists = dbfExists;
  return t;
}

const VlRddFuncs s_dbfTable = makeTable();

// Positions [from, to) whose flag byte is the end-of-file byte end the table there.
uint32_t scanForEnd(VlDbfArea* a, uint32_t from, uint32_t to) {
  uint32_t perChunk = READ_AHEAD_BYTES / a->recordLen;
  if (perChunk == 0) perChunk = 1;
  uint8_t* chunk = static_cast<uint8_t*>(vl_xgrab(static_cast<size_t>(perChunk - 1) * a->recordLen + 1));
  uint32_t p = from;
  while (p < to) {
    uint32_t n = to - p < perChunk ? to - p : perChunk;
    uint32_t bytes = (n - 1) * a->recordLen + 1;
    uint32_t got = vl_fsReadAt(a->dataFile, chunk, bytes, a->headerLen + static_cast<uint64_t>(p) * a->recordLen);
    for (uint32_t k = 0; k < n; ++k, ++p) {
      size_t at = static_cast<size_t>(k) * a->recordLen;
      if (at >= got || chunk[at] == VL_DBF_EOF) {
        vl_xfree(chunk);
        return p;
      }
    }
  }
  vl_xfree(chunk);
  return to;
}

}  // namespace

const VlRddFuncs* vl_dbfTable() { return &s_dbfTable; }

unsigned vl_dbfError(VlDbfArea* a, int subCode, const char* fileName, int osCode, unsigned flags) {
  return vl_rddRaise(&a->area, vl_rddGenCodeOfSubCode(subCode), subCode, fileName, osCode, flags);
}

VlStatus vl_dbfFlushWrites(VlDbfArea* a) {
  if (a->pendingCount == 0) return VL_SUCCESS;
  uint32_t bytes = a->pendingCount * a->recordLen;
  if (vl_fsWriteAt(a->dataFile, a->pending, bytes, recordOffset(a, a->pendingFirst)) != bytes) {
    // The run stays: a later flush (the next commit, the close) tries again.
    vl_dbfError(a, 1011, a->dataName, static_cast<int>(vl_fsError()), 0);
    return VL_FAILURE;
  }
  a->pendingCount = 0;
  return VL_SUCCESS;
}

void vl_dbfSetRecCount(VlDbfArea* a, uint32_t count) {
  if (count < a->recCount) dropCache(a);
  a->recCount = count;
}

VlStatus vl_dbfCountRecords(VlDbfArea* a) {
  if (vl_dbfFlushWrites(a) != VL_SUCCESS) return VL_FAILURE;
  int64_t size = vl_fsSize(a->dataFile);
  if (size < 0) {
    vl_dbfError(a, 1010, a->dataName, static_cast<int>(vl_fsError()), 0);
    return VL_FAILURE;
  }
  uint32_t count = vl_dbfRecordsFromSize(static_cast<uint64_t>(size), a->headerLen, a->recordLen);
  // Records the header does not count yet are real only up to an end-of-file byte: a real
  // record's flag is never 0x1A, and what follows that byte must not be taken for records.
  if (count > a->recCount) count = scanForEnd(a, a->recCount, count);
  vl_dbfSetRecCount(a, count);
  return VL_SUCCESS;
}

VlStatus vl_dbfReadRecord(VlDbfArea* a) {
  if (a->validBuffer) return VL_SUCCESS;
  if (a->area.eof) {
    a->validBuffer = true;
    return VL_SUCCESS;
  }
  if (a->recNo > a->recCount) {
    if (a->shared && vl_dbfCountRecords(a) != VL_SUCCESS) return VL_FAILURE;
    if (a->recNo > a->recCount) {
      blankRecord(a);
      a->validBuffer = true;
      a->area.eof = true;
      return VL_SUCCESS;
    }
  }
  if (readRecordBytes(a, a->recNo) != VL_SUCCESS) return VL_FAILURE;
  a->positioned = a->validBuffer = true;
  uint8_t flag = a->record[0];
  a->encrypted = flag == 'D' || flag == 'E';
  a->deleted = a->encrypted ? flag == 'D' : flag == '*';
  return VL_SUCCESS;
}

// DBF_GETFUNCTABLE(pCount, pTable, pSuper): fills the table from the base work area's.
VL_FUNC(DBF_GETFUNCTABLE) {
  auto* count = static_cast<uint16_t*>(vl_parptr(1));
  auto* table = static_cast<VlRddFuncs*>(vl_parptr(2));
  if (count) *count = VL_RDD_SLOT_COUNT;
  if (!table) {
    vl_retni(VL_FAILURE);
    return;
  }
  vl_retni(vl_rddInherit(table, &s_dbfTable, &s_super, nullptr));
}

// DBFTABLETYPE([n]): the version byte of new tables; 0x30 and 0x03 may be chosen.
VL_FUNC(DBFTABLETYPE) {
  vl_retni(s_tableType);
  if (const VlItem* p = vl_param(1, VL_IT_NUMERIC)) {
    int type = vl_itemGetNI(p);
    if (type == VL_DBF_VERSION_30 || type == VL_DBF_VERSION_PLAIN) s_tableType = static_cast<uint8_t>(type);
  }
}

VL_NATIVE_MODULE(dbf1, VL_FUNCENTRY(DBF_GETFUNCTABLE), VL_FUNCENTRY(DBFTABLETYPE));
