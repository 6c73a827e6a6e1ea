// Services of the terminal and the run-time library that the executor calls periodically: the
// keyboard poll of the cancel check and the background tasks. Their owners define them; the
// executor only declares what it calls.
#pragma once

// The driver's next key event for the event mask, 0 when there is none.
int vl_gt_ReadKey(int eventMask);
// Appends a key to the keyboard buffer (a key the cancel check read but does not use).
void vl_inkeyPut(int key);
// Runs the next task of the background-task list, if any.
void vl_backgroundRun();
