// The file layer: the run-time's only road to files. Handles, open and share modes, byte-range
// locks, name conversion by the SET table, directory searches, search-path opening, temporary
// files and the last file error, over POSIX. Every operation reports failure by its result and
// leaves the last file error (a Windows error value, so that FERROR() and NETERR() read the
// values programs expect); none raises a run-time error.
//
// What callers rely on:
//  1. Share modes hold between handles, in this process and in others: a conflicting open fails
//     with VL_FERR_SHARING (32). They are emulated with open-file-description locks on a reserved
//     range at the very top of the offset space (VL_FS_RESERVED_BASE), far beyond any data.
//  2. A byte-range lock belongs to the handle that took it. Closing one handle never drops the
//     locks of another handle of the same file, even in the same process. Locks are advisory:
//     they keep other lockers out, not readers and writers.
//  3. Names are converted (trim, separator, file and directory case) before every use; a name
//     that does not exist exactly resolves to the one entry of its directory that matches it
//     without regard to case (the exact name wins; two or more such entries and no exact one
//     mean "not found"). New names (create, rename target, mkdir) are used as converted; when
//     an entry matching them without regard to case exists it is the same file: create empties
//     it in place (its stored name stays), rename and mkdir fail with VL_FERR_ACCESS (5).
//  4. Offsets and sizes are 64-bit everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

// A file handle: 0, 1 and 2 are the process's standard input, output and error; -1 is failure.
using VlFHandle = int32_t;
inline constexpr VlFHandle VL_FS_ERROR = -1;

// Longest converted name, including its terminating zero.
inline constexpr size_t VL_FS_PATH_MAX = 4096;

// ---- open modes (vl_fsOpen, vl_fsCreateEx): access in bits 0-1, sharing in bits 4-6 ----
enum : uint32_t {
  VL_FO_READ = 0x00,
  VL_FO_WRITE = 0x01,
  VL_FO_READWRITE = 0x02,
  VL_FO_NOACCESS = 0x03,   // neither read nor write; the share checks still apply
  VL_FO_ACCESSMASK = 0x03,

  VL_FO_COMPAT = 0x00,     // treated as VL_FO_DENYNONE
  VL_FO_EXCLUSIVE = 0x10,  // others may neither read nor write
  VL_FO_DENYWRITE = 0x20,  // others may read
  VL_FO_DENYREAD = 0x30,   // others may write
  VL_FO_DENYNONE = 0x40,   // any other value of bits 4-6 means this too
  VL_FO_SHAREMASK = 0x70,
};

// ---- create attributes (vl_fsCreate, vl_fsCreateEx, vl_fsCreateTemp) ----
// Read-only clears the file's write permission bits once it is created; the new handle can still
// write. Hidden and system have no equivalent here and are ignored.
enum : uint32_t {
  VL_FC_NORMAL = 0,
  VL_FC_READONLY = 1,
  VL_FC_HIDDEN = 2,
  VL_FC_SYSTEM = 4,
};

// ---- seek origins; for any other value bit 1 selects the end and, failing that, bit 0 the
// current position ----
enum : uint16_t {
  VL_FS_SET = 0,
  VL_FS_RELATIVE = 1,
  VL_FS_END = 2,
};

// ---- lock modes: the low byte is the action, the flags add to it ----
enum : uint32_t {
  VL_FL_LOCK = 0x0000,
  VL_FL_UNLOCK = 0x0001,
  VL_FL_SHARED = 0x0100,  // a shared (read) lock; without it the lock is exclusive
  VL_FL_WAIT = 0x0200,    // wait until the lock can be granted; without it fail at once
};

// The share-mode emulation lives in [VL_FS_RESERVED_BASE, 2^63 - 1]; byte-range locks must end
// before it (a lock reaching into it fails with VL_FERR_INVALID_PARAM).
inline constexpr uint64_t VL_FS_RESERVED_BASE = 0x7FFFFFFFFFFFFF00ULL;

// ---- attribute bits of directory entries (the Windows values) ----
enum : uint32_t {
  VL_FA_READONLY = 0x0001,  // no write permission bit set
  VL_FA_HIDDEN = 0x0002,    // the name begins with "." (except "." and "..")
  VL_FA_SYSTEM = 0x0004,    // devices, pipes and sockets
  VL_FA_LABEL = 0x0008,
  VL_FA_DIRECTORY = 0x0010,
  VL_FA_ARCHIVE = 0x0020,
  VL_FA_DEVICE = 0x0040,
  VL_FA_NORMAL = 0x0080,    // a plain file with none of the other bits
  VL_FA_TEMPORARY = 0x0100,
  VL_FA_SPARSE = 0x0200,
  VL_FA_REPARSE = 0x0400,
  VL_FA_COMPRESSED = 0x0800,
  VL_FA_OFFLINE = 0x1000,
  VL_FA_NOTINDEXED = 0x2000,
  VL_FA_ENCRYPTED = 0x4000,
  VL_FA_VIRTUAL = 0x8000,
};

// ---- file errors: the Windows error values kept as the last file error ----
enum : uint32_t {
  VL_FERR_NONE = 0,
  VL_FERR_NOT_FOUND = 2,        // the file does not exist
  VL_FERR_PATH_NOT_FOUND = 3,   // a directory of the name does not exist
  VL_FERR_TOO_MANY_OPEN = 4,
  VL_FERR_ACCESS = 5,           // access denied; also "already exists" (183 as the OS error)
  VL_FERR_INVALID_HANDLE = 6,
  VL_FERR_NO_MEMORY = 8,
  VL_FERR_WRITE_PROTECT = 19,   // read-only file system
  VL_FERR_SEEK = 25,            // negative offset from the start
  VL_FERR_WRITE_FAULT = 29,
  VL_FERR_READ_FAULT = 30,
  VL_FERR_GEN_FAILURE = 31,
  VL_FERR_SHARING = 32,         // the file is open elsewhere in a conflicting share mode
  VL_FERR_LOCK = 33,            // the range is locked by another handle
  VL_FERR_NOT_SAME_DEVICE = 17, // rename across file systems
  VL_FERR_NO_MORE_FILES = 18,   // the end of a directory search
  VL_FERR_DISK_FULL = 112,
  VL_FERR_INVALID_PARAM = 87,
  VL_FERR_INVALID_NAME = 123,   // empty name, or a name with a zero byte
  VL_FERR_NEGATIVE_SEEK = 131,  // a move before the start from the current position or the end
  VL_FERR_DIR_NOT_EMPTY = 145,
  VL_FERR_NOT_LOCKED = 158,     // unlock of a range this handle has not locked
  VL_FERR_ALREADY_EXISTS = 183, // only as the OS error; the last file error is 5
  VL_FERR_NAME_TOO_LONG = 206,
  VL_FERR_FILE_TOO_LARGE = 223,
};

// ---- opening, reading and writing ----
VlFHandle vl_fsOpen(const char* name, uint32_t mode);
// Creates (or empties) the file with read and write access, exclusive.
VlFHandle vl_fsCreate(const char* name, uint32_t attr);
// The same with the share bits of `mode` (its access bits are ignored: always read and write).
// The name is converted without trimming.
VlFHandle vl_fsCreateEx(const char* name, uint32_t attr, uint32_t mode);
// Closes the handle and releases its locks; false (VL_FERR_INVALID_HANDLE) for a handle that is
// not open. The standard handles 0-2 are not closed (false, VL_FERR_ACCESS).
bool vl_fsClose(VlFHandle h);

// Bytes read or written; 0 on failure. A short count means end of file (read) or an error
// (write: the last file error says which, VL_FERR_DISK_FULL when the disk is full). A write of
// 0 bytes cuts the file at the current position.
uint32_t vl_fsReadLarge(VlFHandle h, void* buffer, uint32_t count);
uint32_t vl_fsWriteLarge(VlFHandle h, const void* buffer, uint32_t count);
inline uint32_t vl_fsRead(VlFHandle h, void* buffer, uint32_t count) { return vl_fsReadLarge(h, buffer, count); }
inline uint32_t vl_fsWrite(VlFHandle h, const void* buffer, uint32_t count) {
  return vl_fsWriteLarge(h, buffer, count);
}
// Positioned transfers that leave the file position unchanged (one system call for the drivers'
// record and page I/O). A count of 0 does nothing here.
uint32_t vl_fsReadAt(VlFHandle h, void* buffer, uint32_t count, uint64_t offset);
uint32_t vl_fsWriteAt(VlFHandle h, const void* buffer, uint32_t count, uint64_t offset);

// The new position. A negative offset from the start is refused (VL_FERR_SEEK) and the position
// stays; on any failure the current position is returned.
int64_t vl_fsSeekLarge(VlFHandle h, int64_t offset, uint16_t origin);
inline int64_t vl_fsSeek(VlFHandle h, int64_t offset, uint16_t origin) { return vl_fsSeekLarge(h, offset, origin); }
int64_t vl_fsTell(VlFHandle h);
// The file's size without moving the position; -1 on failure.
int64_t vl_fsSize(VlFHandle h);
// Sets the file's size (cuts or extends with zero bytes); the position does not move.
bool vl_fsTruncate(VlFHandle h, uint64_t size);
// Forces the file's data and size to the disk (fsync).
bool vl_fsCommit(VlFHandle h);
bool vl_fsIsDevice(VlFHandle h);

// ---- byte-range locks ----
// Lock or unlock [start, start + length). Locks of one handle never merge: a lock is released by
// an unlock of exactly the same range (else VL_FERR_NOT_LOCKED). An exclusive lock may not
// overlap any other lock, even one of the same handle (VL_FERR_LOCK at once, never a wait on
// oneself); a shared lock may overlap shared locks and this handle's own exclusive locks.
// Length 0 and ranges reaching VL_FS_RESERVED_BASE fail with VL_FERR_INVALID_PARAM.
bool vl_fsLockLarge(VlFHandle h, uint64_t start, uint64_t length, uint32_t mode);
inline bool vl_fsLock(VlFHandle h, uint32_t start, uint32_t length, uint32_t mode) {
  return vl_fsLockLarge(h, start, length, mode);
}

// ---- names, files and directories ----
bool vl_fsDelete(const char* name);
// Fails when the new name exists (VL_FERR_ACCESS, OS error 183). An open file (by any handle of
// this layer, in any process) can be neither deleted nor renamed (VL_FERR_SHARING).
bool vl_fsRename(const char* oldName, const char* newName);
enum : uint32_t { VL_FR_DURABLE = 1 };  // also fsync the directories, so the rename survives a crash
bool vl_fsRenameEx(const char* oldName, const char* newName, uint32_t flags);
// fsync of the directory that holds `name` (after creating, renaming or deleting in it).
bool vl_fsSyncDir(const char* name);

bool vl_fsMkDir(const char* name);
bool vl_fsChDir(const char* name);
bool vl_fsRmDir(const char* name);
// The current directory without a leading and a trailing separator, in a buffer owned by the
// layer (valid until the next call). The drive is ignored.
const char* vl_fsCurDir(int drive);
// True when a file (not a directory) matches the name, which may hold the wildcards * and ?.
// Leaves the last file error 0.
bool vl_fsFile(const char* name);
// True when the name exists and is a directory. Leaves the last file error 0.
bool vl_fsIsDirectory(const char* name);
// Converts a name as the SET table says (trim when `trim`, separator, file and directory case)
// into `out` (VL_FS_PATH_MAX bytes); false when it does not fit.
bool vl_fsNameConvert(const char* name, char* out, bool trim);
// The name as it is stored on disk: converted, then resolved without regard to case. When
// nothing matches, the converted name. `out` holds VL_FS_PATH_MAX bytes.
bool vl_fsResolveName(const char* name, char* out);

// ---- directory search ----
struct VlFsFind {
  char name[256];    // the entry's name as stored
  int64_t size;      // bytes; 0 for a directory
  int32_t date;      // last write, local time, as a Julian day number (0 when unknown)
  char time[9];      // last write, local time, "hh:mm:ss"
  uint32_t attr;     // VL_FA_* bits
  void* state;       // the layer's search state
};
// Entries of the directory named by the pattern's directory part (found without regard to case)
// whose names match its file part (wildcards * and ?, without regard to case; "*.*" matches
// every name). A pattern ending in a separator gets "*.*". Null when nothing matches (the last
// file error says why); the record must be released with vl_fsFindClose.
VlFsFind* vl_fsFindFirst(const char* pattern, uint32_t attrFilter);
bool vl_fsFindNext(VlFsFind* find);
void vl_fsFindClose(VlFsFind* find);

// ---- temporary files ----
// A new file "tmq" + six characters in `dir` (the system's temporary directory when empty or
// null), created with `attr` and the share bits of `mode`; its name goes to `outName`
// (VL_FS_PATH_MAX bytes).
VlFHandle vl_fsCreateTemp(const char* dir, uint32_t attr, uint32_t mode, char* outName);

// ---- search path (SET_DEFAULT, then SET_PATH) ----
// True when the name exists in the default directory or on the path (a name with a directory is
// tested alone). `outName` (VL_FS_PATH_MAX bytes, may be null) receives the name found or, when
// nothing exists, the name in the default directory.
bool vl_spFile(const char* name, char* outName);
VlFHandle vl_spOpen(const char* name, uint32_t mode);
// A name without a directory is created in the default directory.
VlFHandle vl_spCreate(const char* name, uint32_t attr);
VlFHandle vl_spCreateEx(const char* name, uint32_t attr, uint32_t mode);

// ---- file-name parts ----
// The parts point into the record's own buffer; absent parts are null. Release with vl_xfree.
struct VlFName {
  const char* path;   // up to and including the last "\", "/" or ":"
  const char* name;   // up to its last "." (a leading "." belongs to the name)
  const char* ext;    // from that "." on
  const char* drive;  // the path up to and including its first ":"
  char buffer[1];     // the texts, allocated with the record
};
VlFName* vl_fsFNameSplit(const char* fileName);
// Path, a backslash when needed, name, extension (a "." put in front when it has none) into
// `out` (VL_FS_PATH_MAX bytes); returns out.
char* vl_fsFNameMerge(char* out, const VlFName* parts);

// ---- the last file error ----
uint32_t vl_fsError();
void vl_fsSetError(uint32_t error);
uint32_t vl_fsOsError();  // the Windows value before 183 is folded into 5
int vl_fsErrno();         // the errno of the last failing system call, for diagnostics

// ---- fault injection, for tests ----
// Every file operation passes through here, so tests can make the nth following call of one
// kind fail with a given error, or let writes stop after a number of bytes (a full disk). When
// nothing is armed the cost is one test of a flag.
enum VlFsFaultOp : int {
  VL_FSF_OPEN,    // open and create
  VL_FSF_READ,
  VL_FSF_WRITE,
  VL_FSF_COMMIT,
  VL_FSF_RENAME,
  VL_FSF_DELETE,
  VL_FSF_LOCK,
  VL_FSF_COUNT
};
// The nth call (1 = the next one) of `op` fails with `error`; n = 0 disarms it.
void vl_fsFaultFailNth(VlFsFaultOp op, uint32_t n, uint32_t error);
// Writes succeed for `bytes` more bytes in total, then write short and fail with
// VL_FERR_DISK_FULL (112). UINT64_MAX disarms.
void vl_fsFaultWriteLimit(uint64_t bytes);
void vl_fsFaultReset();
