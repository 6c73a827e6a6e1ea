// The default error handler. ERRORSYS installs DEFERROR as the error block: a division by zero
// gives 0, a failed shared open or append lock sets NETERR(); any other error is shown with the
// options the error allows, and quitting prints the error with its call trace, writes the
// error log and ends the program with error level 1.

PROCEDURE ERRORSYS()
   ERRORBLOCK({|e| DEFERROR(e)})
   RETURN

STATIC FUNCTION DEFERROR(e)
   LOCAL cMessage, cDOSError, aOptions, nChoice, n

   IF e:GenCode == 5                               // zero divisor
      RETURN 0
   ENDIF
   IF e:GenCode == 21 .AND. e:OsCode == 32 .AND. e:CanDefault   // shared open refused
      NETERR(.T.)
      RETURN .F.
   ENDIF
   IF e:GenCode == 40 .AND. e:CanDefault           // append lock failed
      NETERR(.T.)
      RETURN .F.
   ENDIF

   cMessage := ERRORMESSAGE(e)
   IF !EMPTY(e:OsCode)
      cDOSError := "(DOS Error " + LTRIM(STR(e:OsCode)) + ")"
   ENDIF
   IF VALTYPE(e:Args) == "A"
      cMessage += " Arguments: (" + ARGUMENTS(e) + ")"
   ENDIF

   IF MAXCOL() > 0
      aOptions := {"Quit"}
      IF e:CanRetry
         AADD(aOptions, "Retry")
      ENDIF
      IF e:CanDefault
         AADD(aOptions, "Default")
      ENDIF
      nChoice := 0
      DO WHILE EMPTY(nChoice)
         IF EMPTY(e:OsCode)
            nChoice := ALERT(cMessage, aOptions)
         ELSE
            nChoice := ALERT(cMessage + ";" + cDOSError, aOptions)
         ENDIF
      ENDDO
      IF VALTYPE(nChoice) == "N" .AND. nChoice >= 1 .AND. nChoice <= LEN(aOptions)
         IF aOptions[nChoice] == "Retry"
            RETURN .T.
         ELSEIF aOptions[nChoice] == "Default"
            RETURN .F.
         ENDIF
      ENDIF
   ELSE
      ALERT(cMessage + ";" + IF(EMPTY(e:OsCode), "", cDOSError + ";") + ;
            STRVALUE(e:ProcName) + "(" + STRVALUE(e:ProcLine) + ") in module: " + STRVALUE(e:ModuleName))
   ENDIF

   // Quit: the message, where it happened, the callers, the log.
   IF !EMPTY(e:OsCode)
      cMessage += " " + cDOSError
   ENDIF
   QOUT(cMessage)
   QOUT()
   QOUT("Error at ...:", STRVALUE(e:ProcName) + "(" + STRVALUE(e:ProcLine) + ") in Module:", STRVALUE(e:ModuleName))
   n := 3
   DO WHILE !EMPTY(PROCNAME(n))
      QOUT("Called from :", PROCNAME(n) + "(" + LTRIM(STR(PROCLINE(n))) + ") in Module:", PROCFILE(n))
      n++
   ENDDO

   LOGERROR(e)
   ERRORLEVEL(1)
   QOUT()
   __QUIT()
   RETURN .F.

// "Error BASE/1123  Argument error: AADD"
STATIC FUNCTION ERRORMESSAGE(e)
   LOCAL cMessage := IF(e:Severity > 1, "Error", "Warning") + " "

   IF VALTYPE(e:SubSystem) == "C"
      cMessage += e:SubSystem
   ELSE
      cMessage += "???"
   ENDIF
   IF VALTYPE(e:SubCode) == "N"
      cMessage += "/" + LTRIM(STR(e:SubCode))
   ELSE
      cMessage += "/???"
   ENDIF
   IF VALTYPE(e:Description) == "C"
      cMessage += "  " + e:Description
   ENDIF
   DO CASE
   CASE !EMPTY(e:FileName)
      cMessage += ": " + e:FileName
   CASE !EMPTY(e:Operation)
      cMessage += ": " + e:Operation
   ENDCASE
   RETURN cMessage

// " [ 1] = Type: C Val: abc [ 2] = Type: U"
STATIC FUNCTION ARGUMENTS(e)
   LOCAL cArguments := "", aArgs := e:Args, n

   IF VALTYPE(aArgs) == "A"
      FOR n := 1 TO LEN(aArgs)
         cArguments += " [" + STR(n, 2) + "] = Type: " + VALTYPE(aArgs[n])
         IF VALTYPE(aArgs[n]) != "U"
            cArguments += " Val: " + CSTR(aArgs[n])
         ENDIF
      NEXT
   ENDIF
   RETURN cArguments

// The error log: the environment, the settings, the open work areas, the error, the call
// trace and the screen. Nothing is written when neither the configured file nor "error.log"
// can be created.
STATIC PROCEDURE LOGERROR(e)
   LOCAL aLog := SET(119), cLogFile := "error.log", lAppend := .F.
   LOCAL nHandle, nCols, nRows, cScreen, nCellSize, nRow, nCol, cLine, nCount, n

   IF VALTYPE(aLog) == "A" .AND. LEN(aLog) >= 2
      IF VALTYPE(aLog[1]) == "C" .AND. !EMPTY(aLog[1])
         cLogFile := aLog[1]
      ENDIF
      lAppend := VALTYPE(aLog[2]) == "L" .AND. aLog[2]
   ENDIF
   IF MAXCOL() > 0
      nCols := MAXCOL()
      nRows := MAXROW()
      cScreen := SAVESCREEN(0, 0, nRows, nCols)
   ENDIF

   IF !lAppend .OR. !FILE(cLogFile)
      nHandle := FCREATE(cLogFile, 0)
   ELSE
      nHandle := FOPEN(cLogFile, 2)
      IF nHandle >= 3
         FSEEK(nHandle, 0, 2)
      ENDIF
   ENDIF
   IF nHandle < 3 .AND. !(LOWER(cLogFile) == "error.log")
      nHandle := FCREATE("error.log", 0)
   ENDIF
   IF nHandle < 3
      RETURN
   ENDIF

   FWRITELINE(nHandle, PADC(" Error log file ", 79, "*"))
   FWRITELINE(nHandle, "")
   FWRITELINE(nHandle, "Date ............: " + DTOC(DATE()))
   FWRITELINE(nHandle, "Time ............: " + TIME())
   FWRITELINE(nHandle, "Available Memory : " + STRVALUE(MEMORY(0)))
   FWRITELINE(nHandle, "Multi Threading  : " + IF(VL_MULTITHREAD(), "Yes", "No"))
   FWRITELINE(nHandle, "VM Optimization  : " + STRVALUE(VL_VMMODE()))
   FWRITELINE(nHandle, "Application      : " + VL_CMDARGARGV())
   FWRITELINE(nHandle, "Operating System : " + OS())
   FWRITELINE(nHandle, "Compiler         : " + VL_COMPILER())
   FWRITELINE(nHandle, "Quillory Version : " + VERSION())
   FWRITELINE(nHandle, "Build Date       : " + VL_BUILDDATE())
   IF TYPE("Select()") == "UI"
      FWRITELINE(nHandle, "Current Area ....:" + STRVALUE(&("Select()")))
   ENDIF
   FWRITELINE(nHandle, "")
   FWRITELINE(nHandle, PADC(" Environmental Information ", 79, "-"))
   FWRITELINE(nHandle, "")

   FWRITELINE(nHandle, "Exact is ........: " + STRVALUE(SET(1), .T.))
   FWRITELINE(nHandle, "Fixed is ........: " + STRVALUE(SET(2), .T.))
   FWRITELINE(nHandle, "Decimals is at ..: " + STRVALUE(SET(3)))
   FWRITELINE(nHandle, "Date Format is ..: " + STRVALUE(SET(4)))
   FWRITELINE(nHandle, "Epoch is ........: " + STRVALUE(SET(5)))
   FWRITELINE(nHandle, "Path is .........: " + STRVALUE(SET(6)))
   FWRITELINE(nHandle, "Default is ......: " + STRVALUE(SET(7)))
   FWRITELINE(nHandle, "Exclusive is ....: " + STRVALUE(SET(8), .T.))
   FWRITELINE(nHandle, "SoftSeek is .....: " + STRVALUE(SET(9), .T.))
   FWRITELINE(nHandle, "Unique is .......: " + STRVALUE(SET(10), .T.))
   FWRITELINE(nHandle, "Deleted is ......: " + STRVALUE(SET(11), .T.))
   FWRITELINE(nHandle, "Cancel is .......: " + STRVALUE(SET(12), .T.))
   FWRITELINE(nHandle, "Debug is ........: " + STRVALUE(SET(13)))
   FWRITELINE(nHandle, "Color is ........: " + STRVALUE(SET(15)))
   FWRITELINE(nHandle, "Cursor is .......: " + STRVALUE(SET(16)))
   FWRITELINE(nHandle, "Console is ......: " + STRVALUE(SET(17), .T.))
   FWRITELINE(nHandle, "Alternate is ....: " + STRVALUE(SET(18), .T.))
   FWRITELINE(nHandle, "AltFile is ......: " + STRVALUE(SET(19)))
   FWRITELINE(nHandle, "Device is .......: " + STRVALUE(SET(20)))
   FWRITELINE(nHandle, "Printer is ......: " + STRVALUE(SET(23)))
   FWRITELINE(nHandle, "PrintFile is ....: " + STRVALUE(SET(24)))
   FWRITELINE(nHandle, "Margin is .......: " + STRVALUE(SET(25)))
   FWRITELINE(nHandle, "Bell is .........: " + STRVALUE(SET(26), .T.))
   FWRITELINE(nHandle, "Confirm is ......: " + STRVALUE(SET(27), .T.))
   FWRITELINE(nHandle, "Escape is .......: " + STRVALUE(SET(28), .T.))
   FWRITELINE(nHandle, "Insert is .......: " + STRVALUE(SET(29), .T.))
   FWRITELINE(nHandle, "Intensity is ....: " + STRVALUE(SET(31), .T.))
   FWRITELINE(nHandle, "Scoreboard is ...: " + STRVALUE(SET(32), .T.))
   FWRITELINE(nHandle, "Delimeters is ...: " + STRVALUE(SET(33), .T.))
   FWRITELINE(nHandle, "Delimchars is ...: " + STRVALUE(SET(34)))
   FWRITELINE(nHandle, "Wrap is .........: " + STRVALUE(SET(35), .T.))
   FWRITELINE(nHandle, "Message is ......: " + STRVALUE(SET(36)))
   FWRITELINE(nHandle, "MCenter is ......: " + STRVALUE(SET(37), .T.))

   FWRITELINE(nHandle, "")
   IF nCols == NIL
      FWRITELINE(nHandle, "Detailed Work Area Items ")
   ELSE
      FWRITELINE(nHandle, PADC("Detailed Work Area Items", nCols, "="))
   ENDIF
   FWRITELINE(nHandle, "")
   IF TYPE("Select()") == "UI"
      FOR nCount := 1 TO 600
         IF !EMPTY((nCount)->(&("Alias()")))
            (nCount)->(FWRITELINE(nHandle, "Work Area No ....: " + STRVALUE(&("Select()"))))
            (nCount)->(FWRITELINE(nHandle, "Alias ...........: " + STRVALUE(&("Alias()"))))
            (nCount)->(FWRITELINE(nHandle, "Current Recno ...: " + STRVALUE(&("RecNo()"))))
            (nCount)->(FWRITELINE(nHandle, "Current Filter ..: " + STRVALUE(&("DbFilter()"))))
            (nCount)->(FWRITELINE(nHandle, "Relation Exp. ...: " + STRVALUE(&("DbRelation()"))))
            (nCount)->(FWRITELINE(nHandle, "Index Order .....: " + STRVALUE(&("IndexOrd(0)"))))
            (nCount)->(FWRITELINE(nHandle, "Active Key ......: " + STRVALUE(&("IndexKey(0)"))))
            (nCount)->(FWRITELINE(nHandle, ""))
         ENDIF
      NEXT
   ENDIF

   FWRITELINE(nHandle, "")
   IF nCols == NIL
      FWRITELINE(nHandle, " Internal Error Handling Information  ")
   ELSE
      FWRITELINE(nHandle, PADC(" Internal Error Handling Information  ", nCols, "+"))
   ENDIF
   FWRITELINE(nHandle, "")
   FWRITELINE(nHandle, "Subsystem Call ..: " + STRVALUE(e:SubSystem))
   FWRITELINE(nHandle, "System Code .....: " + STRVALUE(e:SubCode))
   FWRITELINE(nHandle, "Default Status ..: " + STRVALUE(e:CanDefault))
   FWRITELINE(nHandle, "Description .....: " + STRVALUE(e:Description))
   FWRITELINE(nHandle, "Operation .......: " + STRVALUE(e:Operation))
   FWRITELINE(nHandle, "Arguments .......: " + ARGUMENTS(e))
   FWRITELINE(nHandle, "Involved File ...: " + STRVALUE(e:FileName))
   FWRITELINE(nHandle, "Dos Error Code ..: " + STRVALUE(e:OsCode))
   FWRITELINE(nHandle, "")
   FWRITELINE(nHandle, " Trace Through:")
   FWRITELINE(nHandle, "----------------")
   FWRITELINE(nHandle, PADR(STRVALUE(e:ProcName), 21) + " : " + TRANSFORM(e:ProcLine, "999,999") + ;
              " in Module: " + STRVALUE(e:ModuleName))
   n := 4
   DO WHILE !EMPTY(PROCNAME(n))
      FWRITELINE(nHandle, PADR(PROCNAME(n), 21) + " : " + TRANSFORM(PROCLINE(n), "999,999") + ;
                 " in Module: " + PROCFILE(n))
      n++
   ENDDO
   FWRITELINE(nHandle, "")
   FWRITELINE(nHandle, "")

   IF VALTYPE(cScreen) == "C"
      FWRITELINE(nHandle, PADC(" Video Screen Dump ", nCols, "#"))
      FWRITELINE(nHandle, "")
      FWRITELINE(nHandle, "+" + REPLICATE("-", nCols + 1) + "+")
      nCellSize := LEN(SAVESCREEN(0, 0, 0, 0))
      FOR nRow := 0 TO nRows
         cLine := ""
         FOR nCol := 0 TO nCols
            cLine += SUBSTR(cScreen, (nRow * (nCols + 1) + nCol) * nCellSize + 1, 1)
         NEXT
         FWRITELINE(nHandle, "|" + cLine + "|")
      NEXT
      FWRITELINE(nHandle, "+" + REPLICATE("-", nCols + 1) + "+")
      FWRITELINE(nHandle, "")
      FWRITELINE(nHandle, "")
   ELSE
      FWRITELINE(nHandle, " Video Screen Dump not available")
   ENDIF

   FCLOSE(nHandle)
   RETURN

// A value as text for the log; logicals as "On"/"Off" when lOnOff is true.
STATIC FUNCTION STRVALUE(xValue, lOnOff)
   DO CASE
   CASE VALTYPE(xValue) $ "CM"
      RETURN xValue
   CASE VALTYPE(xValue) == "N"
      RETURN LTRIM(STR(xValue))
   CASE VALTYPE(xValue) == "D"
      RETURN DTOC(xValue)
   CASE VALTYPE(xValue) == "L"
      IF lOnOff == .T.
         RETURN IF(xValue, "On", "Off")
      ENDIF
      RETURN IF(xValue, "True", "False")
   ENDCASE
   RETURN ""

STATIC PROCEDURE FWRITELINE(nHandle, cText)
   FWRITE(nHandle, cText + VL_OSNEWLINE())
   RETURN
