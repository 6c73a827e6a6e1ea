// Printing to print queues: a private CUPS scheduler with a queue whose backend appends every
// job to a file. Skipped with a message when CUPS (cupsd, lpadmin, lp, lpstat) is not
// installed or the scheduler cannot be started here.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "rtl/console.h"
#include "rtl/set.h"
#include "vm/xmem.h"
#include "term_support.h"

namespace {

std::string s_dir;
pid_t s_cupsd = -1;
std::string s_skip;

bool run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

void startScheduler() {
  if (!run("command -v cupsd") || !run("command -v lpadmin") || !run("command -v lp") || !run("command -v lpstat")) {
    s_skip = "CUPS is not installed (Debian packages cups-daemon and cups-client)";
    return;
  }
  s_dir = "/tmp/vlcups_" + std::to_string(getpid());
  std::filesystem::remove_all(s_dir);
  for (const char* sub : {"spool", "tmp", "cache", "state", "out", "bin/backend"})
    std::filesystem::create_directories(s_dir + "/" + sub);
  std::filesystem::permissions(s_dir + "/out", std::filesystem::perms::all);
  for (const char* d : {"filter", "daemon", "cgi-bin", "notifier", "monitor"})
    std::filesystem::create_directory_symlink(std::string("/usr/lib/cups/") + d, s_dir + "/bin/" + d);
  std::ofstream(s_dir + "/cupsd.conf") << "Listen " << s_dir << "/cups.sock\nLogLevel warn\n"
                                       << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                                       << "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
  std::ofstream(s_dir + "/cups-files.conf")
      << "ServerRoot " << s_dir << "\nServerBin " << s_dir << "/bin\nRequestRoot " << s_dir << "/spool\nTempDir "
      << s_dir << "/tmp\nCacheDir " << s_dir << "/cache\nStateDir " << s_dir << "/state\nErrorLog " << s_dir
      << "/error_log\nAccessLog " << s_dir << "/access_log\nPageLog " << s_dir << "/page_log\nSystemGroup root\n";
  // The backend appends the job to the file its device names, and its title to the file + ".title".
  std::string backend = s_dir + "/bin/backend/vellumfile";
  std::ofstream(backend) << "#!/bin/sh\n"
                            "if [ $# -eq 0 ]; then echo 'file vellumfile \"Unknown\" \"test\"'; exit 0; fi\n"
                            "out=${DEVICE_URI#vellumfile:}\n"
                            "printf '%s\\n' \"$3\" >> \"$out.title\"\n"
                            "if [ -n \"$6\" ]; then cat \"$6\" >> \"$out\"; else cat >> \"$out\"; fi\n";
  chmod(backend.c_str(), 0700);

  s_cupsd = fork();
  if (s_cupsd == 0) {
    execlp("cupsd", "cupsd", "-f", "-c", (s_dir + "/cupsd.conf").c_str(), "-s", (s_dir + "/cups-files.conf").c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  setenv("CUPS_SERVER", (s_dir + "/cups.sock").c_str(), 1);
  for (int i = 0; i < 100 && !run("lpstat -r"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (!run("lpadmin -p VellumTest -E -v vellumfile:" + s_dir + "/out/printed") || !run("lpadmin -d VellumTest")) {
    s_skip = "a private CUPS scheduler could not be started here (see " + s_dir + "/error_log)";
  }
}

void stopScheduler() {
  if (s_cupsd > 0) {
    kill(s_cupsd, SIGTERM);
    waitpid(s_cupsd, nullptr, 0);
    s_cupsd = -1;
  }
  unsetenv("CUPS_SERVER");
  if (s_skip.empty() && !s_dir.empty()) std::filesystem::remove_all(s_dir);
}

class PrintQueue : public TermTest {
 protected:
  static void SetUpTestSuite() { startScheduler(); }
  static void TearDownTestSuite() { stopScheduler(); }
  void SetUp() override {
    if (!s_skip.empty()) GTEST_SKIP() << s_skip;
    TermTest::SetUp();
    std::filesystem::remove(s_dir + "/out/printed");
    std::filesystem::remove(s_dir + "/out/printed.title");
  }
  void TearDown() override {
    if (!s_skip.empty()) return;
    vl_conCloseSetFile(VL_SETFILE_PRINTER);
    vl_set.printer = false;
    if (vl_set.printerJob) vl_xfree(vl_set.printerJob);
    vl_set.printerJob = nullptr;
    TermTest::TearDown();
  }
  // What the queue printed, once the job has gone through (waits at most 20 s).
  static std::string printed(const std::string& suffix = "") {
    std::string name = s_dir + "/out/printed" + suffix;
    for (int i = 0; i < 400 && !std::filesystem::exists(name); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(PrintQueue, AQueueSpoolsUntilThePrinterIsClosed) {
  vl_set.printerHandle = vl_conOpenSetFile("vellumtest", false, ".prn", VL_SETFILE_PRINTER);
  ASSERT_GE(vl_set.printerHandle, 0);
  EXPECT_STREQ(vl_conPrinterName(), "VellumTest") << "queues are found without regard to case";
  vl_set.printer = true;
  vlCall("QQOUT", {&Arg("first page")});
  vlCall("QQOUT", {&Arg(std::string("\x0C" "second\x1A"))});
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(std::filesystem::exists(s_dir + "/out/printed")) << "nothing is printed before the close";
  vl_conCloseSetFile(VL_SETFILE_PRINTER);
  EXPECT_EQ(printed(), "first page\x0C" "second") << "the final end-of-file mark is not printed";
}

TEST_F(PrintQueue, PrnIsTheDefaultQueueAndTheJobTakesItsName) {
  vl_set.printerJob = vl_strdup("Monthly report");
  vl_set.printerHandle = vl_conOpenSetFile("PRN", false, ".prn", VL_SETFILE_PRINTER);
  ASSERT_GE(vl_set.printerHandle, 0);
  EXPECT_STREQ(vl_conPrinterName(), "VellumTest");
  vl_set.printer = true;
  vlCall("QQOUT", {&Arg("via the default")});
  vl_conCloseSetFile(VL_SETFILE_PRINTER);
  EXPECT_EQ(printed(), "via the default");
  EXPECT_EQ(printed(".title"), "Monthly report\n");
}

TEST_F(PrintQueue, ANameWithASemicolonOrADeviceNameIsNotAQueue) {
  char cwd[4096];
  ASSERT_TRUE(getcwd(cwd, sizeof cwd));
  ASSERT_EQ(chdir(s_dir.c_str()), 0);
  vl_set.printerHandle = vl_conOpenSetFile("lpt2", false, ".prn", VL_SETFILE_PRINTER);
  vl_conCloseSetFile(VL_SETFILE_PRINTER);
  EXPECT_TRUE(std::filesystem::exists(s_dir + "/lpt2"));
  ASSERT_EQ(chdir(cwd), 0);
}

}  // namespace
