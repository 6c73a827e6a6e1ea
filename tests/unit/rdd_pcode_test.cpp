// Fields and work areas as compiled code reaches them: LOADFIELD, STOREFIELD, LOADALIAS and the
// aliased field instructions on tables opened through the database layer.
#include <gtest/gtest.h>

#include "rdd_util.h"
#include "vmtest.h"

namespace {

class PcodeFields : public ::testing::Test {
 protected:
  void SetUp() override {
    vl_rddSelectWorkAreaNumber(1);
    ASSERT_TRUE(rddtest::useTable(rddtest::copyFixture(dir, "CUSTOMER.DBF"), "DBF", "CUST"));
    ASSERT_TRUE(rddtest::useTable(rddtest::copyFixture(dir, "NUMDEC.DBF"), "DBF", "NUMS"));
  }
  void TearDown() override { vl_rddCloseAll(); }
  rddtest::TempDir dir;
};

std::string run(const std::string& body, const std::vector<std::string>& symbols) {
  VlSymbol* p = vlProc("ENTER 0 0\n" + body + "\nSETRESULT\nPROCEXIT", symbols);
  return describe(vlCall(p));
}

}  // namespace

TEST_F(PcodeFields, FieldsOfTheCurrentAndOfAnAliasedArea) {
  ErrorCatcher errors;
  // The current area is NUMS (area 2); CUST is area 1.
  EXPECT_EQ(run("LOADALIAS", {}), "int:2:w10");
  EXPECT_EQ(run("LOADFIELD N5_0", {"N5_0"}), "int:0:w5");
  EXPECT_EQ(run("PUTSTR1 \"cust\"\nLOADALIASFIELD2 CITY", {"CITY"}), "str:\"Boston         \"");
  EXPECT_EQ(run("PUTINT8 1\nLOADALIASFIELD1 CUSTNO", {"CUSTNO"}), "int:1:w6");
  EXPECT_EQ(run("LOADALIAS", {}), "int:2:w10") << "the aliased read restores the current area";

  // STOREFIELD into the current area, STOREALIASFIELD2 into another.
  run("PUTINT16 321\nSTOREFIELD N5_0\nLOADFIELD N5_0", {"N5_0"});
  EXPECT_EQ(run("LOADFIELD N5_0", {"N5_0"}), "int:321:w5");
  run("PUTSTR1 \"Salem\"\nPUTSTR1 \"CUST\"\nSTOREALIASFIELD2 CITY\nPUTNIL", {"CITY"});
  EXPECT_EQ(run("PUTSTR1 \"cust\"\nLOADALIASFIELD2 CITY", {"CITY"}), "str:\"Salem          \"");

  // STOREALIAS selects: the next LOADFIELD reads the other table.
  EXPECT_EQ(run("PUTINT8 1\nSTOREALIAS\nLOADFIELD NAME", {"NAME"}), "str:\"Alpha Trading            \"");
  EXPECT_EQ(run("LOADALIAS", {}), "int:1:w10");
  EXPECT_TRUE(errors.errors.empty()) << errors.errors[0];
}

TEST_F(PcodeFields, VariablesReadFieldsFirst) {
  // LOADVAR takes the current area's field of that name before any memory variable.
  ErrorCatcher errors;
  EXPECT_EQ(run("LOADVAR N4_1", {"N4_1"}), "dbl:0:w2:d1");
  EXPECT_EQ(run("PUTINT8 1\nSTOREALIAS\nLOADVAR CITY", {"CITY"}), "str:\"Boston         \"");
  EXPECT_TRUE(errors.errors.empty()) << errors.errors[0];
}

TEST_F(PcodeFields, MissingFieldsAndAliasesRaiseTheirErrors) {
  ErrorCatcher errors;
  errors.substitute = Val::s("sub");
  run("SEQOPEN rec\nLOADFIELD NOSUCH\nDROP\nSEQCLOSE done\nrec: SEQHANDLER\nDROP\ndone: PUTNIL", {"NOSUCH"});
  run("SEQOPEN rec\nPUTSTR1 \"nowhere\"\nLOADALIASFIELD2 NAME\nDROP\nSEQCLOSE done\nrec: SEQHANDLER\nDROP\ndone: PUTNIL",
      {"NAME"});
  ASSERT_EQ(errors.errors.size(), 2u);
  EXPECT_EQ(errors.errors[0].substr(0, 17), "BASE 14/1003 NOSU");
  EXPECT_EQ(errors.errors[1].substr(0, 20), "BASE 15/1002 nowhere");
  EXPECT_EQ(run("LOADALIAS", {}), "int:2:w10");
}
