// The command line: ordinary arguments go to the starting procedure, arguments beginning with
// "//" are run-time options, also read from the VELLUM (or, when empty, KESTREL) variable.
#pragma once

void vl_cmdargInit(int argc, char** argv);
int vl_cmdargARGC();
char** vl_cmdargARGV();
bool vl_cmdargIsInternal(const char* text);
bool vl_cmdargCheck(const char* name);
char* vl_cmdargString(const char* name);  // new text (vl_xfree) or null
int vl_cmdargNum(const char* name);       // -1 when absent
