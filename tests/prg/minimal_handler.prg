// The minimal error handler offered at start-up: the parts of the error on standard output,
// then the program quits.
ERRORBLOCK(__ERRORBLOCK())
x := {}
? x[1]
? "not reached"
