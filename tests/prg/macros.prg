// Macros: &name and &(expr) compiled at run time, assignment through a macro, a macro function
// name, text substitution in a string, and TYPE(). The run-time macro compiler uses this
// compiler's grammar.
PROCEDURE Main
   PRIVATE cExpr := "1 + 2 * 3", cName := "nValue", nValue := 10, cFunc := "UPPER"

   ? &cExpr
   ? &(cName)
   &cName := 20
   ? nValue
   ? &cFunc.("abc")
   ? "value is &cName."
   ? TYPE("nValue"), TYPE("{|| 1}"), TYPE("1 +")
   RETURN
