// The tarven executable: its application module registers first, so MAIN is the starting
// procedure and receives the command-line arguments.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "process.h"

namespace {

// A run stopped because a subsystem of the run-time is not built yet says so; the test cannot
// tell anything then.
bool subsystemMissing(const ProcessResult& r) { return r.err.find("not available yet") != std::string::npos; }

std::string scratchDir(const char* name) {
  auto dir = std::filesystem::temp_directory_path() / ("vl_tarven_" + std::string(name));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

}  // namespace

TEST(Tarven, MainIsTheStartingProcedure) {
  const struct {
    std::vector<std::string> args;
  } cases[] = {{{}}, {{"one", "two"}}};
  for (const auto& c : cases) {
    ProcessResult r = runProcess(VL_TARVEN, c.args, {}, "", scratchDir("start"));
    if (subsystemMissing(r)) GTEST_SKIP() << r.err;
    EXPECT_NE(r.out.find("Brak parametru (nazwy pliku)"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(r.exitCode, 0) << r.err;
  }
}
