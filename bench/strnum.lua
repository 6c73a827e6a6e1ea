-- Lua counterpart of the second loop of strnum_bench.cpp: UPPER(LTRIM(STR(i, 10)) + "abc").
local format, upper, match = string.format, string.upper, string.match
local count = 500000
local start = os.clock()
local last
for i = 1, count do
  last = upper(match(format("%10d", i), "^%s*(.*)$") .. "abc")
end
local t = os.clock() - start
print(format('Lua 5.4 upper(ltrim(format("%%10d", i)) .. "abc"): %d values in %.3f s (%.0f ns each), last %s',
  count, t, t * 1e9 / count, last))
