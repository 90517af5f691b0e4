// Methods of typed arrays: get/set, shape queries, mutate, text form, crc,
// copies to and from the address space, blit, and their CPU charges.
#include <cstring>

#include "ud_fixture.h"

namespace {

using UdGetSet = UdTest;

TEST_F(UdGetSet, GetCountsAndRanges)
{
    run("a = userdata('i16', 4, 2, '00010002000300040005000600070008')");
    EXPECT_EQ(run("return a:get()"), "1,2,3,4,5,6,7,8");
    EXPECT_EQ(run("return a:get('x')"), "1,2,3,4,5,6,7,8");
    EXPECT_EQ(run("return a:get(3, 1, 5)"), "8,0,0,0,0");
    EXPECT_EQ(run("return math.type(select(2, a:get(3, 1, 2)))"), "integer");
    EXPECT_EQ(run("return a:get(1, 1)"), "6");
    EXPECT_EQ(run("return a:get(1.9, 0, 2)"), "2,3");    // floored
    EXPECT_EQ(run("return a:get(4, 0)"), "0.0");
    EXPECT_EQ(run("return a:get(0, 2)"), "0.0");
    EXPECT_EQ(run("return a:get(-1, 0, 3)"), "0.0");
    EXPECT_EQ(run("return a:get(0, 0, 0)"), "none");
    EXPECT_EQ(run("return a:get(0, 0, -5)"), "none");   // no negative result count
    // a vector has no y: the second number is the count
    EXPECT_EQ(run("return vec(1, 2, 3):get(1, 2)"), "2.0,3.0");
    EXPECT_EQ(run("return get(vec(1, 2, 3), 2)"), "3.0");
    EXPECT_EQ(run("return get(5, 0)"), "none");
}

TEST_F(UdGetSet, GetBeyondTheStackLimit)
{
    run("big = userdata('u8', 0x1000000)");
    testing::internal::CaptureStdout();
    EXPECT_EQ(run("return select('#', big:get())"), "0");
    EXPECT_EQ(run("return select('#', big:get(0, 0x7FFFFFFFFFFF))"), "0");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, " ********** too many get() results (16777216) stack limit reached **********\n"
                   " ********** too many get() results (140737488355327) stack limit reached **********\n");
    EXPECT_EQ(run("return select('#', big:get(5, 100000))"), "100000");
}

TEST_F(UdGetSet, SetWritesWithinTheData)
{
    run("a = userdata('u8', 4, 2)");
    EXPECT_EQ(run("a:set(3, 0, 1, 2, 3) return a:get()"), "0,0,0,1,2,3,0,0");
    // the run stops at the end of the data
    EXPECT_EQ(run("a:set(2, 1, 9, 9, 9, 9) return a:get()"), "0,0,0,1,2,3,9,9");
    // coordinates truncate toward zero; out-of-range ones write nothing
    EXPECT_EQ(run("a:clear() a:set('1.9', 0.5, 300) a:set(-0.5, 0, 7) return a:get(0, 0, 2)"), "7,44");
    EXPECT_EQ(run("a:clear() a:set(4, 0, 1) a:set(0, 2, 1) a:set(0, -1, 1) return a:get()"),
              "0,0,0,0,0,0,0,0");
    EXPECT_EQ(run("local v = vec(0, 0, 0) v:set(1, '2.5', {}) return v:get()"), "0.0,2.5,0.0");
    EXPECT_EQ(run("local v = userdata('i32', 2) set(v, 0, -1.5, 0x1ffffffff) return v:get()"), "-2,-1");
}

using UdShape = UdTest;

TEST_F(UdShape, Queries)
{
    EXPECT_EQ(run("local u = userdata('i32', 3, 5) return u:width(), u:height(), #u"), "3,5,15");
    EXPECT_EQ(run("local u = userdata('i32', 3) return u:width(), u:height(), #u"), "3,nil,3");
    EXPECT_EQ(run("return userdata('f64', 2, 1):attribs()"), "2,1,f64,2");
}

TEST_F(UdShape, MutateRetypesInPlace)
{
    run("a = userdata('u8', 8, '0100000002000000')");
    EXPECT_EQ(run("return a:mutate('i32')"), "none");
    EXPECT_EQ(run("return a:attribs()"), "2,1,i32,1");
    EXPECT_EQ(run("return a:get()"), "1,2");
    EXPECT_EQ(run("return a:mutate('f64')"), "can not mutate between integer and float data types");
    EXPECT_EQ(run("return a:mutate('u8', 4, 2)"), "none");
    EXPECT_EQ(run("return a:attribs()"), "4,2,u8,2");
    EXPECT_EQ(run("return a:get(0, 1)"), "2");
    EXPECT_EQ(run("return a:mutate('u8', 3, 3)"), "new size is larger than old size");
    EXPECT_EQ(run("return a:attribs()"), "4,2,u8,2");
    // a width without a height is one row
    EXPECT_EQ(run("a:mutate('i16', 2) return a:attribs()"), "2,1,i16,1");
    // no width: computed from the old row, height kept; absent type is u8
    EXPECT_EQ(run("a:mutate() return a:attribs()"), "4,1,u8,1");
    EXPECT_EQ(run("return vec(1, 2):mutate('i64')"), "can not mutate between integer and float data types");
    EXPECT_EQ(run("local v = vec(1, 2, 3, 4) v:mutate('f64', 2, 2) return v:attribs()"), "2,2,f64,2");
}

TEST_F(UdShape, MutateKeepsTheObjectValid)
{
    // a row narrower than one new element is refused, never width 0
    EXPECT_EQ(run("local u = userdata('u8', 3, 2) return u:mutate('i32'), u:attribs()"),
              "new size is larger than old size,3,2,u8,2");
    EXPECT_EQ(run("local u = userdata('u8', 3, 2) return u:mutate('u8', 0x100000000, 0x100000000)"),
              "new size is larger than old size");
    EXPECT_EQ(run("local u = userdata('u8', 16) return u:mutate('i64', 2^62, 1)"),
              "new size is larger than old size");
    // a height without a width keeps the row and the dimension count
    EXPECT_EQ(run("local u = userdata('u8', 8, 2) u:mutate('i16', nil, 1) return u:attribs()"), "4,1,i16,2");
    EXPECT_EQ(run("local u = userdata('u8', 8, 2) return u:mutate('u8', nil, 3)"),
              "new size is larger than old size");
    // the size compared is the current shape's, not the allocation's
    EXPECT_EQ(run("local u = userdata('u8', 8) u:mutate('u8', 2) return u:mutate('u8', 8)"),
              "new size is larger than old size");
}

TEST_F(UdShape, TextForms)
{
    EXPECT_EQ(run("return tostring(vec(1, 2))"), "(1, 2)");
    EXPECT_EQ(run("return tostring(vec(1.5, -2, 1/3))"), "(1.5, -2, 0.33333333333333)");
    EXPECT_EQ(run("return tostring(vec(1, 2, 3, 4, 5))"), "(1, 2, 3, 4, 5)");
    EXPECT_EQ(run("return tostring(userdata('f64', 2, 3, '1,2,3,4,5,6'))"), "(1, 2)");
    EXPECT_EQ(run("return tostring(userdata('f64', 3, 4, '1,2,3,4,5,6,7,8,9,10,11,12'))"),
              "(1, 2, 3),\n(4, 5, 6),\n(7, 8, 9),\n(10, 11, 12)");
    EXPECT_EQ(run("return tostring(userdata('f64', 3, 2, '1,2,3,4,5,6'))"), "(1, 2, 3)");
    lua_pushcfunction(L, lua54_vec);
    lua_pushinteger(L, 1);
    lua_call(L, 1, 1);
    char want[64];
    snprintf(want, sizeof want, "userdata: 0x%llx", (unsigned long long)(uintptr_t)lua_touserdata(L, -1));
    lua_setglobal(L, "one");
    EXPECT_EQ(run("return tostring(one)"), want);
    EXPECT_EQ(run("return tostring(vec(1, 2, 3, 4, 5, 6)):sub(1, 12)"), "userdata: 0x");
    EXPECT_EQ(run("return tostring(userdata('i32', 2)):sub(1, 12)"), "userdata: 0x");
}

TEST_F(UdShape, CrcAndClear)
{
    // the bytes of the text 123456789
    EXPECT_EQ(run("return userdata('u8', 9, '313233343536373839'):crc()"), "3421780262");
    EXPECT_EQ(run("return userdata('i16', 1, '3231'):crc() == userdata('u8', 2, '3132'):crc()"),
              "true");
    EXPECT_EQ(run("return userdata('u8', 1):crc()"), "3523407757");   // one zero byte
    EXPECT_EQ(run("local u = userdata('i32', 2, '01020304ffffffff') u:clear() return u:get()"), "0,0");
    // only the elements count, not the padding to 8 bytes
    EXPECT_EQ(run("local u = userdata('u8', 3, 'aabbcc') local c = u:crc() u:mutate('u8', 2) "
                  "return c ~= u:crc(), u:crc() == userdata('u8', 2, 'aabb'):crc()"),
              "true,true");
}

using UdRam = UdTest;

TEST_F(UdRam, PokeAndPeekAcrossPages)
{
    run("a = userdata('i16', 3, '1234abcd0001')");
    EXPECT_EQ(run("return a:poke(0x20FFF) == a"), "true");
    // little-endian elements, the second straddling pages 0x20 and 0x21
    EXPECT_EQ(run("return peek(0x20FFF, 6)"), "52,18,205,171,1,0");
    EXPECT_EQ(p->page_flags[0x20], RAM_FLAGS_WRITTEN);
    EXPECT_EQ(p->page_flags[0x21], RAM_FLAGS_WRITTEN);
    EXPECT_EQ(run("b = userdata('i16', 3) b:peek(0x20FFF) return b:get()"), "4660,-21555,1");
    // offset and count: elements from offset on, limited to the data
    EXPECT_EQ(run("b:clear() b:peek(0x20FFF, 1) return b:get()"), "0,4660,-21555");
    EXPECT_EQ(run("b:clear() b:peek(0x20FFF, 1, 1) return b:get()"), "0,4660,0");
    EXPECT_EQ(run("b:clear() b:peek(0x20FFF, -3, 1) return b:get()"), "4660,0,0");
    EXPECT_EQ(run("b:clear() b:peek(0x20FFF, 0, 99) return b:get()"), "4660,-21555,1");
    // counts and offsets that select nothing copy nothing
    EXPECT_EQ(run("b:clear() b:peek(0x20FFF, 0, -2) b:peek(0x20FFF, 3) b:peek(0x20FFF, 1 << 62) "
                  "return b:get()"),
              "0,0,0");
    EXPECT_EQ(run("a:poke(0x30000, 2, 9) return peek2(0x30000), peek2(0x30002)"), "1,0");
}

TEST_F(UdRam, AddressesWrapAndF64IsRefused)
{
    run("a = userdata('i32', 2, '0403020108070605')");
    run("a:poke(0xFFFFFE)");
    EXPECT_EQ(run("return peek(0xFFFFFE, 2)"), "1,2");
    EXPECT_EQ(run("return peek(0, 6)"), "3,4,5,6,7,8");
    EXPECT_EQ(run("local b = userdata('i32', 2) b:peek(-2) return b:get() == a:get()"), "true");
    EXPECT_EQ(run("return select('#', vec(1, 2):poke(0x40000)), peek(0x40000)"), "0,0");
    EXPECT_EQ(run("return select('#', vec(1, 2):peek(0x40000))"), "0");
}

TEST_F(UdRam, MappedPagesShareTheElements)
{
    run("m = userdata('u8', 8192) _map_ram(m, 0x50000)");
    EXPECT_EQ(run("poke(0x51001, 77) return m[4097]"), "77");
    // copies between a mapped range and the object it maps
    EXPECT_EQ(run("m:set(0, 1, 2, 3, 4) m:peek(0x50001, 0, 3) return m:get(0, 5)"), "2,3,4,4,0");
    EXPECT_EQ(run("m:clear() m:set(0, 1, 2, 3, 4) m:poke(0x50001, 0, 3) return m:get(0, 5)"),
              "1,1,2,3,0");
    // an f64 object is not mapped
    EXPECT_EQ(run("return select('#', _map_ram(vec(1, 2), 0x60000))"), "0");
    EXPECT_EQ(run("return _map_ram(userdata('i32', 2, 2), 0x60000)"), "16");
}

using UdBlit = UdTest;

// The draw target offered to blit by the tests.
Userdata *test_target;
UdRect test_clip;
Userdata *target_hook(lua_State *, UdRect *clip)
{
    *clip = test_clip;
    return test_target;
}

TEST_F(UdBlit, CopiesClippedRectangles)
{
    run("s = userdata('u8', 4, 2, '0102030405060708') d = userdata('u8', 4, 3)");
    EXPECT_EQ(run("s:blit(d, 0, 0, 1, 1) return d:get()"), "0,0,0,0,0,1,2,3,0,5,6,7");
    EXPECT_EQ(run("d:clear() blit(s, d, 1, 0, -1, 2, 3, 1) return d:get()"), "0,0,0,0,0,0,0,0,3,4,0,0");
    EXPECT_EQ(run("d:clear() blit(s, d, -2, -1, 0, 0) return d:get()"), "0,0,0,0,0,0,1,2,0,0,0,0");
    EXPECT_EQ(run("d:clear() blit(s, d, 0, 0, 0, 0, math.maxinteger, math.mininteger) "
                  "blit(s, d, math.mininteger, 0, math.maxinteger, 0) return d:get()"),
              "0,0,0,0,0,0,0,0,0,0,0,0");
    // different element types copy nothing
    EXPECT_EQ(run("local i = userdata('i16', 4, 3) blit(s, i) return i:get(0, 0, 4)"), "0,0,0,0");
    EXPECT_EQ(run("local f = userdata('f64', 2, 2) blit(vec(1, 2), f, 0, 0, 0, 1) return f:get()"),
              "0.0,0.0,1.0,2.0");
}

TEST_F(UdBlit, OverlappingCopiesWithinOneObject)
{
    run("b = userdata('u8', 3, 3, '010203040506070809')");
    EXPECT_EQ(run("b:blit(b, 0, 0, 0, 1) return b:get()"), "1,2,3,1,2,3,4,5,6");
    run("b = userdata('u8', 3, 3, '010203040506070809')");
    EXPECT_EQ(run("b:blit(b, 0, 1, 0, 0) return b:get()"), "4,5,6,7,8,9,7,8,9");
    run("b = userdata('i16', 4, 1, '0001000200030004')");
    EXPECT_EQ(run("b:blit(b, 0, 0, 1, 0) return b:get()"), "1,1,2,3");
    EXPECT_EQ(run("b:blit(b, 1, 0, 0, 0) return b:get()"), "1,2,3,3");
}

TEST_F(UdBlit, DrawTargetStandsIn)
{
    run("t = userdata('u8', 4, 4) s = userdata('u8', 2, 2, '01020304')");
    EXPECT_EQ(run("s:blit(nil, 0, 0, 0, 0) return t:get(0, 0)"), "0");   // no draw target
    test_target = global_ud("t");
    test_clip = {1, 1, 3, 3};
    ud_draw_target_hook = target_hook;
    // as destination the target's clip applies
    EXPECT_EQ(run("s:blit(nil, 0, 0, 0, 0) return t:get()"), "0,0,0,0,0,4,0,0,0,0,0,0,0,0,0,0");
    EXPECT_EQ(run("t:clear() blit(s, t, 0, 0, 2, 2) return t:get(2, 2, 2)"), "1,0");
    // as source, copied into another object clipped to that object only
    EXPECT_EQ(run("local d = userdata('u8', 2, 2) blit(nil, d, 1, 2, 0, 0) return d:get()"), "0,1,0,0");
    // a clip left larger than a target that was retyped smaller stays inside it
    test_clip = {0, 0, 4, 4};
    EXPECT_EQ(run("t:mutate('u8', 2, 2) blit(userdata('u8', 4, 4, ('ff'):rep(16)), nil) return t:get()"),
              "255,255,255,255");
    const uint8_t *rest = ud_data(test_target) + 4;   // past the 2 x 2 shape
    for (int i = 0; i < 12; i++)
        EXPECT_EQ(rest[i], i == 6 ? 1 : 0) << i;   // (2, 2) of the 4 x 4 shape
}

using UdCharges = UdTest;

TEST_F(UdCharges, StatedCharges)
{
    run("u = userdata('u8', 4096, 2) v = userdata('i64', 100) f = vec(1, 2, 3, 4)");
    EXPECT_EQ(cost(method("clear"), "u"), 8192 / 64);
    EXPECT_EQ(cost(method("clear"), "v"), 800 / 64);
    EXPECT_EQ(cost(lua54_get, "v"), 100 / 2);
    EXPECT_EQ(cost(lua54_get, "v", {10, 7}), 7 / 2);
    EXPECT_EQ(cost(method("peek"), "v", {0x40000}), 100 / 4);
    EXPECT_EQ(cost(method("poke"), "v", {0x40000, 60}), 40 / 4);
    EXPECT_EQ(cost(lua54_blit, "u", {}), 0);   // no destination: nothing copied
    lua_getglobal(L, "u");
    lua_setglobal(L, "u2");
    // 4096 x 2 onto itself one column right: backwards along the same rows
    lua_settop(L, 0);
    lua_pushcfunction(L, lua54_blit);
    lua_getglobal(L, "u");
    lua_getglobal(L, "u");
    for (int a : {0, 0, 1, 0})
        lua_pushinteger(L, a);
    int before = cpu_cycles;
    lua_call(L, 6, 0);
    EXPECT_EQ(cpu_cycles - before, 2 * (4095 + 64) * 4 / 64);
}

TEST_F(UdCharges, CreationFromText)
{
    auto charged = [&](const char *type, int64_t w, const char *data) {
        int before = cpu_cycles;
        EXPECT_NE(ud_create(L, type, 1, w, 1, data, data ? strlen(data) : 0), nullptr);
        lua_settop(L, 0);
        return cpu_cycles - before;
    };
    EXPECT_EQ(charged("u8", 4000, ""), 4000 * 8 / 32);
    EXPECT_EQ(charged("i64", 1000, "01"), 1000 * 64 / 32);
    EXPECT_EQ(charged("f64", 300, "1,2"), 300 * 64 / 32);
    EXPECT_EQ(charged("i16", 4000, nullptr), 0);   // no text, no charge
    int before = cpu_cycles;
    ASSERT_NE(ud_create(L, "[gfx]1010", 0, 0, 0, nullptr, 0), nullptr);
    EXPECT_EQ(cpu_cycles - before, 256 * 8 / 32);
}

}  // namespace
