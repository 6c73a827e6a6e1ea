// ERRORLEVEL() sets the exit code of the program. (A file named errorlevel.prg would make its
// code a procedure named ERRORLEVEL, which would call itself.)
ERRORLEVEL(3)
