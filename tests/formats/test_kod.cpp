#include "formats/kod.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <lz4.h>

#include "formats/buffer.h"
#include "lua.hpp"
#include "process/slice.h"
#include "userdata/userdata.h"

namespace {

// same(a, b): typed arrays with equal shape and bytes.
int same_userdata(lua_State *L)
{
    Userdata *a = ud_check(L, 1), *b = ud_check(L, 2);
    lua_pushboolean(L, a && b && a->type == b->type && a->dims == b->dims && a->width == b->width &&
                           a->height == b->height &&
                           memcmp(ud_data(a), ud_data(b), (size_t)ud_data_size(a)) == 0);
    return 1;
}

const char *const prelude = R"(
function deq(a, b)
  if type(a) ~= type(b) then return false end
  if type(a) == "number" then return math.type(a) == math.type(b) and (a == b or (a ~= a and b ~= b)) end
  if type(a) == "userdata" then return same_userdata(a, b) end
  if type(a) ~= "table" then return a == b end
  for k, v in pairs(a) do if not deq(v, b[k]) then return false end end
  for k in pairs(b) do if a[k] == nil then return false end end
  return true
end
local bytes = {}
for i = 0, 255 do bytes[#bytes + 1] = string.char(i) end
ALL_BYTES = table.concat(bytes)
RICH = {1, 2.5, -0.1, 0.1 + 0.2, 1 / 3, math.maxinteger, math.mininteger, 1e300, 1 / 0, -1 / 0,
  "plain", ALL_BYTES, "", true, false, {}, {1, nil, 3},
  nested = {a = {b = {c = {"deep"}}}}, ["a b"] = "x", [""] = 1, [-3] = 2, [2.5] = "f", ["end"] = 3,
  [1e300] = 0, nil_word = "nil", str = "str",
  u8 = userdata("u8", 5, "0001ff7f80"), u8w = userdata("u8", 300, 2, string.rep("0000000107", 120)),
  i16 = userdata("i16", 2, 2, "0001ffff8000abcd"), i32 = userdata("i32", 2, "fffffffe7fffffff"),
  i64 = userdata("i64", 1, "8000000000000001"), f64 = vec(0.1, -2, 1e-300, 1 / 3, 0.1 + 0.2)}
)";

struct KodTest : testing::Test {
    lua_State *L = nullptr;

    void SetUp() override
    {
        L = luaL_newstate();
        luaL_openlibs(L);
        userdata_open(L);
        const luaL_Reg fns[] = {{"userdata", lua54_userdata}, {"vec", lua54_vec},   {"kod", lua54_kod},
                                {"_kod", lua54_kod},          {"unkod", lua54_unkod}, {"same_userdata", same_userdata},
                                {nullptr, nullptr}};
        lua_pushglobaltable(L);
        luaL_setfuncs(L, fns, 0);
        lua_pop(L, 1);
        run(prelude);
    }
    void TearDown() override { lua_close(L); }

    void run(const char *code)
    {
        ASSERT_EQ(luaL_dostring(L, code), LUA_OK) << lua_tostring(L, -1);
    }
    // The kod text of a Lua expression, or "ERROR: message".
    std::string write(const char *expr, int flags = 0)
    {
        std::string code = std::string("return ") + expr;
        EXPECT_EQ(luaL_dostring(L, code.c_str()), LUA_OK) << lua_tostring(L, -1);
        Buffer *b = create_buffer_2(16, KOD_BUFFER_TAG);
        int err = stringify_object(L, -1, b, flags);
        std::string out = err ? std::string("ERROR: ") + kod_error_text(err) : std::string((char *)b->data, b->len);
        destroy_buffer(b);
        lua_pop(L, 1);
        return out;
    }
    // Reads text from an exact-size heap copy (no terminator, so any read
    // past the end is caught by the sanitizers); leaves the values pushed.
    int read(const std::string &text)
    {
        int top = lua_gettop(L);
        std::vector<char> copy(text.begin(), text.end());
        int n = destringify_object(L, copy.data(), copy.size());
        EXPECT_EQ(lua_gettop(L), top + n);
        return n;
    }
    // True when the text reads as exactly one value deep-equal to expr.
    bool reads_as(const std::string &text, const char *expr)
    {
        int top = lua_gettop(L);
        bool ok = read(text) == 1;
        if (ok) {
            lua_setglobal(L, "GOT");
            std::string code = std::string("return deq(GOT, ") + expr + ")";
            luaL_dostring(L, code.c_str());
            ok = lua_toboolean(L, -1);
        }
        lua_settop(L, top);
        return ok;
    }
    bool round_trips(const char *expr, int flags)
    {
        std::string text = write(expr, flags);
        return text.rfind("ERROR", 0) != 0 && reads_as(text, expr);
    }
};

using KodWrite = KodTest;
using KodRead = KodTest;
using KodSafety = KodTest;

TEST_F(KodWrite, NumbersDropTrailingPointZero)
{
    EXPECT_EQ(write("1.0"), "1");
    EXPECT_EQ(write("-0.0"), "-0");
    EXPECT_EQ(write("2.5"), "2.5");
    EXPECT_EQ(write("1e100"), "1e+100");
    EXPECT_EQ(write("-42"), "-42");
    EXPECT_EQ(write("{[2.5]=1}"), "{[2.5]=1}");
    // a float reads back as the integer it equals
    ASSERT_EQ(read(write("2.0")), 1);
    EXPECT_TRUE(lua_isinteger(L, -1));
}

TEST_F(KodWrite, FloatsKeepTheirValue)
{
    EXPECT_EQ(write("0.1"), "0.1");
    for (const char *v : {"0.1 + 0.2", "1 / 3", "2^51 + 0.5", "-1e-310", "1 / 0", "-1 / 0", "{[1/3]=1}"})
        EXPECT_TRUE(round_trips(v, 0)) << v;
    EXPECT_EQ(write("{0/0}"), "{nil}");
}

TEST_F(KodWrite, KeysSortedBeforeSequence)
{
    EXPECT_EQ(write("{1,2,x=3}"), "{x=3,1,2}");
    EXPECT_EQ(write("{7, b=1, a=2, [10]=3, [2.5]=4, [-1]=5}"), "{a=2,b=1,[-1]=5,[2.5]=4,[10]=3,7}");
    EXPECT_EQ(write("{['end']=1, ['a b']=2, ['']=3, _x9=4}"), "{[\"\"]=3,_x9=4,[\"a b\"]=2,end=1}");
    EXPECT_EQ(write("{[true]=1, [{}]=2, f=print}"), "{f=nil}");
    EXPECT_EQ(write("{}"), "{}");
}

TEST_F(KodWrite, QuotedStringsEscapeToPrintableText)
{
    EXPECT_EQ(write("'a\"b\\\\\\n]\\195\\169\\0'"), "\"a\\\"b\\\\\\n\\093\\195\\169\\000\"");
    std::string all = write("ALL_BYTES");
    for (char c : all)
        EXPECT_TRUE(c >= 32 && c <= 126) << (int)(uint8_t)c;
    EXPECT_TRUE(round_trips("ALL_BYTES", 0));
}

TEST_F(KodWrite, OtherPlainForms)
{
    EXPECT_EQ(write("nil"), "nil");
    EXPECT_EQ(write("true"), "true");
    EXPECT_EQ(write("{false}"), "{false}");
    EXPECT_EQ(write("print"), "nil");
    EXPECT_EQ(write("coroutine.create(print)"), "nil");
    EXPECT_EQ(write("io.stdout"), "nil");   // a userdata that is not a typed array
    EXPECT_EQ(write("'ab'", KOD_STR_BLOCKS), std::string("str\0\2\0\0\0ab", 10));
}

TEST_F(KodWrite, UserdataText)
{
    EXPECT_EQ(write("userdata('u8', 3, '0aff10')"), "userdata(\"u8\",3,\"0aff10\")");
    EXPECT_EQ(write("userdata('i16', 2, 2, '0001ffff8000abcd')"), "userdata(\"i16\",2,2,\"0001ffff8000abcd\")");
    EXPECT_EQ(write("userdata('i32', 1, 'fffffffe')"), "userdata(\"i32\",1,\"fffffffe\")");
    EXPECT_EQ(write("userdata('i64', 1, '8000000000000001')"), "userdata(\"i64\",1,\"8000000000000001\")");
    EXPECT_EQ(write("vec(1.5, -2, 0.1)"), "userdata(\"f64\",3,\"1.5,-2,0.1\")");
    // kxu only for u8 and i16 under bit 0; the mode byte follows type and dims
    std::string mtf = write("userdata('u8', 2, '0102')", KOD_KXU);
    ASSERT_GE(mtf.size(), 6u);
    EXPECT_EQ(mtf.substr(0, 4), std::string("kxu\0", 4));
    EXPECT_EQ((uint8_t)mtf[5] & 0xf0, 32);
    EXPECT_EQ((uint8_t)write("userdata('u8', 2, '0102')", KOD_KXU | KOD_KXU_RAW)[5] & 0xf0, 16);
    EXPECT_EQ((uint8_t)write("userdata('i16', 2, '0102')", KOD_KXU)[5] & 0xf0, 128);
    EXPECT_EQ(write("userdata('i32', 1, '00000005')", KOD_KXU), "userdata(\"i32\",1,\"00000005\")");
}

TEST_F(KodWrite, Lz4AndBase64Wrap)
{
    std::string text = write("{1,2}", KOD_LZ4);
    ASSERT_GE(text.size(), 12u);
    EXPECT_EQ(text.substr(0, 4), std::string("lz4\0", 4));
    uint32_t c, r;
    memcpy(&c, &text[4], 4);
    memcpy(&r, &text[8], 4);
    EXPECT_EQ(r, 5u);
    ASSERT_EQ(text.size(), 12 + c);
    char out[16];
    ASSERT_EQ(LZ4_decompress_safe(&text[12], out, (int)c, sizeof out), 5);
    EXPECT_EQ(std::string(out, 5), "{1,2}");
    for (int f : {KOD_BASE64, KOD_BASE64 | KOD_LZ4}) {
        std::string w = write("{1,2}", f);
        EXPECT_EQ(w.rfind("unkod(\"b64:", 0), 0u) << w;
        EXPECT_EQ(w.substr(w.size() - 2), "\")");
        EXPECT_TRUE(reads_as(w, "{1,2}"));
    }
}

TEST_F(KodWrite, EveryFlagCombinationRoundTrips)
{
    const int bits[] = {KOD_KXU, KOD_LZ4, KOD_BASE64, KOD_KXU_RAW, KOD_STR_BLOCKS};
    for (int combo = 0; combo < 32; combo++) {
        int flags = 0;
        for (int i = 0; i < 5; i++)
            if (combo & (1 << i))
                flags |= bits[i];
        EXPECT_TRUE(round_trips("RICH", flags)) << "flags " << flags;
    }
}

TEST_F(KodWrite, LuaFunctionsPrefixAndErrors)
{
    run("S = kod({1}, 0, '--[[kod]]\\n') A, B = unkod(S)");
    run("assert(S == '--[[kod]]\\n{1}' and deq(A, {1}) and deq(B, {}))");
    run("assert(_kod(2.0) == '2' and kod() == 'nil')");
    run("assert(select('#', unkod(5)) == 0 and select('#', unkod('{1,')) == 0)");
    run("local ok, e = pcall(kod, setmetatable({}, {__index = error})) assert(ok)");
}

TEST_F(KodWrite, ChargesCpu)
{
    run("return {1,2,3}, string.rep('a', 400)");
    Buffer *b = create_buffer_2(16, KOD_BUFFER_TAG);
    cpu_cycles = 0;
    stringify_object(L, -2, b, 0);
    EXPECT_EQ(cpu_cycles, 8);   // 2 per value
    cpu_cycles = 0;
    stringify_object(L, -1, b, 0);
    EXPECT_EQ(cpu_cycles, 2 + 100);
    destroy_buffer(b);
    cpu_cycles = 0;
    read("{a=1}");
    EXPECT_EQ(cpu_cycles, 3);   // table, key, value
    cpu_cycles = 0;
    read("\"" + std::string(400, 'a') + "\"");
    EXPECT_EQ(cpu_cycles, 1 + 100);
    lua_settop(L, 0);
}

TEST_F(KodRead, AcceptsMoreThanTheWriterProduces)
{
    EXPECT_TRUE(reads_as("{1, 2}", "{1,2}"));
    EXPECT_TRUE(reads_as("{1 2}", "{1,2}"));
    EXPECT_TRUE(reads_as("{1,}", "{1}"));
    EXPECT_TRUE(reads_as("{a= 1,[\"k\"]=\n2}", "{a=1,k=2}"));
    EXPECT_TRUE(reads_as("{a,b=1,c}", "{b=1}"));
    EXPECT_TRUE(reads_as("{nil=1,true}", "{['nil']=1,true}"));
    EXPECT_TRUE(reads_as("{[nil]=1,x=2}", "{x=2}"));
    EXPECT_TRUE(reads_as("\"\\65\\0663\\256x\\q\"", "'AB3\\0x\\0q'"));
    EXPECT_TRUE(reads_as("1e2", "100.0"));
    EXPECT_TRUE(reads_as("1E2", "1"));
    EXPECT_TRUE(reads_as("str", "'str'"));
    EXPECT_TRUE(reads_as("\n{1}", "nil"));
    EXPECT_TRUE(reads_as("{1}trailing", "{1}"));
    EXPECT_TRUE(reads_as("userdata(\"u8\",2,2,\"hex:01020304\")", "userdata('u8',2,2,'01020304')"));
    EXPECT_TRUE(reads_as("unkod(\"b64:ezEs\n *M30=\")", "{1,3}"));
    EXPECT_EQ(read("{a=1, b=2}"), 0);
    EXPECT_EQ(read("{1,"), 0);
    EXPECT_EQ(read("\"open"), 0);
    EXPECT_EQ(read("abc"), 0);
    EXPECT_EQ(read("userdata(\"u8\",2,\"00"), 0);
}

TEST_F(KodRead, MetadataHeaders)
{
    ASSERT_EQ(read("--[[kod]]\n{1}"), 2);
    lua_setglobal(L, "M");
    lua_setglobal(L, "V");
    run("assert(deq(V, {1}) and deq(M, {}))");
    std::string raw = "--[[kod_format=\"raw\",x=1]]\nhello {";
    ASSERT_EQ(read(raw), 2);
    lua_setglobal(L, "M");
    lua_setglobal(L, "V");
    run("assert(V == 'hello {' and deq(M, {kod_format='raw', x=1}))");
    testing::internal::CaptureStdout();
    EXPECT_EQ(read("--[[kod x y]]\n5"), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "bad metadata format; ignoring kod x y\n");
    EXPECT_EQ(lua_tointeger(L, -1), 5);
    EXPECT_EQ(read("--[[kod{1}"), 0);
    std::string doc = "--[[kod_a=1]]{}";
    EXPECT_EQ(destringify_object_metadata(L, doc.c_str()), 1);
    lua_getfield(L, -1, "kod_a");
    EXPECT_EQ(lua_tointeger(L, -1), 1);
    lua_settop(L, 0);
}

TEST_F(KodRead, CorruptBlocksFail)
{
    std::string lz4 = write("{1,2,3}", KOD_LZ4);
    std::string wrong = lz4;
    wrong[8] = 8;   // stated size one more than the real one
    EXPECT_EQ(read(wrong), 0);
    std::string huge = lz4;
    memset(&huge[8], 0xff, 4);
    EXPECT_EQ(read(huge), 0);
    std::string long_c = lz4;
    long_c[4] = 100;
    EXPECT_EQ(read(long_c), 0);
    EXPECT_EQ(read(std::string("str\0\xff\xff\xff\x00", 8) + "abc"), 0);
    EXPECT_EQ(read(std::string("str\0\x05\0\0\0", 8) + "abc"), 0);
    EXPECT_EQ(read(std::string("str\0\x03\0", 6)), 0);
    EXPECT_EQ(read(std::string("kxu\0\x03\x10\x05", 7) + "ab"), 0);
}

TEST_F(KodSafety, CyclesAreRefusedWithoutOutput)
{
    run("A = {} A.self = A B = {x = {}} B.x.back = B C = {1, B} SHARED = {} DAG = {SHARED, SHARED, k = SHARED}");
    for (const char *v : {"A", "B", "C"}) {
        lua_getglobal(L, v);
        Buffer *b = create_buffer_2(16, KOD_BUFFER_TAG);
        bappend_str(b, "keep");
        EXPECT_EQ(stringify_object(L, -1, b, 0), KOD_ERR_CYCLE);
        EXPECT_EQ(std::string((char *)b->data, b->len + 1), std::string("keep", 5));
        destroy_buffer(b);
        lua_pop(L, 1);
    }
    run("local ok, e = pcall(kod, A, 6) assert(not ok and e:find('kod: cyclic table', 1, true))");
    EXPECT_TRUE(round_trips("DAG", 0));
}

TEST_F(KodSafety, NestingDepthIsBounded)
{
    run("function nest(n) local t = {} for i = 2, n do t = {t} end return t end");
    EXPECT_NE(write("nest(256)").rfind("ERROR", 0), 0u);
    EXPECT_EQ(write("nest(257)"), "ERROR: kod: tables nested too deeply");
    EXPECT_EQ(read(std::string(256, '{') + std::string(256, '}')), 1);
    lua_settop(L, 0);
    EXPECT_EQ(read(std::string(257, '{') + std::string(257, '}')), 0);
    EXPECT_EQ(read(std::string(1000000, '{')), 0);
    std::string keys;
    for (int i = 0; i < 500000; i++)
        keys += "{[";
    EXPECT_EQ(read(keys), 0);
    std::string wrappers;
    for (int i = 0; i < 100; i++)
        wrappers += "unkod(\"";
    EXPECT_EQ(read(wrappers + "1"), 0);
    EXPECT_TRUE(reads_as("unkod(\"unkod(\"1\")\")", "1"));
}

TEST_F(KodSafety, WriterUsesRawAccessOnly)
{
    run("T = setmetatable({1, 2, x = 1}, {__index = error, __newindex = error, __pairs = error,"
        " __len = function() return 10 end, __lt = error})");
    EXPECT_EQ(write("T"), "{x=1,1,2}");
}

TEST_F(KodSafety, OversizedOutputIsRefused)
{
    // shared subtables would expand to far more than the output limit
    run("D = {string.rep('x', 1 << 20)} for i = 1, 80 do D = {D, D} end");
    EXPECT_EQ(write("D"), "ERROR: kod: value too large");
    run("BIG = string.rep('a', (1 << 24) + 1)");
    EXPECT_EQ(write("BIG"), "ERROR: kod: value too large");
    EXPECT_TRUE(round_trips("BIG", KOD_STR_BLOCKS));
}

TEST_F(KodSafety, TruncatedAndCorruptedInputsNeverEscapeTheirBounds)
{
    run("SMALL = {1, 'two', x = {y = 2.5}, u = userdata('u8', 3, '010203'), f = vec(1, 2), s = 'a]b'}");
    std::mt19937 rng(7);
    for (int flags : {0, KOD_KXU, KOD_LZ4, KOD_BASE64, KOD_STR_BLOCKS, KOD_LZ4 | KOD_BASE64 | KOD_KXU}) {
        std::string text = write("SMALL", flags);
        ASSERT_TRUE(reads_as(text, "SMALL")) << flags;
        for (size_t n = 0; n < text.size(); n++) {
            read(text.substr(0, n));
            std::string bad = text;
            bad[rng() % bad.size()] = (char)rng();
            read(bad);
            lua_settop(L, 0);
        }
    }
}

// A Lua memory error in the middle of a read pushes nothing and leaks nothing.
struct Budget {
    size_t used = 0, limit = 0;
};
void *limited_alloc(void *ud, void *ptr, size_t osize, size_t nsize, int, size_t)
{
    Budget *b = (Budget *)ud;
    size_t old = ptr ? osize : 0;
    if (nsize == 0) {
        free(ptr);
        b->used -= old;
        return nullptr;
    }
    if (nsize > old && b->used + nsize - old > b->limit)
        return nullptr;
    void *p = realloc(ptr, nsize);
    if (p)
        b->used += nsize - old;
    return p;
}

TEST(KodMemory, OutOfMemoryWhileReadingPushesNothing)
{
    Budget budget;
    budget.limit = 1 << 20;
    lua_State *L = lua_newstate(limited_alloc, &budget);
    ASSERT_NE(L, nullptr);
    std::string big = "{\"" + std::string(600000, 'a') + "\",\"" + std::string(600000, 'b') + "\"}";
    EXPECT_EQ(destringify_object(L, big.data(), big.size()), 0);
    EXPECT_EQ(lua_gettop(L), 0);
    EXPECT_EQ(destringify_object(L, "{1,2}", 5), 1);
    lua_close(L);
}

}  // namespace
