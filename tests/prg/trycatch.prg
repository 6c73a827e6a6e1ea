// TRY / CATCH / FINALLY: a BREAK value and a run-time error reach CATCH; FINALLY runs after the
// body, after CATCH, and before a RETURN from CATCH.
PROCEDURE Main
   LOCAL e, x

   TRY
      ? "in try"
      BREAK "thrown"
      ? "not reached"
   CATCH e
      ? "caught", e
   END

   TRY
      ? "no error"
   CATCH e
      ? "not reached"
   FINALLY
      ? "finally after the body"
   END

   TRY
      BREAK 1
   CATCH e
      ? "caught", e
   FINALLY
      ? "finally after catch"
   END

   ? Inner()

   TRY
      x := {}
      x := x[1]
   CATCH e
      ? "error caught", e:SubCode
   END
   RETURN

STATIC FUNCTION Inner()
   TRY
      BREAK "x"
   CATCH
      RETURN "returned from catch"
   FINALLY
      ? "finally before return"
   END
   RETURN "wrong"
