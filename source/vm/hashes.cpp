// Hash tables. The hash type itself is not built yet: nothing creates a hash item, so these
// entry points are never reached with a real base. The operations the operators call stop with
// an internal error that names them rather than pretend to work.
#include "hashes.h"

#include "errint.h"

namespace {
[[noreturn]] void notBuilt(const char* what) {
  vl_errInternal(9000, "Hash tables are not available yet: %s", what, nullptr);
}
}  // namespace

void vl_hashReleaseBlock(void*) {}

void vl_hashMark(VlHashBase*) {}

uint32_t vl_hashLen(const VlItem*) { return 0; }

bool vl_hashGetItem(const VlItem*, const VlItem*, VlItem*) { notBuilt("vl_hashGetItem()"); }
void vl_hashSetItem(VlItem*, const VlItem*, const VlItem*) { notBuilt("vl_hashSetItem()"); }
void vl_hashJoin(VlItem*, const VlItem*, const VlItem*) { notBuilt("vl_hashJoin()"); }
void vl_hashRemoveKeys(VlItem*, const VlItem*, const VlItem*) { notBuilt("vl_hashRemoveKeys()"); }
bool vl_hashHasEntry(const VlItem*, const VlItem*) { notBuilt("vl_hashHasEntry()"); }
