// Option look-up over the command line and the VELLUM / KESTREL variables.
#include <gtest/gtest.h>

#include <cstdlib>

#include "vm/cmdarg.h"
#include "vm/xmem.h"

namespace {

class CmdArg : public ::testing::Test {
 protected:
  int savedArgc = vl_cmdargARGC();
  char** savedArgv = vl_cmdargARGV();
  void TearDown() override {
    vl_cmdargInit(savedArgc, savedArgv);
    unsetenv("VELLUM");
    unsetenv("KESTREL");
  }
  void setArgs(std::initializer_list<const char*> args) {
    argv.assign(args.begin(), args.end());
    vl_cmdargInit(static_cast<int>(argv.size()), const_cast<char**>(argv.data()));
  }
  std::string value(const char* name) {
    char* v = vl_cmdargString(name);
    if (!v) return "<absent>";
    std::string s(v);
    vl_xfree(v);
    return s;
  }
  std::vector<const char*> argv;
};

TEST_F(CmdArg, CommandLineOptionsIgnoreCaseAndSkipOneColon) {
  setArgs({"prog", "//info", "//F:250", "/notinternal", "//stderr:0"});
  EXPECT_TRUE(vl_cmdargCheck("INFO"));
  EXPECT_EQ(vl_cmdargNum("F"), 250);
  EXPECT_EQ(vl_cmdargNum("STDERR"), 0);
  EXPECT_FALSE(vl_cmdargCheck("NOTINTERNAL"));
  EXPECT_EQ(value("INFO"), "");
  EXPECT_FALSE(vl_cmdargCheck("BUILD"));
  EXPECT_EQ(vl_cmdargNum("BUILD"), -1);
  EXPECT_TRUE(vl_cmdargIsInternal("//x"));
  EXPECT_FALSE(vl_cmdargIsInternal("/x"));
}

TEST_F(CmdArg, ANameMatchesLongerArgumentsBeginningWithIt) {
  setArgs({"prog", "//INFORMATION"});
  EXPECT_TRUE(vl_cmdargCheck("INFO"));
  EXPECT_EQ(value("INFO"), "RMATION");
}

TEST_F(CmdArg, NonNumericValueGivesMinusOne) {
  setArgs({"prog", "//F:abc", "//G: -12x"});
  EXPECT_EQ(vl_cmdargNum("F"), -1);
  EXPECT_EQ(vl_cmdargNum("G"), -12);
}

TEST_F(CmdArg, EnvironmentVariablesAndPrecedence) {
  setArgs({"prog", "//F:10"});
  setenv("VELLUM", "F:20;//NOMOUSE, INFO\tSTDERR:2", 1);
  EXPECT_EQ(vl_cmdargNum("F"), 10) << "the command line wins";
  EXPECT_TRUE(vl_cmdargCheck("NOMOUSE"));
  EXPECT_TRUE(vl_cmdargCheck("INFO"));
  EXPECT_EQ(vl_cmdargNum("STDERR"), 2);
  EXPECT_FALSE(vl_cmdargCheck("BUILD"));

  setenv("VELLUM", "", 1);
  setenv("KESTREL", "//BUILD", 1);
  EXPECT_TRUE(vl_cmdargCheck("BUILD")) << "an empty VELLUM falls back to KESTREL";
  setenv("VELLUM", "ERRGPF", 1);
  EXPECT_FALSE(vl_cmdargCheck("BUILD")) << "KESTREL is read only when VELLUM is missing or empty";
  EXPECT_TRUE(vl_cmdargCheck("ERRGPF"));
}

}  // namespace
