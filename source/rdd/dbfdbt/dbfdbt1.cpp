// The DBFDBT driver: the DBF driver plus memo fields, whose texts live in a ".dbt" file of
// 512-byte blocks and are referenced from the record by a block number. Every slot it replaces
// falls back to the DBF one for fields that are not memos and for tables without a memo file.
//
// DBT file:
//   OFFSET   SIZE  MEANING
//   0        4     next free block number, unsigned 32-bit little-endian (1 in a new file)
//   4        508   zero in a new file; never read (other writers keep a name or a block size here)
//   512 x b        block b (b >= 1): memo text, ended by the byte 0x1A; a text runs over as many
//                  consecutive blocks as it needs
// Memo field in the record: the block number as 10 ASCII digits right-aligned with leading
// blanks (only the digits are read), or, in a field of length 4, unsigned 32-bit little-endian.
// Block 0 means no memo.
//
// A damaged memo file is read only as far as it goes: a block number past its end reads as
// the empty text, a text without its end byte stops at the end of the file. New texts always go
// after the last block the file holds, even when its header claims less, so no text is ever
// written over another one; a gap before them is filled with end bytes.
#include <cstdio>
#include <cstring>

#include "../../rtl/set.h"
#include "../../vm/extend.h"
#include "../../vm/xmem.h"
#include "../bytes.h"
#include "../dbf1.h"

namespace {

VlRddFuncs s_super;  // DBF's table

constexpr uint32_t BLOCK = 512;
constexpr uint8_t END = 0x1A;
constexpr uint32_t READ_CHUNK = 4 * BLOCK;

VlDbfArea* D(VlArea* area) { return vl_dbfArea(area); }

bool isMemoField(VlArea* area, uint16_t index) {
  return index >= 1 && index <= area->fieldCount && area->fields[index - 1].type == VL_IT_MEMO;
}

bool hasMemoFile(VlArea* area) { return D(area)->memoFile != VL_FS_ERROR; }

// ---- memo file locks: byte 0 of the DBT, only in shared mode ----
bool memoLock(VlDbfArea* a, bool write) {
  if (!a->shared) return true;
  uint32_t mode = write ? (VL_FL_LOCK | VL_FL_WAIT) : (VL_FL_LOCK | VL_FL_SHARED | VL_FL_WAIT);
  for (;;) {
    if (vl_fsLock(a->memoFile, 0, 1, mode)) return true;
    // A waiting lock fails only when it can never be had (a broken handle): stop waiting.
    if (vl_fsError() != VL_FERR_LOCK) return false;
  }
}

void memoUnlock(VlDbfArea* a) {
  if (a->shared) vl_fsLock(a->memoFile, 0, 1, VL_FL_UNLOCK);
}

// ---- block numbers in the record ----
uint32_t blockOf(VlDbfArea* a, uint16_t index) {
  const VlField& f = a->area.fields[index - 1];
  const uint8_t* p = a->record + a->fieldOffsets[index - 1];
  if (f.len == 4) {
    uint32_t v = 0;
    vl_leGet32(p, p + 4, &v);
    return v;
  }
  uint64_t v = 0;
  for (uint16_t i = 0; i < f.len; ++i) {
    if (p[i] < '0' || p[i] > '9') continue;
    v = v * 10 + static_cast<uint64_t>(p[i] - '0');
    // A number no file can reach reads as a block past the end: the empty text.
    if (v > 0xFFFFFFFFULL) v = 0xFFFFFFFFULL;
  }
  return static_cast<uint32_t>(v);
}

bool setBlock(VlDbfArea* a, uint16_t index, uint32_t block) {
  const VlField& f = a->area.fields[index - 1];
  uint8_t* p = a->record + a->fieldOffsets[index - 1];
  if (f.len == 4) {
    vl_lePut32(p, block);
    return true;
  }
  char digits[16];
  int n = block ? std::snprintf(digits, sizeof digits, "%u", block) : 0;
  if (n > f.len) return false;
  std::memset(p, ' ', f.len);
  std::memcpy(p + f.len - n, digits, static_cast<size_t>(n));
  return true;
}

// ---- reading ----
// The text of block b into a new buffer (length in *len); it ends at the first 0x1A or at the
// end of the file. Null with *len 0 for block 0 or a block past the end.
char* readText(VlDbfArea* a, uint32_t block, size_t* len) {
  *len = 0;
  if (block == 0) return nullptr;
  uint64_t offset = static_cast<uint64_t>(block) * BLOCK;
  size_t capacity = 0;
  char* text = nullptr;
  for (;;) {
    if (capacity - *len < READ_CHUNK) {
      capacity = capacity ? capacity * 2 : READ_CHUNK;
      text = static_cast<char*>(text ? vl_xrealloc(text, capacity + 1) : vl_xgrab(capacity + 1));
    }
    uint32_t got = vl_fsReadAt(a->memoFile, text + *len, READ_CHUNK, offset + *len);
    if (got == 0) break;
    auto* end = static_cast<char*>(std::memchr(text + *len, END, got));
    if (end) {
      *len = static_cast<size_t>(end - text);
      break;
    }
    *len += got;
    if (got < READ_CHUNK) break;
  }
  return text;
}

size_t textLength(VlDbfArea* a, uint32_t block) {
  size_t len = 0;
  char* text = readText(a, block, &len);
  if (text) vl_xfree(text);
  return len;
}

// ---- writing ----
// Writes the n bytes as field index's memo: in place over a one-block text, else after the
// last block. 0 or the subcode of the failure; on failure the field keeps its old block.
int writeMemo(VlDbfArea* a, uint16_t index, const char* text, size_t n) {
  if (n == 0) return setBlock(a, index, 0) ? 0 : 1021;
  if (n > 0xFFFFFFFFULL - 2 * BLOCK) return 1021;
  uint64_t fileEnd;
  uint32_t next = 0;
  if (a->memoKnown && !a->shared) {
    fileEnd = a->memoEnd;
    next = a->memoNext;
  } else {
    int64_t size = vl_fsSize(a->memoFile);
    uint8_t head[4];
    if (size < 0 || vl_fsReadAt(a->memoFile, head, 4, 0) != 4) return 1010;
    fileEnd = static_cast<uint64_t>(size);
    vl_leGet32(head, head + 4, &next);
  }
  uint32_t old = blockOf(a, index);
  // A one-block text is rewritten in place, unless its block lies past the end of the file (a
  // damaged block number): the text then goes to new blocks like a longer one.
  bool inPlace = old != 0 && n < BLOCK - 1 && static_cast<uint64_t>(old) * BLOCK < fileEnd;
  uint32_t block = old;
  if (!inPlace) {
    // The header's number is trusted only where it agrees with the file: a text may end inside
    // the last block, so it may lie one block past the end. Anything else is damage, and the
    // block after the last one the file holds is the only one sure to be free.
    uint64_t used = (fileEnd + BLOCK - 1) / BLOCK;
    uint64_t chosen = next >= used && next <= used + 1 ? next : used;
    if (chosen == 0) chosen = 1;
    if (chosen + n / BLOCK + 1 > 0xFFFFFFFFULL) return 1021;
    block = static_cast<uint32_t>(chosen);
  }
  uint64_t offset = static_cast<uint64_t>(block) * BLOCK;
  // A gap before the new text is filled with end bytes, so that a last text without its end
  // byte (a damaged file) does not run on into the new one.
  size_t gap = !inPlace && fileEnd < offset ? static_cast<size_t>(offset - fileEnd) : 0;
  bool samePage = a->cdp == vl_cdpCurrent();
  size_t total = samePage ? n + (BLOCK - n % BLOCK) : n + 1;
  auto* bytes = static_cast<char*>(vl_xalloc(gap + total));
  bool ok;
  uint64_t end = offset + total;  // where the text's last written byte ends
  if (bytes) {
    std::memset(bytes, END, gap);
    std::memcpy(bytes + gap, text, n);
    if (!samePage) vl_cdpTranslate(bytes + gap, n, vl_cdpCurrent(), a->cdp);
    std::memset(bytes + gap + n, END, total - n);
    ok = vl_fsWriteAt(a->memoFile, bytes, static_cast<uint32_t>(gap + total), offset - gap) == gap + total;
    vl_xfree(bytes);
  } else {
    // No buffer for the whole text: block by block, each converted and padded.
    char chunk[BLOCK];
    std::memset(chunk, END, BLOCK);
    ok = gap == 0 || vl_fsWriteAt(a->memoFile, chunk, static_cast<uint32_t>(gap), offset - gap) == gap;
    for (size_t done = 0; ok && done <= n; done += BLOCK) {
      size_t part = n - done < BLOCK ? n - done : BLOCK;
      std::memcpy(chunk, text + done, part);
      if (!samePage) vl_cdpTranslate(chunk, part, vl_cdpCurrent(), a->cdp);
      std::memset(chunk + part, END, BLOCK - part);
      ok = vl_fsWriteAt(a->memoFile, chunk, BLOCK, offset + done) == BLOCK;
      end = offset + done + BLOCK;
      if (part < BLOCK) break;
    }
  }
  if (!ok) {
    a->memoKnown = false;  // the file may have grown by part of the text
    return 1011;
  }
  a->memoNeedsCommit = true;
  if (!inPlace) {
    next = block + static_cast<uint32_t>(n / BLOCK) + 1;
    if (a->shared) {
      uint8_t head[4];
      vl_lePut32(head, next);
      if (vl_fsWriteAt(a->memoFile, head, 4, 0) != 4) return 1011;
    } else {
      // An exclusive user writes the header once, with the table's (writeDBHeader): a header
      // that lags behind after a crash costs nothing, since new texts go after the file's end.
      a->memoHeaderDirty = true;
      a->updateHeader = true;
    }
  }
  if (!a->shared) {
    a->memoKnown = true;
    a->memoNext = next;
    a->memoEnd = end > fileEnd ? end : fileEnd;
  }
  return setBlock(a, index, block) ? 0 : 1021;
}

// ---- slots ----
VlStatus dbtGetValue(VlArea* area, uint16_t index, VlItem* out) {
  if (!isMemoField(area, index) || !hasMemoFile(area)) return VL_SUPER(s_super, area, getValue, index, out);
  VlDbfArea* a = D(area);
  bool deleted = false;
  if (VL_SELF(area, deleted, &deleted) != VL_SUCCESS) return VL_FAILURE;
  if (!memoLock(a, false)) {
    vl_rddRaise(area, VL_EG_LOCK, 1038, a->memoName, 0, VL_ERR_FLAG_DEFAULT);
    return VL_FAILURE;
  }
  size_t len = 0;
  char* text = readText(a, blockOf(a, index), &len);
  memoUnlock(a);
  if (text) {
    if (len && a->cdp != vl_cdpCurrent()) vl_cdpTranslate(text, len, a->cdp, vl_cdpCurrent());
    vl_itemPutCPtr(out, text, len);
  } else {
    vl_itemPutC(out, "");
  }
  vl_itemSetCMemo(out);
  return VL_SUCCESS;
}

VlStatus dbtGetVarLen(VlArea* area, uint16_t index, uint32_t* out) {
  if (!isMemoField(area, index) || !hasMemoFile(area)) return VL_SUPER(s_super, area, getVarLen, index, out);
  VlDbfArea* a = D(area);
  bool deleted = false;
  if (VL_SELF(area, deleted, &deleted) != VL_SUCCESS) return VL_FAILURE;
  *out = 0;
  if (!memoLock(a, false)) return VL_SUCCESS;
  size_t len = textLength(a, blockOf(a, index));
  memoUnlock(a);
  *out = len > 0xFFFFFFFFULL ? 0xFFFFFFFFu : static_cast<uint32_t>(len);
  return VL_SUCCESS;
}

VlStatus dbtPutValue(VlArea* area, uint16_t index, VlItem* value) {
  if (!isMemoField(area, index) || !hasMemoFile(area)) return VL_SUPER(s_super, area, putValue, index, value);
  VlDbfArea* a = D(area);
  int subCode = 0;
  if (!VL_IS_STRING(value)) {
    subCode = 1020;
  } else {
    bool deleted = false;
    if (VL_SELF(area, deleted, &deleted) != VL_SUCCESS) return VL_FAILURE;
    if (!a->positioned) return VL_SUCCESS;
    if (!a->hot && VL_SELF(area, goHot) != VL_SUCCESS) return VL_FAILURE;
    if (!memoLock(a, true)) {
      subCode = 1038;
    } else {
      subCode = writeMemo(a, index, vl_itemGetCPtr(value), vl_itemGetCLen(value));
      memoUnlock(a);
    }
    a->record[0] = a->deleted ? '*' : ' ';
    a->encrypted = false;
  }
  if (subCode == 0) return VL_SUCCESS;
  const char* file = subCode == 1010 || subCode == 1011 ? a->memoName : nullptr;
  int osCode = file ? static_cast<int>(vl_fsError()) : 0;
  vl_rddRaise(area, vl_rddGenCodeOfSubCode(subCode), subCode, file, osCode, VL_ERR_FLAG_DEFAULT);
  return VL_FAILURE;
}

VlStatus dbtInfo(VlArea* area, uint16_t code, VlItem* item) {
  switch (code) {
    case VL_DBI_MEMOEXT: vl_itemPutC(item, ".dbt"); return VL_SUCCESS;
    case VL_DBI_MEMOBLOCKSIZE: vl_itemPutNI(item, BLOCK); return VL_SUCCESS;
    default: return VL_SUPER(s_super, area, info, code, item);
  }
}

VlStatus dbtStructSize(VlArea*, uint16_t* size) {
  *size = sizeof(VlDbfArea);
  return VL_SUCCESS;
}

VlStatus dbtSysName(VlArea*, char* buffer) {
  std::snprintf(buffer, VL_RDD_NAME_LEN + 1, "%s", "DBFDBT");
  return VL_SUCCESS;
}

VlStatus dbtCreateMemFile(VlArea* area, VlOpenInfo* info) {
  VlDbfArea* a = D(area);
  a->memoBlockSize = BLOCK;
  a->memoKnown = a->memoHeaderDirty = false;
  if (info) {
    const char* name = info->fileName ? info->fileName : "";
    for (;;) {
      a->memoFile = vl_spCreate(name, VL_FC_NORMAL);
      if (a->memoFile != VL_FS_ERROR) break;
      if (vl_rddRaise(area, VL_EG_CREATE, 1004, name, static_cast<int>(vl_fsError()), VL_ERR_FLAG_RETRY) !=
          VL_ERR_RESULT_RETRY)
        return VL_FAILURE;
    }
    if (a->memoName) vl_xfree(a->memoName);
    a->memoName = vl_strdup(name);
  } else if (a->memoFile == VL_FS_ERROR) {
    return VL_FAILURE;
  }
  uint8_t head[BLOCK] = {};
  vl_lePut32(head, 1);
  if (vl_fsWriteAt(a->memoFile, head, BLOCK, 0) != BLOCK || !vl_fsTruncate(a->memoFile, BLOCK)) {
    vl_rddRaise(area, VL_EG_WRITE, 1011, a->memoName, static_cast<int>(vl_fsError()), 0);
    return VL_FAILURE;
  }
  a->memoNeedsCommit = true;
  return VL_SUCCESS;
}

VlStatus dbtOpenMemFile(VlArea* area, VlOpenInfo* info) {
  VlDbfArea* a = D(area);
  const char* name = info && info->fileName ? info->fileName : "";
  char path[VL_FS_PATH_MAX];
  if (!vl_spFile(name, path)) std::snprintf(path, sizeof path, "%s", name);
  uint32_t mode = (a->readOnly ? VL_FO_READ : VL_FO_READWRITE) | (a->shared ? VL_FO_DENYNONE : VL_FO_EXCLUSIVE);
  for (;;) {
    a->memoFile = vl_fsOpen(path, mode);
    if (a->memoFile != VL_FS_ERROR) break;
    if (vl_rddRaise(area, VL_EG_OPEN, 1001, path, static_cast<int>(vl_fsError()),
                    VL_ERR_FLAG_RETRY | VL_ERR_FLAG_DEFAULT) != VL_ERR_RESULT_RETRY)
      return VL_FAILURE;
  }
  if (a->memoName) vl_xfree(a->memoName);
  a->memoName = vl_strdup(path);
  a->memoBlockSize = BLOCK;
  a->memoKnown = a->memoHeaderDirty = false;
  return VL_SUCCESS;
}

VlStatus dbtReadDBHeader(VlArea* area) { return VL_SUPER(s_super, area, readDBHeader); }

VlStatus dbtWriteDBHeader(VlArea* area) {
  VlDbfArea* a = D(area);
  if (a->hasMemo && a->version != 0x30 && a->version != 0x31) a->version = 0x83;
  if (a->memoHeaderDirty && a->memoFile != VL_FS_ERROR) {
    uint8_t head[4];
    vl_lePut32(head, a->memoNext);
    if (vl_fsWriteAt(a->memoFile, head, 4, 0) != 4) {
      vl_rddRaise(area, VL_EG_WRITE, 1011, a->memoName, static_cast<int>(vl_fsError()), 0);
      return VL_FAILURE;
    }
    a->memoHeaderDirty = false;
  }
  return VL_SUPER(s_super, area, writeDBHeader);
}

VlRddFuncs makeTable() {
  VlRddFuncs t{};
  t.getValue = dbtGetValue;
  t.getVarLen = dbtGetVarLen;
  t.putValue = dbtPutValue;
  t.info = dbtInfo;
  t.structSize = dbtStructSize;
  t.sysName = dbtSysName;
  t.createMemFile = dbtCreateMemFile;
  t.openMemFile = dbtOpenMemFile;
  t.readDBHeader = dbtReadDBHeader;
  t.writeDBHeader = dbtWriteDBHeader;
  return t;
}

const VlRddFuncs s_dbtTable = makeTable();

}  // namespace

VL_FUNC(DBFDBT_GETFUNCTABLE) {
  auto* count = static_cast<uint16_t*>(vl_parptr(1));
  auto* table = static_cast<VlRddFuncs*>(vl_parptr(2));
  if (count) *count = VL_RDD_SLOT_COUNT;
  if (!table) {
    vl_retni(VL_FAILURE);
    return;
  }
  vl_retni(vl_rddInherit(table, &s_dbtTable, &s_super, "DBF"));
}

// Start-up calls this first of the driver procedures: DBF, then DBFDBT on top of it.
VL_FUNC(DBFDBTINIT) {
  vl_rddRegisterChecked("DBF", VL_RDD_TYPE_TABLE);
  vl_rddRegisterChecked("DBFDBT", VL_RDD_TYPE_TABLE);
  vl_ret();
}

VL_NATIVE_MODULE(dbfdbt1, VL_FUNCENTRY(DBFDBT_GETFUNCTABLE), VL_FUNCENTRY(DBFDBTINIT));
