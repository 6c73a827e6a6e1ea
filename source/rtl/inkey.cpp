// Keyboard input: the type-ahead ring, polling the driver, the cancel and debugger keys,
// waiting for keys while giving the processor away, and INKEY, NEXTKEY, LASTKEY, __KEYBOARD.
//
// The ring holds size - 1 keys: write == read means empty, and a key that would make them
// equal is dropped (a full buffer keeps its oldest keys). With the type-ahead setting 0 there
// is no ring, only one held key, and the driver is polled only while INKEY waits.
#include "inkey.h"

#include <time.h>

#include "../platform/syscon.h"
#include "../vm/arrays.h"
#include "../vm/extend.h"
#include "../vm/gc.h"
#include "../vm/vm.h"
#include "../vm/xmem.h"
#include "gtwin/gtwin.h"
#include "keycodes.h"
#include "set.h"

namespace {

int* s_ring;
int s_size;  // ring size in force (the type-ahead setting at the last reset); 0: no ring
int s_read, s_write;
int s_single;
int s_last;
int s_mask = VL_INKEY_KEYBOARD;
bool s_waiting;
bool s_collectedThisWait;

// The two key-filter blocks the quit sequence releases. No function of this system sets them.
VlItem* s_filters[2];

uint64_t nowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

bool bufferEmpty() { return s_size ? s_read == s_write : s_single == 0; }

// The first idle step of a wait collects garbage; the later ones sleep 20 ms.
void idleStep() {
  if (!s_collectedThisWait) {
    s_collectedThisWait = true;
    vl_gcCollect(false);
    return;
  }
  timespec ts{0, 20 * 1000 * 1000};
  nanosleep(&ts, nullptr);
}

}  // namespace

void vl_inkeyReset(bool reallocate) {
  if (reallocate || !s_ring) {
    if (s_ring) vl_xfree(s_ring);
    int size = vl_set.typeAhead;
    if (size < 0) size = 0;
    s_ring = static_cast<int*>(vl_xgrab(sizeof(int) * static_cast<size_t>(size ? size : 16)));
    s_size = size;
  }
  s_read = s_write = 0;
  s_single = 0;
}

void vl_inkeyExit() {
  if (s_ring) vl_xfree(s_ring);
  s_ring = nullptr;
  s_size = s_read = s_write = s_single = 0;
}

void vl_inkeyPut(int key) {
  if (key == 0) return;
  if (!s_ring) vl_inkeyReset(true);
  if (s_size == 0) {
    s_single = key;
    return;
  }
  int next = (s_write + 1) % s_size;
  if (next == s_read) return;
  s_ring[s_write] = key;
  s_write = next;
}

void vl_inkeyPoll() {
  if (s_size == 0 && !s_waiting) return;
  int key = vl_gt_ReadKey(s_mask);
  switch (key) {
    case VL_K_ALT_D:
      if (vl_set.debug) vl_vmRequestDebug();
      else vl_inkeyPut(key);
      break;
    case VL_K_ALT_C:
    case VL_K_BREAK:
      if (vl_set.cancel) {
        vl_vmRequestCancel();
        vl_inkeyPut(VL_K_CTRL_C);
      } else if (key == VL_K_ALT_C) {
        vl_inkeyPut(key);
      }
      break;
    default:
      vl_inkeyPut(key);
  }
}

int vl_inkeyNext(int eventMask) {
  int saved = s_mask;
  s_mask = eventMask;
  vl_inkeyPoll();
  s_mask = saved;
  if (s_size) return s_read != s_write ? s_ring[s_read] : VL_K_NONE;
  return s_single ? s_single : VL_K_NONE;
}

int vl_inkeyGet() {
  vl_inkeyPoll();
  int key = 0;
  if (s_size) {
    if (s_read != s_write) {
      key = s_ring[s_read];
      s_read = (s_read + 1) % s_size;
    }
  } else {
    key = s_single;
    s_single = 0;
  }
  if (key) s_last = key;
  return key;
}

int vl_inkeyLast() { return s_last; }

int vl_inkey(bool wait, double seconds, int eventMask) {
  s_mask = eventMask;
  if (wait) {
    s_waiting = true;
    bool limited = seconds * 1000 >= 1;
    uint64_t end = limited ? nowMs() + static_cast<uint64_t>(seconds * 1000) : 0;
    bool quit = false;
    if (limited || (eventMask & 0x1FF)) {
      for (;;) {
        vl_inkeyPoll();
        if (vl_vmRequestQuery() == VL_REQ_QUIT) {
          quit = true;
          break;
        }
        if (!bufferEmpty()) break;
        if (limited && nowMs() >= end) break;
        // No key can ever come (standard input has ended): an endless wait is over.
        if (!limited && vl_gt_InputEnded()) break;
        idleStep();
      }
    }
    s_waiting = false;
    s_collectedThisWait = false;
    if (quit) {
      s_mask = vl_set.eventMask;
      return 0;
    }
  }
  int key = vl_inkeyGet();
  s_mask = vl_set.eventMask;
  return key;
}

void vl_inkeyReleaseFilters() {
  for (VlItem*& f : s_filters) {
    if (f) vl_itemRelease(f);
    f = nullptr;
  }
}

// The idle-task and background-task lists: no function of this system adds a task, so they
// are always empty and there is nothing to release.
void vl_idleRelease() {}
void vl_backgroundRelease() {}

// INKEY([nSeconds] [, nEventMask]) -> the next key code, or 0.
VL_FUNC(INKEY) {
  int n = vl_pcount();
  int mask = vl_param(2, VL_IT_NUMERIC) ? vl_parni(2) : vl_set.eventMask;
  bool wait = n == 1 || (n > 1 && vl_param(1, VL_IT_NUMERIC));
  vl_retni(vl_inkey(wait, vl_parnd(1), mask));
}

// NEXTKEY([nEventMask]) -> the next key code, left in the buffer; 0 when there is none.
VL_FUNC(NEXTKEY) {
  int mask = vl_param(1, VL_IT_NUMERIC) ? vl_parni(1) : vl_set.eventMask;
  int key = vl_inkeyNext(mask);
  vl_retni(key == VL_K_NONE ? 0 : key);
}

VL_FUNC(LASTKEY) { vl_retni(vl_inkeyLast()); }

// __KEYBOARD([cKeys | nKey | aKeys]): empties the buffer and stuffs the keys (the KEYBOARD
// command). A string gives one key per byte.
VL_FUNC(__KEYBOARD) {
  vl_inkeyReset(false);
  auto stuff = [](const VlItem* p) {
    if (VL_IS_STRING(p)) {
      const char* t = vl_itemGetCPtr(p);
      for (size_t i = 0, n = vl_itemGetCLen(p); i < n; ++i) vl_inkeyPut(static_cast<unsigned char>(t[i]));
    } else if (VL_IS_NUMERIC(p)) {
      vl_inkeyPut(vl_itemGetNI(p));
    }
  };
  VlItem* p = vl_param(1, VL_IT_ANY);
  if (!p) return;
  if (VL_IS_ARRAY(p)) {
    VlItem element;
    element.type = VL_IT_NIL;
    for (uint32_t i = 1, n = vl_itemSize(p); i <= n; ++i) {
      vl_arrayGet(p, i, &element);
      stuff(&element);
    }
    vl_itemClear(&element);
  } else {
    stuff(p);
  }
}

VL_NATIVE_MODULE(inkey, VL_FUNCENTRY(INKEY), VL_FUNCENTRY(NEXTKEY), VL_FUNCENTRY(LASTKEY), VL_FUNCENTRY(__KEYBOARD));
