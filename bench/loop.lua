-- The integer loop of vl_bench: s = s + i while i < n.
local function loop(n)
  local s, i = 0, 0
  while i < n do
    s = s + i
    i = i + 1
  end
  return s
end
return function() return loop(20000000) end
