-- The string concatenation of vl_bench: 30,000 appends of "abc" to a growing string.
local function concat(n)
  local s = ""
  for i = 1, n do
    s = s .. "abc"
  end
  return "length " .. #s
end
return function() return concat(30000) end
