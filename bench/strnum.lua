-- Lua counterpart of the second loop of strnum_bench.cpp: UPPER(LTRIM(STR(i, 10)) + "abc"),
-- processor time, the best of three runs.
local format, upper, match = string.format, string.upper, string.match
local count = 500000
local best, last = math.huge, nil
for _ = 1, 3 do
  local start = os.clock()
  for i = 1, count do
    last = upper(match(format("%10d", i), "^%s*(.*)$") .. "abc")
  end
  local t = os.clock() - start
  if t < best then best = t end
end
print(format('Lua 5.4 upper(ltrim(format("%%10d", i)) .. "abc"): %d values in %.3f s (%.0f ns each), last %s',
  count, best, best * 1e9 / count, last))
