// Codeblocks and detached locals: a block shares the locals of its creator, sees later
// assignments, keeps them after the creator returned, and shares them with the creator's other
// blocks; nested blocks reach both their creator's parameters and the function's locals.
PROCEDURE Main
   LOCAL b1, b2, n := 1, a

   b1 := {|x| n += x}
   b2 := {|| n}
   EVAL(b1, 10)
   ? n, EVAL(b2)
   n := 100
   ? EVAL(b2)

   b1 := Counter()
   EVAL(b1)
   EVAL(b1)
   ? EVAL(b1)

   a := Adders()
   ? EVAL(a[1], 5), EVAL(a[2], 5)

   b1 := {|x| {|y| x + y + n}}
   ? EVAL(EVAL(b1, 1), 2)
   b1 := {|| {|| n * 2}}
   ? EVAL(EVAL(b1))

   ? EVAL({|p, q| p * q}, 6, 7)
   ? EVAL({|p, q| q == NIL}, 1)
   RETURN

STATIC FUNCTION Counter()
   LOCAL c := 0
   RETURN {|| ++c}

STATIC FUNCTION Adders()
   LOCAL base := 1
   RETURN {{|x| base += x}, {|x| base * x}}
