// How operators bind, "[" as a string or an index, and abbreviated reserved function names.
PROCEDURE Main
   LOCAL a := {10, 20, 30}, t := .T., f := .F., n2 := 2, n3 := 3, c := "hello", x

   ? 10 - 4 - 3, n2 - n3 - n3
   ? .NOT. f .AND. f, .NOT. f = t
   ? "e" $ c = t
   ? n2 | n3 + 1
   ? a[2], [x]
   ? SUBS(c, 2, 3), UPPE(c), "ell" IN c
   x := 5
   x += 2
   x *= 3
   ? x
   ? IIF(t, "yes", "no"), IF(f, "yes", "no")
   ? {1, 2, 3}[2], a[LEN(a)]
   RETURN
