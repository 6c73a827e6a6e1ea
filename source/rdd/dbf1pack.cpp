// Whole-table operations of the DBF driver: pack (remove deleted records), zap (remove all) and
// sort (records in key order into another area through a temporary file).
//
// Pack moves the records that stay towards the front, in place: the write position never passes
// the read position, so a record not yet read is never overwritten. The new record count is set
// only once every moved record is on disk; a write that fails midway leaves the old count, and
// with it every record that should stay (some of them then twice), never fewer.
#include <algorithm>
#include <cstring>
#include <vector>

#include "../vm/arrays.h"
#include "../vm/xmem.h"
#include "bytes.h"
#include "dbf1.h"
#include "dbfformat.h"

uint64_t vl_dbfSortMemoryLimit = 256ull * 1024 * 1024;

namespace {

VlDbfArea* D(VlArea* area) { return vl_dbfArea(area); }

// Read-only and shared tables cannot be rewritten as a whole.
bool mayRewrite(VlDbfArea* a) {
  if (a->readOnly) {
    vl_dbfError(a, 1025, nullptr, 0, 0);
    return false;
  }
  if (a->shared) {
    vl_dbfError(a, 1023, nullptr, 0, 0);
    return false;
  }
  return true;
}

}  // namespace

VlStatus vl_dbfPack(VlArea* area) {
  VlDbfArea* a = D(area);
  if (!mayRewrite(a)) return VL_FAILURE;
  // Records written before the pack reach the file first: from here on the only writes waiting
  // are the pack's own moves.
  if (VL_SELF(area, goCold) != VL_SUCCESS || vl_dbfFlushWrites(a) != VL_SUCCESS) return VL_FAILURE;
  // The progress block: evaluating it replaces the result item, so it is held apart.
  VlItem block;
  block.type = VL_IT_NIL;
  long interval = 1;
  if (VL_IS_ARRAY(area->result) && vl_arrayLen(area->result) == 2) {
    vl_itemCopy(&block, vl_arrayGetItemPtr(area->result, 1));
    const VlItem* every = vl_arrayGetItemPtr(area->result, 2);
    interval = every && VL_IS_NUMERIC(every) ? vl_itemGetNL(every) : 0;
    if (interval <= 0) interval = 1;
  }
  bool useBlock = VL_IS_BLOCK(&block);
  long counter = 0;
  uint32_t count = a->recCount;
  uint32_t j = 0;
  VlStatus status = VL_SUCCESS;
  for (uint32_t k = 1; k <= count && status == VL_SUCCESS; ++k) {
    if (VL_SELF(area, goTo, k) != VL_SUCCESS || vl_dbfReadRecord(a) != VL_SUCCESS) {
      status = VL_FAILURE;
      break;
    }
    if (useBlock && ++counter >= interval) {
      counter = 0;
      if (VL_SELF(area, evalBlock, &block) != VL_SUCCESS) status = VL_FAILURE;
    }
    if (a->deleted) continue;
    if (++j == k) continue;
    a->recNo = j;
    a->hot = true;
    if (VL_SELF(area, putRec, nullptr) != VL_SUCCESS) {
      a->hot = false;
      status = VL_FAILURE;
    }
  }
  if (status == VL_SUCCESS && useBlock && counter != 0 && VL_SELF(area, evalBlock, &block) != VL_SUCCESS)
    status = VL_FAILURE;
  vl_itemClear(&block);
  if (status != VL_SUCCESS) {
    // The count stays: the records not yet moved are still at their old places.
    a->validBuffer = false;
    VL_SELF(area, goTo, 1);
    return VL_FAILURE;
  }
  if (j != count) {
    if (vl_dbfFlushWrites(a) != VL_SUCCESS) {
      a->validBuffer = false;
      return VL_FAILURE;
    }
    vl_dbfSetRecCount(a, j);
    a->updateHeader = true;
  }
  return VL_SELF(area, goTo, 1);
}

VlStatus vl_dbfZap(VlArea* area) {
  VlDbfArea* a = D(area);
  if (!mayRewrite(a)) return VL_FAILURE;
  if (VL_SELF(area, goCold) != VL_SUCCESS) return VL_FAILURE;
  a->updateHeader = true;
  // Records still waiting to be written are gone with the rest.
  a->pendingCount = 0;
  vl_dbfSetRecCount(a, 0);
  a->cacheCount = 0;
  if (VL_SELF(area, goTo, 0) != VL_SUCCESS) return VL_FAILURE;
  if (a->hasMemo && a->memoFile != VL_FS_ERROR) return VL_SELF(area, createMemFile, nullptr);
  return VL_SUCCESS;
}

// ---- sort ----
namespace {

struct SortKeys {
  const VlDbfArea* a;
  const VlSortItem* items;
  uint16_t count;
};

bool isTrue(uint8_t c) { return c == 'T' || c == 'Y' || c == 't' || c == 'y'; }
uint8_t upperAscii(uint8_t c) { return c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 32) : c; }

// <0, 0, >0 as record x sorts before, with or after record y.
int compareRecords(const SortKeys& k, const uint8_t* x, const uint8_t* y) {
  for (uint16_t i = 0; i < k.count; ++i) {
    uint16_t field = k.items[i].field;
    if (field == 0 || field > k.a->area.fieldCount) continue;
    const VlField& f = k.a->area.fields[field - 1];
    if (f.type == VL_IT_MEMO) continue;
    uint32_t off = k.a->fieldOffsets[field - 1];
    const uint8_t* p = x + off;
    const uint8_t* q = y + off;
    int d = 0;
    if (f.type == VL_IT_LOGICAL) {
      d = static_cast<int>(isTrue(p[0])) - static_cast<int>(isTrue(q[0]));
    } else if (k.items[i].flags & VL_SORT_CASE) {
      for (uint16_t n = 0; n < f.len && d == 0; ++n) d = static_cast<int>(upperAscii(p[n])) - upperAscii(q[n]);
    } else {
      d = std::memcmp(p, q, f.len);
    }
    if (d != 0) return (k.items[i].flags & VL_SORT_DESCEND) ? -d : d;
  }
  return 0;
}

// The temporary file: records of the source (each followed by its 4-byte record number, which
// the memo texts are fetched by), written in batches.
struct SortFile {
  VlFHandle h = VL_FS_ERROR;
  char name[VL_FS_PATH_MAX] = "";
  uint32_t slot = 0;  // bytes a record takes in the file
  uint32_t count = 0;
  std::vector<uint8_t> batch;
  uint32_t inBatch = 0, perBatch = 1;

  bool flush() {
    uint32_t bytes = inBatch * slot;
    if (bytes && vl_fsWriteAt(h, batch.data(), bytes, static_cast<uint64_t>(count - inBatch) * slot) != bytes)
      return false;
    inBatch = 0;
    return true;
  }
  bool add(const uint8_t* rec, uint32_t recLen, uint32_t recNo) {
    uint8_t* p = batch.data() + static_cast<size_t>(inBatch) * slot;
    std::memcpy(p, rec, recLen);
    p[recLen] = static_cast<uint8_t>(recNo);
    p[recLen + 1] = static_cast<uint8_t>(recNo >> 8);
    p[recLen + 2] = static_cast<uint8_t>(recNo >> 16);
    p[recLen + 3] = static_cast<uint8_t>(recNo >> 24);
    ++inBatch;
    ++count;
    return inBatch < perBatch || flush();
  }
  ~SortFile() {
    if (h != VL_FS_ERROR) {
      vl_fsClose(h);
      vl_fsDelete(name);
    }
  }
};

// Quicksort over the records of the file for tables too large for memory: the reference record
// is the last of the range when the first sorts before the last, else the first; the smaller
// part is sorted by recursion, the larger by the loop, so the depth stays logarithmic.
bool fileQuickSort(SortFile& f, const SortKeys& k, uint32_t lo, uint32_t hi, uint8_t* a, uint8_t* b, uint8_t* pivot) {
  auto rd = [&](uint32_t i, uint8_t* to) { return vl_fsReadAt(f.h, to, f.slot, static_cast<uint64_t>(i) * f.slot) == f.slot; };
  auto wr = [&](uint32_t i, const uint8_t* from) {
    return vl_fsWriteAt(f.h, from, f.slot, static_cast<uint64_t>(i) * f.slot) == f.slot;
  };
  while (lo < hi) {
    if (!rd(lo, a) || !rd(hi, b)) return false;
    uint32_t pivotAt = compareRecords(k, a, b) < 0 ? hi : lo;
    std::memcpy(pivot, pivotAt == hi ? b : a, f.slot);
    // Move the reference record to the end, partition, put it in its place.
    if (pivotAt != hi) {
      if (!wr(lo, b) || !wr(hi, a)) return false;
    }
    uint32_t store = lo;
    for (uint32_t i = lo; i < hi; ++i) {
      if (!rd(i, a)) return false;
      if (compareRecords(k, a, pivot) < 0) {
        if (i != store) {
          if (!rd(store, b) || !wr(store, a) || !wr(i, b)) return false;
        }
        ++store;
      }
    }
    if (store != hi) {
      if (!rd(store, a) || !wr(store, pivot) || !wr(hi, a)) return false;
    }
    if (store - lo < hi - store) {
      if (store > lo && !fileQuickSort(f, k, lo, store - 1, a, b, pivot)) return false;
      lo = store + 1;
    } else {
      if (store + 1 < hi && !fileQuickSort(f, k, store + 1, hi, a, b, pivot)) return false;
      if (store == 0) break;
      hi = store - 1;
    }
  }
  return true;
}


uint32_t recNoAfter(const uint8_t* rec, uint16_t recordLen) {
  uint32_t n = 0;
  vl_leGet32(rec + recordLen, rec + recordLen + 4, &n);
  return n;
}

long scopeNumber(const VlItem* item) { return item && VL_IS_NUMERIC(item) ? vl_itemGetNL(item) : 0; }

// Copies one sorted record into the target: the raw bytes, then each memo text through the
// memo layer, because the source's block numbers mean nothing in the target's memo file.
VlStatus putSorted(VlDbfArea* a, VlArea* dest, uint8_t* rec, uint32_t recNo) {
  rec[0] = ' ';
  bool memos = false;
  for (uint16_t i = 0; i < a->area.fieldCount; ++i) {
    const VlField& f = a->area.fields[i];
    if (f.type != VL_IT_MEMO) continue;
    vl_dbfBlankField(f.type, f.len, rec + a->fieldOffsets[i]);
    memos = true;
  }
  if (VL_SELF(dest, append, true) != VL_SUCCESS) return VL_FAILURE;
  if (VL_SELF(dest, putRec, rec) != VL_SUCCESS) return VL_FAILURE;
  if (!memos) return VL_SUCCESS;
  if (VL_SELF(&a->area, goTo, recNo) != VL_SUCCESS) return VL_FAILURE;
  for (uint16_t i = 0; i < a->area.fieldCount; ++i) {
    if (a->area.fields[i].type != VL_IT_MEMO) continue;
    VlItem text;
    text.type = VL_IT_NIL;
    VlStatus s = VL_SELF(&a->area, getValue, static_cast<uint16_t>(i + 1), &text);
    if (s == VL_SUCCESS) s = VL_SELF(dest, putValue, static_cast<uint16_t>(i + 1), &text);
    vl_itemClear(&text);
    if (s != VL_SUCCESS) return VL_FAILURE;
  }
  return VL_SUCCESS;
}

}  // namespace

VlStatus vl_dbfSort(VlArea* area, VlSortInfo* info) {
  VlDbfArea* a = D(area);
  VlArea* dest = info->trans.dest;
  if (!dest || dest == area) return VL_FAILURE;
  if (VL_SELF(area, goCold) != VL_SUCCESS) return VL_FAILURE;
  // Raw records are copied: the target must have the source's record layout.
  VlItem size;
  size.type = VL_IT_NIL;
  bool sameLength = VL_SELF(dest, info, VL_DBI_GETRECSIZE, &size) == VL_SUCCESS && vl_itemGetNL(&size) == a->recordLen;
  vl_itemClear(&size);
  if (!sameLength || dest->fieldCount != area->fieldCount) return VL_FAILURE;

  SortFile f;
  f.h = vl_fsCreateTemp(nullptr, VL_FC_NORMAL, VL_FO_EXCLUSIVE, f.name);
  if (f.h == VL_FS_ERROR) return VL_FAILURE;
  f.slot = a->recordLen + 4u;
  f.perBatch = 65535u / a->recordLen;
  if (f.perBatch == 0) f.perBatch = 1;
  f.batch.resize(static_cast<size_t>(f.perBatch) * f.slot);

  const VlScopeInfo& scope = info->trans.scope;
  bool hasRecord = scope.record && !VL_IS_NIL(scope.record);
  bool hasWhile = scope.whileBlock && VL_IS_BLOCK(scope.whileBlock);
  bool hasFor = scope.forBlock && VL_IS_BLOCK(scope.forBlock);
  bool rest = scope.rest && VL_IS_LOGICAL(scope.rest) && vl_itemGetL(scope.rest);
  long next = scopeNumber(scope.next);
  bool hasNext = scope.next && VL_IS_NUMERIC(scope.next);
  if (hasRecord) {
    if (VL_SELF(area, goToId, scope.record) != VL_SUCCESS) return VL_FAILURE;
  } else if (hasNext) {
    if (next < 1) return VL_SUCCESS;
  } else if (!hasWhile && !rest) {
    if (VL_SELF(area, goTop) != VL_SUCCESS) return VL_FAILURE;
  }
  for (;;) {
    bool eof = true;
    if (VL_SELF(area, eof, &eof) != VL_SUCCESS) return VL_FAILURE;
    if (eof) break;
    if (hasWhile) {
      if (VL_SELF(area, evalBlock, scope.whileBlock) != VL_SUCCESS) return VL_FAILURE;
      if (!vl_itemGetL(area->result)) break;
    }
    bool chosen = true;
    if (hasFor) {
      if (VL_SELF(area, evalBlock, scope.forBlock) != VL_SUCCESS) return VL_FAILURE;
      chosen = vl_itemGetL(area->result);
    }
    if (chosen) {
      uint8_t* rec = nullptr;
      if (VL_SELF(area, getRec, &rec) != VL_SUCCESS) return VL_FAILURE;
      if (!f.add(rec, a->recordLen, a->recNo)) {
        vl_dbfError(a, 1011, f.name, static_cast<int>(vl_fsError()), 0);
        return VL_FAILURE;
      }
    }
    if (hasRecord) break;
    if (hasNext && --next < 1) break;
    if (VL_SELF(area, skip, 1) != VL_SUCCESS) return VL_FAILURE;
  }
  if (!f.flush()) {
    vl_dbfError(a, 1011, f.name, static_cast<int>(vl_fsError()), 0);
    return VL_FAILURE;
  }

  SortKeys keys{a, info->items, info->itemCount};
  uint64_t total = static_cast<uint64_t>(f.count) * f.slot;
  if (total <= vl_dbfSortMemoryLimit) {
    std::vector<uint8_t> all(static_cast<size_t>(total));
    if (total && vl_fsReadAt(f.h, all.data(), static_cast<uint32_t>(total), 0) != total) {
      vl_dbfError(a, 1010, f.name, static_cast<int>(vl_fsError()), 0);
      return VL_FAILURE;
    }
    std::vector<uint32_t> order(f.count);
    for (uint32_t i = 0; i < f.count; ++i) order[i] = i;
    const uint8_t* base = all.data();
    uint32_t slot = f.slot;
    std::sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
      return compareRecords(keys, base + static_cast<size_t>(x) * slot, base + static_cast<size_t>(y) * slot) < 0;
    });
    for (uint32_t i : order) {
      uint8_t* rec = all.data() + static_cast<size_t>(i) * slot;
      if (putSorted(a, dest, rec, recNoAfter(rec, a->recordLen)) != VL_SUCCESS) break;
    }
    return VL_SUCCESS;
  }
  std::vector<uint8_t> work(static_cast<size_t>(f.slot) * 3);
  uint8_t* x = work.data();
  uint8_t* y = x + f.slot;
  uint8_t* pivot = y + f.slot;
  if (f.count >= 2 && !fileQuickSort(f, keys, 0, f.count - 1, x, y, pivot)) {
    vl_dbfError(a, 1011, f.name, static_cast<int>(vl_fsError()), 0);
    return VL_FAILURE;
  }
  for (uint32_t i = 0; i < f.count; ++i) {
    if (vl_fsReadAt(f.h, x, f.slot, static_cast<uint64_t>(i) * f.slot) != f.slot) {
      vl_dbfError(a, 1010, f.name, static_cast<int>(vl_fsError()), 0);
      return VL_FAILURE;
    }
    if (putSorted(a, dest, x, recNoAfter(x, a->recordLen)) != VL_SUCCESS) break;
  }
  return VL_SUCCESS;
}
