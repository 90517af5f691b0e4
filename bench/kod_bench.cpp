// kod writing and reading of one large mixed table beside lua-cjson's
// encode and decode of the same data, all in one process's Lua state of the
// kernel's core, so the ratio kod / cjson measures the two serialisers and
// nothing else. Every case goes through a Lua call (kod, unkod,
// cjson.encode, cjson.decode) and leaves a Lua string or value behind, as a
// program would see it.
//
// The kod data is the cjson data plus one 64x64 u8 userdata (a sprite),
// which JSON cannot hold. cjson is loaded from the system's lua-cjson
// package with dlopen (or from the file named by KESTRANE_CJSON); the
// module takes the lua_* functions from this executable, whose core has the
// same API and ABI for everything it calls. Without the package the cjson
// cases are skipped with a note.
//
// Counters: bytes_per_second counts the encoded text (the kod or JSON
// string, as produced or read), items_per_second the values of the data
// (tables, keys excluded, and leaves).
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "formats/kod.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "process/process.h"
#include "process/slice.h"

namespace {

// Builds the data. A small linear congruential generator keeps it the same
// on every run. Items nest up to three levels of children, each with string
// keys, arrays of integers and floats, and strings of 0 to 3000 bytes, some
// with quotes and newlines to escape.
const char *const data_code = R"(
local seed = 12345
local function rnd(n)
  seed = (seed * 1103515245 + 12345) % 2147483648
  return seed % n
end
local words = {"alpha", "beta", "gamma", "window", "sprite", "palette", "cart", "note",
  "track", "wave", "say \"hi\"", "line\nbreak", "tab\there", "x", "kestrel", "mixer"}
local function text(len)
  local parts, n = {}, 0
  while n < len do
    local w = words[rnd(#words) + 1]
    parts[#parts + 1] = w
    n = n + #w + 1
  end
  return table.concat(parts, " "):sub(1, len)
end
local function item(i, depth)
  local t = {
    id = i,
    name = "item_" .. i,
    price = rnd(100000) / 100,
    qty = rnd(1000) - 500,
    ratio = rnd(1000000) / 7,
    active = rnd(2) == 1,
    note = text(rnd(120)),
    pos = {x = rnd(480), y = rnd(270), z = rnd(1000) / 8},
    tags = {words[rnd(10) + 1], words[rnd(10) + 1], "t" .. rnd(50)},
    samples = {},
  }
  for k = 1, 8 do
    t.samples[k] = k % 2 == 0 and rnd(65536) or rnd(1000000) / 1000
  end
  if depth > 0 then
    t.children = {}
    for k = 1, 2 do t.children[k] = item(i * 10 + k, depth - 1) end
  end
  return t
end
function make_data(n)
  local d = {title = "benchmark data", version = 7, created = 1.7e9, items = {}, lookup = {},
    texts = {}, deep = {}}
  for i = 1, n do d.items[i] = item(i, i % 3) end
  for i = 1, n do d.lookup["key_" .. i] = i * 3 end
  for i = 1, 20 do d.texts[i] = text(200 + rnd(3000)) end
  local t = d.deep
  for k = 1, 12 do t.level = k t.next = {} t = t.next end
  return d
end
-- the same table plus a sprite-like u8 userdata
function with_userdata(d)
  local k = {}
  for key, v in pairs(d) do k[key] = v end
  local hex = {}
  for i = 0, 64 * 64 - 1 do
    hex[#hex + 1] = string.format("%02x", (i % 64 // 8 + i // 512 * 3) % 16)
  end
  k.sprite = userdata("u8", 64, 64, table.concat(hex))
  return k
end
function count_values(v)
  if type(v) ~= "table" then return 1 end
  local n = 1
  for _, x in pairs(v) do n = n + count_values(x) end
  return n
end
-- structural equality; numbers by value within a relative tolerance (cjson
-- reads every number as a float and by default writes 14 digits)
function same(a, b, tol)
  tol = tol or 0
  if type(a) ~= type(b) then return false end
  if type(a) == "userdata" then return #a == #b end
  if type(a) == "number" then return a == b or math.abs(a - b) <= tol * math.abs(a) end
  if type(a) ~= "table" then return a == b end
  for k, v in pairs(a) do if not same(v, b[k], tol) then return false end end
  for k in pairs(b) do if a[k] == nil then return false end end
  return true
end
)";

constexpr int ITEMS = 800;   // about 0.9 MB of kod or JSON text
constexpr int KOD_DATA_FLAGS = 0;      // what store() writes
constexpr int KOD_MESSAGE_FLAGS = 3;   // what send_message writes

const char *const cjson_paths[] = {
    "/usr/lib/x86_64-linux-gnu/lua/5.4/cjson.so",
    "/usr/lib/aarch64-linux-gnu/lua/5.4/cjson.so",
    "/usr/lib/lua/5.4/cjson.so",
    "/usr/local/lib/lua/5.4/cjson.so",
};

struct Bench {
    Process *p = nullptr;
    lua_State *L = nullptr;
    int data = LUA_NOREF;        // the table without userdata (cjson)
    int kod_data = LUA_NOREF;    // the same plus the u8 userdata (kod)
    int64_t values = 0;          // values of data
    int64_t kod_values = 0;
    int kod_text[2] = {LUA_NOREF, LUA_NOREF};   // kod(kod_data, 0) and kod(kod_data, 3)
    size_t kod_len[2] = {0, 0};
    int encode = LUA_NOREF, decode = LUA_NOREF;
    int json_text = LUA_NOREF;
    size_t json_len = 0;
    std::string error;           // set when the data could not be made
    std::string cjson_error;     // set when cjson is missing or broken
};

int flag_slot(int flags)
{
    return flags == KOD_DATA_FLAGS ? 0 : 1;
}

// Calls the function below nargs arguments on the stack, expecting one
// result; on failure leaves nothing and returns the error text.
bool call(lua_State *L, int nargs, std::string *err)
{
    if (lua_pcall(L, nargs, 1, 0) == LUA_OK)
        return true;
    *err = lua_tostring(L, -1) ? lua_tostring(L, -1) : "error";
    lua_pop(L, 1);
    return false;
}

bool run_global(lua_State *L, const char *name, int arg_ref, std::string *err)
{
    lua_getglobal(L, name);
    lua_rawgeti(L, LUA_REGISTRYINDEX, arg_ref);
    return call(L, 1, err);
}

int ref_top(lua_State *L, size_t *len)
{
    if (len)
        *len = lua_rawlen(L, -1);
    return luaL_ref(L, LUA_REGISTRYINDEX);
}

void load_cjson(Bench *b)
{
    lua_State *L = b->L;
    std::vector<std::string> paths(std::begin(cjson_paths), std::end(cjson_paths));
    const char *env = getenv("KESTRANE_CJSON");
    if (env && *env)
        paths = {env};
    void *lib = nullptr;
    std::string tried, why;
    for (const std::string &path : paths) {
        lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (lib)
            break;
        tried += (tried.empty() ? "" : ", ") + path;
        why = dlerror();
    }
    if (!lib) {
        b->cjson_error = "lua-cjson not loaded (install the lua-cjson package, tools/setup.sh; tried " +
                         tried + "): " + why;
        return;
    }
    auto open = (lua_CFunction)dlsym(lib, "luaopen_cjson");
    if (!open) {
        b->cjson_error = "lua-cjson: no luaopen_cjson in the module";
        return;
    }
    lua_pushcfunction(L, open);
    if (!call(L, 0, &b->cjson_error))
        return;
    lua_getfield(L, -1, "encode");
    b->encode = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_getfield(L, -1, "decode");
    b->decode = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_pop(L, 1);

    lua_rawgeti(L, LUA_REGISTRYINDEX, b->encode);
    lua_rawgeti(L, LUA_REGISTRYINDEX, b->data);
    if (!call(L, 1, &b->cjson_error))
        return;
    b->json_text = ref_top(L, &b->json_len);
    // the decoded text must give the data back, or the timings mean nothing;
    // cjson writes at most 14 significant digits, so floats come back close,
    // not exact (kod's come back exact)
    lua_getglobal(L, "same");
    lua_rawgeti(L, LUA_REGISTRYINDEX, b->data);
    lua_rawgeti(L, LUA_REGISTRYINDEX, b->decode);
    lua_rawgeti(L, LUA_REGISTRYINDEX, b->json_text);
    if (!call(L, 1, &b->cjson_error))
        return;
    lua_pushnumber(L, 1e-13);
    if (!call(L, 3, &b->cjson_error))
        return;
    if (!lua_toboolean(L, -1))
        b->cjson_error = "cjson.decode(cjson.encode(data)) differs from data";
    lua_pop(L, 1);
}

void make_kod_texts(Bench *b)
{
    lua_State *L = b->L;
    for (int flags : {KOD_DATA_FLAGS, KOD_MESSAGE_FLAGS}) {
        int slot = flag_slot(flags);
        lua_pushcfunction(L, lua54_kod);
        lua_rawgeti(L, LUA_REGISTRYINDEX, b->kod_data);
        lua_pushinteger(L, flags);
        if (!call(L, 2, &b->error))
            return;
        b->kod_text[slot] = ref_top(L, &b->kod_len[slot]);
        lua_getglobal(L, "same");
        lua_rawgeti(L, LUA_REGISTRYINDEX, b->kod_data);
        lua_pushcfunction(L, lua54_unkod);
        lua_rawgeti(L, LUA_REGISTRYINDEX, b->kod_text[slot]);
        if (!call(L, 1, &b->error) || !call(L, 2, &b->error))
            return;
        if (!lua_toboolean(L, -1))
            b->error = "unkod(kod(data, " + std::to_string(flags) + ")) differs from data";
        lua_pop(L, 1);
    }
}

Bench *bench()
{
    static Bench *b = nullptr;
    if (b) {
        cproc = b->p;
        return b;
    }
    b = new Bench;
    config_set_start_values();
    config.headless = 1;
    processes_init();
    b->p = create_process_from_code("x = 1", "kod_bench", "/ram/kod_bench.lua", "", "");
    if (!b->p) {
        b->error = "could not create a process";
        return b;
    }
    cproc = b->p;
    lua_State *L = b->L = b->p->L;
    if (luaL_dostring(L, data_code) != LUA_OK) {
        b->error = lua_tostring(L, -1);
        lua_pop(L, 1);
        return b;
    }
    lua_getglobal(L, "make_data");
    lua_pushinteger(L, ITEMS);
    if (!call(L, 1, &b->error))
        return b;
    b->data = luaL_ref(L, LUA_REGISTRYINDEX);
    if (!run_global(L, "with_userdata", b->data, &b->error))
        return b;
    b->kod_data = luaL_ref(L, LUA_REGISTRYINDEX);
    if (!run_global(L, "count_values", b->data, &b->error))
        return b;
    b->values = lua_tointeger(L, -1);
    b->kod_values = b->values + 1;
    lua_pop(L, 1);
    make_kod_texts(b);
    if (b->error.empty())
        load_cjson(b);
    lua_gc(L, LUA_GCCOLLECT);
    return b;
}

// One Lua call per iteration: fn(arg[, flags]) with its result dropped.
// The cycle counter is reset so that the kernel's CPU accounting does not
// saturate over a long run.
void time_calls(benchmark::State &state, Bench *b, lua_CFunction c_fn, int fn_ref, int arg_ref,
                int flags)
{
    lua_State *L = b->L;
    std::string err;
    for (auto _ : state) {
        if (c_fn)
            lua_pushcfunction(L, c_fn);
        else
            lua_rawgeti(L, LUA_REGISTRYINDEX, fn_ref);
        lua_rawgeti(L, LUA_REGISTRYINDEX, arg_ref);
        int nargs = 1;
        if (flags >= 0) {
            lua_pushinteger(L, flags);
            nargs = 2;
        }
        if (!call(L, nargs, &err)) {
            state.SkipWithError(err.c_str());
            break;
        }
        lua_pop(L, 1);
        cpu_cycles = 0;
    }
}

void report(benchmark::State &state, int64_t bytes, int64_t values)
{
    state.SetBytesProcessed(state.iterations() * bytes);
    state.SetItemsProcessed(state.iterations() * values);
    state.counters["text_bytes"] = (double)bytes;
}

void BM_kod_write(benchmark::State &state)
{
    Bench *b = bench();
    if (!b->error.empty()) {
        state.SkipWithError(b->error.c_str());
        return;
    }
    int flags = (int)state.range(0);
    time_calls(state, b, lua54_kod, LUA_NOREF, b->kod_data, flags);
    report(state, (int64_t)b->kod_len[flag_slot(flags)], b->kod_values);
}
BENCHMARK(BM_kod_write)->ArgName("flags")->Arg(KOD_DATA_FLAGS)->Arg(KOD_MESSAGE_FLAGS)->Unit(benchmark::kMillisecond);

void BM_kod_read(benchmark::State &state)
{
    Bench *b = bench();
    if (!b->error.empty()) {
        state.SkipWithError(b->error.c_str());
        return;
    }
    int flags = (int)state.range(0);
    time_calls(state, b, lua54_unkod, LUA_NOREF, b->kod_text[flag_slot(flags)], -1);
    report(state, (int64_t)b->kod_len[flag_slot(flags)], b->kod_values);
}
BENCHMARK(BM_kod_read)->ArgName("flags")->Arg(KOD_DATA_FLAGS)->Arg(KOD_MESSAGE_FLAGS)->Unit(benchmark::kMillisecond);

void BM_cjson_encode(benchmark::State &state)
{
    Bench *b = bench();
    const std::string &err = b->error.empty() ? b->cjson_error : b->error;
    if (!err.empty()) {
        state.SkipWithError(err.c_str());
        return;
    }
    time_calls(state, b, nullptr, b->encode, b->data, -1);
    report(state, (int64_t)b->json_len, b->values);
}
BENCHMARK(BM_cjson_encode)->Unit(benchmark::kMillisecond);

void BM_cjson_decode(benchmark::State &state)
{
    Bench *b = bench();
    const std::string &err = b->error.empty() ? b->cjson_error : b->error;
    if (!err.empty()) {
        state.SkipWithError(err.c_str());
        return;
    }
    time_calls(state, b, nullptr, b->decode, b->json_text, -1);
    report(state, (int64_t)b->json_len, b->values);
}
BENCHMARK(BM_cjson_decode)->Unit(benchmark::kMillisecond);

}  // namespace
