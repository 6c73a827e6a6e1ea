// Unit tests run inside an initialised VM: start-up without a starting procedure.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "vm/cmdarg.h"
#include "vm/vm.h"

namespace {
char s_prog[] = "vl_unit";
char* s_argv[] = {s_prog, nullptr};

// A quit request raised inside the VM (a break with nothing to recover it, an error handler
// that quits) ends the process through exit(). Inside a test that would look like success, so
// such an exit fails loudly. Death tests expect their child to exit, so they are left alone.
void failOnPrematureExit() {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  if (!test || !GTEST_FLAG_GET(internal_run_death_test).empty()) return;
  std::fprintf(stderr, "\nthe process exited in the middle of %s.%s\n", test->test_suite_name(), test->name());
  std::fflush(stderr);
  _exit(1);
}

class VmEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::atexit(failOnPrematureExit);
    vl_cmdargInit(1, s_argv);
    vl_vmInit(false);
  }
  void TearDown() override { vl_vmQuit(); }
};

const bool s_registered = (::testing::AddGlobalTestEnvironment(new VmEnvironment), true);
}  // namespace
