// Shared by the console back ends: reading key records from a descriptor, writing bytes, and
// the process-wide restore record that puts the terminal back however the process ends.
#pragma once

#include <signal.h>
#include <termios.h>

#include <cstdint>
#include <deque>
#include <string>

#include "syscon.h"
#include "syscon_keys.h"

uint64_t vl_sysconNowMs();
// Writes all bytes (retrying interrupted and partial writes); false when the descriptor failed.
bool vl_sysconWriteAll(int fd, const char* data, size_t len);
// Whether the locale the user runs in speaks UTF-8 (LC_ALL, LC_CTYPE, LANG).
bool vl_sysconLocaleIsUtf8();

// Key records read from a descriptor: a terminal in raw mode, a pipe or a file.
class VlConInputStream {
 public:
  void open(int fd, bool lineInput, bool utf8);
  VlKeyDecoder& decoder() { return m_keys; }
  // Reads what is available without waiting, decodes it, and answers the records queued.
  int pump();
  int read(VlConInput* records, int max);
  bool ended() const { return m_ended && m_queue.empty() && !m_keys.hasPending(); }
  // Bytes read while looking for something else (a cursor report) go back in front.
  void unread(const std::string& bytes);

 private:
  int m_fd = -1;
  bool m_ended = false;
  VlKeyDecoder m_keys;
  std::deque<VlConInput> m_queue;
};

// What to do to the terminal when the process ends without closing the console: restore the
// terminal modes and send a fixed string. Both run in signal handlers: plain data only.
struct VlConRestore {
  int fd = -1;                // the terminal whose modes are restored (-1: none)
  struct termios modes {};
  int outFd = -1;             // where `text` goes
  char text[256] = {};
  size_t textLen = 0;
  void (*flush)() = nullptr;  // the headless screen's last rows
};
void vl_sysconArmRestore(const VlConRestore& r);
void vl_sysconDisarmRestore();
// Runs the armed restore once (signal-safe); later calls do nothing until it is armed again.
void vl_sysconRunRestore();

// Set by the signal handlers, read and cleared by the terminal back end.
extern volatile sig_atomic_t vl_sysconResized;
extern volatile sig_atomic_t vl_sysconContinued;
