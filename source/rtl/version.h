// Version, compiler and operating-system description texts.
#pragma once

const char* vl_verVersion();     // "Quillory build 0.99.50 Intl. (Tokra)"
const char* vl_verPlatform();    // "Linux 6.1.0 x86_64"
const char* vl_verCompiler();    // the compiler that built the program
const char* vl_verChangeLogId();
const char* vl_verBuildDate();   // "Jun  6 2005 22:20:48"
