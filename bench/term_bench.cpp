// Terminal costs on the optimised build: console output (QOUT-like lines through the terminal
// layer and the driver, scrolling the whole screen on every line) on a console that only counts
// its writes, the same through the headless back end into /dev/null, a batched screen redraw, and
// the key decoder. Prints one line per measurement.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/syscon.h"
#include "platform/syscon_keys.h"
#include "rtl/gt.h"
#include "rtl/gtwin/gtwin.h"
#include "vm/cmdarg.h"
#include "vm/vm.h"

namespace {

double nsPer(std::chrono::steady_clock::time_point t0, long n) {
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() / n;
}

// A console that keeps nothing and counts the writes.
class CountingConsole : public VlSysCon {
 public:
  long writes = 0, cells = 0;
  bool info(VlConInfo* out) override {
    *out = VlConInfo{80, 25, 0, 0, VlConRect{0, 0, 24, 79}, 25, 80};
    return true;
  }
  bool setBufferSize(int16_t, int16_t) override { return true; }
  bool setWindow(const VlConRect&) override { return true; }
  bool readOutput(VlConCell*, int16_t, int16_t, VlConRect*) override { return true; }
  bool writeOutput(const VlConCell*, int16_t, int16_t, VlConRect* r) override {
    ++writes;
    cells += static_cast<long>(r->bottom - r->top + 1) * (r->right - r->left + 1);
    return true;
  }
  void setCursorInfo(bool, int) override {}
  void setCursorPos(int16_t, int16_t) override {}
  uint32_t getMode() override { return 0; }
  void setMode(uint32_t) override {}
  int pendingInput() override { return 0; }
  int readInput(VlConInput*, int) override { return 0; }
  bool inputEnded() override { return true; }
  void close() override {}
};

void lines(long n) {
  const char line[] = "\nlecze CUSTOMER.DBF with a line of ordinary length";
  for (long i = 0; i < n; ++i) vl_gtWriteCon(line, sizeof line - 1);
}

}  // namespace

int main(int, char** argv) {
  char* vmArgv[] = {argv[0], nullptr};
  vl_cmdargInit(1, vmArgv);
  vl_vmInit(false);

  const long n = 200000;
  CountingConsole counting;
  vl_gtExit();
  vl_sysconUseNext(&counting);
  vl_gtInit(0, 1, 2);
  auto t0 = std::chrono::steady_clock::now();
  lines(n);
  double perLine = nsPer(t0, n);
  std::printf("console line with a whole-screen scroll: %.0f ns (%.2f console writes, %.0f cells a line)\n", perLine,
              static_cast<double>(counting.writes) / n, static_cast<double>(counting.cells) / n);

  t0 = std::chrono::steady_clock::now();
  const long frames = 20000;
  for (long f = 0; f < frames; ++f) {
    vl_gtDispBegin();
    vl_gtScroll(0, 0, 24, 79, 0, 0);
    for (int16_t r = 0; r < 25; ++r) vl_gtWriteAt(r, 0, "0123456789012345678901234567890123456789", 40);
    vl_gtBoxD(2, 2, 20, 70);
    vl_gtDispEnd();
  }
  std::printf("batched redraw (clear, 25 writes, a box): %.0f ns\n", nsPer(t0, frames));
  vl_gtExit();

  // The headless back end, its rows going to /dev/null.
  int saved = dup(1);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  vl_gtInit(0, 1, 2);
  t0 = std::chrono::steady_clock::now();
  lines(n);
  double headless = nsPer(t0, n);
  vl_gtExit();
  dup2(saved, 1);
  std::printf("console line, headless into /dev/null: %.0f ns\n", headless);

  VlKeyDecoder keys;
  keys.addSequence("\x1bOA", VL_VK_UP, VL_CON_ENHANCED);
  keys.addSequence("\x1b[1;5D", VL_VK_LEFT, VL_CON_LEFT_CTRL | VL_CON_ENHANCED);
  for (int i = 0; i < 60; ++i) keys.addSequence("\x1b[" + std::to_string(i) + "~", VL_VK_F1, 0);
  std::string input;
  for (int i = 0; i < 1000; ++i) input += "abc\x1bOA\x1b[1;5D\xc3\xa9";
  VlConInput out[64];
  long decoded = 0;
  t0 = std::chrono::steady_clock::now();
  for (int rep = 0; rep < 200; ++rep) {
    keys.feed(reinterpret_cast<const uint8_t*>(input.data()), input.size(), 0);
    int got;
    while ((got = keys.decode(out, 64, 0, true)) > 0) decoded += got;
  }
  std::printf("key decoding (62-entry table): %.0f ns a key\n", nsPer(t0, decoded));
  vl_gtInit(0, 1, 2);
  return vl_vmQuit();
}
