// The system console: choosing the back end, the control handler (signals that stand for
// Ctrl+Break and for closing the console), and putting the terminal back on every way out of
// the process: normal exit, fatal signals, and stop/continue from the shell.
#include <poll.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "syscon_int.h"

VlSysCon* vl_sysconOpenTerminal(int hIn, int hOut);  // null when the terminal cannot be driven
VlSysCon* vl_sysconOpenHeadless(int hIn, int hOut);

volatile sig_atomic_t vl_sysconResized;
volatile sig_atomic_t vl_sysconContinued;

namespace {

VlSysCon* s_next;     // handed out by the next open (tests)
VlSysCon* s_borrowed;  // the open console that is not ours to delete

VlConRestore s_restore;
volatile sig_atomic_t s_armed;
volatile sig_atomic_t s_closeEvents;
VlConCtrlHandler s_ctrlHandler;
bool s_handlersInstalled;

struct sigaction s_oldAction[32];

const int kFatal[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

void restoreAndReraise(int sig) {
  vl_sysconRunRestore();
  sigaction(sig, &s_oldAction[sig], nullptr);
  if (sig != SIGSEGV && sig != SIGBUS && sig != SIGFPE && sig != SIGILL) raise(sig);
  // A fault returns to the faulting instruction and meets the previous handler there.
}

void onFatal(int sig) { restoreAndReraise(sig); }

void onAlarm(int) {
  // The grace period after a close event ran out: end as the console would.
  vl_sysconRunRestore();
  _exit(1);
}

void onControl(int sig) {
  int event = sig == SIGINT ? VL_CON_CTRL_BREAK : VL_CON_CLOSE;
  if (event == VL_CON_CLOSE) {
    // The first close event asks the program to stop; it has a few seconds to do so tidily.
    // A second one ends the process at once.
    if (s_closeEvents > 0) restoreAndReraise(sig);
    s_closeEvents = 1;
    alarm(5);
  }
  if (s_ctrlHandler && s_ctrlHandler(event)) return;
  restoreAndReraise(sig);
}

void onWinch(int) { vl_sysconResized = 1; }

// Terminal modes and the restore text only: the console stays open.
void restoreTerminal() {
  if (s_restore.outFd >= 0 && s_restore.textLen) vl_sysconWriteAll(s_restore.outFd, s_restore.text, s_restore.textLen);
  if (s_restore.fd >= 0) tcsetattr(s_restore.fd, TCSADRAIN, &s_restore.modes);
}

void onStop(int) {
  int saved = errno;
  if (s_armed) restoreTerminal();
  signal(SIGTSTP, SIG_DFL);
  raise(SIGTSTP);
  errno = saved;
}

void onCont(int) {
  struct sigaction sa{};
  sa.sa_handler = onStop;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTSTP, &sa, nullptr);
  vl_sysconContinued = 1;
}

void install(int sig, void (*fn)(int), bool keepOld) {
  struct sigaction sa{};
  sa.sa_handler = fn;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(sig, &sa, keepOld ? &s_oldAction[sig] : nullptr);
}

void atExit() { vl_sysconRunRestore(); }

void installHandlers() {
  if (s_handlersInstalled) return;
  s_handlersInstalled = true;
  for (int sig : kFatal) install(sig, onFatal, true);
  for (int sig : {SIGINT, SIGHUP, SIGTERM}) install(sig, onControl, true);
  install(SIGALRM, onAlarm, true);
  install(SIGWINCH, onWinch, true);
  install(SIGTSTP, onStop, true);
  install(SIGCONT, onCont, true);
  // A reader that goes away (a log piped into `head`) must not kill the program in the middle
  // of its work: the write fails instead, and is ignored like every console write failure.
  signal(SIGPIPE, SIG_IGN);
  std::atexit(atExit);
}

}  // namespace

uint64_t vl_sysconNowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

bool vl_sysconWriteAll(int fd, const char* data, size_t len) {
  while (len) {
    ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) {
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
        continue;
      }
      return false;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool vl_sysconLocaleIsUtf8() {
  const char* v = nullptr;
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    v = std::getenv(name);
    if (v && *v) break;
    v = nullptr;
  }
  if (!v) return false;
  const char* dot = std::strchr(v, '.');
  if (!dot) return false;
  return strncasecmp(dot + 1, "utf-8", 5) == 0 || strncasecmp(dot + 1, "utf8", 4) == 0;
}

void vl_sysconArmRestore(const VlConRestore& r) {
  installHandlers();
  s_armed = 0;
  s_restore = r;
  s_armed = 1;
}

void vl_sysconDisarmRestore() { s_armed = 0; }

void vl_sysconRunRestore() {
  if (!s_armed) return;
  s_armed = 0;
  if (s_restore.flush) s_restore.flush();
  restoreTerminal();
  // Whatever the shell writes next starts on a line of its own.
  if (s_restore.fd >= 0 && s_restore.outFd >= 0) vl_sysconWriteAll(s_restore.outFd, "\r\n", 2);
}

VlSysCon* vl_sysconOpen(int hIn, int hOut) {
  installHandlers();
  s_closeEvents = 0;
  if (s_next) {
    s_borrowed = s_next;
    s_next = nullptr;
    return s_borrowed;
  }
  if (::isatty(hOut)) {
    if (VlSysCon* con = vl_sysconOpenTerminal(hIn, hOut)) return con;
  }
  return vl_sysconOpenHeadless(hIn, hOut);
}

void vl_sysconClose(VlSysCon* con) {
  if (!con) return;
  con->close();
  if (con == s_borrowed) s_borrowed = nullptr;
  else delete con;
}

void vl_sysconUseNext(VlSysCon* con) { s_next = con; }

void vl_sysconSetCtrlHandler(VlConCtrlHandler handler) {
  installHandlers();
  s_ctrlHandler = handler;
}

bool vl_sysconIsCharDevice(int handle) {
  struct stat st{};
  return fstat(handle, &st) == 0 && S_ISCHR(st.st_mode);
}

// ---- reading key records ----

void VlConInputStream::open(int fd, bool lineInput, bool utf8) {
  m_fd = fd;
  m_ended = fd < 0;
  m_keys.setLineInput(lineInput);
  m_keys.setUtf8(utf8);
}

void VlConInputStream::unread(const std::string& bytes) {
  m_keys.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), vl_sysconNowMs());
}

int VlConInputStream::pump() {
  uint8_t buf[512];
  while (!m_ended) {
    pollfd p{m_fd, POLLIN, 0};
    int r = ::poll(&p, 1, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    if (p.revents & POLLNVAL) {
      m_ended = true;
      break;
    }
    ssize_t n = ::read(m_fd, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) break;
    if (n <= 0) {
      m_ended = true;  // end of file, or the terminal hung up
      break;
    }
    m_keys.feed(buf, static_cast<size_t>(n), vl_sysconNowMs());
    if (static_cast<size_t>(n) < sizeof buf) break;
  }
  VlConInput recs[32];
  int n;
  while ((n = m_keys.decode(recs, 32, vl_sysconNowMs(), m_ended)) > 0) m_queue.insert(m_queue.end(), recs, recs + n);
  return static_cast<int>(m_queue.size());
}

int VlConInputStream::read(VlConInput* records, int max) {
  pump();
  int n = 0;
  while (n < max && !m_queue.empty()) {
    records[n++] = m_queue.front();
    m_queue.pop_front();
  }
  return n;
}
