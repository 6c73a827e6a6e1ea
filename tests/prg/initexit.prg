// INIT procedures run before the starting procedure, EXIT procedures after it.
INIT PROCEDURE Start
   ? "init"
   RETURN

PROCEDURE Main
   ? "main"
   RETURN

EXIT PROCEDURE Stop
   ? "exit"
   RETURN
