// The virtual filesystem under load: mounting a large ROM cartridge, listing
// a crowded RAM folder, storing and fetching a large kod value through the
// Lua functions, and pfile lookups at three table sizes.
//
// Everything runs in the kernel's core with one process whose Lua state has
// the kernel API, "/" on a temporary host folder and "/ram" mounted, as at
// start-up. Each case sets the filesystem up afresh before its timed loop,
// so cases do not see each other's files in whatever order they run.
//
// Counters: BM_mount_rom gives the files it made (files) and the size of the
// cartridge file (rom_bytes); BM_ls the names listed; BM_store and BM_fetch
// the length of the value's kod text (kod_bytes, what bytes_per_second
// counts) and of the file as stored (file_bytes); BM_lookup_* the number of
// entries in the table (entries).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "formats/buffer.h"
#include "kernel/kernel.h"
#include "lua.hpp"
#include "pdisk/cart.h"
#include "pdisk/hooks.h"
#include "pdisk/k64rom.h"
#include "pdisk/mount.h"
#include "pdisk/pfile.h"
#include "process/process.h"
#include "process/slice.h"

namespace {

constexpr int ROM_FILES = 1000;
constexpr size_t ROM_BYTES = 4 << 20;   // the files' bytes together
constexpr const char *ROM_PATH = "/carts/big.k64.rom";
constexpr int LS_FILES = 10000;
constexpr const char *LS_FOLDER = "/ram/list";
constexpr const char *VALUE_PATH = "/ram/value.kod";
constexpr int LOOKUP_PROBES = 4096;   // names looked up in turn

// Builds a table of mixed values: records with integers, floats, booleans,
// short strings and small arrays and maps, a few long texts, and a map by
// name. A linear congruential generator keeps it the same on every run.
const char *const value_code = R"(
local seed = 4242
local function rnd(n)
  seed = (seed * 1103515245 + 12345) % 2147483648
  return seed % n
end
local words = {"sprite", "map", "sfx", "label", "cart", "note", "wave", "window",
  "palette", "quote \"q\"", "line\nbreak", "tile", "x", "kestrel"}
local function text(len)
  local parts, n = {}, 0
  while n < len do
    local w = words[rnd(#words) + 1]
    parts[#parts + 1] = w
    n = n + #w + 1
  end
  return table.concat(parts, " "):sub(1, len)
end
function make_value(records)
  local v = {title = "fs bench value", version = 3, records = {}, by_name = {}, texts = {}}
  for i = 1, records do
    local r = {id = i, name = "rec_" .. i, x = rnd(100000) / 64, y = rnd(2000) - 1000,
      live = rnd(2) == 1, note = text(rnd(80)), pos = {rnd(480), rnd(270), rnd(1000) / 8},
      flags = {a = rnd(2) == 1, b = rnd(16), c = "c" .. rnd(99)}}
    v.records[i] = r
    v.by_name[r.name] = i
  end
  for i = 1, 16 do v.texts[i] = text(1000 + rnd(4000)) end
  return v
end
)";
// Records for about 1 MB of kod text; the case checks it.
constexpr int VALUE_RECORDS = 5700;
constexpr size_t VALUE_MIN_TEXT = 900000, VALUE_MAX_TEXT = 1200000;

struct Bench {
    std::string host;           // temporary host folder mounted at "/"
    Process *p = nullptr;
    lua_State *L = nullptr;
    int value = LUA_NOREF;      // the kod value
    size_t value_text = 0;      // length of kod(value, 0)
    std::string error;          // the set-up failed
    std::string value_error;    // the value could not be made

    ~Bench()
    {
        std::error_code ec;
        if (!host.empty())
            std::filesystem::remove_all(host, ec);
    }
};

bool lua_ok(lua_State *L, int status, std::string *err)
{
    if (status == LUA_OK)
        return true;
    *err = lua_tostring(L, -1) ? lua_tostring(L, -1) : "error";
    lua_pop(L, 1);
    return false;
}

// Calls the function that lies below its nargs arguments; on an error
// reports it and returns false, the stack as it was before the function.
bool call(benchmark::State &state, lua_State *L, int nargs, int nresults)
{
    std::string err;
    if (lua_ok(L, lua_pcall(L, nargs, nresults, 0), &err))
        return true;
    state.SkipWithError(err.c_str());
    return false;
}

// A clean filesystem: no RAM files, "/" on the host folder, "/ram".
void fs_reset(Bench *b)
{
    pfile_init();
    pfile_reset();
    pdisk_cart_ops = {cart_mount_k64_path, cart_write_k64_mount};
    mount_host_path(b->host.c_str(), "/");
    mount_ram_folder("/ram");
}

void make_value(Bench *b)
{
    lua_State *L = b->L;
    std::string *err = &b->value_error;
    if (!lua_ok(L, luaL_dostring(L, value_code), err))
        return;
    lua_getglobal(L, "make_value");
    lua_pushinteger(L, VALUE_RECORDS);
    if (!lua_ok(L, lua_pcall(L, 1, 1, 0), err))
        return;
    b->value = luaL_ref(L, LUA_REGISTRYINDEX);
    lua_getglobal(L, "kod");
    lua_rawgeti(L, LUA_REGISTRYINDEX, b->value);
    lua_pushinteger(L, 0);
    if (!lua_ok(L, lua_pcall(L, 2, 1, 0), err))
        return;
    b->value_text = lua_rawlen(L, -1);
    lua_pop(L, 1);
    if (b->value_text < VALUE_MIN_TEXT || b->value_text > VALUE_MAX_TEXT)
        *err = "the value's kod text is " + std::to_string(b->value_text) + " bytes, not about 1 MB";
}

Bench *bench()
{
    static Bench *b = nullptr;
    if (b) {
        cproc = b->p;
        return b;
    }
    static Bench made;
    b = &made;
    char pattern[] = "/tmp/kestrane-fs-bench-XXXXXX";
    const char *dir = mkdtemp(pattern);
    if (!dir) {
        b->error = "could not make a temporary folder";
        return b;
    }
    b->host = dir;
    config_set_start_values();
    config.headless = 1;
    processes_init();
    fs_reset(b);
    b->p = create_process_from_code("x = 1", "fs_bench", "/ram/fs_bench.lua", "", "");
    if (!b->p) {
        b->error = "could not create a process";
        return b;
    }
    cproc = b->p;
    b->L = b->p->L;
    make_value(b);
    lua_gc(b->L, LUA_GCCOLLECT);
    return b;
}

// Bench with a clean filesystem, or null after reporting why not.
Bench *start(benchmark::State &state, bool needs_value = false)
{
    Bench *b = bench();
    const std::string &err = !b->error.empty() || !needs_value ? b->error : b->value_error;
    if (!err.empty()) {
        state.SkipWithError(err.c_str());
        return nullptr;
    }
    fs_reset(b);
    return b;
}

// --- mounting a ROM cartridge ----------------------------------------------

// 1,000 files of 4 MB together, in ten folders: sizes vary around 4 KiB,
// half Lua-like text and half noisy binary data (as graphics and sound are),
// so the image compresses as real cartridges do.
std::vector<RomEntry> rom_entries()
{
    std::vector<RomEntry> out;
    uint32_t seed = 99;
    auto rnd = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    size_t left = ROM_BYTES;
    for (int d = 0; d < 10; d++)
        out.push_back(RomEntry{"dir" + std::to_string(d), true, std::string()});
    for (int i = 0; i < ROM_FILES; i++) {
        size_t size = i == ROM_FILES - 1 ? left : std::min(left, (size_t)(ROM_BYTES / ROM_FILES / 2 + rnd() % (ROM_BYTES / ROM_FILES)));
        left -= size;
        std::string data;
        data.reserve(size);
        if (i % 2 == 0) {
            while (data.size() < size)
                data += "local v" + std::to_string(rnd() % 1000) + " = spr(" + std::to_string(rnd() % 256) + ", x, y)\n";
        } else {
            while (data.size() < size)
                data += (char)((rnd() >> 24) & (i % 4 == 1 ? 0x0f : 0xff));
        }
        data.resize(size);
        char name[64];
        snprintf(name, sizeof name, "dir%d/file%04d.%s", i % 10, i, i % 2 == 0 ? "lua" : "gfx");
        out.push_back(RomEntry{name, false, std::move(data)});
    }
    std::sort(out.begin(), out.end(), [](const RomEntry &a, const RomEntry &b) { return a.name < b.name; });
    return out;
}

// Writes the cartridge file once; its size, or -1.
int64_t make_rom_file(Bench *b)
{
    static int64_t size = 0;
    if (size)
        return size;
    std::filesystem::create_directories(b->host + "/carts");
    std::unique_ptr<Buffer, BufferDeleter> image(create_buffer_2(1 << 20, 0));
    if (!image || k64rom_write(image.get(), rom_entries()) < 0)
        return -1;
    std::string file = b->host + ROM_PATH;
    FILE *f = fopen(file.c_str(), "wb");
    if (!f)
        return -1;
    bool ok = fwrite(image->data, 1, (size_t)image->len, f) == (size_t)image->len;
    ok = fclose(f) == 0 && ok;
    size = ok ? image->len : -1;
    return size;
}

void BM_mount_rom(benchmark::State &state)
{
    Bench *b = start(state);
    if (!b)
        return;
    int64_t rom_size = make_rom_file(b);
    if (rom_size < 0) {
        state.SkipWithError("could not write the cartridge file");
        return;
    }
    int files = 0;
    for (auto _ : state) {
        Mount *m = mount_k64_path(ROM_PATH);
        state.PauseTiming();
        if (!m) {
            state.SkipWithError("the cartridge did not mount");
            break;
        }
        files = pdisk_num_pfiles();
        delete_mount_point(ROM_PATH);
        pdisk_compact_pfiles();
        files -= pdisk_num_pfiles();
        cpu_cycles = 0;
        state.ResumeTiming();
    }
    // folder entries besides the files: the ten folders and the mount folder
    if (files != ROM_FILES + 11)
        state.SkipWithError(("the mount made " + std::to_string(files) + " entries").c_str());
    state.counters["files"] = ROM_FILES;
    state.counters["rom_bytes"] = (double)rom_size;
    state.SetBytesProcessed(state.iterations() * (int64_t)ROM_BYTES);
}
BENCHMARK(BM_mount_rom)->Unit(benchmark::kMillisecond);

// --- listing -----------------------------------------------------------------

void BM_ls(benchmark::State &state)
{
    Bench *b = start(state);
    if (!b)
        return;
    pfile_insert(LS_FOLDER, PFILE_RAM, LS_FOLDER)->attribs = PFILE_ATTR_FOLDER;
    // Inserted in an order that is not the table's, as files appear.
    for (int i = 0; i < LS_FILES; i++) {
        int k = (int)(((int64_t)i * 7919) % LS_FILES);
        std::string name = std::string(LS_FOLDER) + "/file" + std::to_string(k) + ".lua";
        if (!pfile_insert(name.c_str(), PFILE_RAM, name.c_str())) {
            state.SkipWithError("could not fill the folder");
            return;
        }
    }
    lua_State *L = b->L;
    size_t names = 0;
    for (auto _ : state) {
        lua_getglobal(L, "ls");
        lua_pushstring(L, LS_FOLDER);
        if (!call(state, L, 1, 2))
            return;
        names = lua_istable(L, -2) ? lua_rawlen(L, -2) : 0;
        lua_pop(L, 2);
        cpu_cycles = 0;
    }
    if (names == 0)
        state.SkipWithError("ls returned nothing");
    state.counters["files"] = LS_FILES;
    state.counters["names"] = (double)names;
    state.SetItemsProcessed(state.iterations() * (int64_t)names);
}
BENCHMARK(BM_ls)->Unit(benchmark::kMillisecond);

// --- store and fetch -----------------------------------------------------------

bool store_value(benchmark::State &state, lua_State *L, int value)
{
    lua_getglobal(L, "store");
    lua_pushstring(L, VALUE_PATH);
    lua_rawgeti(L, LUA_REGISTRYINDEX, value);
    return call(state, L, 2, 0);
}

void report_value(benchmark::State &state, const Bench *b)
{
    state.counters["kod_bytes"] = (double)b->value_text;
    state.counters["file_bytes"] = (double)pfile_size(VALUE_PATH);
    state.SetBytesProcessed(state.iterations() * (int64_t)b->value_text);
}

void BM_store(benchmark::State &state)
{
    Bench *b = start(state, true);
    if (!b)
        return;
    for (auto _ : state) {
        if (!store_value(state, b->L, b->value))
            return;
        cpu_cycles = 0;
    }
    if (pfile_size(VALUE_PATH) <= 0)
        state.SkipWithError("store wrote nothing");
    report_value(state, b);
}
BENCHMARK(BM_store)->Unit(benchmark::kMillisecond);

void BM_fetch(benchmark::State &state)
{
    Bench *b = start(state, true);
    if (!b)
        return;
    lua_State *L = b->L;
    if (!store_value(state, L, b->value))
        return;
    bool got = false;
    for (auto _ : state) {
        lua_getglobal(L, "fetch");
        lua_pushstring(L, VALUE_PATH);
        if (!call(state, L, 1, 1))
            return;
        got = lua_istable(L, -1);
        lua_pop(L, 1);
        cpu_cycles = 0;
    }
    if (!got)
        state.SkipWithError("fetch did not give the table back");
    report_value(state, b);
    lua_gc(L, LUA_GCCOLLECT);
}
BENCHMARK(BM_fetch)->Unit(benchmark::kMillisecond);

// --- lookups -------------------------------------------------------------------

std::string lookup_name(int i, bool present)
{
    char name[64];
    snprintf(name, sizeof name, "/ram/look/f%07d%s", i, present ? "" : "x");
    return name;
}

// Fills the table with n files and returns the names to look up: spread over
// the whole table, present or (sorting between present ones) absent.
std::vector<std::string> fill_lookup_table(int n, bool present)
{
    for (int i = 0; i < n; i++) {
        std::string name = lookup_name(i, true);
        pfile_insert(name.c_str(), PFILE_RAM, name.c_str());
    }
    std::vector<std::string> probes;
    for (int k = 0; k < LOOKUP_PROBES; k++)
        probes.push_back(lookup_name((int)((int64_t)k * 7919 % n), present));
    return probes;
}

void lookup_case(benchmark::State &state, bool present)
{
    if (!start(state))
        return;
    int n = (int)state.range(0);
    std::vector<std::string> probes = fill_lookup_table(n, present);
    if (pdisk_num_pfiles() < n) {
        state.SkipWithError("could not fill the table");
        return;
    }
    size_t k = 0;
    int wrong = 0;
    for (auto _ : state) {
        int i = get_index_by_name(probes[k].c_str());
        wrong += (i >= 0) != present;
        k = (k + 1) % probes.size();
    }
    if (wrong)
        state.SkipWithError("a lookup gave the wrong answer");
    state.counters["entries"] = n;
}

void BM_lookup_present(benchmark::State &state) { lookup_case(state, true); }
void BM_lookup_absent(benchmark::State &state) { lookup_case(state, false); }
BENCHMARK(BM_lookup_present)->ArgName("files")->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(BM_lookup_absent)->ArgName("files")->Arg(1000)->Arg(10000)->Arg(100000);

}   // namespace
