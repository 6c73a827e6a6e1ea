// Entry points of subsystems that are not built yet. Start-up, the quit sequence and the
// executor call them where those subsystems will hook in; each one moves to its subsystem when
// that is built. None of them may pretend to do work: they either report a state that is true
// while the subsystem is missing (nothing to release) or stop the process with an internal error
// that names what is missing.
#include "executor.h"
#include "polling.h"
#include "subsys.h"

// No background task can be registered yet.
void vl_backgroundRun() {}

// National-language support beyond the language modules (message catalogues chosen by LANG or
// LC_ALL): nothing is loaded yet.
void vl_i18nInit(const char*) {}
void vl_i18nRelease() {}

// The core function table: every core function registers with its own module for now.
void vl_initSymbols() {}

