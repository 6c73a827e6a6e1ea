// Unbounded recursion ends with an internal error that says so, not with a crash.
? "start"
Deeper(1)
? "not reached"

FUNCTION Deeper(n)
RETURN Deeper(n + 1)
