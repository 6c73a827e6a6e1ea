// The files of the SET table: opening and closing the alternate file, the extra file and the
// printer, and printing. On this platform the print queues are CUPS queues: `lpstat` lists them
// and names the default one, and a spooled job is handed to `lp` when the printer is closed. A
// printer name that is not a queue is a file (the device names lpt1-lpt6 and com1-com4 are
// files of those names).
#include <fcntl.h>
#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../platform/filesys.h"
#include "../vm/errapi.h"
#include "../vm/xmem.h"
#include "console.h"
#include "gt.h"
#include "inkey.h"
#include "set.h"

extern char** environ;

namespace {

char s_printerName[256] = "PRN";
bool s_spooling;
int s_spoolHandle = -1;
std::string s_spoolName;

// Runs a program with its output captured (standard error discarded); false when it could not
// run or did not exit with 0.
bool runCapture(const std::vector<std::string>& args, std::string* out, int inputFd = -1) {
  int pipeFd[2];
  if (pipe(pipeFd) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFd[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  if (inputFd >= 0) posix_spawn_file_actions_adddup2(&actions, inputFd, 0);
  else posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addclose(&actions, pipeFd[0]);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFd[1]);
  if (rc != 0) {
    close(pipeFd[0]);
    return false;
  }
  char buf[4096];
  ssize_t n;
  while ((n = read(pipeFd[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0 && out) out->append(buf, static_cast<size_t>(n));
  close(pipeFd[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool startsWithDevice(const char* name) {
  static const char* const kDevices[] = {"lpt1", "lpt2", "lpt3", "lpt4", "lpt5", "lpt6",
                                         "com1", "com2", "com3", "com4"};
  for (const char* d : kDevices)
    if (strncasecmp(name, d, 4) == 0) return true;
  return false;
}

// The default print queue, or "" when there is none (or no print system).
std::string defaultQueue() {
  std::string out;
  if (!runCapture({"lpstat", "-d"}, &out)) return "";
  size_t colon = out.find(':');
  if (out.rfind("system default destination", 0) != 0 || colon == std::string::npos) return "";
  std::string name = out.substr(colon + 1);
  while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.erase(0, 1);
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r' || name.back() == ' ')) name.pop_back();
  return name.size() < sizeof s_printerName ? name : "";
}

// Whether the name is one of the print queues, without regard to case; the queue's own name
// goes to `queue`.
bool isQueue(const char* name, std::string* queue) {
  if (!*name || std::strchr(name, ';') || startsWithDevice(name)) return false;
  std::string out;
  if (!runCapture({"lpstat", "-e"}, &out)) return false;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && strcasecmp(line.c_str(), name) == 0) {
      *queue = line;
      return true;
    }
  }
  return false;
}

// Sends the spool file to the queue: its bytes in blocks of 32768, each without a final
// end-of-file mark, piped into `lp`. Failures are not reported.
void printSpoolFile(const std::string& queue, const std::string& file, const char* title) {
  VlFHandle in = vl_fsOpen(file.c_str(), VL_FO_READ | VL_FO_EXCLUSIVE);
  if (in == VL_FS_ERROR) return;
  int pipeFd[2];
  if (pipe(pipeFd) != 0) {
    vl_fsClose(in);
    return;
  }
  // The job's text goes through a pipe: the reader is started first, then fed.
  pid_t pid = -1;
  {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFd[0], 0);
    posix_spawn_file_actions_addclose(&actions, pipeFd[1]);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::string t = title;
    std::vector<std::string> args = {"lp", "-d", queue, "-t", t, "-o", "raw"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid, "lp", &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  close(pipeFd[0]);
  if (pid > 0) {
    std::vector<char> block(32768);
    uint32_t n;
    while ((n = vl_fsRead(in, block.data(), static_cast<uint32_t>(block.size()))) > 0) {
      if (block[n - 1] == 0x1A) --n;
      const char* p = block.data();
      while (n > 0) {
        ssize_t w = write(pipeFd[1], p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) break;
        p += w;
        n -= static_cast<uint32_t>(w);
      }
    }
  }
  close(pipeFd[1]);
  if (pid > 0) {
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  vl_fsClose(in);
}

int& handleOf(VlSetFile which) {
  switch (which) {
    case VL_SETFILE_ALTERNATE: return vl_set.altHandle;
    case VL_SETFILE_EXTRA: return vl_set.extraHandle;
    default: return vl_set.printerHandle;
  }
}

VlFHandle openOnce(const char* passed, const char* fullName, bool additive, VlSetFile which) {
  if (which == VL_SETFILE_PRINTER) {
    std::snprintf(s_printerName, sizeof s_printerName, "%s", passed);
    if (strcasecmp(passed, "prn") == 0) {
      std::string def = defaultQueue();
      std::snprintf(s_printerName, sizeof s_printerName, "%s", def.empty() ? "lpt1" : def.c_str());
    }
    std::string queue;
    s_spooling = false;
    if (isQueue(s_printerName, &queue)) {
      std::snprintf(s_printerName, sizeof s_printerName, "%s", queue.c_str());
      char tmp[VL_FS_PATH_MAX];
      VlFHandle h = vl_fsCreateTemp(nullptr, VL_FC_NORMAL, VL_FO_DENYNONE, tmp);
      if (h != VL_FS_ERROR) {
        s_spooling = true;
        s_spoolHandle = h;
        s_spoolName = tmp;
      }
      return h;
    }
    if (strcasecmp(passed, "prn") == 0) passed = s_printerName;  // the file "lpt1"
  }
  if (additive && vl_fsFile(fullName)) {
    VlFHandle h = vl_fsOpen(fullName, VL_FO_READWRITE | VL_FO_DENYNONE);
    if (h == VL_FS_ERROR) return h;
    int64_t end = vl_fsSeek(h, 0, VL_FS_END);
    if (which != VL_SETFILE_PRINTER && end > 0) {
      // A final end-of-file mark is written over.
      char last = 0;
      vl_fsSeek(h, -1, VL_FS_END);
      if (vl_fsRead(h, &last, 1) == 1 && last == 0x1A) vl_fsSeek(h, -1, VL_FS_END);
      else vl_fsSeek(h, 0, VL_FS_END);
    }
    return h;
  }
  if (startsWithDevice(passed)) {
    char device[5];
    std::snprintf(device, sizeof device, "%.4s", passed);
    for (char* p = device; *p; ++p) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    return vl_fsCreateEx(device, VL_FC_NORMAL, VL_FO_DENYNONE);
  }
  return vl_fsCreateEx(fullName, VL_FC_NORMAL, VL_FO_DENYNONE);
}

}  // namespace

int vl_conOpenSetFile(const char* name, bool additive, const char* defaultExt, VlSetFile which, bool implicit) {
  uint32_t savedError = vl_fsError();
  char fullName[VL_FS_PATH_MAX];
  VlFName* parts = vl_fsFNameSplit(name);
  VlFName merged = *parts;
  if (!merged.path && vl_set.defaultDir && *vl_set.defaultDir) merged.path = vl_set.defaultDir;
  if (!merged.ext) merged.ext = defaultExt;
  vl_fsFNameMerge(fullName, &merged);
  vl_xfree(parts);

  VlFHandle h;
  for (;;) {
    h = openOnce(name, fullName, additive, which);
    if (h != VL_FS_ERROR || implicit) break;
    int subCode = which == VL_SETFILE_ALTERNATE ? 2013 : which == VL_SETFILE_PRINTER ? 2014 : 2015;
    unsigned answer = vl_errRT_BASE_Ext1(VL_EG_CREATE, subCode, nullptr, fullName, static_cast<int>(vl_fsError()),
                                         VL_ERR_FLAG_RETRY | VL_ERR_FLAG_DEFAULT, 0);
    if (answer != VL_ERR_RESULT_RETRY) break;
  }
  vl_fsSetError(savedError);
  return h;
}

void vl_conCloseFile(VlSetFile which, int handle) {
  if (handle < 0) return;
  uint32_t savedError = vl_fsError();
  if (which != VL_SETFILE_PRINTER) vl_fsWrite(handle, "\x1A", 1);
  vl_fsClose(handle);
  if (which == VL_SETFILE_PRINTER && s_spooling && handle == s_spoolHandle && !s_spoolName.empty()) {
    const char* title = (vl_set.printerJob && *vl_set.printerJob) ? vl_set.printerJob : s_spoolName.c_str();
    printSpoolFile(s_printerName, s_spoolName, title);
    vl_fsDelete(s_spoolName.c_str());
    s_spooling = false;
    s_spoolHandle = -1;
    s_spoolName.clear();
  }
  vl_fsSetError(savedError);
}

void vl_conCloseSetFile(VlSetFile which) {
  int& handle = handleOf(which);
  int h = handle;
  handle = -1;
  vl_conCloseFile(which, h);
}

const char* vl_conPrinterName() { return s_printerName; }

// ---- what SET() reaches through its hooks ----

namespace {

VlSetFile kindOf(int setId) {
  return setId == VL_SET_ALTFILE ? VL_SETFILE_ALTERNATE : setId == VL_SET_EXTRAFILE ? VL_SETFILE_EXTRA : VL_SETFILE_PRINTER;
}

int openHook(int setId, const char* name, bool additive, const char* defExt, bool implicit) {
  return vl_conOpenSetFile(name, additive, defExt, kindOf(setId), implicit);
}

void closeHook(int setId, int handle) { vl_conCloseFile(kindOf(setId), handle); }

void colorHook(const char* text, char* out) {
  if (text) vl_gtSetColorStr(text);
  vl_gtGetColorStr(out);
}

int cursorHook(int style) {
  int old = vl_gtGetCursor();
  if (style >= 0) vl_gtSetCursor(style);
  return old;
}

void typeAheadHook(int) { vl_inkeyReset(true); }

// vl_setHooks has no initialiser of its own: it is zero before any constructor runs, so filling
// it from here holds whatever the order of the modules.
struct InstallHooks {
  InstallHooks() { vl_setHooks = VlSetHooks{openHook, closeHook, colorHook, cursorHook, typeAheadHook}; }
} s_installHooks;

}  // namespace
