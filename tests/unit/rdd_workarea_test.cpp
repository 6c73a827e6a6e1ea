// The driver registry and inheritance, field lists from structure arrays, the work-area table,
// aliases and selection, and field access by name as the virtual machine uses it.
#include <gtest/gtest.h>

#include "rdd/dbf1.h"
#include "rdd_util.h"

using namespace rddtest;

namespace {

class WorkAreas : public ::testing::Test {
 protected:
  void SetUp() override { vl_rddSelectWorkAreaNumber(1); }
  void TearDown() override { vl_rddCloseAll(); }
  TempDir dir;
};

std::vector<std::string> names(const Item& list) {
  std::vector<std::string> out;
  for (uint32_t i = 1; i <= vl_arrayLen(&list.v); ++i) out.push_back(vl_arrayGetCPtr(&list.v, i));
  return out;
}

}  // namespace

TEST(RddRegistry, DriversInStartUpOrderWithTheDefault) {
  std::vector<std::string> all = names(call("RDDNAMES"));
  ASSERT_GE(all.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(all.begin(), all.begin() + 3), (std::vector<std::string>{"DBF", "DBFDBT", "DBFNTX"}));
  Item one(1), two(2);
  std::vector<std::string> tables = names(call("RDDNAMES", {&one}));
  EXPECT_EQ(std::vector<std::string>(tables.begin(), tables.begin() + 3),
            (std::vector<std::string>{"DBF", "DBFDBT", "DBFNTX"}));
  for (const std::string& n : names(call("RDDNAMES", {&two}))) EXPECT_TRUE(n != "DBF" && n != "DBFNTX") << n;
  EXPECT_EQ(call("RDDSETDEFAULT").str(), "DBFNTX");

  uint16_t id = 99;
  ASSERT_NE(vl_rddFindNode("DBFNTX", &id), nullptr);
  EXPECT_EQ(id, 2);
  EXPECT_EQ(vl_rddFindNode("dbfntx", nullptr), nullptr);  // stored names are upper case
  EXPECT_EQ(vl_rddRegister("DBF", VL_RDD_TYPE_TABLE), 1);
  EXPECT_EQ(vl_rddRegister("NOSUCHDRIVER", VL_RDD_TYPE_TABLE), 2);
}

TEST(RddRegistry, DefaultDriverChecksAndTheUncheckedSetter) {
  Item unknown("nosuch"), dbf("dbf"), ntx("DBFNTX");
  EXPECT_EQ(call("__RDDSETDEFAULT", {&unknown}).str(), "DBFNTX");
  EXPECT_STREQ(vl_rddDefaultDriver(), "NOSUCH");  // not checked
  EXPECT_EQ(call("RDDSETDEFAULT", {&dbf}).str(), "NOSUCH");
  EXPECT_EQ(call("DBSETDRIVER", {&ntx}).str(), "DBF");
  EXPECT_STREQ(vl_rddDefaultDriver(), "DBFNTX");
}

TEST(RddRegistry, InheritanceCopiesTheParentTable) {
  const VlRddFuncs* dbf = vl_dbfTable();
  VlRddNode* dbt = vl_rddFindNode("DBFDBT", nullptr);
  VlRddNode* ntx = vl_rddFindNode("DBFNTX", nullptr);
  ASSERT_TRUE(dbt && ntx);
  EXPECT_EQ(ntx->table.goTo, dbf->goTo);
  EXPECT_EQ(ntx->table.open, dbf->open);
  EXPECT_EQ(dbt->table.getValue, dbf->getValue);
  EXPECT_NE(ntx->table.sysName, dbf->sysName);
  EXPECT_NE(dbt->table.sysName, ntx->table.sysName);

  VlRddFuncs table{}, super{};
  EXPECT_EQ(vl_rddInherit(nullptr, nullptr, nullptr, "DBF"), VL_FAILURE);
  EXPECT_EQ(vl_rddInherit(&table, nullptr, &super, "NOSUCH"), VL_FAILURE);
  VlRddFuncs overrides{};
  overrides.goTop = dbf->goTop;
  ASSERT_EQ(vl_rddInherit(&table, &overrides, &super, ""), VL_SUCCESS);
  EXPECT_EQ(table.goTop, dbf->goTop);                  // overridden
  EXPECT_EQ(super.goTop, vl_waBaseTable()->goTop);     // the parent keeps the base slot
  EXPECT_EQ(table.skip, vl_waBaseTable()->skip);
  ASSERT_EQ(vl_rddInherit(&table, nullptr, nullptr, "dbfdbt"), VL_SUCCESS);  // looked up upper-cased
  EXPECT_EQ(table.sysName, dbt->table.sysName);
}

TEST_F(WorkAreas, FieldsFromStructureRows) {
  ASSERT_EQ(vl_rddInsertArea("DBF"), VL_SUCCESS);
  VlArea* area = vl_rddGetCurrentWorkAreaPointer();
  struct Case {
    const char* type;
    int len, dec;
    bool ok;
    VlType wantType;
    int wantLen, wantDec;
  } cases[] = {
      {"I", 8, 0, true, VL_IT_INTEGER, 8, 0},  {"I", 6, 0, true, VL_IT_INTEGER, 4, 0},
      {"I", 3, 0, true, VL_IT_INTEGER, 3, 0},  {"2", 9, 0, true, VL_IT_INTEGER, 2, 0},
      {"4", 0, 0, true, VL_IT_INTEGER, 4, 0},  {"8", 3, 2, true, VL_IT_DOUBLE, 8, 2},
      {"b", 1, 1, true, VL_IT_DOUBLE, 8, 1},   {"N", 255, 2, true, VL_IT_LONG, 255, 2},
      {"N", 256, 0, false, 0, 0, 0},           {"F", 10, 3, true, VL_IT_LONG, 10, 3},
      {"c", 300, 5, true, VL_IT_STRING, 300, 0}, {"C", 70000, 0, false, 0, 0, 0},
      {"C", -5, 0, true, VL_IT_STRING, 0, 0},  {"D", 3, 0, true, VL_IT_DATE, 3, 0},
      {"D", 5, 0, true, VL_IT_DATE, 8, 0},     {"L", 9, 9, true, VL_IT_LOGICAL, 1, 0},
      {"M", 4, 0, true, VL_IT_MEMO, 4, 0},     {"M", 7, 0, true, VL_IT_MEMO, 10, 0},
      {"Memo", 10, 0, true, VL_IT_MEMO, 10, 0}, {"X", 1, 0, false, 0, 0, 0},
      {"", 1, 0, false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    Item rows = structure({{"FIELD", c.type, c.len, c.dec}});
    VlStatus status = VL_SELF(area, createFields, &rows.v);
    EXPECT_EQ(status == VL_SUCCESS, c.ok) << c.type << c.len;
    if (!c.ok || status != VL_SUCCESS) continue;
    EXPECT_EQ(area->fields[0].type, c.wantType) << c.type << c.len;
    EXPECT_EQ(area->fields[0].len, c.wantLen) << c.type << c.len;
    EXPECT_EQ(area->fields[0].dec, c.wantDec) << c.type << c.len;
  }
  Item blankName = structure({{"   ", "C", 1, 0}});
  EXPECT_EQ(VL_SELF(area, createFields, &blankName.v), VL_FAILURE);
  // The record length is 16 bits: fields that add up to more are refused.
  Item tooLong = structure({{"A", "C", 65000, 0}, {"B", "C", 1000, 0}});
  EXPECT_EQ(VL_SELF(area, createFields, &tooLong.v), VL_FAILURE);
}

TEST_F(WorkAreas, AliasRules) {
  struct Case {
    const char* alias;
    bool valid;
  } cases[] = {{"CUSTOMER", true}, {"_x1", true}, {"  lead", true}, {"A", true},    {"1ABC", false},
               {"MY-TABLE", false}, {"", false},  {"a b", true},     {"\xA1", false}};
  for (const Case& c : cases) EXPECT_EQ(vl_rddIsValidAlias(c.alias), c.valid) << c.alias;
  EXPECT_EQ(vl_rddAliasToArea("c"), 3);
  EXPECT_EQ(vl_rddAliasToArea("K"), 11);
  EXPECT_EQ(vl_rddAliasToArea("L"), -1);
  EXPECT_EQ(vl_rddAliasToArea("m"), 0);
  EXPECT_EQ(vl_rddAliasToArea(" 42"), 42);
  EXPECT_EQ(vl_rddAliasToArea("NOTOPEN"), -1);
  char scratch[16];
  ASSERT_EQ(vl_rddTempAlias(scratch), VL_SUCCESS);
  EXPECT_STREQ(scratch, "VLTMP001");
  EXPECT_EQ(call("TEMPALIAS").str(), "VLTMP001");
}

TEST_F(WorkAreas, OpeningClosingAndReusingNumbers) {
  std::string a = copyFixture(dir, "CUSTOMER.DBF");
  std::string b = copyFixture(dir, "NUMDEC.DBF");
  ASSERT_TRUE(useTable(a, nullptr, "FIRST"));
  ASSERT_TRUE(useTable(b, nullptr, "SECOND"));
  EXPECT_EQ(call("SELECT").num(), 2);
  Item first("first"), second("SECOND"), none("NOPE"), m("M"), five("5");
  EXPECT_EQ(call("SELECT", {&first}).num(), 1);
  EXPECT_EQ(call("SELECT", {&second}).num(), 2);
  EXPECT_EQ(call("SELECT", {&none}).num(), 0);
  EXPECT_EQ(call("SELECT", {&m}).num(), 0);
  EXPECT_EQ(call("SELECT", {&five}).num(), 5);
  Item one(1);
  EXPECT_EQ(call("AREAALIAS", {&one}).str(), "FIRST");
  EXPECT_EQ(call("RDDNAME").str(), "DBFNTX");  // the default driver

  call("DBSELECT", {&one});
  call("DBCLOSEAREA");
  EXPECT_FALSE(call("AREAUSED").log());
  EXPECT_EQ(call("SELECT", {&first}).num(), 0);  // the alias is free again
  ASSERT_TRUE(useTable(a, nullptr, "AGAIN"));
  EXPECT_EQ(call("SELECT").num(), 1);
  EXPECT_EQ(vl_rddAreaCount(), 2);

  // Without new-area the table in the current area is closed first; the extension is added and
  // the alias is the upper-cased name.
  Item no(false), base(dir.file("CUSTOMER").c_str());
  call("DBUSEAREA", {&no, nullptr, &base});
  EXPECT_FALSE(call("NETERR").log());
  EXPECT_EQ(call("SELECT").num(), 1);
  EXPECT_EQ(call("CURRENTALIAS").str(), "CUSTOMER");
  Item fullPath(VL_DBI_FULLPATH);
  EXPECT_EQ(call("DBINFO", {&fullPath}).str(), dir.file("CUSTOMER.dbf"));
  EXPECT_EQ(vl_rddAreaCount(), 2);
  Item again("again");
  EXPECT_EQ(call("SELECT", {&again}).num(), 0);

  call("DBCLOSEALLAREAS");
  EXPECT_EQ(vl_rddAreaCount(), 0);
  EXPECT_EQ(call("SELECT").num(), 1);
  EXPECT_EQ(call("SELECT", {&second}).num(), 0);
}

TEST_F(WorkAreas, CreatingKeepsOrOpensTheNewTable) {
  std::string existing = copyFixture(dir, "CUSTOMER.DBF");
  ASSERT_TRUE(useTable(existing));
  Item file(dir.file("made").c_str());
  Item rows = structure({{"A", "C", 3, 0}});
  Item result = call("DBCREATE", {&file, &rows});
  EXPECT_TRUE(VL_IS_NIL(&result.v));
  EXPECT_EQ(call("CURRENTALIAS").str(), "CUSTOMER");  // still current
  EXPECT_EQ(vl_rddAreaCount(), 1);
  EXPECT_EQ(readFile(dir.file("made.dbf")).size(), 32u + 32 + 2 + 1);

  Item yes(true), drv("DBF"), alias("kept");
  Item file2(dir.file("made2.dbf").c_str());
  result = call("DBCREATE", {&file2, &rows, &drv, &yes, &alias});
  EXPECT_TRUE(result.log());
  EXPECT_EQ(call("CURRENTALIAS").str(), "KEPT");
  EXPECT_EQ(call("SELECT").num(), 2);
  EXPECT_EQ(call("LASTREC").num(), 0);
  EXPECT_TRUE(call("EOF").log());
}

TEST_F(WorkAreas, FieldsByNameForTheVirtualMachine) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  ASSERT_TRUE(useTable(path, nullptr, "CUST"));
  VlSymbol* name = vl_dynsymGet("NAME")->symbol;
  VlSymbol* city = vl_dynsymGet("CITY")->symbol;
  VlSymbol* missing = vl_dynsymGet("WWW")->symbol;
  Item value;
  EXPECT_EQ(vl_rddGetFieldValue(&value.v, name), VL_SUCCESS);
  EXPECT_EQ(value.str().substr(0, 13), "Alpha Trading");
  EXPECT_TRUE(vl_rddFieldGet(city, &value.v));
  EXPECT_EQ(value.str().substr(0, 6), "Boston");
  EXPECT_FALSE(vl_rddFieldGet(missing, &value.v));  // the field-first rule falls back quietly
  Item newCity("Salem");
  EXPECT_EQ(vl_rddPutFieldValue(&newCity.v, city), VL_SUCCESS);
  EXPECT_TRUE(vl_rddFieldGet(city, &value.v));
  EXPECT_EQ(value.str().substr(0, 6), "Salem ");

  // Alias values: numbers, texts and symbols select; NIL leaves no current area.
  Item number(1), text("cust"), nil;
  VlItem symbol;
  symbol.type = VL_IT_NIL;
  vl_itemPutSymbol(&symbol, vl_dynsymGet("CUST")->symbol);
  EXPECT_TRUE(vl_rddSelectAliasItem(&nil.v));
  EXPECT_EQ(vl_rddGetCurrentWorkAreaPointer(), nullptr);
  EXPECT_FALSE(vl_rddFieldGet(city, &value.v));
  EXPECT_TRUE(vl_rddSelectAliasItem(&number.v));
  EXPECT_TRUE(VL_IS_NIL(&number.v));
  EXPECT_NE(vl_rddGetCurrentWorkAreaPointer(), nullptr);
  vl_rddSelectWorkAreaNumber(5);
  EXPECT_TRUE(vl_rddSelectAliasItem(&text.v));
  EXPECT_EQ(vl_rddGetCurrentWorkAreaNumber(), 1);
  vl_rddSelectWorkAreaNumber(5);
  EXPECT_TRUE(vl_rddSelectAliasItem(&symbol));
  EXPECT_EQ(vl_rddGetCurrentWorkAreaNumber(), 1);
}

TEST_F(WorkAreas, SkipperAndFieldArrays) {
  std::string path = copyFixture(dir, "CUSTOMER.DBF");
  ASSERT_TRUE(useTable(path));
  Item three(3), back(-5), many(50);
  EXPECT_EQ(call("DBSKIPPER", {&three}).num(), 3);
  EXPECT_EQ(call("RECNO").num(), 4);
  EXPECT_EQ(call("DBSKIPPER", {&back}).num(), -3);
  EXPECT_EQ(call("RECNO").num(), 1);
  EXPECT_EQ(call("DBSKIPPER", {&many}).num(), 11);  // stops on the last record, not at eof
  EXPECT_EQ(call("RECNO").num(), 12);
  EXPECT_FALSE(call("EOF").log());

  Item names, types;
  vl_arrayNew(&names.v, 2);
  vl_arrayNew(&types.v, 10);
  EXPECT_EQ(call("FIELDARRAYS", {&names, &types}).num(), 6);
  EXPECT_STREQ(vl_arrayGetCPtr(&names.v, 2), "NAME");
  EXPECT_STREQ(vl_arrayGetCPtr(&types.v, 4), "N");
  EXPECT_TRUE(VL_IS_NIL(vl_arrayGetItemPtr(&types.v, 7)));
}
