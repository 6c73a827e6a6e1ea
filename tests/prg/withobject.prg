// WITH OBJECT: a message without an object goes to the innermost WITH OBJECT value, including
// assignments and compound assignments; VL_QWITH() is that value.
PROCEDURE Main
   LOCAL e := ERRORNEW(), f := ERRORNEW()

   WITH OBJECT e
      :Description := "outer"
      :SubCode := 10
      WITH OBJECT f
         :Description := "inner"
         ? VL_QWITH() == f
      END
      ? :Description, :SubCode += 5, VL_QWITH() == e
   END
   ? e:Description, e:SubCode, f:Description
   RETURN
