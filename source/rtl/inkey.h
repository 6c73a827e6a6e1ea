// Keyboard input: the type-ahead buffer, waiting for keys, the cancel key and the hot keys of
// SETKEY. Key codes are those of the terminal driver (source/rtl/keycodes.h).
#pragma once

// The hot-key table: emptied at start-up and freed at shutdown by the console layer.
void vl_setkeyInit();
void vl_setkeyRelease();
