// Console output channels (standard output, the error channel) and the console new line.
#pragma once

#include <cstddef>

void vl_conInit();
void vl_conRelease();
void vl_conOutStd(const char* text, size_t len);
void vl_conOutErr(const char* text, size_t len);
void vl_conOutStdStr(const char* text);
void vl_conOutErrStr(const char* text);
const char* vl_conNewLine();
