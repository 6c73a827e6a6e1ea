// The language's file functions over the file layer: access by handle (FOPEN ... FCLOSE),
// file management (FERASE, FRENAME, FILE), DIRECTORY, CURDIR, DISKSPACE and file-name parts.
// Failures are reported by result and the file error (FERROR()); only FOPEN raises an error.
#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "../platform/filesys.h"
#include "../vm/arrays.h"
#include "../vm/extend.h"
#include "../vm/xmem.h"

namespace {

enum class Name { Ok, NotString, Bad };

// A file-name argument. A name with a zero byte inside would name another file than the one
// the program holds; it is refused with the invalid-name error.
Name nameParam(int n, const char** out) {
  const char* s = vl_parc(n);
  if (!s) return Name::NotString;
  if (std::strlen(s) != vl_parclen(n)) {
    vl_fsSetError(VL_FERR_INVALID_NAME);
    return Name::Bad;
  }
  *out = s;
  return Name::Ok;
}

bool isNumber(int n) {
  VlItem* p = vl_param(n, VL_IT_ANY);
  return p && VL_IS_NUMERIC(p);
}

// Attribute letters, in the order they are written in a DIRECTORY row; the space stands for
// the normal attribute and is never read as an input letter.
struct AttrLetter {
  uint32_t bit;
  char letter;
};
constexpr AttrLetter kAttrLetters[] = {
    {VL_FA_READONLY, 'R'},   {VL_FA_HIDDEN, 'H'},     {VL_FA_SYSTEM, 'S'},     {VL_FA_LABEL, 'V'},
    {VL_FA_DIRECTORY, 'D'},  {VL_FA_ARCHIVE, 'A'},    {VL_FA_NORMAL, ' '},     {VL_FA_ENCRYPTED, 'E'},
    {VL_FA_TEMPORARY, 'T'},  {VL_FA_SPARSE, 'P'},     {VL_FA_REPARSE, 'L'},    {VL_FA_COMPRESSED, 'C'},
    {VL_FA_OFFLINE, 'O'},    {VL_FA_NOTINDEXED, 'X'}, {VL_FA_DEVICE, 'I'},     {VL_FA_VIRTUAL, 'M'},
};

uint32_t attrFromLetters(const char* s, size_t len) {
  uint32_t bits = 0;
  for (size_t i = 0; i < len; ++i) {
    char c = s[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    for (const AttrLetter& a : kAttrLetters)
      if (a.letter == c && c != ' ') bits |= a.bit;
  }
  return bits;
}

void attrToLetters(uint32_t bits, char* out) {
  size_t n = 0;
  for (const AttrLetter& a : kAttrLetters)
    if (bits & a.bit) out[n++] = a.letter;
  out[n] = '\0';
}

void addRow(VlItem* result, const char* prefix, const VlFsFind* f) {
  VlItem row, v;
  row.type = v.type = VL_IT_NIL;
  vl_arrayNew(&row, 5);
  size_t pl = std::strlen(prefix);
  size_t nl = std::strlen(f->name);
  char* text = vl_itemPutCLBuffer(&v, pl + nl);
  std::memcpy(text, prefix, pl);
  std::memcpy(text + pl, f->name, nl);
  vl_arraySetForward(&row, 1, &v);
  vl_itemPutNInt(&v, f->size);
  vl_arraySetForward(&row, 2, &v);
  vl_itemPutDL(&v, f->date);
  vl_arraySetForward(&row, 3, &v);
  vl_itemPutC(&v, f->time);
  vl_arraySetForward(&row, 4, &v);
  char letters[sizeof kAttrLetters / sizeof kAttrLetters[0] + 1];
  attrToLetters(f->attr, letters);
  vl_itemPutC(&v, letters);
  vl_arraySetForward(&row, 5, &v);
  vl_arrayAddForward(result, &row);
}

// One pass over the entries matching the pattern; entries with a hidden, system, label or
// directory bit outside the mask are left out.
void listEntries(VlItem* result, const char* pattern, const char* prefix, uint32_t mask, bool dirsOnly) {
  VlFsFind* f = vl_fsFindFirst(pattern, mask);
  if (!f) return;
  const uint32_t special = VL_FA_HIDDEN | VL_FA_SYSTEM | VL_FA_LABEL | VL_FA_DIRECTORY;
  do {
    if ((f->attr & special) & ~mask) continue;
    if (dirsOnly && !(f->attr & VL_FA_DIRECTORY)) continue;
    addRow(result, prefix, f);
  } while (vl_fsFindNext(f));
  vl_fsFindClose(f);
}

}  // namespace

// FOPEN(name [, mode]) -> handle or -1
VL_FUNC(FOPEN) {
  const char* name = nullptr;
  switch (nameParam(1, &name)) {
    case Name::NotString:
      vl_errRT_BASE(VL_EG_ARG, 2021, nullptr, "FOPEN", VL_ERR_ARGS_BASEPARAMS);
      vl_retni(-1);
      return;
    case Name::Bad:
      vl_retni(-1);
      return;
    case Name::Ok:
      break;
  }
  uint32_t mode = isNumber(2) ? static_cast<uint32_t>(vl_parni(2)) : 0;
  vl_retni(vl_fsOpen(name, mode));
}

// FCREATE(name [, attributes]) -> handle or -1
VL_FUNC(FCREATE) {
  const char* name = nullptr;
  if (nameParam(1, &name) != Name::Ok) {
    vl_retni(-1);
    return;
  }
  uint32_t attr = isNumber(2) ? static_cast<uint32_t>(vl_parni(2)) : 0;
  vl_retni(vl_fsCreate(name, attr));
}

// FCLOSE(handle) -> .T. when closed without error
VL_FUNC(FCLOSE) {
  vl_fsSetError(0);
  if (!isNumber(1)) {
    vl_retl(false);
    return;
  }
  vl_retl(vl_fsClose(vl_parni(1)));
}

// FREAD(handle, @buffer, count) -> bytes read into the buffer. The count is limited to the
// buffer's length: nothing is written beyond it.
VL_FUNC(FREAD) {
  uint32_t got = 0;
  VlItem* buffer = vl_extIsByRef(2) ? vl_param(2, VL_IT_STRING) : nullptr;
  if (isNumber(1) && buffer && isNumber(3)) {
    int64_t count = vl_parnint(3);
    if (count < 0) {
      vl_fsSetError(VL_FERR_INVALID_PARAM);
    } else {
      uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(count), vl_itemGetCLen(buffer));
      n = std::min<uint64_t>(n, UINT32_MAX);
      char dummy;
      char* text = n ? vl_itemUnShareString(buffer) : &dummy;
      got = vl_fsReadLarge(vl_parni(1), text, static_cast<uint32_t>(n));
    }
  }
  vl_retnint(got);
}

// FREADSTR(handle, count) -> up to count bytes, ending before the first zero byte; the file is
// left just after that zero byte.
VL_FUNC(FREADSTR) {
  if (!isNumber(1) || !isNumber(2) || vl_parnint(2) <= 0) {
    if (isNumber(2) && vl_parnint(2) < 0) vl_fsSetError(VL_FERR_INVALID_PARAM);
    vl_retc("");
    return;
  }
  VlFHandle h = vl_parni(1);
  uint64_t want = static_cast<uint64_t>(vl_parnint(2));
  const uint32_t kChunk = 65536;
  char* out = nullptr;
  size_t len = 0;
  char* chunk = static_cast<char*>(vl_xgrab(kChunk));
  while (len < want) {
    uint32_t ask = static_cast<uint32_t>(std::min<uint64_t>(kChunk, want - len));
    uint32_t got = vl_fsReadLarge(h, chunk, ask);
    if (got == 0) break;
    const char* zero = static_cast<const char*>(std::memchr(chunk, 0, got));
    uint32_t take = zero ? static_cast<uint32_t>(zero - chunk) : got;
    if (take) {
      out = static_cast<char*>(out ? vl_xrealloc(out, len + take + 1) : vl_xgrab(take + 1));
      std::memcpy(out + len, chunk, take);
      len += take;
    }
    if (zero) {
      uint32_t after = got - take - 1;
      if (after) vl_fsSeekLarge(h, -static_cast<int64_t>(after), VL_FS_RELATIVE);
      break;
    }
    if (got < ask) break;
  }
  vl_xfree(chunk);
  if (out) {
    out[len] = '\0';
    vl_retc_buffer(out, len);
  } else {
    vl_retc("");
  }
}

// FWRITE(handle, text [, count [, offset]]) -> bytes written. Never writes a byte beyond the
// text: the count is limited to what follows the offset, and when a count is asked for but
// nothing follows the offset nothing is written (invalid parameter). A count of 0 (given, or by
// default when the offset is at the text's end) cuts the file at the current position.
VL_FUNC(FWRITE) {
  const VlItem* text = vl_param(2, VL_IT_STRING);
  if (!isNumber(1) || !text || !VL_IS_STRING(text)) {
    vl_retni(0);
    return;
  }
  size_t len = vl_itemGetCLen(text);
  int64_t offset = isNumber(4) ? vl_parnint(4) : 0;
  if (offset < 0 || (isNumber(3) && vl_parnint(3) < 0)) {
    vl_fsSetError(VL_FERR_INVALID_PARAM);
    vl_retni(0);
    return;
  }
  if (static_cast<uint64_t>(offset) > len) {
    // Nothing of the text is left at that offset: nothing is written, nothing is cut.
    vl_fsSetError(VL_FERR_INVALID_PARAM);
    vl_retni(0);
    return;
  }
  uint64_t avail = len - static_cast<uint64_t>(offset);
  uint64_t count = isNumber(3) ? static_cast<uint64_t>(vl_parnint(3)) : avail;
  if (count > 0 && avail == 0) {
    vl_fsSetError(VL_FERR_INVALID_PARAM);
    vl_retni(0);
    return;
  }
  count = std::min<uint64_t>(std::min(count, avail), UINT32_MAX);
  const char* p = vl_itemGetCPtr(text) + offset;
  vl_retnint(vl_fsWriteLarge(vl_parni(1), p, static_cast<uint32_t>(count)));
}

// FSEEK(handle, offset [, origin]) -> the new position
VL_FUNC(FSEEK) {
  if (!isNumber(1) || !isNumber(2)) {
    vl_retni(0);
    return;
  }
  uint16_t origin = isNumber(3) ? static_cast<uint16_t>(vl_parni(3)) : uint16_t{VL_FS_SET};
  vl_retnint(vl_fsSeekLarge(vl_parni(1), vl_parnint(2), origin));
}

// FERROR() -> the last file error
VL_FUNC(FERROR) { vl_retni(static_cast<int32_t>(vl_fsError())); }

// FERASE(name) -> 0 or -1
VL_FUNC(FERASE) {
  vl_fsSetError(VL_FERR_PATH_NOT_FOUND);
  const char* name = nullptr;
  if (nameParam(1, &name) != Name::Ok) {
    vl_retni(-1);
    return;
  }
  vl_retni(vl_fsDelete(name) ? 0 : -1);
}

// FRENAME(old, new) -> 0 or -1. The rename is made durable: the table-rebuild program moves a
// table aside and its copy into place with it.
VL_FUNC(FRENAME) {
  vl_fsSetError(VL_FERR_NOT_FOUND);
  const char* from = nullptr;
  const char* to = nullptr;
  if (nameParam(1, &from) != Name::Ok || nameParam(2, &to) != Name::Ok) {
    vl_retni(-1);
    return;
  }
  vl_retni(vl_fsRenameEx(from, to, VL_FR_DURABLE) ? 0 : -1);
}

// FILE(name or pattern) -> .T. when a file exists in the default directory or on the path
VL_FUNC(FILE) {
  const char* name = nullptr;
  if (nameParam(1, &name) != Name::Ok || vl_parclen(1) >= 255) {
    vl_retl(false);
    return;
  }
  vl_retl(vl_spFile(name, nullptr));
}

// DIRECTORY([pattern], [attributes], [directories only], [full path]) -> array of
// {name, size, date, time, attributes}
VL_FUNC(DIRECTORY) {
  VlItem result;
  result.type = VL_IT_NIL;
  vl_arrayNew(&result, 0);
  bool dirsOnly = vl_param(3, VL_IT_LOGICAL) && vl_parl(3);
  bool fullPath = vl_param(4, VL_IT_LOGICAL) && vl_parl(4);
  uint32_t letters = 0;
  if (dirsOnly) letters = VL_FA_DIRECTORY;
  else if (const char* a = vl_parc(2)) letters = attrFromLetters(a, vl_parclen(2));
  uint32_t mask = 0xFFE1 | letters;
  if (mask & VL_FA_LABEL) mask = VL_FA_LABEL;

  char pattern[VL_FS_PATH_MAX] = "*.*";
  const char* given = nullptr;
  if (nameParam(1, &given) == Name::Ok && *given) {
    if (!vl_fsNameConvert(given, pattern, true) || !*pattern) std::strcpy(pattern, "*.*");
  } else if (vl_parc(1) && std::strlen(vl_parc(1)) != vl_parclen(1)) {
    vl_itemReturnForward(&result);  // a name with a zero byte matches nothing
    return;
  }

  char prefix[VL_FS_PATH_MAX] = "";
  const char* search = pattern;
  char filePart[VL_FS_PATH_MAX];
  if (dirsOnly || fullPath) {
    // The pattern's directory becomes the current directory and stays so after the call; the
    // search then runs there with the file part alone (the same entries, also for a relative
    // directory).
    VlFName* parts = vl_fsFNameSplit(pattern);
    if (parts->path) {
      std::snprintf(prefix, sizeof prefix, "%s", parts->path);
      if (!vl_fsChDir(parts->path)) {
        vl_xfree(parts);
        vl_itemReturnForward(&result);
        return;
      }
      std::snprintf(filePart, sizeof filePart, "%s", pattern + std::strlen(parts->path));
      search = *filePart ? filePart : "*.*";
    }
    vl_xfree(parts);
  }
  if (!fullPath) prefix[0] = '\0';

  if (mask == VL_FA_LABEL) {
    // Volumes have no labels here: only the other entries are listed.
    listEntries(&result, search, prefix, (0xFFE1 | letters) & ~VL_FA_LABEL, dirsOnly);
  } else {
    listEntries(&result, search, prefix, mask, dirsOnly);
  }
  vl_itemReturnForward(&result);
}

// CURDIR([drive]) -> the current directory, without leading and trailing separator
VL_FUNC(CURDIR) { vl_retc(vl_fsCurDir(0)); }

// DISKSPACE([drive]) -> bytes free for the program on the current directory's file system
VL_FUNC(DISKSPACE) {
  struct statvfs sv;
  if (statvfs(".", &sv) != 0) {
    vl_fsSetError(VL_FERR_PATH_NOT_FOUND);
    vl_retnint(0);
    return;
  }
  vl_fsSetError(0);
  vl_retnint(static_cast<int64_t>(sv.f_bavail) * static_cast<int64_t>(sv.f_frsize));
}

// VL_FNAMESPLIT(name, @path, @name, @extension, @drive) -> NIL
VL_FUNC(VL_FNAMESPLIT) {
  const char* name = vl_parc(1);
  VlFName* parts = vl_fsFNameSplit(name ? name : "");
  const char* values[] = {parts->path, parts->name, parts->ext, parts->drive};
  VlItem nil;
  nil.type = VL_IT_NIL;
  for (int i = 0; i < 4; ++i) {
    if (values[i]) vl_storc(values[i], i + 2);
    else vl_storItem(&nil, i + 2);
  }
  vl_xfree(parts);
  vl_ret();
}

// VL_OSPATHSEPARATOR() -> "\"
VL_FUNC(VL_OSPATHSEPARATOR) { vl_retc("\\"); }

VL_NATIVE_MODULE(files, VL_FUNCENTRY(FOPEN), VL_FUNCENTRY(FCREATE), VL_FUNCENTRY(FCLOSE), VL_FUNCENTRY(FREAD),
                 VL_FUNCENTRY(FREADSTR), VL_FUNCENTRY(FWRITE), VL_FUNCENTRY(FSEEK), VL_FUNCENTRY(FERROR),
                 VL_FUNCENTRY(FERASE), VL_FUNCENTRY(FRENAME), VL_FUNCENTRY(FILE), VL_FUNCENTRY(DIRECTORY),
                 VL_FUNCENTRY(CURDIR), VL_FUNCENTRY(DISKSPACE), VL_FUNCENTRY(VL_FNAMESPLIT),
                 VL_FUNCENTRY(VL_OSPATHSEPARATOR));
