// FOR EACH over arrays and strings: the control variable is a reference to the element, is NIL
// after the loop, and works with EXIT, LOOP and VL_ENUMINDEX().
PROCEDURE Main
   LOCAL a := {1, 2, 3}, x, s := "abc", n := 0

   FOR EACH x IN a
      x := x * 10
   NEXT
   ? a[1], a[2], a[3]
   ? x == NIL

   FOR EACH x IN s
      ? x, VL_ENUMINDEX()
      x := "z"
   NEXT
   ? s

   FOR EACH x IN {1, 2, 3, 4, 5}
      IF x == 2 ; LOOP ; ENDIF
      IF x == 4 ; EXIT ; ENDIF
      n += x
   NEXT
   ? n
   RETURN
