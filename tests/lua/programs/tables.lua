-- Tables: constructors, the length operator, the table library (insert,
-- remove, concat, move, pack, unpack, sort) and traversal in a fixed order.

local function show(t, n)
  local parts = {}
  for i = 1, n or #t do parts[#parts + 1] = tostring(t[i]) end
  return "{" .. table.concat(parts, ",") .. "}"
end

-- constructors: positional, named, computed keys, trailing separators, calls
local function three() return 1, 2, 3 end
local t1 = {three()}
local t2 = {three(), three()}
local t3 = {(three())}
local t4 = {three(), 10; x = 1, ["y"] = 2, [3 * 3] = "nine", }
print(show(t1), show(t2), show(t3), show(t4), t4.x, t4.y, t4[9])
local keyed = {[1] = "a", [2] = "b", "c"}
print(keyed[1], keyed[2], #keyed)
print(#{}, #{nil}, #{1, 2, 3, nil}, #{n = 1}, #"" , #{{}, {}})

-- float keys equal to integers are normalised
local nk = {}
nk[1.0] = "one"; nk[2] = "two"; nk[2^53] = "big"
print(nk[1], nk[2.0], nk[2^53 | 0], math.type(next({[3.0] = true})))
print(pcall(function() nk[0/0] = 1 end))
print(pcall(function() nk[nil] = 1 end))
print(nk[nil], nk[0/0])

-- insert and remove
local t = {}
for i = 1, 5 do table.insert(t, i * 10) end
table.insert(t, 1, 5)
table.insert(t, 4, 25)
print(show(t), #t)
print(table.remove(t), table.remove(t, 1), table.remove(t, 3), show(t))
print(table.remove({}), table.remove({}, 0), #t, table.remove(t, #t + 1))
print(pcall(table.insert, t, 10, 1))
print(pcall(table.insert, t, 1, 2, 3))
print(pcall(table.remove, t, 10))

-- concat
print(table.concat({1, 2, 3}), table.concat({1, 2, 3}, ", "), table.concat({"a", "b", "c"}, "-", 2, 3))
print(table.concat({}, "x"), table.concat({1, 2}, "", 3), table.concat({1.5, "s", 2}, " "))
print(pcall(table.concat, {1, {}, 3}))
print(pcall(table.concat, {1, nil, 3}, ",", 1, 3))

-- move: overlapping ranges in both directions and into another table
local m = {1, 2, 3, 4, 5}
table.move(m, 1, 3, 3)
print(show(m))
m = {1, 2, 3, 4, 5}
table.move(m, 3, 5, 1)
print(show(m))
local dst = table.move({7, 8, 9}, 1, 3, 2, {"x"})
print(show(dst))
print(show(table.move({1, 2}, 1, 0, 5)), pcall(table.move, {}, 1, math.maxinteger, 2))

-- pack / unpack
local p = table.pack(1, nil, 3, nil)
print(p.n, p[1], p[2], p[3], p[4])
print(table.unpack({1, 2, 3}))
print(table.unpack({1, 2, 3}, 2))
print(table.unpack({1, 2, 3}, 2, 5))
print(table.unpack({}, 1, 0), select("#", table.unpack({}, 1, 0)))
print(pcall(table.unpack, {}, 1, 1e7))

-- sort: default order, comparator, stability is not assumed
local nums = {5, 3, 8, 1, 9, 2, 7, 3, 6, 4}
table.sort(nums)
print(show(nums))
table.sort(nums, function(a, b) return a > b end)
print(show(nums))
local strs = {"pear", "Apple", "banana", "apple", "cherry", "Banana"}
table.sort(strs)
print(table.concat(strs, " "))
table.sort(strs, function(a, b) return a:lower() < b:lower() or (a:lower() == b:lower() and a < b) end)
print(table.concat(strs, " "))
local recs = {}
for i = 1, 20 do recs[i] = {id = i, key = (i * 7) % 5} end
table.sort(recs, function(a, b) if a.key ~= b.key then return a.key < b.key end return a.id < b.id end)
local ids = {}
for i, r in ipairs(recs) do ids[i] = r.key .. ":" .. r.id end
print(table.concat(ids, " "))
print(pcall(table.sort, {3, 1, "x"}))
print(pcall(table.sort, {1, 2, 3}, function(a, b) return true end))
local big = {}
for i = 1, 1000 do big[i] = (i * 7919) % 1009 end
table.sort(big)
local sorted = true
for i = 2, #big do if big[i - 1] > big[i] then sorted = false end end
print(sorted, big[1], big[500], big[1000])

-- traversal: ipairs stops at the first nil; pairs order is made deterministic
local holes = {1, 2, nil, 4}
local count = 0
for _ in ipairs(holes) do count = count + 1 end
print(count)
local mixed = {10, 20, 30, alpha = 1, beta = 2, [100] = "h", [-1] = "neg", [2.5] = "f"}
local keys = {}
for k in pairs(mixed) do keys[#keys + 1] = k end
table.sort(keys, function(a, b)
  if type(a) ~= type(b) then return type(a) < type(b) end
  return a < b
end)
local parts = {}
for _, k in ipairs(keys) do parts[#parts + 1] = tostring(k) .. "=" .. tostring(mixed[k]) end
print(table.concat(parts, " "))

-- removing entries while traversing with next is allowed
local del = {}
for i = 1, 50 do del["k" .. i] = i end
for k, v in pairs(del) do if v % 2 == 0 then del[k] = nil end end
local left = 0
for _, v in pairs(del) do left = left + v end
print(left, next({}), type(next(del)))
print(pcall(next, {}, "no such key"))

-- a table used as a queue and as a set
local q = {first = 1, last = 0}
local function push(v) q.last = q.last + 1; q[q.last] = v end
local function pop() local v = q[q.first]; q[q.first] = nil; q.first = q.first + 1; return v end
for i = 1, 5 do push(i * i) end
print(pop(), pop(), q.last - q.first + 1)
local set = {}
for _, w in ipairs({"a", "b", "a", "c", "b"}) do set[w] = true end
local members = {}
for k in pairs(set) do members[#members + 1] = k end
table.sort(members)
print(table.concat(members))

-- the length of a sequence grown and shrunk
local seq = {}
for i = 1, 100 do seq[i] = i end
for i = 100, 51, -1 do seq[i] = nil end
print(#seq, rawlen(seq), select("#", table.unpack(seq)))
