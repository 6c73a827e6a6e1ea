// The memory-variable save file (".mem"): encoding the selected variables into the file's bytes
// and restoring variables from them. Only the byte layout and the selection live here; the
// language functions __MSAVE and __MRESTORE at the end wrap them with the file I/O.
//
// The file is a sequence of records ended by one byte 0x1A. A record is a header of 32 bytes
// (85 in long-name mode) followed by the value's data:
//
//   OFFSET short/long  SIZE   MEANING
//   0                  11/64  name, zero-padded (at most 10 / 63 characters)
//   11 / 64            1      type: 0xC3 string, 0xC4 date, 0xCC logical, 0xCE number
//   12 / 65            4      zero
//   16 / 69            1      length: string: low byte of (text length + 1); number: display
//                             width, plus decimals + 1 when there are decimals; date, logical: 1
//   17 / 70            1      string: high byte of (text length + 1); number: decimals; else 0
//   18 / 71            14     zero
//
//   DATA   string: the text and a zero byte (length + 1 bytes); number and date (its day number):
//          an 8-byte little-endian IEEE double; logical: one byte 0 or 1.
//
// Reading trusts nothing in the file: a record whose data would run past the end of the bytes
// ends the restore after the last whole record.
#include <cmath>
#include <cstring>

#include "../platform/filesys.h"
#include "../rtl/regex.h"
#include "../rtl/set.h"
#include "errint.h"
#include "extend.h"
#include "memvars.h"
#include "symbols.h"
#include "xmem.h"

namespace {

constexpr uint8_t TYPE_STRING = 0xC3;
constexpr uint8_t TYPE_DATE = 0xC4;
constexpr uint8_t TYPE_LOGICAL = 0xCC;
constexpr uint8_t TYPE_NUMBER = 0xCE;
constexpr uint8_t END_OF_FILE = 0x1A;
constexpr size_t MAX_SAVED_TEXT = 32766;  // strings of 32,767 characters and more are not saved

struct Layout {
  size_t nameSize;  // 11 or 64
  size_t header;    // 32 or 85
};
inline Layout layoutOf(bool longNames) { return longNames ? Layout{64, 85} : Layout{11, 32}; }

struct Buffer {
  uint8_t* data = nullptr;
  size_t size = 0;
  size_t capacity = 0;
  uint8_t* grow(size_t n) {
    if (size + n > capacity) {
      capacity = (size + n) * 2 + 256;
      data = static_cast<uint8_t*>(data ? vl_xrealloc(data, capacity) : vl_xgrab(capacity));
    }
    uint8_t* p = data + size;
    size += n;
    return p;
  }
};

void putDouble(uint8_t* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(bits >> (8 * i));
}

// Reads a little-endian double at p, which must leave 8 bytes before end.
bool getDouble(const uint8_t* p, const uint8_t* end, double* out) {
  if (end - p < 8) return false;
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = (bits << 8) | p[i];
  std::memcpy(out, &bits, sizeof bits);
  return true;
}

// The mask selection of save and restore. A mask beginning with "*" selects every name (or, with
// like false, none) without a pattern.
struct Selector {
  bool all = false;
  bool like = true;
  char* regex = nullptr;
  size_t regexLen = 0;

  Selector(const char* mask, size_t maskLen, bool likeFlag) : like(likeFlag) {
    if (maskLen == 0 || mask[0] == '*') {
      all = true;
      return;
    }
    size_t len;
    char* converted = vl_regexFromWildcard(mask, maskLen, &len);
    // Names are kept upper case; masks are typed in any case.
    regex = static_cast<char*>(vl_xgrab(len + 5));
    std::memcpy(regex, "(?i)", 4);
    std::memcpy(regex + 4, converted, len + 1);
    regexLen = len + 4;
    vl_xfree(converted);
    bool valid = false;
    vl_regexMatch(regex, regexLen, "", 0, true, &valid);
    if (!valid) {
      char shown[256];
      size_t n = maskLen < sizeof shown - 1 ? maskLen : sizeof shown - 1;
      std::memcpy(shown, mask, n);
      shown[n] = '\0';
      vl_errInternal(9100, "Invalid mask passed as MEMVAR filter '%s' -> '%s'\n", shown, regex);
    }
  }
  ~Selector() {
    if (regex) vl_xfree(regex);
  }
  bool selects(const char* name, size_t len) const {
    if (all) return like;
    return vl_regexMatch(regex, regexLen, name, len, true, nullptr) == like;
  }
};

// Appends the record of one variable; false when its value is of a type that is not saved.
bool encode(Buffer& out, const Layout& lay, const char* name, const VlItem* value) {
  uint8_t type, length = 1, extra = 0;
  size_t textLen = 0;
  if (VL_IS_STRING(value)) {
    textLen = value->n32;
    if (textLen > MAX_SAVED_TEXT) return false;
    type = TYPE_STRING;
    length = static_cast<uint8_t>((textLen + 1) & 0xFF);
    extra = static_cast<uint8_t>((textLen + 1) >> 8);
  } else if (VL_IS_NUMERIC(value)) {
    int width, decimals;
    vl_itemGetNLen(value, &width, &decimals);
    if (decimals < 0) decimals = 0;
    if (decimals > 99) decimals = 99;
    type = TYPE_NUMBER;
    length = static_cast<uint8_t>(width + (decimals ? decimals + 1 : 0));
    extra = static_cast<uint8_t>(decimals);
  } else if (VL_IS_DATE(value)) {
    type = TYPE_DATE;
  } else if (VL_IS_LOGICAL(value)) {
    type = TYPE_LOGICAL;
  } else {
    return false;
  }
  uint8_t* h = out.grow(lay.header);
  std::memset(h, 0, lay.header);
  size_t nameLen = std::strlen(name);
  if (nameLen > lay.nameSize - 1) nameLen = lay.nameSize - 1;
  std::memcpy(h, name, nameLen);
  h[lay.nameSize] = type;
  h[lay.nameSize + 5] = length;
  h[lay.nameSize + 6] = extra;
  switch (type) {
    case TYPE_STRING: {
      uint8_t* d = out.grow(textLen + 1);
      std::memcpy(d, value->u.str.text, textLen);
      d[textLen] = 0;
      break;
    }
    case TYPE_NUMBER: putDouble(out.grow(8), vl_itemGetND(value)); break;
    case TYPE_DATE: putDouble(out.grow(8), static_cast<double>(value->u.i32)); break;
    default: *out.grow(1) = value->u.i32 ? 1 : 0; break;
  }
  return true;
}

}  // namespace

uint8_t* vl_memvarSaveImage(const char* mask, size_t maskLen, bool like, bool longNames, size_t* size) {
  Selector sel(mask, maskLen, like);
  Layout lay = layoutOf(longNames);
  Buffer out;
  for (uint32_t i = 0, n = vl_dynsymCount(); i < n; ++i) {
    VlDynSym* d = vl_dynsymAt(i);
    const VlItem* value = vl_memvarValueOf(d);
    if (!value) continue;
    const char* name = d->symbol->name;
    if (!sel.selects(name, std::strlen(name))) continue;
    encode(out, lay, name, value);
  }
  *out.grow(1) = END_OF_FILE;
  *size = out.size;
  return out.data;
}

bool vl_memvarRestoreImage(const uint8_t* data, size_t size, bool longNames, const char* mask, size_t maskLen,
                           bool like, VlItem* last) {
  Selector sel(mask, maskLen, like);
  Layout lay = layoutOf(longNames);
  const uint8_t* p = data;
  const uint8_t* end = data + size;
  VlItem value;
  value.type = VL_IT_NIL;
  bool any = false;
  while (static_cast<size_t>(end - p) >= lay.header && p[0] != END_OF_FILE) {
    const uint8_t* h = p;
    p += lay.header;
    uint8_t type = h[lay.nameSize];
    uint8_t length = h[lay.nameSize + 5];
    uint8_t extra = h[lay.nameSize + 6];
    switch (type) {
      case TYPE_STRING: {
        size_t stored = static_cast<size_t>(length) | (static_cast<size_t>(extra) << 8);  // text + zero
        if (static_cast<size_t>(end - p) < stored) goto done;  // cut short: stop after the last whole record
        vl_itemPutCL(&value, reinterpret_cast<const char*>(p), stored ? stored - 1 : 0);
        p += stored;
        break;
      }
      case TYPE_NUMBER: {
        double d;
        if (!getDouble(p, end, &d)) goto done;
        p += 8;
        int decimals = extra;
        int width = length - (decimals ? decimals + 1 : 0);
        vl_itemPutNLen(&value, d, width, decimals);
        break;
      }
      case TYPE_DATE: {
        double d;
        if (!getDouble(p, end, &d)) goto done;
        p += 8;
        // A day number outside the date range is no date: the empty date.
        vl_itemPutDL(&value, std::isfinite(d) && d >= 0 && d <= 5373484 ? static_cast<int32_t>(d) : 0);
        break;
      }
      case TYPE_LOGICAL:
        if (end - p < 1) goto done;
        vl_itemPutL(&value, *p != 0);
        ++p;
        break;
      default:
        vl_itemClear(&value);  // an unknown type: NIL, and the record has no data
        break;
    }
    char name[65];
    size_t nameLen = 0;
    while (nameLen < lay.nameSize && h[nameLen]) {
      name[nameLen] = static_cast<char>(h[nameLen]);
      ++nameLen;
    }
    name[nameLen] = '\0';
    if (nameLen == 0 || !sel.selects(name, nameLen)) continue;
    vl_memvarAssign(vl_dynsymGet(name), &value);
    if (last) vl_itemCopy(last, &value);
    any = true;
  }
done:
  vl_itemClear(&value);
  return any;
}

// ---- __MSAVE and __MRESTORE: the file around the bytes ----
namespace {

// The name with ".mem" added when it has no extension; with `inDefault`, a name without a
// directory is taken from the SET DEFAULT directory.
void saveFileName(const char* given, bool inDefault, char* out) {
  VlFName* parts = vl_fsFNameSplit(given);
  VlFName merged = *parts;
  if (!merged.ext) merged.ext = ".mem";
  if (inDefault && !merged.path && vl_set.defaultDir && vl_set.defaultDir[0]) merged.path = vl_set.defaultDir;
  vl_fsFNameMerge(out, &merged);
  vl_xfree(parts);
}

// Raises a file error on the name with the file layer's error code; true when the handler asks
// for a retry.
bool fileError(int genCode, int subCode, const char* name, unsigned flags) {
  VlItem file;
  file.type = VL_IT_NIL;
  vl_itemPutC(&file, name);
  unsigned answer = vl_errRT_BASE_Ext1(genCode, subCode, nullptr, name, static_cast<int>(vl_fsOsError()), flags, 1, &file);
  vl_itemClear(&file);
  return answer == VL_ERR_RESULT_RETRY;
}

}  // namespace

// __MSAVE(file, mask, like [, longNames]): writes the selected variables.
VL_FUNC(__MSAVE) {
  const VlItem* file = vl_param(1, VL_IT_STRING);
  const VlItem* mask = vl_param(2, VL_IT_STRING);
  const VlItem* like = vl_param(3, VL_IT_LOGICAL);
  vl_ret();
  if (!file || !mask || !like) {
    vl_errRT_BASE(VL_EG_ARG, 2008, nullptr, "__MSAVE", VL_ERR_ARGS_BASEPARAMS);
    return;
  }
  char name[VL_FS_PATH_MAX];
  saveFileName(file->u.str.text, false, name);
  size_t size = 0;
  uint8_t* data = vl_memvarSaveImage(mask->u.str.text, mask->n32, like->u.i32 != 0, vl_parl(4), &size);
  VlFHandle h;
  while ((h = vl_fsCreate(name, 0)) == VL_FS_ERROR) {
    if (!fileError(VL_EG_CREATE, 2006, name, VL_ERR_FLAG_RETRY | VL_ERR_FLAG_DEFAULT)) {
      vl_xfree(data);
      return;
    }
  }
  size_t done = 0;
  while (done < size) {
    uint32_t chunk = size - done > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(size - done);
    uint32_t written = vl_fsWrite(h, data + done, chunk);
    done += written;
    if (written < chunk) break;
  }
  vl_fsClose(h);
  vl_xfree(data);
  // A save file cut short (a full disk) must not pass for a complete one.
  if (done < size) fileError(VL_EG_WRITE, 2006, name, VL_ERR_FLAG_DEFAULT);
}

// __MRESTORE(file, additive [, longNames [, mask [, like]]]): reads a save file; the result is
// the value of the last variable restored.
VL_FUNC(__MRESTORE) {
  const VlItem* file = vl_param(1, VL_IT_STRING);
  const VlItem* additive = vl_param(2, VL_IT_LOGICAL);
  vl_ret();
  if (!file || !additive) {
    vl_errRT_BASE(VL_EG_ARG, 2007, nullptr, "__MRESTORE", VL_ERR_ARGS_BASEPARAMS);
    return;
  }
  bool longNames = vl_parl(3);
  const VlItem* mask = vl_param(4, VL_IT_STRING);
  const VlItem* like = vl_param(5, VL_IT_LOGICAL);
  char name[VL_FS_PATH_MAX];
  saveFileName(file->u.str.text, true, name);
  VlFHandle h;
  while ((h = vl_fsOpen(name, VL_FO_READ | VL_FO_DENYWRITE)) == VL_FS_ERROR) {
    if (!fileError(VL_EG_OPEN, 2005, name, VL_ERR_FLAG_RETRY | VL_ERR_FLAG_DEFAULT)) {
      vl_retl(false);
      return;
    }
  }
  // The file is open: only now are the variables released, so a missing file loses none.
  if (!additive->u.i32) vl_memvarReleaseAll();

  int64_t fileSize = vl_fsSize(h);
  size_t capacity = fileSize > 0 ? static_cast<size_t>(fileSize) : 0;
  auto* data = static_cast<uint8_t*>(vl_xgrab(capacity + 1));
  size_t size = 0;
  while (size < capacity) {
    uint32_t chunk = capacity - size > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(capacity - size);
    uint32_t got = vl_fsRead(h, data + size, chunk);
    size += got;
    if (got < chunk) break;  // shorter than its size said: restore what was read
  }
  vl_fsClose(h);
  VlItem last;
  last.type = VL_IT_NIL;
  vl_memvarRestoreImage(data, size, longNames, mask ? mask->u.str.text : "*", mask ? mask->n32 : 1,
                        like ? like->u.i32 != 0 : true, &last);
  vl_xfree(data);
  vl_itemReturnForward(&last);
}

VL_NATIVE_MODULE(memsave, VL_FUNCENTRY(__MSAVE), VL_FUNCENTRY(__MRESTORE));
