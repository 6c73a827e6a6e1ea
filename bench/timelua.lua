-- Runs one of the Lua counterparts a few times and prints its result and best time, in the
-- format of vl_bench: lua5.4 timelua.lua NAME [repetitions]
local name, reps = arg[1], tonumber(arg[2] or "3")
local dir = arg[0]:match("(.*/)") or "./"
local bench = dofile(dir .. name .. ".lua")
local best, result = math.huge, nil
for _ = 1, reps do
  local t0 = os.clock()
  result = bench()
  local ms = (os.clock() - t0) * 1000
  if ms < best then best = ms end
end
print(string.format("%s %s %.1f ms", name, tostring(result), best))
