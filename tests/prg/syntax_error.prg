// A program that does not compile is not run: every error is reported and the exit code is 1.
PROCEDURE Main
   x := (1 +
   ? "never runs"
   y := )
   RETURN
