// The language's file functions, called by name through the VM: handle access, FWRITE's limits,
// FERASE / FRENAME / FILE results and FERROR() values, DIRECTORY rows, file-name parts.
#include <sys/stat.h>

#include <cstring>
#include <initializer_list>
#include <map>
#include <set>

#include "fs_fixture.h"
#include "vm/arrays.h"
#include "vm/extend.h"
#include "vm/vm.h"
#include "vm/vmcall.h"
#include "vmtest.h"

namespace {

// An item that clears itself.
struct V {
  VlItem i;
  V() { i.type = VL_IT_NIL; }
  V(const char* s) : V() { vl_itemPutC(&i, s); }
  V(const std::string& s) : V() { vl_itemPutCL(&i, s.data(), s.size()); }
  V(int n) : V() { vl_itemPutNI(&i, n); }
  V(int64_t n) : V() { vl_itemPutNLL(&i, n); }
  V(bool b) : V() { vl_itemPutL(&i, b); }
  V(const V&) = delete;
  V& operator=(const V&) = delete;
  ~V() { vl_itemClear(&i); }
};

// Calls a language-level function by name; the result is copied into `out`.
void call(V& out, const char* name, std::initializer_list<const VlItem*> args) {
  VlDynSym* d = vl_dynsymFind(name);
  ASSERT_NE(d, nullptr) << name;
  vl_vmPushSymbol(d->symbol);
  vl_vmPushNil();
  for (const VlItem* a : args) vl_vmPush(a);
  vl_vmDo(static_cast<uint16_t>(args.size()));
  vl_itemCopy(&out.i, &vl_stack.ret);
}

int64_t callN(const char* name, std::initializer_list<const VlItem*> args) {
  V r;
  call(r, name, args);
  EXPECT_TRUE(VL_IS_NUMERIC(&r.i)) << name << " returns a number";
  return vl_itemGetNInt(&r.i);
}

bool callL(const char* name, std::initializer_list<const VlItem*> args) {
  V r;
  call(r, name, args);
  EXPECT_TRUE(VL_IS_LOGICAL(&r.i)) << name << " returns a logical";
  return vl_itemGetL(&r.i);
}

std::string callC(const char* name, std::initializer_list<const VlItem*> args) {
  V r;
  call(r, name, args);
  EXPECT_TRUE(VL_IS_STRING(&r.i)) << name << " returns a string";
  return std::string(vl_itemGetCPtr(&r.i), vl_itemGetCLen(&r.i));
}

int64_t ferror() { return callN("FERROR", {}); }

// A variable passed by reference: the value lives in element 1 of a holder array.
struct Ref {
  VlItem holder, ref;
  explicit Ref(const VlItem* value) {
    holder.type = ref.type = VL_IT_NIL;
    vl_arrayNew(&holder, 1);
    vl_arraySet(&holder, 1, value);
    vl_arrayGetRef(&holder, 1, &ref);
  }
  ~Ref() {
    vl_itemClear(&ref);
    vl_itemClear(&holder);
  }
  const VlItem* value() const { return vl_arrayGetItemPtr(&holder, 1); }
  std::string text() const { return std::string(vl_arrayGetCPtr(&holder, 1), vl_arrayGetCLen(&holder, 1)); }
};

// Runs in the test directory, so that bare names and DIRECTORY() work there.
class FilesFn : public FsTest {
 protected:
  void SetUp() override {
    FsTest::SetUp();
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  int64_t open(const char* name, int mode) {
    V n(name), m(mode);
    return callN("FOPEN", {&n.i, &m.i});
  }
  int64_t create(const char* name) {
    V n(name);
    return callN("FCREATE", {&n.i});
  }
  bool close(int64_t h) {
    V hv(h);
    return callL("FCLOSE", {&hv.i});
  }
  int64_t write(int64_t h, const std::string& text) {
    V hv(h), t(text);
    return callN("FWRITE", {&hv.i, &t.i});
  }
};

std::set<std::string> listing(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

using Rows = std::map<std::string, std::pair<int64_t, std::string>>;  // name -> size, attributes

Rows directory(std::initializer_list<const VlItem*> args) {
  V r;
  call(r, "DIRECTORY", args);
  EXPECT_TRUE(VL_IS_ARRAY(&r.i));
  Rows rows;
  for (uint32_t i = 1; i <= vl_arrayLen(&r.i); ++i) {
    VlItem* row = vl_arrayGetItemPtr(&r.i, i);
    EXPECT_EQ(vl_arrayLen(row), 5u);
    EXPECT_EQ(vl_arrayGetType(row, 3) & VL_IT_DATE, VL_IT_DATE);
    EXPECT_EQ(vl_arrayGetCLen(row, 4), 8u) << "hh:mm:ss";
    rows[vl_arrayGetCPtr(row, 1)] = {vl_arrayGetNLL(row, 2), vl_arrayGetCPtr(row, 5)};
  }
  return rows;
}

TEST_F(FilesFn, HandleAccessFromCreateToClose) {
  int64_t h = create("t.txt");
  ASSERT_GE(h, 3);
  EXPECT_EQ(ferror(), 0);
  EXPECT_EQ(write(h, std::string("abc\0def", 7)), 7);
  EXPECT_TRUE(close(h));
  EXPECT_FALSE(close(h)) << "closed already";
  EXPECT_EQ(ferror(), VL_FERR_INVALID_HANDLE);

  h = open("t.txt", VL_FO_READ);
  ASSERT_GE(h, 3);
  V hv(h), count(3), nine(9), zero(0), minus(-1), origin(2);
  EXPECT_EQ(callC("FREADSTR", {&hv.i, &nine.i}), "abc") << "stops at the zero byte";
  EXPECT_EQ(callC("FREADSTR", {&hv.i, &nine.i}), "def") << "continues after it";
  EXPECT_EQ(callN("FSEEK", {&hv.i, &zero.i}), 0);
  V buffer("xxxxx");
  Ref ref(&buffer.i);
  EXPECT_EQ(callN("FREAD", {&hv.i, &ref.ref, &count.i}), 3);
  EXPECT_EQ(ref.text(), "abcxx");
  EXPECT_EQ(buffer.i.u.str.text[0], 'x') << "the caller's other copy of the string is untouched";
  // The count is limited to the buffer: nothing is written beyond it.
  EXPECT_EQ(callN("FREAD", {&hv.i, &ref.ref, &nine.i}), 4);
  EXPECT_EQ(ref.text(), std::string("\0def", 4) + "x");
  EXPECT_EQ(callN("FREAD", {&hv.i, &ref.ref, &minus.i}), 0);
  EXPECT_EQ(ferror(), VL_FERR_INVALID_PARAM);
  EXPECT_EQ(callN("FREAD", {&hv.i, &buffer.i, &count.i}), 0) << "a buffer not passed by reference";
  V back(-2);
  EXPECT_EQ(callN("FSEEK", {&hv.i, &back.i, &origin.i}), 5);
  V minusOne(-1);
  EXPECT_EQ(callN("FSEEK", {&hv.i, &minusOne.i, &zero.i}), 5) << "refused: the position is returned";
  EXPECT_EQ(ferror(), VL_FERR_SEEK);
  EXPECT_EQ(write(h, "z"), 0) << "opened for reading";
  EXPECT_EQ(ferror(), VL_FERR_ACCESS);
  EXPECT_TRUE(close(h));

  // Arguments of the wrong type.
  V text("t.txt"), nil;
  EXPECT_EQ(callN("FCREATE", {&zero.i}), -1);
  EXPECT_FALSE(callL("FCLOSE", {&text.i}));
  EXPECT_EQ(callN("FSEEK", {&text.i, &zero.i}), 0);
  EXPECT_EQ(callN("FWRITE", {&text.i, &text.i}), 0);
  EXPECT_EQ(callC("FREADSTR", {&nil.i, &nine.i}), "");
  V bad(999999);
  EXPECT_EQ(callC("FREADSTR", {&bad.i, &nine.i}), "");
  EXPECT_EQ(ferror(), VL_FERR_INVALID_HANDLE);
}

TEST_F(FilesFn, FwriteNeverWritesBeyondItsString) {
  int64_t h = create("w.txt");
  ASSERT_GE(h, 3);
  V hv(h), text("abcdef");
  struct Case {
    int count, offset;  // -99: argument left out
    int64_t written;
    const char* fileAfter;
  } cases[] = {
      {2, 3, 2, "de"},
      {-99, 4, 2, "deef"},
      {100, 5, 1, "deeff"},
      {100, 6, 0, "deeff"},    // nothing follows the offset: nothing written, nothing cut
      {3, 50, 0, "deeff"},
      {-1, 0, 0, "deeff"},     // negative count
      {2, -1, 0, "deeff"},     // negative offset
  };
  for (const Case& c : cases) {
    V count(c.count), offset(c.offset), nil;
    EXPECT_EQ(callN("FWRITE", {&hv.i, &text.i, c.count == -99 ? &nil.i : &count.i, &offset.i}), c.written)
        << c.count << "," << c.offset;
    EXPECT_EQ(get("w.txt"), c.fileAfter) << c.count << "," << c.offset;
  }
  EXPECT_EQ(ferror(), VL_FERR_INVALID_PARAM);
  // A count of 0 cuts the file at the position.
  V two(2), zero(0), nil;
  EXPECT_EQ(callN("FSEEK", {&hv.i, &two.i}), 2);
  EXPECT_EQ(callN("FWRITE", {&hv.i, &text.i, &zero.i}), 0);
  EXPECT_EQ(get("w.txt"), "de");
  V empty("");
  EXPECT_EQ(callN("FSEEK", {&hv.i, &zero.i}), 0);
  EXPECT_EQ(callN("FWRITE", {&hv.i, &empty.i}), 0);
  EXPECT_EQ(get("w.txt"), "");
  EXPECT_TRUE(close(h));
}

TEST_F(FilesFn, EraseRenameAndFileResults) {
  put("a.dbf", "A");
  put("b.dbf", "B");
  std::filesystem::create_directory(at("sub"));
  V missing("missing.txt"), five(5), a("a.dbf"), b("b.dbf"), c("C.DBF"), sub("sub");
  EXPECT_EQ(callN("FERASE", {&missing.i}), -1);
  EXPECT_EQ(ferror(), VL_FERR_NOT_FOUND);
  EXPECT_EQ(callN("FERASE", {&five.i}), -1);
  EXPECT_EQ(ferror(), VL_FERR_PATH_NOT_FOUND) << "set before anything else";
  EXPECT_EQ(callN("FERASE", {&sub.i}), -1);
  EXPECT_EQ(ferror(), VL_FERR_ACCESS);
  EXPECT_EQ(callN("FRENAME", {&a.i, &b.i}), -1);
  EXPECT_EQ(ferror(), VL_FERR_ACCESS);
  EXPECT_EQ(get("b.dbf"), "B");
  EXPECT_EQ(callN("FRENAME", {&a.i, &five.i}), -1);
  EXPECT_EQ(ferror(), VL_FERR_NOT_FOUND);
  EXPECT_EQ(callN("FRENAME", {&missing.i, &c.i}), -1);
  EXPECT_EQ(ferror(), VL_FERR_NOT_FOUND);
  EXPECT_EQ(callN("FRENAME", {&a.i, &c.i}), 0);
  EXPECT_EQ(ferror(), 0);
  EXPECT_EQ(get("C.DBF"), "A");

  V pattern("*.DBF"), lower("c.dbf"), none("*.zzz"), empty(""), longName(std::string(255, 'x'));
  EXPECT_TRUE(callL("FILE", {&pattern.i}));
  EXPECT_TRUE(callL("FILE", {&lower.i})) << "found without regard to case";
  EXPECT_FALSE(callL("FILE", {&none.i}));
  EXPECT_FALSE(callL("FILE", {&empty.i}));
  EXPECT_FALSE(callL("FILE", {&sub.i}));
  EXPECT_FALSE(callL("FILE", {&five.i}));
  EXPECT_FALSE(callL("FILE", {&longName.i}));
  EXPECT_EQ(callN("FERASE", {&lower.i}), 0);
  EXPECT_FALSE(exists("C.DBF"));

  // A name with a zero byte inside names nothing.
  V withZero(std::string("b.dbf\0x", 7));
  EXPECT_EQ(callN("FERASE", {&withZero.i}), -1);
  EXPECT_EQ(ferror(), VL_FERR_INVALID_NAME);
  EXPECT_EQ(callN("FOPEN", {&withZero.i}), -1);
  EXPECT_EQ(callN("FCREATE", {&withZero.i}), -1);
  EXPECT_FALSE(callL("FILE", {&withZero.i}));
  EXPECT_TRUE(exists("b.dbf"));
}

TEST_F(FilesFn, TheRebuildProgramsStepsOnAnUpperCaseTable) {
  // The table arrives as CUSTOMER.DBF; the program lower-cases names and trims them.
  put("CUSTOMER.DBF", "old table");
  put("custome_.dbf", "rebuilt");
  vl_set.fileCase = VL_CASE_LOWER;
  vl_set.dirCase = VL_CASE_LOWER;
  vl_set.trimFileName = true;
  V dbf("CUSTOMER.DBF"), old("CUSTOMER.OLD"), scratch("CUSTOME_.DBF");
  EXPECT_TRUE(callL("FILE", {&dbf.i}));
  callN("FERASE", {&old.i});
  EXPECT_EQ(callN("FRENAME", {&dbf.i, &old.i}), 0);
  EXPECT_EQ(callN("FRENAME", {&scratch.i, &dbf.i}), 0);
  EXPECT_EQ(callN("FERASE", {&old.i}), 0);
  EXPECT_EQ(listing(dir), (std::set<std::string>{"customer.dbf"}));
  EXPECT_EQ(get("customer.dbf"), "rebuilt");
}

TEST_F(FilesFn, DirectoryRows) {
  put("a.dbf", "12345");
  put("B.DBF", "");
  put("c.txt", "");
  put(".hidden.dbf", "");
  put("ro.dbf", "");
  makeReadOnly("ro.dbf");
  std::filesystem::create_directory(at("sub"));
  V dbf("*.DBF"), all("*.*"), d("D"), h("h"), nil, yes(true);
  Rows rows = directory({&dbf.i});
  EXPECT_EQ(rows, (Rows{{"a.dbf", {5, " "}}, {"B.DBF", {0, " "}}, {"ro.dbf", {0, "R"}}}));
  rows = directory({});
  EXPECT_EQ(rows.size(), 4u) << "the default pattern is *.*";
  EXPECT_EQ(rows.count("c.txt"), 1u);
  rows = directory({&all.i, &d.i});
  EXPECT_EQ(rows.size(), 7u);
  EXPECT_EQ(rows["sub"], (std::pair<int64_t, std::string>{0, "D"}));
  EXPECT_EQ(rows["."].second, "D");
  EXPECT_EQ(rows[".."].second, "D");
  rows = directory({&all.i, &h.i});
  EXPECT_EQ(rows[".hidden.dbf"].second, "H");
  EXPECT_EQ(rows.size(), 5u);
  rows = directory({&all.i, &nil.i, &yes.i});
  EXPECT_EQ(rows.size(), 3u) << "directories only: sub, . and ..";
  EXPECT_EQ(rows.count("sub"), 1u);
  V volume("V");
  EXPECT_EQ(directory({&all.i, &volume.i}).size(), 4u) << "no labels here: the other entries";
  V nothing("*.zzz"), noDir("nodir/*.*");
  EXPECT_TRUE(directory({&nothing.i}).empty());
  EXPECT_TRUE(directory({&noDir.i}).empty());
}

TEST_F(FilesFn, DirectoryWithFullPathsEntersThePatternsDirectory) {
  std::filesystem::create_directory(at("data"));
  put("data/t.dbf", "x");
  V pattern("data/*.DBF"), nil, no(false), yes(true);
  Rows rows = directory({&pattern.i, &nil.i, &no.i, &yes.i});
  EXPECT_EQ(rows, (Rows{{"data/t.dbf", {1, " "}}}));
  EXPECT_EQ(callC("CURDIR", {}), dir.substr(1) + "/data") << "the current directory stays changed";
  std::string absolute = at("data") + "/*.dbf";
  V abs(absolute);
  rows = directory({&abs.i, &nil.i, &no.i, &yes.i});
  EXPECT_EQ(rows.count(at("data") + "/t.dbf"), 1u);
}

TEST_F(FilesFn, CurdirAndDiskspace) {
  EXPECT_EQ(callC("CURDIR", {}), dir.substr(1));
  EXPECT_GT(callN("DISKSPACE", {}), 0);
  EXPECT_EQ(callC("VL_OSPATHSEPARATOR", {}), "\\");
}

TEST_F(FilesFn, FileNameSplit) {
  const struct {
    const char* in;
    const char *path, *name, *ext, *drive;  // null: NIL
  } cases[] = {
      {"C:\\DIR\\FILE.EXT", "C:\\DIR\\", "FILE", ".EXT", "C:"},
      {".profile", nullptr, ".profile", nullptr, nullptr},
      {"plain", nullptr, "plain", nullptr, nullptr},
  };
  for (const auto& c : cases) {
    V in(c.in), start("unchanged?");
    Ref p(&start.i), n(&start.i), e(&start.i), d(&start.i);
    V r;
    call(r, "VL_FNAMESPLIT", {&in.i, &p.ref, &n.ref, &e.ref, &d.ref});
    EXPECT_TRUE(VL_IS_NIL(&r.i));
    const Ref* refs[] = {&p, &n, &e, &d};
    const char* want[] = {c.path, c.name, c.ext, c.drive};
    for (int k = 0; k < 4; ++k) {
      if (want[k]) EXPECT_EQ(refs[k]->text(), want[k]) << c.in << " part " << k;
      else EXPECT_TRUE(VL_IS_NIL(refs[k]->value())) << c.in << " part " << k;
    }
  }
}

using FilesFnDeathTest = FilesFn;

TEST(FilesFnErrors, FopenOfANonStringRaisesTheArgumentError) {
  ErrorCatcher catcher;  // turns the error into a break, recovered by the sequence below
  VlSymbol* p = vlProc(
      "ENTER 0 0\nSEQOPEN rec\nPUTSYM1 FOPEN\nPUTNIL\nPUTINT8 1\nCALLF1 1\nSETRESULT\nSEQCLOSE done\n"
      "rec: SEQHANDLER\nDROP\nPUTNIL\nSETRESULT\ndone: PROCEXIT",
      {"FOPEN"});
  EXPECT_EQ(describe(vlCall(p)), "NIL");
  ASSERT_EQ(catcher.errors.size(), 1u);
  EXPECT_EQ(catcher.errors[0], "BASE 1/2021 FOPEN [int:1:w10]");
}

}  // namespace
