// Lua virtual-machine throughput. This file is built twice: against the
// kernel's patched core (bench_vm_kestrane, KESTRANE_PATCHED_LUA=1) and
// against stock Lua of the same release built with the same flags
// (bench_vm_stock). Both register the same case names, so bench/run.sh can
// put them side by side and show what the interpreter changes cost, above
// all the preemption test that runs before every instruction.
//
// Each case compiles one plain Lua program once and runs it per iteration
// through lua_pcall. A program returns a checksum, shown as the label so
// that the two cores can be seen computing the same thing, and the number
// of work items it did (calls, loop steps, table entries, strings).
//
// One more case, vm/compile, measures the compiler alone: it loads a large
// generated chunk (vm_parse.h) per iteration without running it and
// reports bytes per second; the lexer and parser are where the dialect
// changes the core, so this is where they would show.

#include <benchmark/benchmark.h>

#include <climits>
#include <cstring>
#include <string>

#include "lua.hpp"
#include "vm_parse.h"

#ifndef KESTRANE_PATCHED_LUA
#define KESTRANE_PATCHED_LUA 0
#endif

namespace {

struct vm_program {
    const char *name;
    const char *source;
};

const vm_program vm_programs[] = {
    {"fib_recursive", R"lua(
local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end
-- fib(n) makes 2 * F(n + 1) - 1 calls
local a, b = 0, 1
for _ = 1, 28 do a, b = b, a + b end
return fib(27), 2 * a - 1
)lua"},

    {"loop_integer", R"lua(
local n, acc = 400, 0
for i = 1, n do
  local ii = i * 7
  for j = 1, n do
    local x = ii * j + i // (j % 7 + 1) - j % 5
    acc = (acc + (x ~ (j << 3))) & 0xffffff
  end
end
return acc, n * n
)lua"},

    {"loop_float", R"lua(
local n, s = 400, 0.0
for i = 1, n do
  local x = i * 0.01
  for j = 1, n do
    local y = j * 0.02
    s = s + (x * y + 1.5) / (x + y + 0.25) - x * 0.5
  end
end
return math.floor(s * 1000), n * n
)lua"},

    {"mandelbrot", R"lua(
local w, h, maxiter = 120, 80, 60
local inside, steps = 0, 0
for y = 0, h - 1 do
  local ci = y * 2.0 / h - 1.0
  for x = 0, w - 1 do
    local cr = x * 3.0 / w - 2.0
    local zr, zi, k = 0.0, 0.0, 0
    while k < maxiter and zr * zr + zi * zi <= 4.0 do
      zr, zi = zr * zr - zi * zi + cr, 2.0 * zr * zi + ci
      k = k + 1
    end
    steps = steps + k
    if k == maxiter then inside = inside + 1 end
  end
end
return inside * 1000000 + steps, steps
)lua"},

    {"table_array", R"lua(
local n = 50000
local t = {}
for i = 1, n do t[i] = i * 2 end
local s = 0
for i = 1, n do s = s + t[i] end
for _, v in ipairs(t) do s = s + v end
for i = n, 1, -1 do t[i] = t[i] + 1 end
local u = {}
for i = 1, n // 2 do u[#u + 1] = t[i] end
return s + #u + u[#u], 4 * n + n // 2
)lua"},

    {"sieve", R"lua(
local n = 100000
local composite = {}
for i = 1, n do composite[i] = false end
local count = 0
for i = 2, n do
  if not composite[i] then
    count = count + 1
    for j = i * i, n, i do composite[j] = true end
  end
end
return count, n
)lua"},

    {"table_hash", R"lua(
local n, rounds = 4000, 20
local keys = {}
for i = 1, n do keys[i] = "key" .. i end
local t = {}
for i = 1, n do t[keys[i]] = i end
local s = 0
for _ = 1, rounds do
  for i = 1, n do s = s + t[keys[i]] end
end
for i = 1, n, 2 do t[keys[i]] = nil end
for _, v in pairs(t) do s = s + v end
local miss = 0
for i = 1, n do
  if t["key" .. i] == nil then miss = miss + 1 end
end
return s + miss, n * (rounds + 3) + n // 2
)lua"},

    {"string_concat", R"lua(
local n = 3000
local parts = {}
for i = 1, n do
  parts[#parts + 1] = "item" .. i .. ":" .. (i * 3) .. ";"
end
local joined = table.concat(parts, ",")
local acc = ""
for i = 1, 500 do acc = acc .. string.char(65 + i % 26) end
return #joined + #acc + acc:byte(-1), n + 500
)lua"},

    {"string_format", R"lua(
local n, total = 3000, 0
for i = 1, n do
  local s = string.format("%5d|%-8s|%.3f|%x", i, "n" .. (i % 97), i / 7, i * 31)
  total = total + #s
end
return total, n
)lua"},

    {"string_pattern", R"lua(
local words = {}
for i = 1, 300 do words[i] = "word" .. i end
local text = table.concat(words, " ")
local rounds, count = 10, 0
for _ = 1, rounds do
  local _, k = text:gsub("(%a+)(%d+)", "%2%1")
  count = count + k
  local up = text:gsub("%w+", function(w) if #w > 6 then return w:upper() end end)
  count = count + #up
  local pos = 1
  while true do
    local s, e = string.find(text, "word1%d*", pos)
    if not s then break end
    count = count + 1
    pos = e + 1
  end
  count = count + (text:find("word299", 1, true) or 0)
end
return count, rounds * #words * 3
)lua"},

    {"closures", R"lua(
local function counter(step)
  local n = 0
  return function() n = n + step; return n end
end
local function map(t, f)
  local r = {}
  for i = 1, #t do r[i] = f(t[i]) end
  return r
end
local function reduce(t, f, acc)
  for i = 1, #t do acc = f(acc, t[i]) end
  return acc
end
local s = 0
for i = 1, 2000 do
  local c = counter(i % 5 + 1)
  for _ = 1, 20 do s = s + c() end
end
local data = {}
for i = 1, 1000 do data[i] = i end
for k = 1, 10 do
  local m = map(data, function(x) return x * k end)
  s = s + reduce(m, function(a, b) return a + b end, 0)
end
return s, 2000 * 21 + 10 * 2 * #data
)lua"},

    {"method_calls", R"lua(
local Point = {}
Point.__index = Point
function Point.new(x, y) return setmetatable({x = x, y = y}, Point) end
function Point:add(o) return Point.new(self.x + o.x, self.y + o.y) end
function Point:dot(o) return self.x * o.x + self.y * o.y end
function Point:scale(k) self.x = self.x * k; self.y = self.y * k; return self end

local Point3 = setmetatable({}, {__index = Point})
Point3.__index = Point3
function Point3.new(x, y, z)
  local p = Point.new(x, y)
  p.z = z
  return setmetatable(p, Point3)
end
function Point3:dot(o) return Point.dot(self, o) + self.z * o.z end

local n, acc = 20000, 0
local p, q = Point.new(1, 2), Point3.new(1, 1, 1)
for i = 1, n do
  local r = p:add(q)
  acc = acc + r:dot(p) + q:dot(q) + q:scale(1):dot(q) + (i & 3)
end
return acc, n * 6
)lua"},
};

// Instructions seen by the count hook while a program is measured.
long long vm_hook_insns;

void vm_count_hook(lua_State *, lua_Debug *) { ++vm_hook_insns; }

// The patched core charges 2 cycles per instruction to cpu_cycles and
// preempts once it passes cpu_cycles_max; with the limit at INT_MAX it never
// does (a pcall from the host cannot yield anyway). The counter is reset
// every iteration so it cannot overflow; the stock core has neither.
void vm_cycles_start()
{
#if KESTRANE_PATCHED_LUA
    cpu_cycles_max = INT_MAX;
    cpu_superyielding = 0;
    cpu_cycles = 0;
#endif
}

long long vm_cycles_taken()
{
#if KESTRANE_PATCHED_LUA
    return cpu_cycles;
#else
    return 0;
#endif
}

std::string vm_error(lua_State *L, const char *what)
{
    const char *msg = lua_tostring(L, -1);
    return std::string(what) + ": " + (msg ? msg : "(no message)");
}

// Runs the compiled program (at stack index 1) once, untimed, with a hook
// on every instruction: checks that it runs, counts its instructions and
// reads its checksum and item count. On failure leaves the error on top.
bool vm_probe(lua_State *L, long long *insns, lua_Integer *items, std::string *label)
{
    vm_hook_insns = 0;
    lua_sethook(L, vm_count_hook, LUA_MASKCOUNT, 1);
    lua_pushvalue(L, 1);
    int status = lua_pcall(L, 0, 2, 0);
    lua_sethook(L, nullptr, 0, 0);
    if (status != LUA_OK)
        return false;
    *insns = vm_hook_insns;
    *items = lua_tointeger(L, -1);
    label->assign("result=");
    label->append(luaL_tolstring(L, -2, nullptr));
    lua_settop(L, 1);
    return true;
}

void vm_run(benchmark::State &state, const vm_program *prog)
{
    vm_cycles_start();
    lua_State *L = luaL_newstate();
    if (!L) {
        state.SkipWithError("luaL_newstate failed");
        return;
    }
    luaL_openlibs(L);

    long long insns = 0;
    lua_Integer items = 0;
    std::string label;
    if (luaL_loadbufferx(L, prog->source, std::strlen(prog->source), prog->name, "t") != LUA_OK) {
        state.SkipWithError(vm_error(L, "compile").c_str());
        lua_close(L);
        return;
    }
    if (!vm_probe(L, &insns, &items, &label)) {
        state.SkipWithError(vm_error(L, "run").c_str());
        lua_close(L);
        return;
    }
    lua_gc(L, LUA_GCCOLLECT);

    long long cycles = 0;
    for (auto _ : state) {
        vm_cycles_start();
        lua_pushvalue(L, 1);
        if (lua_pcall(L, 0, 0, 0) != LUA_OK) {
            state.SkipWithError(vm_error(L, "run").c_str());
            break;
        }
        cycles += vm_cycles_taken();
    }
    lua_close(L);

    const double iters = static_cast<double>(state.iterations());
    state.SetLabel(label);
    state.SetItemsProcessed(static_cast<int64_t>(items) * state.iterations());
    state.counters["insns"] = static_cast<double>(insns);
    state.counters["insn_rate"] = benchmark::Counter(static_cast<double>(insns) * iters,
                                                     benchmark::Counter::kIsRate);
#if KESTRANE_PATCHED_LUA
    state.counters["cycles"] = benchmark::Counter(static_cast<double>(cycles),
                                                  benchmark::Counter::kAvgIterations);
#else
    (void)cycles;
#endif
}

// Size of the generated chunk that vm/compile loads.
constexpr size_t vm_compile_bytes = 3u << 20;

void vm_compile_run(benchmark::State &state)
{
    // Generated once per process; both flavours generate the same text.
    static int functions = 0;
    static const std::string source = vm_parse_source(vm_compile_bytes, &functions);

    vm_cycles_start();
    lua_State *L = luaL_newstate();
    if (!L) {
        state.SkipWithError("luaL_newstate failed");
        return;
    }
    luaL_openlibs(L);

    // Untimed: compile and run the chunk once, so that its checksum (the
    // same on both cores) becomes the label.
    if (luaL_loadbufferx(L, source.data(), source.size(), "=compile", "t") != LUA_OK) {
        state.SkipWithError(vm_error(L, "compile").c_str());
        lua_close(L);
        return;
    }
    if (lua_pcall(L, 0, 2, 0) != LUA_OK) {
        state.SkipWithError(vm_error(L, "run").c_str());
        lua_close(L);
        return;
    }
    std::string label = "result=";
    label.append(luaL_tolstring(L, -2, nullptr));
    lua_settop(L, 0);
    lua_gc(L, LUA_GCCOLLECT);

    for (auto _ : state) {
        if (luaL_loadbufferx(L, source.data(), source.size(), "=compile", "t") != LUA_OK) {
            state.SkipWithError(vm_error(L, "compile").c_str());
            break;
        }
        lua_pop(L, 1);
    }
    lua_close(L);

    state.SetLabel(label);
    state.SetBytesProcessed(static_cast<int64_t>(source.size()) * state.iterations());
    state.SetItemsProcessed(static_cast<int64_t>(functions) * state.iterations());
    state.counters["bytes"] = static_cast<double>(source.size());
}

int vm_register()
{
    for (const vm_program &prog : vm_programs) {
        const vm_program *p = &prog;
        benchmark::RegisterBenchmark((std::string("vm/") + prog.name).c_str(),
                                     [p](benchmark::State &state) { vm_run(state, p); })
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("vm/compile", vm_compile_run)->Unit(benchmark::kMillisecond);
    return 0;
}

[[maybe_unused]] const int vm_registered = vm_register();

}  // namespace
