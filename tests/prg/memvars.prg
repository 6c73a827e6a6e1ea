// Memory variables: a PRIVATE is seen by the procedures it calls and hides an earlier one until
// its procedure returns; PUBLIC starts .F.; PARAMETERS makes PRIVATEs of the arguments; DO ...
// WITH passes variables by reference; assigning an unknown name creates a PRIVATE.
PROCEDURE Main
   LOCAL n := 21
   PRIVATE x := "main"
   PUBLIC g

   ? g
   Show()
   Hide()
   Show()
   ? M->x
   g := 5
   ShowG()
   DO Params WITH "a", 2
   DO Twice WITH n
   ? n
   Create()
   ? __MVSCOPE("AUTO")
   RETURN

PROCEDURE Show
   ? x
   RETURN

PROCEDURE Hide
   PRIVATE x := "hidden"
   Show()
   RETURN

PROCEDURE ShowG
   ? g
   RETURN

PROCEDURE Params
   PARAMETERS p1, p2
   ? p1, p2
   RETURN

PROCEDURE Twice
   PARAMETERS v
   v := v * 2
   RETURN

PROCEDURE Create
   auto := 1
   Reader()
   RETURN

PROCEDURE Reader
   ? auto
   RETURN
