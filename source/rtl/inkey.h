// Keyboard input: the type-ahead buffer, waiting for keys, the cancel key and the hot keys of
// SETKEY. Key codes are those of keycodes.h.
#pragma once

// The type-ahead buffer. vl_inkeyReset(true) also reallocates it for the type-ahead setting;
// SET() calls it when that setting changes.
void vl_inkeyReset(bool reallocate);
void vl_inkeyExit();               // frees the buffer (shutdown)
void vl_inkeyPoll();               // one event from the driver into the buffer
void vl_inkeyPut(int key);         // appends a key; 0 is never stored
int vl_inkeyNext(int eventMask);   // peeks; VL_K_NONE when the buffer is empty
int vl_inkeyGet();                 // takes; 0 when the buffer is empty
int vl_inkeyLast();
// The body of INKEY(): with `wait`, up to `seconds` (0: until a key comes, when the mask
// allows waiting at all) for a key, then takes one.
int vl_inkey(bool wait, double seconds, int eventMask);

// The hot-key table: emptied at start-up and freed at shutdown by the console layer.
void vl_setkeyInit();
void vl_setkeyRelease();
