// Start-up procedures of the run-time: the error block offered before the error system is
// installed, the break block that TRY installs as the error block, the minimal error handler,
// and KESTINIT, which completes start-up.

// Start-up calls this only to prove it exists; the error block stays NIL until ERRORSYS.
FUNCTION __ERRORBLOCK()
   RETURN {|e| __MINIMALERRORHANDLER(e)}

// Inside TRY a run-time error breaks to CATCH with the Error object as the break value.
FUNCTION __BREAKBLOCK()
   RETURN {|e| BREAK(e)}

// Reports the error on standard output and quits.
PROCEDURE __MINIMALERRORHANDLER(e)
   LOCAL cText := "Error!" + CHR(13) + CHR(10)

   IF VALTYPE(e:Operation) == "C"
      cText += "Operation: " + e:Operation + CHR(13) + CHR(10)
   ENDIF
   IF VALTYPE(e:Description) == "C"
      cText += "Description: " + e:Description + CHR(13) + CHR(10)
   ENDIF
   IF VALTYPE(e:ModuleName) == "C"
      cText += "Source: " + e:ModuleName + CHR(13) + CHR(10)
   ENDIF
   IF VALTYPE(e:ProcName) == "C"
      cText += "Procedure: " + e:ProcName + CHR(13) + CHR(10)
   ENDIF
   IF VALTYPE(e:ProcLine) == "N"
      cText += "Line: " + LTRIM(STR(e:ProcLine)) + CHR(13) + CHR(10)
   ENDIF
   OUTSTD(cText)
   __QUIT()
   RETURN

// The last step of start-up before the database drivers: the GET list, the default error
// handler and the help key.
PROCEDURE KESTINIT()
   PUBLIC GETLIST := {}
   ERRORSYS()
   __SETHELPK()
   RETURN
