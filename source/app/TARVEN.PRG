// TARVEN: rebuilds ("heals") DBF tables. Started with the name of a table, it copies the table
// record by record into a scratch table and puts the copy in the table's place; started with an
// argument beginning with "*", it does that for every table of the current directory.
//
// The lines of MAIN and ULECZ are part of the program's interface: PROCLINE() and the error
// reports name them, so every statement keeps the line it has here.
//
// Progress is printed in Polish:
//    ---POCZATEK---       start
//    lecze <name>.DBF     rebuilding a table
//    ---KONIEC---         end
PROCEDURE MAIN
   SET(105, "LOWER")                   // SET_FILECASE: file names in lower case
   SET(106, "LOWER")                   // SET_DIRCASE
   SET(112, .T.)                       // SET_TRIMFILENAME
   PARAMETERS WWW

   // Clear the screen and any pending GET list; with no argument, or with more than one, say
   // so and stop.

   SETCOLOR("")
   SCROLL() ; SETPOS(0, 0) ; READKILL(.T.) ; GETLIST := {}
   IF PCOUNT() != 1
      // one argument: a table name, or "*" for every table
      ? "Brak parametru (nazwy pliku)"
      RETURN
   ENDIF

   SETCOLOR("")
   SCROLL() ; SETPOS(0, 0) ; READKILL(.T.) ; GETLIST := {}
   ?? "---POCZATEK---"
   IF WWW = "*"
      AKAT := DIRECTORY("*.DBF")
      // the list is taken once: renaming the tables does not disturb the loop
      A := LEN(AKAT)
      IF A <= 0
         ? "Wychodze - brak plikow *.DBF"
         RETURN
      ENDIF

      FOR I := 1 TO A
         PPP := UPPER(AKAT[I][1])
         ULECZ(PPP)
      NEXT
   ELSE
      ULECZ(WWW)
   ENDIF
   ? "---KONIEC---"
   ?

   RETURN

FUNCTION ULECZ(cName)
   LOCAL nPos := 0
   PRIVATE WWW := cName

   IF ".DBF" $ UPPER(WWW)
      nPos := AT(".DBF", UPPER(WWW))
      IF nPos > 0
         WWW := SUBSTR(WWW, 1, nPos - 1)
      ENDIF
   ENDIF

   IF FILE(WWW + ".DBF")
      ? "lecze " + WWW + ".DBF"
      DBUSEAREA(.F., NIL, WWW, NIL, NIL, .F., NIL)
      WWW_ := IF(LEN(WWW) > 7, SUBSTR(WWW, 1, 7), WWW) + "_"
      // every record, deleted ones included, with every field
      __DBCOPY(WWW_, {}, {|| .T.}, NIL, NIL, NIL, .F., NIL)

      // the table becomes the .OLD file and the copy takes its name
      DBCLOSEAREA()
      DBF___ := WWW + ".OLD"
      FERASE(DBF___)

      DBF := WWW + ".DBF"
      FRENAME(DBF, DBF___)

      DBF_ := WWW_ + ".DBF"
      FRENAME(DBF_, DBF)

      FERASE(DBF___)
   ELSE
      ? "--?-- " + WWW + ".DBF"
   ENDIF

   RETURN .T.
