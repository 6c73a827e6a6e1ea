-- The recursion of vl_bench: fib(30) through ordinary global calls.
function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end
return function() return fib(30) end
