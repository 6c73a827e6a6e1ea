// ERRORLEVEL() sets the exit code of the program.
ERRORLEVEL(3)
