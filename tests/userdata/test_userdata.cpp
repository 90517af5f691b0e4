// The typed-array object: element types, creation forms and limits, data
// strings and literals, indexing, and recognition of kernel blocks.
#include <cstring>

#include "ud_fixture.h"

namespace {

TEST(UdTypes, NamesSizesAndParsing)
{
    EXPECT_STREQ(ud_type_name(UD_U8), "u8");
    EXPECT_STREQ(ud_type_name(UD_I16), "i16");
    EXPECT_STREQ(ud_type_name(UD_F64 | 0x20), "f64");   // masked to five bits
    EXPECT_STREQ(ud_type_name(4), "?");
    EXPECT_STREQ(ud_type_name(23), "?");
    EXPECT_EQ(ud_elem_size(UD_U8), 1);
    EXPECT_EQ(ud_elem_size(UD_I16), 2);
    EXPECT_EQ(ud_elem_size(UD_I32), 4);
    EXPECT_EQ(ud_elem_size(UD_I64), 8);
    EXPECT_EQ(ud_elem_size(UD_F64), 8);
    // by the first two characters, in order: '3', '1', 'f', 'i', else u8
    EXPECT_EQ(ud_parse_type("i32"), UD_I32);
    EXPECT_EQ(ud_parse_type("f32"), UD_I32);
    EXPECT_EQ(ud_parse_type("u16"), UD_I16);
    EXPECT_EQ(ud_parse_type("float"), UD_F64);
    EXPECT_EQ(ud_parse_type("int"), UD_I64);
    EXPECT_EQ(ud_parse_type("i"), UD_I64);
    EXPECT_EQ(ud_parse_type("u64"), UD_U8);
    EXPECT_EQ(ud_parse_type(""), UD_U8);
    EXPECT_EQ(ud_parse_type(nullptr), UD_U8);
}

using UdCreate = UdTest;

TEST_F(UdCreate, SizeLimits)
{
    EXPECT_EQ(run("return userdata('u8', 0)"), "none");
    EXPECT_EQ(run("return userdata('i16', 4, -1)"), "none");
    EXPECT_EQ(run("return userdata('u8')"), "none");   // width defaults to -1
    EXPECT_EQ(run("return #userdata('u8', 0x1000000)"), "16777216");
    EXPECT_EQ(run("return userdata('u8', 0x1000001)"), "none");
    EXPECT_EQ(run("return #userdata('f64', 0x200000)"), "2097152");
    EXPECT_EQ(run("return userdata('f64', 0x200001)"), "none");
    EXPECT_EQ(run("return userdata('i32', 0x1000, 0x401)"), "none");
    // products that overflow 32 or 64 bits are refused, not wrapped
    EXPECT_EQ(run("return userdata('u8', 0x10000, 0x10000)"), "none");
    EXPECT_EQ(run("return userdata('i64', 0x100000000, 1)"), "none");
    EXPECT_EQ(run("return userdata('i64', 1, 0x100000001)"), "none");
    EXPECT_EQ(run("return userdata('u8', math.maxinteger, math.maxinteger)"), "none");
    EXPECT_EQ(ud_new(L, UD_U8, 3, 4, 4), nullptr);   // dims must be 1 or 2
    EXPECT_EQ(ud_new(L, 5, 1, 4, 1), nullptr);       // not an element type
    EXPECT_EQ(lua_gettop(L), 0);
}

TEST_F(UdCreate, ArgumentForms)
{
    EXPECT_EQ(run("return userdata('i16', 5):attribs()"), "5,1,i16,1");
    EXPECT_EQ(run("return userdata('i32', 4, 3):attribs()"), "4,3,i32,2");
    EXPECT_EQ(run("return userdata('x3', 4, 1):attribs()"), "4,1,i32,2");
    EXPECT_EQ(run("return userdata(nil, 2.9):attribs()"), "2,1,u8,1");
    // a string third argument is data, not a height
    EXPECT_EQ(run("return userdata('u8', 4, '0102'):attribs()"), "4,1,u8,1");
    EXPECT_EQ(run("return userdata('u8', 2, 2, '01020304'):get(1, 1)"), "4");
    // a number fourth argument is no data string: three size arguments
    EXPECT_EQ(run("return userdata('u8', 2, 3, 9):attribs()"), "2,3,u8,2");
    EXPECT_EQ(run("return userdata('u8', 2, nil, '01')"), "none");   // height -1
    // elements start at zero
    EXPECT_EQ(run("local u = userdata('i64', 3) return u[0], u[1], u[2]"), "0,0,0");
}

TEST_F(UdCreate, HexDataStrings)
{
    EXPECT_EQ(run("return userdata('i32', 3, 'hex:0000000affffffff'):get()"), "10,-1,0");
    EXPECT_EQ(run("return userdata('i32', 3, 'hex:0000000AFFFFFFFF'):get()"), "10,-1,0");
    EXPECT_EQ(run("return userdata('i16', 2, '8000ff7f'):get()"), "-32768,-129");
    EXPECT_EQ(run("return userdata('i64', 2, 'ffffffffffffffff7fffffffffffffff'):get()"),
              "-1,9223372036854775807");
    // u8 zero-extends; a non-hex character counts as 0; an element the text
    // does not complete stays 0
    EXPECT_EQ(run("return userdata('u8', 4, 'ffz10g1'):get()"), "255,1,0,0");
    // text beyond the elements is ignored
    EXPECT_EQ(run("return userdata('u8', 1, '0102'):get()"), "1");
    // a 0 byte ends the text
    EXPECT_EQ(run("return userdata('u8', 3, '01\\0' .. '0202'):get()"), "1,0,0");
}

TEST_F(UdCreate, F64DataStrings)
{
    EXPECT_EQ(run("return userdata('f64', 3, '1.5,2'):get()"), "1.5,2.0,0.0");
    EXPECT_EQ(run("return userdata('f64', 3, 'hex:-1e3, 0x10,7'):get()"), "-1000.0,16.0,7.0");
    // junk after a number is skipped up to the next ','
    EXPECT_EQ(run("return userdata('f64', 3, '1abc,x,3'):get()"), "1.0,0.0,3.0");
    // the text ends at '\"' or ')'
    EXPECT_EQ(run("return userdata('f64', 3, '4,5)6')['z']"), "0.0");
    EXPECT_EQ(run("return userdata('f64', 3, '4\"5,6'):get()"), "4.0,0.0,0.0");
    EXPECT_EQ(run("return userdata('f64', 2, ',9'):get()"), "0.0,9.0");
    EXPECT_EQ(run("return userdata('f64', 2, 2, '1,2,3,4'):get(1, 1)"), "4.0");
}

TEST_F(UdCreate, DataIsReadOnlyWithinItsLength)
{
    // no terminator after the given length: nothing past it is read
    const char text[] = "0102030405";
    Userdata *u = ud_create(L, "u8", 1, 5, 1, text, 4);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(ud_data(u)[1], 2);
    EXPECT_EQ(ud_data(u)[2], 0);
    const char num[] = "1.25,2.5";
    u = ud_create(L, "f64", 1, 2, 1, num, 3);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(ud_get_f64(u, 0), 1.2);
    EXPECT_EQ(ud_get_f64(u, 1), 0.0);
    // dims other than 1 and 2 create nothing
    EXPECT_EQ(ud_create(L, "u8", 0, 4, 1, nullptr, 0), nullptr);
    EXPECT_EQ(lua_gettop(L), 2);
}

TEST_F(UdCreate, PictureAndMapLiterals)
{
    // width 2, height 3; digits 0-9 a-z A-Z _ - give 0..63, others 0
    EXPECT_EQ(run("return userdata('[gfx]0203' .. '0aZ_-.'):get()"), "0,10,61,62,63,0");
    EXPECT_EQ(run("return userdata('[gfx]0203'):attribs()"), "2,3,u8,2");
    // filling stops at the end of the text or of the pixels
    EXPECT_EQ(run("return userdata('[gfx]0201' .. '123'):get()"), "1,2");
    EXPECT_EQ(run("return userdata('[gfx]0201' .. '1'):get()"), "1,0");
    // hex size digits in either case; sizes ignore the other arguments
    EXPECT_EQ(run("return userdata('[gfx]0A01', 3, 3):attribs()"), "10,1,u8,2");
    EXPECT_EQ(run("return userdata('[gfx]0001')"), "none");
    EXPECT_EQ(run("return userdata('[gfx]0g01')"), "none");   // g counts as 0
    EXPECT_EQ(run("return userdata('[map]0201' .. 'ffff7fff'):get()"), "-1,32767");
    EXPECT_EQ(run("return userdata('[map]0201' .. '0102'):attribs()"), "2,1,i16,2");
    EXPECT_EQ(run("return userdata('[map]0201' .. '01020'):get()"), "258,0");
    // shorter than 9 characters: an ordinary (u8) type name
    EXPECT_EQ(run("return userdata('[gfx]020', 3):attribs()"), "3,1,u8,1");
}

TEST_F(UdCreate, VecAndMetatable)
{
    EXPECT_EQ(run("return vec(1, '2', {}, 2.5):get()"), "1.0,2.0,0.0,2.5");
    EXPECT_EQ(run("return vec(1, 2):attribs()"), "2,1,f64,1");
    EXPECT_EQ(run("return vec()"), "none");
    EXPECT_EQ(run("return vec({}, 1)"), "none");
    EXPECT_EQ(run("return getmetatable(vec(1)) == USERDATA"), "true");
    // created while USERDATA is not a table: no metatable, still a typed array
    EXPECT_EQ(run("local m = USERDATA USERDATA = nil local u = userdata('u8', 2) USERDATA = m "
                  "set(u, 1, 7) return getmetatable(u), get(u, 1)"),
              "nil,7");
}

using UdIndex = UdTest;

TEST_F(UdIndex, ReadingKeys)
{
    EXPECT_EQ(run("return vec(1, 2, 3).z"), "3.0");
    EXPECT_EQ(run("return vec(0, 1, 2, 3, 4, 5, 6, 7).t"), "6.0");
    EXPECT_EQ(run("return vec(1, 2, 3).t"), "nil");   // beyond the data
    EXPECT_EQ(run("return vec(1, 2, 3).q"), "nil");
    EXPECT_EQ(run("return vec(5, 6)[1.5]"), "5.0");   // not integral: index 0
    EXPECT_EQ(run("return vec(5, 6)[1.0], vec(5, 6)[-1], vec(5, 6)[2]"), "6.0,nil,nil");
    EXPECT_EQ(run("return vec(5, 6)['1'], vec(5, 6)[true]"), "nil,nil");
    EXPECT_EQ(run("return userdata('i16', 2, 'ff80')[0]"), "-128");
    EXPECT_EQ(run("return userdata('u8', 2, 'ff80')[0]"), "255");
    // longer names are the metatable's entries
    EXPECT_EQ(run("local u = userdata('u8', 3) return u.width == USERDATA.width, u.nothing"), "true,nil");
    EXPECT_EQ(run("USERDATA.extra = 42 return userdata('u8', 1).extra"), "42");
}

TEST_F(UdIndex, WritingKeysAndValues)
{
    EXPECT_EQ(run("local u = vec(0, 0, 0) u[1.5] = 9 return u:get()"), "0.0,9.0,0.0");
    EXPECT_EQ(run("local u = userdata('u8', 2) u[0] = 300 u[1] = -1 return u:get()"), "44,255");
    EXPECT_EQ(run("local u = userdata('i16', 2) u.x = 70000 u.y = -32769 return u:get()"), "4464,32767");
    EXPECT_EQ(run("local u = userdata('i32', 2) u[0] = 2.9 u[1] = '-2.5' return u:get()"), "2,-3");
    EXPECT_EQ(run("local u = userdata('i64', 1) u[0] = {} return u[0]"), "0");
    EXPECT_EQ(run("local u = vec(1, 1) u[0] = '0.5' u[1] = 'x' return u:get()"), "0.5,0.0");
    // outside the data, negative keys, other key types and names change nothing
    EXPECT_EQ(run("local u = userdata('u8', 2) u[2] = 1 u[-1] = 1 u[true] = 1 u.q = 1 "
                  "u.width = 5 return u:get(), u:width()"),
              "0,2");
    EXPECT_EQ(run("local u = userdata('i64', 1) u[0] = 2^70 return u[0] == math.maxinteger"), "true");
}

using UdRecognition = UdTest;

// A block of another subsystem, shaped like a typed array's header.
int foreign_block(lua_State *L)
{
    Userdata *u = (Userdata *)lua_newuserdatauv(L, 64, 1);
    memset(u, 0, 64);
    u->type = UD_U8;
    u->dims = 1;
    u->width = 1000000;   // would reach far beyond its 64 bytes
    u->height = 1;
    return 1;
}

TEST_F(UdRecognition, ForeignBlocksAreNeverTypedArrays)
{
    lua_register(L, "foreign", foreign_block);
    // even with the metatable (and the right shape) no entry accepts it
    EXPECT_EQ(run("local f = foreign() debug.setmetatable(f, USERDATA) local n = 0 "
                  "for k, fn in pairs(USERDATA) do n = n + select('#', fn(f, 999999, 0, 1)) end "
                  "return n, select('#', _map_ram(f, 0x20000)), select('#', get(f))"),
              "0,0,0");
    EXPECT_EQ(run("local n = 0 for k, fn in pairs(USERDATA) do n = n + select('#', fn(5)) end return n"),
              "0");

    // a copy of a genuine header in a block too short for its data
    Userdata *real = ud_new(L, UD_U8, 1, 100, 1);
    auto *copy = (Userdata *)lua_newuserdatauv(L, sizeof(Userdata) + 8, 0);
    memcpy(copy, real, sizeof(Userdata));
    EXPECT_NE(ud_check(L, -2), nullptr);
    EXPECT_EQ(ud_check(L, -1), nullptr);
    lua_pushlightuserdata(L, real);
    EXPECT_EQ(ud_check(L, -1), nullptr);
    lua_settop(L, 0);
}

}  // namespace
