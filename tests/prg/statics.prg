// STATIC variables: module-wide and function statics get their initial values once, before the
// program starts, and keep their values between calls; a codeblock reaches them too.
STATIC s_count := 10
STATIC s_list := {"a", "b"}

PROCEDURE Main
   ? Bump(), Bump(), Bump()
   ? s_list[2]
   ? Calls(), Calls()
   ? EVAL(Getter())
   RETURN

STATIC FUNCTION Bump()
   s_count++
   RETURN s_count

STATIC FUNCTION Calls()
   STATIC n := 0
   RETURN ++n

STATIC FUNCTION Getter()
   RETURN {|| s_count}
