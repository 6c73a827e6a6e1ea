// Internal (unrecoverable) errors: the report on standard error, "error.log", and exit code 1.
#include "../vm/errint.h"

#include <cstdio>
#include <cstdlib>

#include "../vm/cmdarg.h"
#include "../vm/stack.h"
#include "console.h"
#include "langapi.h"

namespace {
bool s_inInternalError;
}

void vl_errInternal(unsigned number, const char* text, const char* p1, const char* p2) {
  if (s_inInternalError) std::_Exit(1);  // an internal error while reporting one
  s_inInternalError = true;

  char title[64];
  std::snprintf(title, sizeof title, vl_langText(VL_LANG_INTERNAL_TITLE), static_cast<unsigned long>(number));
  char message[1024];
  const char* format = text ? text : vl_langDGetInternalError(number);
  // The texts come from the language module and from callers of this function, never from users.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  std::snprintf(message, sizeof message, format, p1 ? p1 : "", p2 ? p2 : "");
#pragma GCC diagnostic pop

  if (text) {
    if (FILE* log = std::fopen("error.log", "w")) {
      std::fputs(message, log);
      std::fclose(log);
    }
  }
  vl_conOutErrStr(vl_conNewLine());
  vl_conOutErrStr(title);
  vl_conOutErrStr(message);
  vl_conOutErrStr(vl_conNewLine());
  vl_stackCallTrace();
  vl_conRelease();

  if (vl_cmdargCheck("ERRGPF")) std::abort();
  std::_Exit(1);
}
