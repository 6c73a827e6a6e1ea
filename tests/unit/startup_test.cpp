// Start-up and shutdown of whole programs: a probe whose MAIN is a native test module.
#include <gtest/gtest.h>

#include "process.h"

namespace {

TEST(Startup, ArgumentsReachMainAndInternalOptionsDoNot) {
  ProcessResult r = runProcess(VL_PROBE, {"one", "//INFO", "/two"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "PCOUNT=2\nARG1=one\nARG2=/two\nEXIT procedure ran\n");
  EXPECT_NE(r.err.find("Quillory build 0.99.50 Intl. (Tokra)\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("DS avail="), std::string::npos);
  EXPECT_NE(r.err.find("MemStat:Off  MT:Off  Opt:0"), std::string::npos);
}

TEST(Startup, NoArgumentsGivesPcountZero) {
  ProcessResult r = runProcess(VL_PROBE, {});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.rfind("PCOUNT=0\n", 0), 0u);
}

TEST(Startup, UnknownOptionsAreIgnored) {
  ProcessResult r = runProcess(VL_PROBE, {"//NOSUCHOPTION:5", "x"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.rfind("PCOUNT=1\nARG1=x\n", 0), 0u);
  EXPECT_EQ(r.err, "");
}

TEST(Startup, InfoFromTheEnvironment) {
  ProcessResult r = runProcess(VL_PROBE, {}, {"VELLUM=", "KESTREL=//info"});
  EXPECT_NE(r.err.find("Quillory build"), std::string::npos);
}

TEST(Startup, ErrorLevelBecomesTheExitCode) {
  ProcessResult r = runProcess(VL_PROBE, {"errorlevel"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.out.find("previous=0\nprevious=3\n"), std::string::npos);
}

TEST(Startup, QuitFromANestedCallRunsExitProceduresOnce) {
  ProcessResult r = runProcess(VL_PROBE, {"quit"});
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_EQ(r.out, "PCOUNT=1\nARG1=quit\nquit requested\nEXIT procedure ran\n");
}

TEST(Startup, MissingStartingProcedureIs9013) {
  ProcessResult r = runProcess(VL_PROBE_NOSTART, {});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Unrecoverable error 9013: No starting procedure"), std::string::npos) << r.err;
}

TEST(Startup, ModuleOfAnotherVersionIs9000) {
  ProcessResult r = runProcess(VL_PROBE, {"badversion"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Unrecoverable error 9000: 'Program with 1st sym: XYZZY' was compiled by older version, "
                       "PCODE version 0 is no longer supported - Please recompile."),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Called from MAIN(0)"), std::string::npos);
}

TEST(Startup, BuildReport) {
  ProcessResult r = runProcess(VL_PROBE, {"//BUILD"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err.rfind("Vellum Build Info\n---------------------------\nVersion: Quillory build", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("PCode Version: 7\n"), std::string::npos);
  EXPECT_NE(r.err.find("Maximum symbol name length: 63\n"), std::string::npos);
}

TEST(Startup, StderrOptionRoutesTheErrorChannel) {
  ProcessResult r = runProcess(VL_PROBE, {"//INFO", "//STDERR:1"});
  EXPECT_NE(r.out.find("Quillory build"), std::string::npos);
  EXPECT_EQ(r.err, "");
}

}  // namespace
