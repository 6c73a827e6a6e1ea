// The DBF driver's work-area record and the entry points the drivers built on it (DBFDBT,
// DBFNTX) share. The byte layout of the file is in dbfformat.h.
//
// Record states (every slot keeps them):
//  1. At the end position recNo = recCount + 1, positioned is false, the buffer holds the blank
//     record and counts as valid, bof and eof are set.
//  2. Otherwise recNo is in 1..recCount; validBuffer says whether the buffer holds that record
//     (it is read lazily, on first access).
//  3. hot means the buffer was changed and is written back (goCold) before the area moves,
//     flushes or closes; appended means the record is new and the header's count is stale.
//  4. The read-ahead cache (exclusive tables only) holds cacheCount records from cacheFirst as
//     they are on disk: every record write updates the cached copy, and a record count that
//     shrinks drops the cache (vl_dbfSetRecCount). Shared tables are never cached, since other
//     processes change them.
//  5. The write-behind run (exclusive tables only) holds pendingCount consecutive records from
//     pendingFirst that are newer than the file. It is written out (vl_dbfFlushWrites) before
//     the file is read, measured or its header rewritten, on DBCOMMIT and on close; a record in
//     it is read from it. Anything that reads or writes the data file by itself must flush it
//     first.
#pragma once

#include <cstdint>

#include "../platform/filesys.h"
#include "../rtl/cdp.h"
#include "rddapi.h"

struct VlDbfArea {
  VlArea area;  // the common record comes first
  VlFHandle dataFile;
  VlFHandle memoFile;
  uint16_t headerLen;
  uint16_t recordLen;
  uint16_t fileRecordLen;  // what the header claims; open checks it against the fields
  uint32_t recCount;
  char* dataName;
  char* memoName;
  uint16_t memoBlockSize;
  bool hasMemo;
  bool structIdx;
  bool dataNeedsCommit;
  bool memoNeedsCommit;
  uint8_t version;
  uint8_t codePageByte;  // header byte 29, carried over
  bool shared;
  bool readOnly;
  uint32_t* fieldOffsets;
  uint8_t* record;
  bool validBuffer;
  bool positioned;
  uint32_t recNo;
  bool hot;
  bool appended;
  bool deleted;
  bool encrypted;
  bool updateHeader;
  bool fileLocked;
  bool headerLocked;
  VlRelInfo* pendingRel;
  uint8_t lastUpdate[3];  // year - 1900, month, day
  uint8_t lockScheme;
  uint32_t* locks;  // locked record numbers, in locking order
  uint32_t lockCount;
  uint32_t lockCapacity;
  const VlCodePage* cdp;  // code page of the table's text (the program's unless the open named one)
  // Read-ahead of consecutive records.
  uint8_t* cache;
  uint32_t cacheFirst;
  uint32_t cacheCount;
  uint32_t cacheCapacity;  // records
  uint32_t lastRead;       // record of the previous disk read, to detect sequential access
  // Write-behind of consecutive records.
  uint8_t* pending;
  uint32_t pendingFirst;
  uint32_t pendingCount;
};

inline VlDbfArea* vl_dbfArea(VlArea* area) { return reinterpret_cast<VlDbfArea*>(area); }

// The DBF slots, for drivers that call them as their parent's.
const VlRddFuncs* vl_dbfTable();
// Writes the write-behind run to the file; raises "Write error" and fails when it cannot.
VlStatus vl_dbfFlushWrites(VlDbfArea* a);
// Reads the current record into the buffer when it is not there yet.
VlStatus vl_dbfReadRecord(VlDbfArea* a);
// Sets the record count (dropping read-ahead that no longer matches) and recomputes it from
// the file's size; the latter honours the end-of-file byte after the header's count.
void vl_dbfSetRecCount(VlDbfArea* a, uint32_t count);
VlStatus vl_dbfCountRecords(VlDbfArea* a);
// Raises a driver error built from a subcode (generic code, description) for the area.
unsigned vl_dbfError(VlDbfArea* a, int subCode, const char* fileName, int osCode, unsigned flags);
