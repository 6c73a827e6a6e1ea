// PROCLINE() gives the line of the running statement, also after loops and calls.
PROCEDURE Main
   ? PROCLINE()
   Show()
   FOR i := 1 TO 2
      ? PROCLINE()
   NEXT
   ? PROCLINE() ; ? PROCLINE()

   ? PROCLINE()
   RETURN

PROCEDURE Show
   ? PROCNAME(), PROCLINE(), PROCNAME(1), PROCLINE(1)
   RETURN
