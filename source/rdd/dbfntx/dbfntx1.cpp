// The DBFNTX driver, the default: DBFDBT (tables with memo files) plus NTX index files. Until
// the index layer lands it adds nothing to its parent but its name.
#include <cstdio>
#include <initializer_list>

#include "../../vm/extend.h"
#include "../dbf1.h"

namespace {

VlRddFuncs s_super;  // DBFDBT's table (or the first fallback parent that was registered)

VlStatus ntxStructSize(VlArea*, uint16_t* size) {
  *size = sizeof(VlDbfArea);
  return VL_SUCCESS;
}

VlStatus ntxSysName(VlArea*, char* buffer) {
  std::snprintf(buffer, VL_RDD_NAME_LEN + 1, "%s", "DBFNTX");
  return VL_SUCCESS;
}

VlRddFuncs makeTable() {
  VlRddFuncs t{};
  t.structSize = ntxStructSize;
  t.sysName = ntxSysName;
  return t;
}

const VlRddFuncs s_ntxTable = makeTable();

}  // namespace

VL_FUNC(DBFNTX_GETFUNCTABLE) {
  auto* count = static_cast<uint16_t*>(vl_parptr(1));
  auto* table = static_cast<VlRddFuncs*>(vl_parptr(2));
  if (count) *count = VL_RDD_SLOT_COUNT;
  if (!table) {
    vl_retni(VL_FAILURE);
    return;
  }
  VlStatus status = VL_FAILURE;
  for (const char* parent : {"DBFDBT", "DBFFPT", "DBF"}) {
    status = vl_rddInherit(table, &s_ntxTable, &s_super, parent);
    if (status == VL_SUCCESS) break;
  }
  vl_retni(status);
}

VL_FUNC(DBFNTXINIT) {
  vl_rddRegisterChecked("DBF", VL_RDD_TYPE_TABLE);
  vl_rddRegisterChecked("DBFNTX", VL_RDD_TYPE_TABLE);
  vl_ret();
}

VL_NATIVE_MODULE(dbfntx1, VL_FUNCENTRY(DBFNTX_GETFUNCTABLE), VL_FUNCENTRY(DBFNTXINIT));
