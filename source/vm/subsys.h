// Entry points that start-up and the quit sequence call in other subsystems. Each is defined by
// the subsystem that owns it.
#pragma once

// Terminal and keyboard.
void vl_gtSetMouse(bool on);
void vl_idleRelease();
void vl_backgroundRelease();
void vl_inkeyReleaseFilters();

// Executor state: recover and FINALLY records, WITH OBJECT and FOR EACH stacks, debugger flags.
void vl_vmExecutorReset();
void vl_vmExecutorRelease();

// Statics array (declared with the memory variables).
void vl_staticsReset();
void vl_staticsRelease();

// National-language support and the language and code-page modules.
void vl_i18nInit(const char* language);
void vl_i18nRelease();
void vl_langSelectInit(const char* id);
void vl_cdpReleaseAll();

// The core run-time function table, registered during start-up.
void vl_initSymbols();

// The database layer: closes every work area and releases the drivers.
void vl_rddShutdown();
