// Process entry: keep the arguments, run the start-up sequence (which calls the starting
// procedure), and return the error level the quit sequence reports.
#include "cmdarg.h"
#include "vm.h"

int main(int argc, char** argv) {
  vl_cmdargInit(argc, argv);
  vl_vmInit(true);
  return vl_vmQuit();
}
