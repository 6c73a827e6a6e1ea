// The DBFDBT driver: the DBF driver plus memo fields kept in a ".dbt" file. Its record is the
// DBF record; until the memo layer lands, every memo slot is the DBF one, so a table that needs
// a memo file cannot be opened or created through it yet.
#include <cstdio>

#include "../../vm/extend.h"
#include "../dbf1.h"

namespace {

VlRddFuncs s_super;  // DBF's table

VlStatus dbtStructSize(VlArea*, uint16_t* size) {
  *size = sizeof(VlDbfArea);
  return VL_SUCCESS;
}

VlStatus dbtSysName(VlArea*, char* buffer) {
  std::snprintf(buffer, VL_RDD_NAME_LEN + 1, "%s", "DBFDBT");
  return VL_SUCCESS;
}

VlRddFuncs makeTable() {
  VlRddFuncs t{};
  t.structSize = dbtStructSize;
  t.sysName = dbtSysName;
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
