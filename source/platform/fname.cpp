// File-name parts: splitting a name into path, name, extension and drive, and merging them back.
// Pure text work: nothing here looks at the disk or at the SET table.
#include <cstring>

#include "../vm/xmem.h"
#include "filesys.h"

namespace {

bool isPathEnd(char c) { return c == '\\' || c == '/' || c == ':'; }

}  // namespace

VlFName* vl_fsFNameSplit(const char* fileName) {
  if (!fileName) fileName = "";
  size_t len = std::strlen(fileName);
  // Four texts, each at most len bytes, and their zero bytes.
  VlFName* f = static_cast<VlFName*>(vl_xgrab(sizeof(VlFName) + 4 * len + 4));
  f->path = f->name = f->ext = f->drive = nullptr;
  char* out = f->buffer;
  auto keep = [&out](const char* s, size_t n) {
    char* at = out;
    std::memcpy(out, s, n);
    out[n] = '\0';
    out += n + 1;
    return at;
  };

  size_t pathLen = 0;
  for (size_t i = 0; i < len; ++i)
    if (isPathEnd(fileName[i])) pathLen = i + 1;
  if (pathLen) f->path = keep(fileName, pathLen);

  const char* rest = fileName + pathLen;
  size_t restLen = len - pathLen;
  if (restLen) {
    const char* dot = std::strrchr(rest, '.');
    if (!dot || dot == rest) {
      f->name = keep(rest, restLen);
    } else {
      f->name = keep(rest, static_cast<size_t>(dot - rest));
      f->ext = keep(dot, restLen - static_cast<size_t>(dot - rest));
    }
  }

  if (f->path) {
    const char* colon = static_cast<const char*>(std::memchr(f->path, ':', pathLen));
    if (colon) f->drive = keep(f->path, static_cast<size_t>(colon - f->path) + 1);
  }
  return f;
}

char* vl_fsFNameMerge(char* out, const VlFName* parts) {
  size_t n = 0;
  const size_t cap = VL_FS_PATH_MAX - 1;
  auto put = [&](const char* s, size_t len) {
    if (len > cap - n) len = cap - n;
    std::memcpy(out + n, s, len);
    n += len;
  };
  if (parts->path) put(parts->path, std::strlen(parts->path));
  const char* name = parts->name;
  bool follows = (name && *name) || (parts->ext && *parts->ext);
  if (n && follows && !isPathEnd(out[n - 1])) put("\\", 1);
  if (name && *name) {
    if (isPathEnd(*name)) ++name;
    put(name, std::strlen(name));
  }
  if (parts->ext && *parts->ext) {
    if (parts->ext[0] != '.') put(".", 1);
    put(parts->ext, std::strlen(parts->ext));
  }
  out[n] = '\0';
  return out;
}
