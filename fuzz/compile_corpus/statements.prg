// Control statements: IF / ELSEIF / ELSE, DO WHILE with EXIT and LOOP, FOR with STEP, nested
// loops with EXIT and LOOP, DO CASE and SWITCH.
PROCEDURE Main
   LOCAL i, j, n

   FOR i := 1 TO 4
      IF i == 1
         ?? "one"
      ELSEIF i == 2
         ?? " two"
      ELSE
         ?? " many"
      ENDIF
   NEXT

   n := 0
   DO WHILE .T.
      n++
      IF n % 2 == 0
         LOOP
      ENDIF
      IF n > 7
         EXIT
      ENDIF
      ? "odd", n
   ENDDO

   FOR i := 10 TO 1 STEP -3
      ? i
   NEXT

   FOR i := 1 TO 3
      FOR j := 1 TO 3
         IF j == 2
            LOOP
         ENDIF
         IF i == 3
            EXIT
         ENDIF
         ? i, j
      NEXT
   NEXT
   ? "after", i, j

   n := 1
   WHILE n < 100
      n *= 3
   END
   ? "while", n

   FOR i := 1 TO 3
      DO CASE
      CASE i == 1
         ? "case one"
      CASE i == 2
         ? "case two"
      OTHERWISE
         ? "otherwise"
      ENDCASE
   NEXT

   // CASE bodies fall through to the next one unless left with EXIT.
   ?
   FOR i := 1 TO 4
      SWITCH i
      CASE 1
         ?? "a"
      CASE 2
         ?? "b"
         EXIT
      CASE 3
         ?? "c"
      OTHERWISE
         ?? "d"
      ENDSWITCH
   NEXT

   SWITCH "B"
   CASE "A"
      ? "A"
      EXIT
   CASE "B"
      ? "B"
      EXIT
   END
   RETURN
