// Command-line arguments are the starting procedure's parameters.
PROCEDURE Main(a, b, c)
   ? PCOUNT(), a, b, c
   RETURN
