// BEGIN SEQUENCE: BREAK from a called procedure, RECOVER USING, nested sequences, and sequences
// left by RETURN, LOOP and EXIT, which must not leave their records behind.
PROCEDURE Main
   LOCAL x

   BEGIN SEQUENCE
      ? "before"
      Thrower(5)
      ? "not reached"
   RECOVER USING x
      ? "recovered", x
   END
   ? "after"

   BEGIN SEQUENCE
      BEGIN SEQUENCE
         BREAK "inner"
      RECOVER USING x
         ? "inner recover", x
         BREAK "outer"
      END
   RECOVER USING x
      ? "outer recover", x
   END

   ? Early()
   BEGIN SEQUENCE
      BREAK
   END
   ? "no recover clause"
   ? Looping()
   RETURN

STATIC PROCEDURE Thrower(n)
   ? "throwing"
   BREAK(n)
   ? "not reached either"
   RETURN

STATIC FUNCTION Early()
   BEGIN SEQUENCE
      RETURN "returned from inside a sequence"
   END
   RETURN "wrong"

STATIC FUNCTION Looping()
   LOCAL i, n := 0
   FOR i := 1 TO 5
      BEGIN SEQUENCE
         IF i == 2 ; LOOP ; ENDIF
         IF i == 4 ; EXIT ; ENDIF
         n += i
      END
   NEXT
   BEGIN SEQUENCE
      BREAK n
   RECOVER USING n
   END
   RETURN n
