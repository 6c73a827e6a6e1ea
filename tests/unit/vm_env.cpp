// Unit tests run inside an initialised VM: start-up without a starting procedure.
#include <gtest/gtest.h>

#include "vm/cmdarg.h"
#include "vm/vm.h"

namespace {
char s_prog[] = "vl_unit";
char* s_argv[] = {s_prog, nullptr};

class VmEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    vl_cmdargInit(1, s_argv);
    vl_vmInit(false);
  }
  void TearDown() override { vl_vmQuit(); }
};

const bool s_registered = (::testing::AddGlobalTestEnvironment(new VmEnvironment), true);
}  // namespace
