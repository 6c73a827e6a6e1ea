// The file layer over POSIX: handles, share modes, byte-range locks, name conversion and
// case-insensitive resolution, searches, temporary files and the last file error.
//
// Invariants:
//  1. A handle is the descriptor number of a file this layer opened (or 0-2); s_files[fd].open
//     says whether the layer owns it. Every descriptor is opened O_CLOEXEC and never duplicated,
//     so its open-file-description locks live exactly as long as the handle.
//  2. Every lock taken here is an open-file-description lock (F_OFD_*), which belongs to the
//     handle and is released only by its own unlock or close; never a process-wide POSIX lock,
//     which any close of the same file by the process would drop.
//  3. The kernel's lock state of a handle over [0, VL_FS_RESERVED_BASE) is always the
//     combination of its lock list: exclusive where an exclusive entry covers, shared where only
//     shared entries cover, none elsewhere (see applyState).
//  4. Share modes: while open, a handle holds shared locks on the reserved bytes that describe it
//     (OPEN always; ACCESS_READ/WRITE for its access; DENY_READ/WRITE for its share mode). An
//     open takes its bytes first and then looks for conflicting bytes of other handles; while it
//     does so it also holds PENDING, so that an opener that meets a conflict can tell a settled
//     holder (fail at once) from another opener in the middle of the same dance (back off, retry).
#include "filesys.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "../rtl/dates.h"
#include "../rtl/set.h"
#include "../vm/xmem.h"

namespace {

// ---- last error ----

uint32_t s_error;
uint32_t s_osError;
int s_errno;

void setOk() {
  s_error = s_osError = 0;
  s_errno = 0;
}

void setWin(uint32_t code) {
  s_osError = code;
  s_error = code == VL_FERR_ALREADY_EXISTS ? VL_FERR_ACCESS : code;
}

uint32_t mapErrno(int e) {
  switch (e) {
    case 0: return VL_FERR_NONE;
    case ENOENT: return VL_FERR_NOT_FOUND;
    case ENOTDIR: case ELOOP: return VL_FERR_PATH_NOT_FOUND;
    case EMFILE: case ENFILE: return VL_FERR_TOO_MANY_OPEN;
    case EACCES: case EPERM: case EISDIR: return VL_FERR_ACCESS;
    case EBADF: return VL_FERR_INVALID_HANDLE;
    case ENOMEM: return VL_FERR_NO_MEMORY;
    case EROFS: return VL_FERR_WRITE_PROTECT;
    case EXDEV: return VL_FERR_NOT_SAME_DEVICE;
    case ESPIPE: return VL_FERR_SEEK;
    case EAGAIN: case ENOLCK: return VL_FERR_LOCK;
    case ENOSPC: case EDQUOT: return VL_FERR_DISK_FULL;
    case EINVAL: case EOVERFLOW: return VL_FERR_INVALID_PARAM;
    case EEXIST: return VL_FERR_ALREADY_EXISTS;
    case ENOTEMPTY: return VL_FERR_DIR_NOT_EMPTY;
    case ENAMETOOLONG: return VL_FERR_NAME_TOO_LONG;
    case EFBIG: return VL_FERR_FILE_TOO_LARGE;
    case EBUSY: case ETXTBSY: return VL_FERR_SHARING;
    default: return VL_FERR_GEN_FAILURE;
  }
}

void setErrno(int e) {
  s_errno = e;
  setWin(mapErrno(e));
}

// ---- fault injection ----

bool s_faultArmed;
uint32_t s_faultCountdown[VL_FSF_COUNT];
uint32_t s_faultError[VL_FSF_COUNT];
uint64_t s_writeBudget = UINT64_MAX;

void rearm() {
  s_faultArmed = s_writeBudget != UINT64_MAX;
  for (uint32_t c : s_faultCountdown) s_faultArmed = s_faultArmed || c != 0;
}

bool faultSlow(VlFsFaultOp op) {
  if (s_faultCountdown[op] == 0 || --s_faultCountdown[op] != 0) return false;
  setWin(s_faultError[op]);
  s_errno = 0;
  rearm();
  return true;
}

inline bool fault(VlFsFaultOp op) { return s_faultArmed && faultSlow(op); }

// ---- handles ----

struct LockRec {
  uint64_t start, end;  // [start, end)
  bool shared;
};

struct FileRec {
  bool open = false;
  bool regular = false;
  uint8_t access = VL_FO_READWRITE;
  std::vector<LockRec> locks;
};

std::vector<FileRec> s_files;

FileRec* recordOf(VlFHandle h) {
  if (h < 0) return nullptr;
  if (static_cast<size_t>(h) < s_files.size() && s_files[h].open) return &s_files[h];
  if (h > 2) return nullptr;
  // The standard handles are adopted on first use, when the descriptor is open.
  struct stat st;
  if (fstat(h, &st) != 0) return nullptr;
  if (s_files.size() <= static_cast<size_t>(h)) s_files.resize(h + 1);
  FileRec& r = s_files[h];
  r.open = true;
  r.regular = S_ISREG(st.st_mode);
  r.access = VL_FO_READWRITE;
  r.locks.clear();
  return &r;
}

FileRec* validHandle(VlFHandle h) {
  FileRec* r = recordOf(h);
  if (!r) {
    s_errno = EBADF;
    setWin(VL_FERR_INVALID_HANDLE);
  }
  return r;
}

void adopt(int fd, uint8_t access, bool regular) {
  if (s_files.size() <= static_cast<size_t>(fd)) s_files.resize(fd + 1);
  FileRec& r = s_files[fd];
  r.open = true;
  r.regular = regular;
  r.access = access;
  r.locks.clear();
}

bool canRead(const FileRec* r) { return r->access == VL_FO_READ || r->access == VL_FO_READWRITE; }
bool canWrite(const FileRec* r) { return r->access == VL_FO_WRITE || r->access == VL_FO_READWRITE; }

// ---- open-file-description locks ----

int ofdLock(int fd, short type, uint64_t start, uint64_t len, bool wait) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(len);  // 0 = to the end of the offset space
  for (;;) {
    if (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return 0;
    if (errno != EINTR) return errno;
  }
}

// 1 when another open file description holds a lock overlapping the range, 0 when none, -1 when
// the test itself failed.
int ofdHeldByOthers(int fd, uint64_t start, uint64_t len) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(len);
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return -1;
  return fl.l_type == F_UNLCK ? 0 : 1;
}

// ---- share modes ----

enum ShareByte : uint64_t { SB_OPEN, SB_PENDING, SB_ACC_READ, SB_ACC_WRITE, SB_DENY_READ, SB_DENY_WRITE, SB_COUNT };

struct ShareWant {
  bool accRead, accWrite, denyRead, denyWrite;
};

ShareWant shareWant(uint32_t access, uint32_t share) {
  ShareWant w{};
  w.accRead = access == VL_FO_READ || access == VL_FO_READWRITE;
  w.accWrite = access == VL_FO_WRITE || access == VL_FO_READWRITE;
  w.denyRead = share == VL_FO_EXCLUSIVE || share == VL_FO_DENYREAD;
  w.denyWrite = share == VL_FO_EXCLUSIVE || share == VL_FO_DENYWRITE;
  return w;
}

int holdShareByte(int fd, uint64_t b) { return ofdLock(fd, F_RDLCK, VL_FS_RESERVED_BASE + b, 1, false); }
int otherHolds(int fd, uint64_t b) { return ofdHeldByOthers(fd, VL_FS_RESERVED_BASE + b, 1); }
void dropShareBytes(int fd) { ofdLock(fd, F_UNLCK, VL_FS_RESERVED_BASE, 0, false); }

// Takes the handle's share bytes and checks them against every other handle of the file.
// Returns 0 when the open may go on (also when the file system offers no such locks: the open
// is then not protected), VL_FERR_SHARING on a conflict.
uint32_t shareAcquire(int fd, const ShareWant& w) {
  for (int attempt = 0; attempt < 40; ++attempt) {
    int rc = holdShareByte(fd, SB_PENDING);
    if (rc == 0) rc = holdShareByte(fd, SB_OPEN);
    if (rc == 0 && w.accRead) rc = holdShareByte(fd, SB_ACC_READ);
    if (rc == 0 && w.accWrite) rc = holdShareByte(fd, SB_ACC_WRITE);
    if (rc == 0 && w.denyRead) rc = holdShareByte(fd, SB_DENY_READ);
    if (rc == 0 && w.denyWrite) rc = holdShareByte(fd, SB_DENY_WRITE);
    if (rc != 0) {
      dropShareBytes(fd);
      return 0;  // no locks on this file system (or a descriptor that cannot hold them)
    }
    bool conflict = (w.accRead && otherHolds(fd, SB_DENY_READ) == 1) ||
                    (w.accWrite && otherHolds(fd, SB_DENY_WRITE) == 1) ||
                    (w.denyRead && otherHolds(fd, SB_ACC_READ) == 1) ||
                    (w.denyWrite && otherHolds(fd, SB_ACC_WRITE) == 1);
    if (!conflict) {
      ofdLock(fd, F_UNLCK, VL_FS_RESERVED_BASE + SB_PENDING, 1, false);
      return 0;
    }
    dropShareBytes(fd);
    // Nobody else in the middle of an open: the conflict is with a settled handle.
    if (otherHolds(fd, SB_PENDING) != 1) return VL_FERR_SHARING;
    struct timespec ts = {0, 500000L * (1 + attempt % 4)};
    nanosleep(&ts, nullptr);
  }
  return VL_FERR_SHARING;
}

// True when some handle of this layer (in any process) has the file open.
bool openElsewhere(const char* path) {
  int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool held = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && otherHolds(fd, SB_OPEN) == 1;
  ::close(fd);
  return held;
}

// ---- byte-range locks of a handle ----

// The combined state at the point x of the entries `others` plus `extra` (when not null):
// 0 none, 1 shared, 2 exclusive.
int stateAt(const std::vector<LockRec>& others, const LockRec* extra, uint64_t x) {
  int s = 0;
  if (extra && extra->start <= x && x < extra->end) s = extra->shared ? 1 : 2;
  for (const LockRec& l : others) {
    if (s == 2) break;
    if (l.start <= x && x < l.end) s = l.shared ? std::max(s, 1) : 2;
  }
  return s;
}

// Adds (or removes) the entry `changed` and brings the kernel's state over its range to the new
// combination; `others` are the handle's other entries that overlap it (usually none). Only a
// change from none to a lock can fail (another handle holds the bytes); then what this call
// changed is put back and the errno is returned.
int applyChange(int fd, const std::vector<LockRec>& others, const LockRec& changed, bool adding, bool wait) {
  static const short kType[] = {F_UNLCK, F_RDLCK, F_WRLCK};
  uint64_t a = changed.start, b = changed.end;
  if (others.empty()) {
    int now = adding ? (changed.shared ? 1 : 2) : 0;
    return ofdLock(fd, kType[now], a, b - a, wait && adding);
  }
  std::vector<uint64_t> cuts{a, b};
  for (const LockRec& l : others) {
    if (l.start > a && l.start < b) cuts.push_back(l.start);
    if (l.end > a && l.end < b) cuts.push_back(l.end);
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  auto was = [&](uint64_t x) { return stateAt(others, adding ? nullptr : &changed, x); };
  auto now = [&](uint64_t x) { return stateAt(others, adding ? &changed : nullptr, x); };
  for (size_t i = 0; i + 1 < cuts.size(); ++i) {
    int w = was(cuts[i]), n = now(cuts[i]);
    if (w == n) continue;
    int rc = ofdLock(fd, kType[n], cuts[i], cuts[i + 1] - cuts[i], wait && w == 0);
    if (rc != 0) {
      for (size_t j = 0; j < i; ++j)
        if (was(cuts[j]) != now(cuts[j])) ofdLock(fd, kType[was(cuts[j])], cuts[j], cuts[j + 1] - cuts[j], false);
      return rc;
    }
  }
  return 0;
}

// ---- names ----

char separator() {
  char c = vl_set.dirSeparator;
  return c ? c : '/';
}

bool isSep(char c) { return c == '/' || c == separator(); }

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

bool equalNoCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (asciiLower(*a) != asciiLower(*b)) return false;
  return *a == *b;
}

void applyCase(char* s, size_t n, int mode) {
  if (mode == VL_CASE_LOWER)
    for (size_t i = 0; i < n; ++i) s[i] = asciiLower(s[i]);
  else if (mode == VL_CASE_UPPER)
    for (size_t i = 0; i < n; ++i) s[i] = asciiUpper(s[i]);
}

// Converts into out; false (with the last error set) when the name is missing, empty or too long.
bool convert(const char* name, char* out, bool trim) {
  if (!name) {
    setWin(VL_FERR_INVALID_NAME);
    return false;
  }
  size_t len = std::strlen(name);
  if (trim && vl_set.trimFileName) {
    while (len && *name == ' ') ++name, --len;
    while (len && name[len - 1] == ' ') --len;
  }
  if (len >= VL_FS_PATH_MAX) {
    s_errno = ENAMETOOLONG;
    setWin(VL_FERR_NAME_TOO_LONG);
    return false;
  }
  std::memcpy(out, name, len);
  out[len] = '\0';
  char sep = separator();
  if (sep != '\\')
    for (size_t i = 0; i < len; ++i)
      if (out[i] == '\\') out[i] = sep;
  size_t filePart = 0;
  for (size_t i = 0; i < len; ++i)
    if (isSep(out[i])) filePart = i + 1;
  applyCase(out + filePart, len - filePart, vl_set.fileCase);
  applyCase(out, filePart, vl_set.dirCase);
  return true;
}

bool entryExists(const std::string& p) {
  struct stat st;
  return lstat(p.c_str(), &st) == 0;
}

// The one entry of dir equal to name without regard to case; the count of such entries (0, 1 or 2
// meaning "several").
int findNoCase(const std::string& dir, const std::string& name, std::string& match) {
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return 0;
  int count = 0;
  while (struct dirent* e = readdir(d)) {
    if (equalNoCase(e->d_name, name.c_str())) {
      match = e->d_name;
      if (++count > 1) break;
    }
  }
  closedir(d);
  return count;
}

// Resolves a converted name to the entry stored on disk. True when it exists; otherwise `out` is
// the name with the directories that were found and *dirMissing tells whether a directory of it
// is missing (path not found) or only the last part (file not found).
bool resolve(const char* conv, std::string& out, bool* dirMissing = nullptr) {
  if (dirMissing) *dirMissing = false;
  out = conv;
  if (entryExists(out)) return true;
  out.clear();
  const char* p = conv;
  if (*p == '/') {
    out.assign(1, '/');
    while (*p == '/') ++p;
  }
  while (*p) {
    const char* slash = std::strchr(p, '/');
    size_t n = slash ? static_cast<size_t>(slash - p) : std::strlen(p);
    std::string comp(p, n);
    const char* next = p + n;
    while (*next == '/') ++next;
    std::string cand = out + comp;
    if (comp == "." || comp == ".." || entryExists(cand)) {
      out = cand;
    } else {
      std::string match;
      if (findNoCase(out, comp, match) == 1) {
        out += match;
      } else {
        struct stat st;
        bool inDirectory = out.empty() || (stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
        out = cand;
        if (slash) out += slash;
        if (dirMissing) *dirMissing = *next != '\0' || !inDirectory;
        return false;
      }
    }
    if (slash) out += '/';
    p = next;
  }
  return entryExists(out);
}

void setNotFound(bool dirMissing) {
  s_errno = ENOENT;
  setWin(dirMissing ? VL_FERR_PATH_NOT_FOUND : VL_FERR_NOT_FOUND);
}

// An errno from a call on a name: ENOENT is told apart into file and path not found.
void setNameErrno(int e, const char* path) {
  if (e == ENOENT) {
    std::string dir(path);
    size_t cut = dir.find_last_of('/');
    bool dirMissing = false;
    if (cut != std::string::npos && cut > 0) {
      dir.resize(cut);
      struct stat st;
      dirMissing = stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
    }
    setNotFound(dirMissing);
    return;
  }
  setErrno(e);
}

bool readOnlyMode(mode_t m) { return (m & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

std::string parentDir(const std::string& path) {
  size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  if (cut == 0) return "/";
  return path.substr(0, cut);
}

bool syncDirOf(const std::string& path) {
  int fd = ::open(parentDir(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    setErrno(errno);
    return false;
  }
  bool ok = fsync(fd) == 0 || errno == EINVAL;
  if (!ok) setErrno(errno);
  ::close(fd);
  return ok;
}

// ---- open and create ----

void clearNonBlock(int fd) {
  int fl = fcntl(fd, F_GETFL);
  if (fl >= 0 && (fl & O_NONBLOCK)) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
}

// Opens an existing file. The descriptor is opened for reading and writing whenever the file
// allows it, so that exclusive locks work on handles opened for reading; the handle's access is
// enforced by the layer.
VlFHandle openConverted(const char* conv, uint32_t mode) {
  uint32_t access = mode & VL_FO_ACCESSMASK;
  uint32_t share = mode & VL_FO_SHAREMASK;
  std::string path;
  int base = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = ::open(conv, O_RDWR | base);
  int e = errno;
  if (fd >= 0) {
    path = conv;
  } else {
    path = conv;
    if (e == ENOENT || e == ENOTDIR) {
      bool dirMissing = false;
      if (!resolve(conv, path, &dirMissing)) {
        setNotFound(dirMissing);
        return VL_FS_ERROR;
      }
      fd = ::open(path.c_str(), O_RDWR | base);
      e = errno;
    }
    if (fd < 0 && e != ENOENT && e != ENOTDIR && e != EISDIR) {
      int want = access == VL_FO_WRITE ? O_WRONLY : access == VL_FO_READWRITE ? O_RDWR : O_RDONLY;
      fd = ::open(path.c_str(), want | base);
      e = errno;
    }
    if (fd < 0) {
      setNameErrno(e, path.c_str());
      return VL_FS_ERROR;
    }
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    setErrno(errno);
    ::close(fd);
    return VL_FS_ERROR;
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    s_errno = EISDIR;
    setWin(VL_FERR_ACCESS);
    return VL_FS_ERROR;
  }
  bool wantsWrite = access == VL_FO_WRITE || access == VL_FO_READWRITE;
  if (wantsWrite && S_ISREG(st.st_mode) && readOnlyMode(st.st_mode)) {
    // A read-only file stays read-only for every user, as it would on the system the
    // programs were written for.
    ::close(fd);
    s_errno = EACCES;
    setWin(VL_FERR_ACCESS);
    return VL_FS_ERROR;
  }
  clearNonBlock(fd);
  if (S_ISREG(st.st_mode)) {
    uint32_t rc = shareAcquire(fd, shareWant(access, share));
    if (rc != 0) {
      ::close(fd);
      s_errno = 0;
      setWin(rc);
      return VL_FS_ERROR;
    }
  }
  adopt(fd, static_cast<uint8_t>(access), S_ISREG(st.st_mode));
  setOk();
  return fd;
}

// Creates or empties a file (read and write access). With newOnly an existing file is an error
// (temporary names).
VlFHandle createConverted(const char* conv, uint32_t attr, uint32_t mode, bool newOnly) {
  std::string path;
  bool dirMissing = false;
  if (!resolve(conv, path, &dirMissing) && dirMissing) {
    setNotFound(true);
    return VL_FS_ERROR;
  }
  mode_t perms = (attr & VL_FC_READONLY) ? 0444 : 0666;
  int base = O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  bool existed = false;
  int fd = ::open(path.c_str(), base | O_CREAT | O_EXCL, perms);
  if (fd < 0 && errno == EEXIST && !newOnly) {
    existed = true;
    fd = ::open(path.c_str(), base);
  }
  if (fd < 0) {
    setNameErrno(errno, path.c_str());
    return VL_FS_ERROR;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    setErrno(errno);
    ::close(fd);
    return VL_FS_ERROR;
  }
  if (existed && S_ISREG(st.st_mode) && readOnlyMode(st.st_mode)) {
    ::close(fd);
    s_errno = EACCES;
    setWin(VL_FERR_ACCESS);
    return VL_FS_ERROR;
  }
  clearNonBlock(fd);
  if (S_ISREG(st.st_mode)) {
    uint32_t share = mode & VL_FO_SHAREMASK;
    uint32_t rc = shareAcquire(fd, shareWant(VL_FO_READWRITE, share));
    if (rc != 0) {
      // Another handle has the file: it is not emptied.
      ::close(fd);
      s_errno = 0;
      setWin(rc);
      return VL_FS_ERROR;
    }
    if (existed) {
      if (ftruncate(fd, 0) != 0) {
        setErrno(errno);
        ::close(fd);
        return VL_FS_ERROR;
      }
      if (attr & VL_FC_READONLY) fchmod(fd, st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) & 07777);
    }
  }
  adopt(fd, VL_FO_READWRITE, S_ISREG(st.st_mode));
  setOk();
  return fd;
}

// ---- wildcards ----

bool hasWildcards(const char* s) { return std::strpbrk(s, "*?") != nullptr; }

bool globNoCase(const char* p, const char* n) {
  const char* star = nullptr;
  const char* mark = nullptr;
  while (*n) {
    if (*p == '*') {
      star = p++;
      mark = n;
    } else if (*p == '?' || (*p && asciiLower(*p) == asciiLower(*n))) {
      ++p;
      ++n;
    } else if (star) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == '\0';
}

// Wildcard matching as directory searches have always done it: "*.*" matches every name,
// "x.*" also matches "x", and a pattern ending in "." matches names without an extension.
bool matchName(const char* pattern, const char* name) {
  if (std::strcmp(pattern, "*.*") == 0 || std::strcmp(pattern, "*") == 0) return true;
  if (globNoCase(pattern, name)) return true;
  size_t pl = std::strlen(pattern);
  bool nameHasDot = std::strchr(name, '.') != nullptr;
  if (pl >= 2 && pattern[pl - 2] == '.' && pattern[pl - 1] == '*' && !nameHasDot) {
    std::string head(pattern, pl - 2);
    return globNoCase(head.c_str(), name);
  }
  if (pl >= 1 && pattern[pl - 1] == '.' && !nameHasDot) {
    std::string head(pattern, pl - 1);
    return globNoCase(head.c_str(), name);
  }
  return false;
}

// ---- directory search ----

struct FindState {
  DIR* dir;
  std::string dirPath;      // with a trailing "/" unless empty
  std::string pattern;      // the file part
  uint32_t filter;
  bool single;              // no wildcards: only the resolved entry
  bool singleDone;
};

uint32_t attributesOf(const char* name, const struct stat& st) {
  uint32_t a = 0;
  if (S_ISDIR(st.st_mode)) a |= VL_FA_DIRECTORY;
  else if (S_ISREG(st.st_mode)) {
    if (readOnlyMode(st.st_mode)) a |= VL_FA_READONLY;
  } else {
    a |= VL_FA_SYSTEM;
  }
  if (name[0] == '.' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) a |= VL_FA_HIDDEN;
  return a ? a : VL_FA_NORMAL;
}

void fillEntry(VlFsFind* f, const char* name, const struct stat& st) {
  std::snprintf(f->name, sizeof f->name, "%s", name);
  f->attr = attributesOf(name, st);
  f->size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
  struct tm tmv;
  time_t t = st.st_mtime;
  if (localtime_r(&t, &tmv)) {
    f->date = vl_dateEncode(tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday);
    std::snprintf(f->time, sizeof f->time, "%02u:%02u:%02u", static_cast<unsigned>(tmv.tm_hour) % 24u,
                  static_cast<unsigned>(tmv.tm_min) % 60u, static_cast<unsigned>(tmv.tm_sec) % 61u);
  } else {
    f->date = 0;
    std::strcpy(f->time, "00:00:00");
  }
}

bool statEntry(const std::string& path, struct stat& st) {
  return stat(path.c_str(), &st) == 0 || lstat(path.c_str(), &st) == 0;
}

bool acceptFirst(uint32_t a, uint32_t filter) {
  return filter == 0 || a == 0 || (a & VL_FA_NORMAL) || (a & filter) || (a & VL_FA_DIRECTORY);
}
bool acceptFirstFurther(uint32_t a, uint32_t filter) {
  return filter == 0 || a == 0 || (a & VL_FA_NORMAL) || (a & filter);
}
bool acceptNext(uint32_t a, uint32_t filter) {
  return filter == 0 || a == 0 || (a & VL_FA_NORMAL) || (a & (VL_FA_HIDDEN | VL_FA_SYSTEM)) ||
         a == VL_FA_DIRECTORY || (a & filter);
}

// The next directory entry matching the pattern and accepted by `accept`.
bool nextEntry(VlFsFind* f, bool (*accept)(uint32_t, uint32_t), bool first) {
  FindState* s = static_cast<FindState*>(f->state);
  if (s->single) {
    if (s->singleDone) return false;
    s->singleDone = true;
    struct stat st;
    std::string full = s->dirPath + s->pattern;
    if (!statEntry(full, st)) return false;
    fillEntry(f, s->pattern.c_str(), st);
    return accept(f->attr, s->filter);
  }
  while (struct dirent* e = readdir(s->dir)) {
    if (!matchName(s->pattern.c_str(), e->d_name)) continue;
    struct stat st;
    if (!statEntry(s->dirPath + e->d_name, st)) continue;
    fillEntry(f, e->d_name, st);
    if (accept(f->attr, s->filter)) return true;
    if (first) accept = acceptFirstFurther;
  }
  return false;
}

std::string joinName(const std::string& dir, const char* name) {
  if (dir.empty()) return name;
  char last = dir.back();
  if (last == '\\' || last == '/' || last == ':') return dir + name;
  return dir + "/" + name;
}

bool hasDirectory(const char* name) {
  for (const char* p = name; *p; ++p)
    if (*p == '\\' || *p == '/' || *p == ':' || *p == separator()) return true;
  return false;
}

char s_curDir[VL_FS_PATH_MAX];

}  // namespace

// ---- the public operations ----

VlFHandle vl_fsOpen(const char* name, uint32_t mode) {
  if (fault(VL_FSF_OPEN)) return VL_FS_ERROR;
  char conv[VL_FS_PATH_MAX];
  if (!convert(name, conv, true)) return VL_FS_ERROR;
  if (!*conv) {
    setNotFound(true);
    return VL_FS_ERROR;
  }
  return openConverted(conv, mode);
}

VlFHandle vl_fsCreate(const char* name, uint32_t attr) {
  if (fault(VL_FSF_OPEN)) return VL_FS_ERROR;
  char conv[VL_FS_PATH_MAX];
  if (!convert(name, conv, true)) return VL_FS_ERROR;
  if (!*conv) {
    setNotFound(true);
    return VL_FS_ERROR;
  }
  return createConverted(conv, attr, VL_FO_EXCLUSIVE, false);
}

VlFHandle vl_fsCreateEx(const char* name, uint32_t attr, uint32_t mode) {
  if (fault(VL_FSF_OPEN)) return VL_FS_ERROR;
  char conv[VL_FS_PATH_MAX];
  if (!convert(name, conv, false)) return VL_FS_ERROR;
  if (!*conv) {
    setNotFound(true);
    return VL_FS_ERROR;
  }
  return createConverted(conv, attr, mode, false);
}

bool vl_fsClose(VlFHandle h) {
  FileRec* r = validHandle(h);
  if (!r) return false;
  if (h <= 2) {
    s_errno = EPERM;
    setWin(VL_FERR_ACCESS);
    return false;
  }
  r->open = false;
  r->locks.clear();
  r->locks.shrink_to_fit();
  if (::close(h) != 0 && errno != EINTR) {
    setErrno(errno);
    return false;
  }
  setOk();
  return true;
}

uint32_t vl_fsReadLarge(VlFHandle h, void* buffer, uint32_t count) {
  FileRec* r = validHandle(h);
  if (!r) return 0;
  if (!canRead(r)) {
    s_errno = EBADF;
    setWin(VL_FERR_ACCESS);
    return 0;
  }
  if (fault(VL_FSF_READ)) return 0;
  if (!buffer && count) {
    setWin(VL_FERR_INVALID_PARAM);
    return 0;
  }
  char* p = static_cast<char*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    ssize_t n = ::read(h, p + total, std::min<uint32_t>(count - total, 1u << 30));
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      setErrno(e);
      if (e == EIO) setWin(VL_FERR_READ_FAULT);
      return total;
    }
    if (n == 0) break;
    total += static_cast<uint32_t>(n);
    if (!r->regular) break;  // pipes and terminals give what they have
  }
  setOk();
  return total;
}

uint32_t vl_fsWriteLarge(VlFHandle h, const void* buffer, uint32_t count) {
  FileRec* r = validHandle(h);
  if (!r) return 0;
  if (!canWrite(r)) {
    s_errno = EBADF;
    setWin(VL_FERR_ACCESS);
    return 0;
  }
  if (fault(VL_FSF_WRITE)) return 0;
  if (count == 0) {
    off_t pos = lseek(h, 0, SEEK_CUR);
    if (pos < 0 || ftruncate(h, pos) != 0) {
      setErrno(errno);
      return 0;
    }
    setOk();
    return 0;
  }
  if (!buffer) {
    setWin(VL_FERR_INVALID_PARAM);
    return 0;
  }
  uint32_t allowed = count;
  if (s_faultArmed && s_writeBudget < count) allowed = static_cast<uint32_t>(s_writeBudget);
  const char* p = static_cast<const char*>(buffer);
  uint32_t total = 0;
  while (total < allowed) {
    ssize_t n = ::write(h, p + total, std::min<uint32_t>(allowed - total, 1u << 30));
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      setErrno(e);
      if (e == EIO) setWin(VL_FERR_WRITE_FAULT);
      break;
    }
    total += static_cast<uint32_t>(n);
  }
  if (s_faultArmed && s_writeBudget != UINT64_MAX) s_writeBudget -= total;
  if (total == count) {
    setOk();
  } else if (allowed < count && total == allowed) {
    s_errno = ENOSPC;
    setWin(VL_FERR_DISK_FULL);
  }
  return total;
}

uint32_t vl_fsReadAt(VlFHandle h, void* buffer, uint32_t count, uint64_t offset) {
  FileRec* r = validHandle(h);
  if (!r) return 0;
  if (!canRead(r)) {
    s_errno = EBADF;
    setWin(VL_FERR_ACCESS);
    return 0;
  }
  if (fault(VL_FSF_READ)) return 0;
  if ((!buffer && count) || offset > static_cast<uint64_t>(INT64_MAX)) {
    setWin(VL_FERR_INVALID_PARAM);
    return 0;
  }
  char* p = static_cast<char*>(buffer);
  uint32_t total = 0;
  while (total < count) {
    ssize_t n = ::pread(h, p + total, std::min<uint32_t>(count - total, 1u << 30), static_cast<off_t>(offset + total));
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      setErrno(e);
      if (e == EIO) setWin(VL_FERR_READ_FAULT);
      return total;
    }
    if (n == 0) break;
    total += static_cast<uint32_t>(n);
  }
  setOk();
  return total;
}

uint32_t vl_fsWriteAt(VlFHandle h, const void* buffer, uint32_t count, uint64_t offset) {
  FileRec* r = validHandle(h);
  if (!r) return 0;
  if (!canWrite(r)) {
    s_errno = EBADF;
    setWin(VL_FERR_ACCESS);
    return 0;
  }
  if (fault(VL_FSF_WRITE)) return 0;
  if ((!buffer && count) || offset > static_cast<uint64_t>(INT64_MAX)) {
    setWin(VL_FERR_INVALID_PARAM);
    return 0;
  }
  uint32_t allowed = count;
  if (s_faultArmed && s_writeBudget < count) allowed = static_cast<uint32_t>(s_writeBudget);
  const char* p = static_cast<const char*>(buffer);
  uint32_t total = 0;
  while (total < allowed) {
    ssize_t n = ::pwrite(h, p + total, std::min<uint32_t>(allowed - total, 1u << 30), static_cast<off_t>(offset + total));
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      setErrno(e);
      if (e == EIO) setWin(VL_FERR_WRITE_FAULT);
      break;
    }
    total += static_cast<uint32_t>(n);
  }
  if (s_faultArmed && s_writeBudget != UINT64_MAX) s_writeBudget -= total;
  if (total == count) {
    setOk();
  } else if (allowed < count && total == allowed) {
    s_errno = ENOSPC;
    setWin(VL_FERR_DISK_FULL);
  }
  return total;
}

int64_t vl_fsSeekLarge(VlFHandle h, int64_t offset, uint16_t origin) {
  FileRec* r = validHandle(h);
  if (!r) return 0;
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END
             : (origin & 2) ? SEEK_END : (origin & 1) ? SEEK_CUR : SEEK_SET;
  off_t cur = lseek(h, 0, SEEK_CUR);
  if (whence == SEEK_SET && offset < 0) {
    s_errno = EINVAL;
    setWin(VL_FERR_SEEK);
    return cur < 0 ? 0 : cur;
  }
  off_t pos = lseek(h, static_cast<off_t>(offset), whence);
  if (pos < 0) {
    int e = errno;
    setErrno(e);
    if (e == EINVAL) setWin(VL_FERR_NEGATIVE_SEEK);
    return cur < 0 ? 0 : cur;
  }
  setOk();
  return pos;
}

int64_t vl_fsTell(VlFHandle h) {
  if (!validHandle(h)) return 0;
  off_t pos = lseek(h, 0, SEEK_CUR);
  if (pos < 0) {
    setErrno(errno);
    return 0;
  }
  setOk();
  return pos;
}

int64_t vl_fsSize(VlFHandle h) {
  if (!validHandle(h)) return -1;
  struct stat st;
  if (fstat(h, &st) != 0) {
    setErrno(errno);
    return -1;
  }
  setOk();
  return st.st_size;
}

bool vl_fsTruncate(VlFHandle h, uint64_t size) {
  FileRec* r = validHandle(h);
  if (!r) return false;
  if (!canWrite(r)) {
    s_errno = EBADF;
    setWin(VL_FERR_ACCESS);
    return false;
  }
  if (fault(VL_FSF_WRITE)) return false;
  if (size > static_cast<uint64_t>(INT64_MAX) || ftruncate(h, static_cast<off_t>(size)) != 0) {
    setErrno(size > static_cast<uint64_t>(INT64_MAX) ? EINVAL : errno);
    return false;
  }
  setOk();
  return true;
}

bool vl_fsCommit(VlFHandle h) {
  if (!validHandle(h)) return false;
  if (fault(VL_FSF_COMMIT)) return false;
  if (fsync(h) != 0 && errno != EINVAL) {  // EINVAL: a pipe or terminal, nothing to force
    int e = errno;
    setErrno(e);
    if (e == EIO) setWin(VL_FERR_WRITE_FAULT);
    return false;
  }
  setOk();
  return true;
}

bool vl_fsIsDevice(VlFHandle h) {
  if (!validHandle(h)) return false;
  struct stat st;
  if (fstat(h, &st) != 0) {
    setErrno(errno);
    return false;
  }
  setOk();
  return S_ISCHR(st.st_mode);
}

bool vl_fsLockLarge(VlFHandle h, uint64_t start, uint64_t length, uint32_t mode) {
  FileRec* r = validHandle(h);
  if (!r) return false;
  uint32_t action = mode & 0xFF;
  if (action > VL_FL_UNLOCK || length == 0 || start >= VL_FS_RESERVED_BASE ||
      length > VL_FS_RESERVED_BASE - start) {
    s_errno = EINVAL;
    setWin(VL_FERR_INVALID_PARAM);
    return false;
  }
  if (fault(VL_FSF_LOCK)) return false;
  const uint64_t end = start + length;
  std::vector<LockRec>& locks = r->locks;
  if (action == VL_FL_UNLOCK) {
    size_t i = 0;
    while (i < locks.size() && !(locks[i].start == start && locks[i].end == end)) ++i;
    if (i == locks.size()) {
      s_errno = 0;
      setWin(VL_FERR_NOT_LOCKED);
      return false;
    }
    LockRec gone = locks[i];
    locks.erase(locks.begin() + static_cast<std::ptrdiff_t>(i));
    std::vector<LockRec> others;
    for (const LockRec& l : locks)
      if (l.start < end && start < l.end) others.push_back(l);
    applyChange(h, others, gone, false, false);  // dropping or downgrading never waits
    setOk();
    return true;
  }
  LockRec rec{start, end, (mode & VL_FL_SHARED) != 0};
  std::vector<LockRec> others;
  for (const LockRec& l : locks) {
    if (l.start < end && start < l.end) {
      if (!rec.shared) {
        // An exclusive lock may not overlap anything, not even this handle's own locks.
        s_errno = EDEADLK;
        setWin(VL_FERR_LOCK);
        return false;
      }
      others.push_back(l);
    }
  }
  int rc = applyChange(h, others, rec, true, (mode & VL_FL_WAIT) != 0);
  if (rc != 0) {
    setErrno(rc);
    if (rc == EAGAIN || rc == EACCES || rc == EDEADLK) setWin(VL_FERR_LOCK);
    return false;
  }
  locks.push_back(rec);
  setOk();
  return true;
}

bool vl_fsDelete(const char* name) {
  if (fault(VL_FSF_DELETE)) return false;
  char conv[VL_FS_PATH_MAX];
  if (!convert(name, conv, true)) return false;
  std::string path;
  bool dirMissing = false;
  if (!*conv || !resolve(conv, path, &dirMissing)) {
    setNotFound(dirMissing || !*conv);
    return false;
  }
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    setNameErrno(errno, path.c_str());
    return false;
  }
  if (S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && readOnlyMode(st.st_mode))) {
    s_errno = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
    setWin(VL_FERR_ACCESS);
    return false;
  }
  if (S_ISREG(st.st_mode) && openElsewhere(path.c_str())) {
    s_errno = EBUSY;
    setWin(VL_FERR_SHARING);
    return false;
  }
  if (unlink(path.c_str()) != 0) {
    setNameErrno(errno, path.c_str());
    return false;
  }
  setOk();
  return true;
}

bool vl_fsRenameEx(const char* oldName, const char* newName, uint32_t flags) {
  if (fault(VL_FSF_RENAME)) return false;
  char oldConv[VL_FS_PATH_MAX];
  char newConv[VL_FS_PATH_MAX];
  if (!convert(oldName, oldConv, true) || !convert(newName, newConv, true)) return false;
  std::string from, to;
  bool dirMissing = false;
  if (!*oldConv || !resolve(oldConv, from, &dirMissing)) {
    setNotFound(dirMissing || !*oldConv);
    return false;
  }
  if (!*newConv) {
    setNotFound(true);
    return false;
  }
  struct stat stFrom;
  if (lstat(from.c_str(), &stFrom) != 0) {
    setNameErrno(errno, from.c_str());
    return false;
  }
  std::string existing;
  if (resolve(newConv, existing, &dirMissing)) {
    struct stat stTo;
    bool same = lstat(existing.c_str(), &stTo) == 0 && stTo.st_ino == stFrom.st_ino && stTo.st_dev == stFrom.st_dev;
    if (!same || existing != from) {
      s_errno = EEXIST;
      setWin(VL_FERR_ALREADY_EXISTS);
      return false;
    }
    // The new name is the file itself in another case: a change of case (or nothing).
    size_t slash = from.find_last_of('/');
    const char* last = std::strrchr(newConv, '/');
    to = (slash == std::string::npos ? std::string() : from.substr(0, slash + 1)) + (last ? last + 1 : newConv);
  } else {
    if (dirMissing) {
      setNotFound(true);
      return false;
    }
    to = existing;  // the directories as found, the new name as converted
  }
  if (S_ISREG(stFrom.st_mode) && openElsewhere(from.c_str())) {
    s_errno = EBUSY;
    setWin(VL_FERR_SHARING);
    return false;
  }
  if (to != from) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
      int e = errno;
      if (e != EINVAL && e != ENOSYS && e != ENOTSUP) {
        setNameErrno(e, to.c_str());
        return false;
      }
      // The file system cannot refuse to replace by itself: look first.
      struct stat st;
      if (lstat(to.c_str(), &st) == 0 && !(st.st_ino == stFrom.st_ino && st.st_dev == stFrom.st_dev)) {
        s_errno = EEXIST;
        setWin(VL_FERR_ALREADY_EXISTS);
        return false;
      }
      if (rename(from.c_str(), to.c_str()) != 0) {
        setNameErrno(errno, to.c_str());
        return false;
      }
    }
  }
  if (flags & VL_FR_DURABLE) {
    if (!syncDirOf(to)) return false;
    if (parentDir(to) != parentDir(from) && !syncDirOf(from)) return false;
  }
  setOk();
  return true;
}

bool vl_fsRename(const char* oldName, const char* newName) { return vl_fsRenameEx(oldName, newName, 0); }

bool vl_fsSyncDir(const char* name) {
  char conv[VL_FS_PATH_MAX];
  if (!convert(name, conv, true)) return false;
  std::string path;
  resolve(conv, path);
  if (!syncDirOf(path)) return false;
  setOk();
  return true;
}

bool vl_fsMkDir(const char* name) {
  char conv[VL_FS_PATH_MAX];
  if (!convert(name, conv, true)) return false;
  std::string path;
  bool dirMissing = false;
  if (!*conv) {
    setNotFound(true);
    return false;
  }
  if (resolve(conv, path, &dirMissing)) {
    s_errno = EEXIST;
    setWin(VL_FERR_ALREADY_EXISTS);
    return false;
  }
  if (mkdir(path.c_str(), 0777) != 0) {
    setNameErrno(errno, path.c_str());
    return false;
  }
  setOk();
  return true;
}

bool vl_fsChDir(const char* name) {
  char conv[VL_FS_PATH_MAX];
  if (!convert(name, conv, true)) return false;
  std::string path;
  bool dirMissing = false;
  if (!*conv || !resolve(conv, path, &dirMissing)) {
    setNotFound(dirMissing);
    return false;
  }
  if (chdir(path.c_str()) != 0) {
    setNameErrno(errno, path.c_str());
    if (errno == ENOTDIR) setWin(VL_FERR_PATH_NOT_FOUND);
    return false;
  }
  setOk();
  return true;
}

bool vl_fsRmDir(const char* name) {
  char conv[VL_FS_PATH_MAX];
  if (!convert(name, conv, true)) return false;
  std::string path;
  bool dirMissing = false;
  if (!*conv || !resolve(conv, path, &dirMissing)) {
    setNotFound(dirMissing);
    return false;
  }
  if (rmdir(path.c_str()) != 0) {
    int e = errno;
    setNameErrno(e, path.c_str());
    if (e == ENOTDIR) setWin(VL_FERR_PATH_NOT_FOUND);
    return false;
  }
  setOk();
  return true;
}

const char* vl_fsCurDir(int) {
  if (!getcwd(s_curDir, sizeof s_curDir)) {
    setErrno(errno);
    s_curDir[0] = '\0';
    return s_curDir;
  }
  size_t skip = 0;
  while (s_curDir[skip] == '/') ++skip;
  size_t len = std::strlen(s_curDir + skip);
  std::memmove(s_curDir, s_curDir + skip, len + 1);
  while (len && s_curDir[len - 1] == '/') s_curDir[--len] = '\0';
  setOk();
  return s_curDir;
}

bool vl_fsFile(const char* name) {
  char conv[VL_FS_PATH_MAX];
  bool found = false;
  if (convert(name, conv, true) && *conv && !isSep(conv[std::strlen(conv) - 1])) {
    const char* filePart = conv;
    for (const char* p = conv; *p; ++p)
      if (isSep(*p)) filePart = p + 1;
    if (hasWildcards(filePart)) {
      if (VlFsFind* f = vl_fsFindFirst(conv, 0)) {
        do {
          if (!(f->attr & VL_FA_DIRECTORY)) found = true;
        } while (!found && vl_fsFindNext(f));
        vl_fsFindClose(f);
      }
    } else {
      std::string path;
      struct stat st;
      found = resolve(conv, path) && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
    }
  }
  setOk();
  return found;
}

bool vl_fsIsDirectory(const char* name) {
  char conv[VL_FS_PATH_MAX];
  bool dir = false;
  if (convert(name, conv, false) && *conv) {
    std::string path;
    struct stat st;
    dir = resolve(conv, path) && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  setOk();
  return dir;
}

bool vl_fsNameConvert(const char* name, char* out, bool trim) {
  if (!convert(name, out, trim)) {
    out[0] = '\0';
    return false;
  }
  return true;
}

bool vl_fsResolveName(const char* name, char* out) {
  char conv[VL_FS_PATH_MAX];
  if (!convert(name, conv, true)) {
    out[0] = '\0';
    return false;
  }
  std::string path;
  resolve(conv, path);
  std::snprintf(out, VL_FS_PATH_MAX, "%s", path.c_str());
  return true;
}

VlFsFind* vl_fsFindFirst(const char* pattern, uint32_t attrFilter) {
  char conv[VL_FS_PATH_MAX];
  if (!convert(pattern, conv, true)) return nullptr;
  size_t len = std::strlen(conv);
  if (len == 0) {
    setNotFound(false);
    return nullptr;
  }
  std::string full(conv);
  if (isSep(full.back())) full += "*.*";
  size_t cut = std::string::npos;
  for (size_t i = 0; i < full.size(); ++i)
    if (isSep(full[i])) cut = i;
  std::string dirPart = cut == std::string::npos ? "" : full.substr(0, cut + 1);
  std::string filePart = cut == std::string::npos ? full : full.substr(cut + 1);
  std::string dirPath;
  if (!dirPart.empty()) {
    if (!resolve(dirPart.c_str(), dirPath)) {
      setNotFound(true);
      return nullptr;
    }
    if (dirPath.back() != '/') dirPath += '/';
  }
  FindState* s = new FindState{nullptr, dirPath, filePart, attrFilter, false, false};
  if (!hasWildcards(filePart.c_str())) {
    std::string path;
    if (!resolve((dirPath + filePart).c_str(), path)) {
      delete s;
      setNotFound(false);
      return nullptr;
    }
    s->single = true;
    size_t slash = path.find_last_of('/');
    s->pattern = slash == std::string::npos ? path : path.substr(slash + 1);
  } else {
    s->dir = opendir(dirPath.empty() ? "." : dirPath.c_str());
    if (!s->dir) {
      int e = errno;
      delete s;
      setErrno(e);
      if (e == ENOENT || e == ENOTDIR) setWin(VL_FERR_PATH_NOT_FOUND);
      return nullptr;
    }
  }
  VlFsFind* f = static_cast<VlFsFind*>(vl_xgrab(sizeof(VlFsFind)));
  std::memset(f, 0, sizeof *f);
  f->state = s;
  if (!nextEntry(f, acceptFirst, true)) {
    vl_fsFindClose(f);
    setNotFound(false);
    return nullptr;
  }
  setOk();
  return f;
}

bool vl_fsFindNext(VlFsFind* find) {
  if (!find) return false;
  if (!nextEntry(find, acceptNext, false)) {
    s_errno = ENOENT;
    setWin(VL_FERR_NO_MORE_FILES);
    return false;
  }
  setOk();
  return true;
}

void vl_fsFindClose(VlFsFind* find) {
  if (!find) return;
  FindState* s = static_cast<FindState*>(find->state);
  if (s) {
    if (s->dir) closedir(s->dir);
    delete s;
  }
  vl_xfree(find);
}

VlFHandle vl_fsCreateTemp(const char* dir, uint32_t attr, uint32_t mode, char* outName) {
  std::string base = dir && *dir ? dir : "";
  if (base.empty()) {
    const char* t = std::getenv("TMPDIR");
    base = t && *t ? t : "/tmp";
  }
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  static uint64_t s_seed = static_cast<uint64_t>(time(nullptr)) ^ (static_cast<uint64_t>(getpid()) << 20);
  for (int attempt = 0; attempt < 998; ++attempt) {
    if (fault(VL_FSF_OPEN)) return VL_FS_ERROR;
    char name[10] = "tmq";
    for (int i = 3; i < 9; ++i) {
      s_seed = s_seed * 6364136223846793005ULL + 1442695040888963407ULL;
      name[i] = kChars[(s_seed >> 33) % 36];
    }
    name[9] = '\0';
    std::string cand = joinName(base, name);
    char conv[VL_FS_PATH_MAX];
    if (!convert(cand.c_str(), conv, false)) return VL_FS_ERROR;
    VlFHandle h = createConverted(conv, attr, mode, true);
    if (h != VL_FS_ERROR) {
      if (outName) std::snprintf(outName, VL_FS_PATH_MAX, "%s", conv);
      return h;
    }
    if (s_osError != VL_FERR_ALREADY_EXISTS) return VL_FS_ERROR;
  }
  return VL_FS_ERROR;
}

bool vl_spFile(const char* name, char* outName) {
  if (!name) {
    if (outName) outName[0] = '\0';
    setOk();
    return false;
  }
  auto emit = [outName](const std::string& s) {
    if (outName) std::snprintf(outName, VL_FS_PATH_MAX, "%s", s.c_str());
  };
  if (hasDirectory(name)) {
    emit(name);
    return vl_fsFile(name);
  }
  const char* def = vl_set.defaultDir ? vl_set.defaultDir : "";
  std::string inDefault = joinName(def, name);
  if (vl_fsFile(inDefault.c_str())) {
    emit(inDefault);
    return true;
  }
  const char* path = vl_set.path ? vl_set.path : "";
  if (*path) {
    const char* p = path;
    for (;;) {
      const char* semi = std::strchr(p, ';');
      std::string dir(p, semi ? static_cast<size_t>(semi - p) : std::strlen(p));
      std::string cand = joinName(dir, name);
      if (vl_fsFile(cand.c_str())) {
        emit(cand);
        return true;
      }
      if (!semi) break;
      p = semi + 1;
    }
  }
  emit(inDefault);
  return false;
}

VlFHandle vl_spOpen(const char* name, uint32_t mode) {
  char found[VL_FS_PATH_MAX];
  if (!name) return vl_fsOpen(name, mode);
  if (vl_spFile(name, found)) return vl_fsOpen(found, mode);
  return vl_fsOpen(name, mode);
}

VlFHandle vl_spCreate(const char* name, uint32_t attr) {
  if (!name || hasDirectory(name) || !vl_set.defaultDir || !*vl_set.defaultDir) return vl_fsCreate(name, attr);
  return vl_fsCreate(joinName(vl_set.defaultDir, name).c_str(), attr);
}

VlFHandle vl_spCreateEx(const char* name, uint32_t attr, uint32_t mode) {
  if (!name || hasDirectory(name) || !vl_set.defaultDir || !*vl_set.defaultDir) return vl_fsCreateEx(name, attr, mode);
  return vl_fsCreateEx(joinName(vl_set.defaultDir, name).c_str(), attr, mode);
}

uint32_t vl_fsError() { return s_error; }
void vl_fsSetError(uint32_t error) {
  s_error = s_osError = error;
  s_errno = 0;
}
uint32_t vl_fsOsError() { return s_osError; }
int vl_fsErrno() { return s_errno; }

void vl_fsFaultFailNth(VlFsFaultOp op, uint32_t n, uint32_t error) {
  if (op < 0 || op >= VL_FSF_COUNT) return;
  s_faultCountdown[op] = n;
  s_faultError[op] = error;
  rearm();
}

void vl_fsFaultWriteLimit(uint64_t bytes) {
  s_writeBudget = bytes;
  rearm();
}

void vl_fsFaultReset() {
  for (int i = 0; i < VL_FSF_COUNT; ++i) s_faultCountdown[i] = s_faultError[i] = 0;
  s_writeBudget = UINT64_MAX;
  rearm();
}
