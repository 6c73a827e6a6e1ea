// The smallest program: code before any FUNCTION is the starting procedure.
? "Hello, world"
