// kod reader: documents, values, tables and the embedded blocks.
//
// Every read is bounded by the end of the text it was given; in text forms a
// 0 byte also ends the text (the 0-terminated view). Lua memory errors are
// caught by running the whole read under lua_pcall; host memory held by
// nested documents is recorded in the Reader and freed after that call.
#include "formats/kod.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <lz4.h>

#include "formats/base64.h"
#include "formats/kxu.h"
#include "host/log.h"
#include "lua.hpp"
#include "process/slice.h"
#include "userdata/userdata.h"

using namespace std::literals;

namespace {

struct Reader {
    lua_State *L;
    const char *text;
    const char *end;
    int64_t cpu;             // cycles owed, charged once at the end
    int tables;              // tables being read
    int docs;                // nested documents and wrappers being read
    void *owned[KOD_MAX_NESTED_DOCS + 1];   // decoded blocks being read
    int nowned;
};

// Header of a document: the metadata block, if any, and where the content
// starts.
struct Header {
    const char *meta;        // after "--[[", or null without a header
    const char *meta_end;    // just after the first ']' of "]]"
    const char *content;
    bool raw;                // kod_format="raw": the content is one string
};

// The byte at p, or 0 at the end of the text.
inline int at(const char *p, const char *end)
{
    return p < end ? (uint8_t)*p : 0;
}

inline bool starts(const char *p, const char *end, std::string_view lit)
{
    return (size_t)(end - p) >= lit.size() && memcmp(p, lit.data(), lit.size()) == 0;
}

inline uint32_t u32_at(const char *p)
{
    const uint8_t *b = (const uint8_t *)p;
    return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

inline bool is_letter(int c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline bool is_digit(int c)
{
    return c >= '0' && c <= '9';
}

// Host memory for one decoded block, freed by release() or, after a Lua
// error, by the caller of lua_pcall.
void *own(Reader *r, size_t n)
{
    void *p = malloc(n);
    if (p)
        r->owned[r->nowned++] = p;
    return p;
}

void release(Reader *r)
{
    free(r->owned[--r->nowned]);
}

// One kernel-wide area into which quoted strings are decoded before being
// copied into Lua once. Grows on demand up to KOD_MAX_STRING bytes.
char *str_area = nullptr;
size_t str_area_cap = 0;

bool reserve_str_area(size_t n)
{
    if (n <= str_area_cap)
        return true;
    size_t cap = str_area_cap ? str_area_cap * 2 : 4096;
    while (cap < n)
        cap *= 2;
    char *p = (char *)realloc(str_area, cap);
    if (!p)
        return false;
    str_area = p;
    str_area_cap = cap;
    return true;
}

const char *read_value(Reader *r, const char *p, const char *end);

bool find_header(const char *text, const char *end, Header *h)
{
    *h = {nullptr, nullptr, text, false};
    if (!starts(text, end, "--[[kod"sv))
        return true;
    for (const char *q = text + 7; q + 1 < end; q++) {
        if (q[0] == ']' && q[1] == ']') {
            h->meta = text + 4;
            h->meta_end = q + 1;
            h->content = q + 2 < end && q[2] == '\n' ? q + 3 : q + 2;
            h->raw = starts(text, end, "--[[kod_format=\"raw\""sv);
            return true;
        }
    }
    return false;   // a header that never closes
}

// A key starts at '[' or at an identifier, except where the text there is
// one of the words or markers that begin a value.
bool key_starts(const char *p, const char *end)
{
    int c = at(p, end);
    if (c == '[')
        return true;
    if (!is_letter(c) && c != '_')
        return false;
    switch (c) {
    case 'b': case 'f': case 'k': case 'l': case 'n': case 's': case 't': case 'u':
        break;   // the first letters of the words below
    default:
        return true;
    }
    if (starts(p, end, "b64:"sv) || starts(p, end, "lz4\0"sv) || starts(p, end, "kxu\0"sv) ||
        starts(p, end, "str\0"sv))
        return false;
    for (std::string_view word : {"nil"sv, "true"sv, "false"sv}) {
        if (starts(p, end, word)) {
            int d = at(p + word.size(), end);
            if (d == ',' || d == ']' || d == '}' || d < 33)
                return false;
        }
    }
    if (starts(p, end, "userdata"sv) && (at(p + 8, end) == '"' || at(p + 8, end) == '('))
        return false;
    if (starts(p, end, "unkod"sv) && (at(p + 5, end) == '(' || at(p + 5, end) == '"'))
        return false;
    return true;
}

// Sets t[key] = value from the two top slots; a nil or NaN key, which a
// table cannot hold, drops the pair.
void set_entry(lua_State *L, int t)
{
    bool bad = lua_isnil(L, -2);
    if (lua_type(L, -2) == LUA_TNUMBER && !lua_isinteger(L, -2)) {
        lua_Number k = lua_tonumber(L, -2);
        bad = k != k;
    }
    if (bad)
        lua_pop(L, 2);
    else
        lua_rawset(L, t);
}

const char *read_table(Reader *r, const char *p, const char *end)
{
    lua_State *L = r->L;
    if (r->tables >= KOD_MAX_DEPTH || !lua_checkstack(L, 8))
        return nullptr;
    int top = lua_gettop(L);
    lua_newtable(L);
    int t = top + 1;
    r->tables++;
    if (at(p, end) == '{')
        p++;
    lua_Integer next = 1;
    const char *done = nullptr;
    for (;;) {
        int c = at(p, end);
        if (c == 0)
            break;
        if (c == '}') {
            done = p + 1;
            break;
        }
        if (c == ']') {   // left for the caller: this ends a metadata block
            done = p;
            break;
        }
        if (key_starts(p, end)) {
            r->cpu++;
            if (c == '[') {
                const char *q = read_value(r, p + 1, end);
                if (!q || at(q, end) != ']')
                    break;
                p = q + 1;
            } else {
                const char *q = p;
                while (q < end && (is_letter(*q) || is_digit(*q) || *q == '_'))
                    q++;
                lua_pushlstring(L, p, (size_t)(q - p));
                p = q;
            }
            c = at(p, end);
            if (c == '=') {
                const char *q = read_value(r, p + 1, end);
                if (!q)
                    break;
                p = q;
            } else if (c == ',' || c == ']' || c == '}') {
                lua_pushnil(L);
            } else {
                break;
            }
            set_entry(L, t);
        } else {
            const char *q = read_value(r, p, end);
            if (!q)
                break;
            p = q;
            lua_rawseti(L, t, next++);
        }
        if (at(p, end) == ',') {
            p++;
            if (at(p, end) == 0)
                break;
        }
    }
    r->tables--;
    if (!done)
        lua_settop(L, top);
    return done;
}

const char *read_quoted(Reader *r, const char *p, const char *end)
{
    p++;   // the opening quote
    size_t n = 0;
    for (;;) {
        const char *s = p;
        while (p < end && *p != '"' && *p != '\\' && *p != 0)
            p++;
        size_t run = (size_t)(p - s);
        if (run) {
            if (n + run > (size_t)KOD_MAX_STRING || !reserve_str_area(n + run))
                return nullptr;
            memcpy(str_area + n, s, run);
            n += run;
        }
        int c = at(p, end);
        if (c == 0)
            return nullptr;   // the text ends inside the string
        if (c == '"') {
            p++;
            break;
        }
        int d = at(p + 1, end);
        uint8_t out;
        if (d == '"' || d == '\\') {
            out = (uint8_t)d;
            p += 2;
        } else if (d == 'n') {
            out = '\n';
            p += 2;
        } else if (is_digit(d)) {
            int v = 0, k = 0;
            for (p++; k < 3 && is_digit(at(p, end)); k++, p++)
                v = v * 10 + (*p - '0');
            out = (uint8_t)(v & 255);
        } else {
            out = 0;   // and the byte after the backslash is read as it is
            p++;
        }
        if (n + 1 > (size_t)KOD_MAX_STRING || !reserve_str_area(n + 1))
            return nullptr;
        str_area[n++] = (char)out;
    }
    r->cpu += (int64_t)(n / 4);
    lua_pushlstring(r->L, str_area, n);
    return p;
}

// The bytes a number is collected from: + - . 0-9 e _
inline bool is_number_byte(int c)
{
    return is_digit(c) || c == '+' || c == '-' || c == '.' || c == 'e' || c == '_';
}

// Pushes the two common forms without Lua's general conversion, to the same
// value it would give: a decimal integer of at most 18 digits (which cannot
// overflow), and a decimal float digits[.digits][e[+|-]digits], converted
// with correct rounding as strtod does. Returns false, pushing nothing, for
// any other text (and for floats out of range), which then goes through
// lua_stringtonumber.
bool push_plain_number(lua_State *L, const char *s, int n)
{
    int i = s[0] == '-' ? 1 : 0;
    int digits_start = i;
    lua_Integer v = 0;
    while (i < n && is_digit(s[i])) {
        if (i - digits_start < 18)   // v is used only up to 18 digits
            v = v * 10 + (s[i] - '0');
        i++;
    }
    int digits = i - digits_start;
    if (digits == 0)
        return false;
    if (i == n) {
        if (digits > 18)
            return false;
        lua_pushinteger(L, s[0] == '-' ? -v : v);
        return true;
    }
    if (s[i] == '.') {
        i++;
        while (i < n && is_digit(s[i]))
            i++;
    }
    if (i < n && s[i] == 'e') {
        i++;
        if (i < n && (s[i] == '+' || s[i] == '-'))
            i++;
        int exp_start = i;
        while (i < n && is_digit(s[i]))
            i++;
        if (i == exp_start)
            return false;
    }
    if (i != n)
        return false;
    double d;
    auto res = std::from_chars(s, s + n, d);
    if (res.ec != std::errc() || res.ptr != s + n)
        return false;
    lua_pushnumber(L, d);
    return true;
}

const char *read_number(Reader *r, const char *p, const char *end)
{
    char buf[48];
    int n = 0;
    while (n < 44 && p < end && is_number_byte((uint8_t)*p))
        buf[n++] = *p++;
    buf[n] = 0;
    if (n == 0)
        return nullptr;
    if (!push_plain_number(r->L, buf, n) && lua_stringtonumber(r->L, buf) == 0)
        return nullptr;
    return p;
}

const char *read_str_block(Reader *r, const char *p, const char *end)
{
    if (end - p < 8)
        return nullptr;
    uint32_t len = u32_at(p + 4);
    p += 8;
    if (len > (uint32_t)KOD_MAX_STR_BLOCK || len > (size_t)(end - p))
        return nullptr;
    r->cpu += len / 4;
    lua_pushlstring(r->L, p, len);
    return p + len;
}

bool read_nested(Reader *r, const char *text, const char *end);

const char *read_lz4_block(Reader *r, const char *p, const char *end)
{
    if (end - p < 12 || r->docs >= KOD_MAX_NESTED_DOCS)
        return nullptr;
    uint32_t c = u32_at(p + 4);
    uint32_t size = u32_at(p + 8);
    p += 12;
    // An LZ4 block expands at most about 255 times; a larger stated size is
    // corrupt and is refused before anything is allocated.
    if (c > (size_t)(end - p) || size > (uint64_t)KOD_MAX_TEXT || size > (uint64_t)c * 255 + 64)
        return nullptr;
    int cap = (int)size + 65536;
    char *out = (char *)own(r, (size_t)cap + 1);
    if (!out)
        return nullptr;
    int got = LZ4_decompress_safe(p, out, (int)c, cap);
    if (got != (int)size) {
        vemo_debug("reading corrupt lz4 value // sizes do not match: %d %d\n", got, (int)size);
        release(r);
        return nullptr;
    }
    out[size] = 0;
    r->cpu += size / 12;
    r->docs++;
    bool ok = read_nested(r, out, out + size);
    r->docs--;
    release(r);
    return ok ? p + c : nullptr;
}

const char *read_base64(Reader *r, const char *p, const char *end)
{
    if (r->docs >= KOD_MAX_NESTED_DOCS)
        return nullptr;
    const char *s = p + 4, *q = s;
    while (q < end && *q != '"' && *q != 0)
        q++;
    int64_t len = q - s;
    int64_t cap = len * 6 / 8 + 2;
    if (cap > KOD_MAX_TEXT)
        return nullptr;
    char *out = (char *)own(r, (size_t)cap + 1);
    if (!out)
        return nullptr;
    Base64DecodeState st;
    base64_init_decodestate(&st);
    int n = base64_decode_block(s, (int)len, out, &st);
    out[n] = 0;
    r->cpu += n / 12;
    r->docs++;
    bool ok = read_nested(r, out, out + n);
    r->docs--;
    release(r);
    return ok ? q : nullptr;
}

const char *read_wrapper(Reader *r, const char *p, const char *end)
{
    if (r->docs >= KOD_MAX_NESTED_DOCS)
        return nullptr;
    r->docs++;
    const char *q = read_value(r, p + 7, end);
    r->docs--;
    if (!q)
        return nullptr;
    if (at(q, end) == '"')
        q++;
    if (at(q, end) == ')')
        q++;
    return q;
}

const char *read_kxu(Reader *r, const char *p, const char *end)
{
    const char *q = get_binary_kxu(r->L, p, (size_t)(end - p));
    if (!q)
        return nullptr;
    const Userdata *u = (const Userdata *)lua_touserdata(r->L, -1);
    r->cpu += ud_count(u) * (1 << ((u->type & UD_TYPE_MASK) % 8)) / 32;
    return q;
}

// A width or height between two commas of userdata text.
bool parse_size(const char *s, const char *e, int64_t *out)
{
    char buf[32];
    size_t n = (size_t)(e - s);
    if (n == 0 || n >= sizeof buf)
        return false;
    memcpy(buf, s, n);
    buf[n] = 0;
    char *stop;
    *out = strtoll(buf, &stop, 10);
    return stop != buf;
}

// userdata("type",w,"payload") or userdata("type",w,h,"payload"); also the
// legacy userdata("[gfx]...") whose type name carries the whole picture.
const char *read_userdata(Reader *r, const char *p, const char *end)
{
    lua_State *L = r->L;
    p += 8;
    if (at(p, end) != '(')
        return nullptr;
    p++;
    if (at(p, end) == '"')
        p++;
    const char *name = p;
    while (p < end && *p != '"' && *p != 0)
        p++;
    if (at(p, end) != '"')
        return nullptr;
    size_t name_len = (size_t)(p - name);
    p++;
    lua_pushlstring(L, name, name_len);   // the constructor wants it 0-terminated
    const char *type = lua_tostring(L, -1);
    bool legacy = name_len >= 5 && (memcmp(name, "[gfx]", 5) == 0 || memcmp(name, "[map]", 5) == 0);
    if (legacy && at(p, end) != ',') {
        if (!ud_create(L, type, 2, 0, 0, nullptr, 0)) {
            lua_pop(L, 1);
            return nullptr;
        }
        lua_remove(L, -2);
        return at(p, end) == ')' ? p + 1 : p;
    }
    const char *commas[4];
    int ncommas = 0;
    const char *q = p;
    for (; q < end && *q != '"' && *q != 0; q++)
        if (*q == ',' && ncommas < 4)
            commas[ncommas++] = q;
    int64_t width = 0, height = 1;
    bool ok = at(q, end) == '"' && (ncommas == 2 || ncommas == 3) &&
              parse_size(commas[0] + 1, commas[1], &width) &&
              (ncommas == 2 || parse_size(commas[1] + 1, commas[2], &height));
    const char *data = q + 1, *data_end = data;
    if (ok) {
        while (data_end < end && *data_end != '"' && *data_end != 0)
            data_end++;
        ok = at(data_end, end) == '"';
    }
    if (!ok || !ud_create(L, type, ncommas - 1, width, height, data, (size_t)(data_end - data))) {
        lua_pop(L, 1);
        return nullptr;
    }
    lua_remove(L, -2);
    p = data_end + 1;
    return at(p, end) == ')' ? p + 1 : p;
}

// Pushes one value and returns the position after it; on failure pushes
// nothing and returns null.
const char *read_value(Reader *r, const char *p, const char *end)
{
    while (p < end && (uint8_t)*p >= 1 && (uint8_t)*p <= 32)
        p++;
    int c = at(p, end);
    if (c == 0 || !lua_checkstack(r->L, 4))
        return nullptr;
    r->cpu++;
    if (c == '{')
        return read_table(r, p, end);
    if (c == '"')
        return read_quoted(r, p, end);
    if (is_digit(c) || c == '-')   // none of the words below starts so
        return read_number(r, p, end);
    if (starts(p, end, "nil"sv)) {
        lua_pushnil(r->L);
        return p + 3;
    }
    if (starts(p, end, "true"sv)) {
        lua_pushboolean(r->L, 1);
        return p + 4;
    }
    if (starts(p, end, "false"sv)) {
        lua_pushboolean(r->L, 0);
        return p + 5;
    }
    if (starts(p, end, "b64:"sv))
        return read_base64(r, p, end);
    if (starts(p, end, "lz4\0"sv))
        return read_lz4_block(r, p, end);
    if (starts(p, end, "kxu\0"sv))
        return read_kxu(r, p, end);
    if (starts(p, end, "str\0"sv))
        return read_str_block(r, p, end);
    if (starts(p, end, "userdata"sv))
        return read_userdata(r, p, end);
    if (starts(p, end, "unkod(\""sv))
        return read_wrapper(r, p, end);
    return read_number(r, p, end);
}

// The content of a document: "str" alone, nothing (or a control byte first)
// for nil, else one value.
bool read_content(Reader *r, const char *content, const char *end)
{
    if (end - content == 3 && starts(content, end, "str"sv)) {
        lua_pushliteral(r->L, "str");
        return true;
    }
    if (content >= end || (uint8_t)*content < 32) {
        lua_pushnil(r->L);
        return true;
    }
    return read_value(r, content, end) != nullptr;
}

// A document decoded from an lz4 block or base64 payload: its metadata
// block, if any, is skipped.
bool read_nested(Reader *r, const char *text, const char *end)
{
    Header h;
    if (!find_header(text, end, &h))
        return false;
    if (h.raw) {
        lua_pushlstring(r->L, h.content, (size_t)(end - h.content));
        return true;
    }
    return read_content(r, h.content, end);
}

// Pushes the metadata table; on failure reports it and pushes nothing.
int read_metadata(Reader *r, const Header &h)
{
    if (read_table(r, h.meta, h.meta_end))
        return 1;
    printf("bad metadata format; ignoring %.*s\n", (int)(h.meta_end - 1 - h.meta), h.meta);
    return 0;
}

int read_document(lua_State *L)
{
    Reader *r = (Reader *)lua_touserdata(L, 1);
    lua_pop(L, 1);
    Header h;
    if (!find_header(r->text, r->end, &h))
        return 0;
    if (h.raw) {
        lua_pushlstring(L, h.content, (size_t)(r->end - h.content));
    } else if (!read_content(r, h.content, r->end)) {
        return 0;
    }
    return h.meta ? 1 + read_metadata(r, h) : 1;
}

int read_metadata_only(lua_State *L)
{
    Reader *r = (Reader *)lua_touserdata(L, 1);
    lua_pop(L, 1);
    Header h;
    if (!find_header(r->text, r->end, &h) || !h.meta || !read_metadata(r, h))
        lua_newtable(L);
    return 1;
}

// Runs fn under lua_pcall; returns the number of values it left, or 0 with
// the stack as it was when a Lua error (out of memory) stopped it.
int run_reader(lua_State *L, lua_CFunction fn, const char *text, size_t length)
{
    if (!text || !lua_checkstack(L, 8))
        return 0;
    Reader r;
    memset(&r, 0, sizeof r);
    r.L = L;
    r.text = text;
    r.end = text + length;
    int top = lua_gettop(L);
    lua_pushcfunction(L, fn);
    lua_pushlightuserdata(L, &r);
    int status = lua_pcall(L, 1, LUA_MULTRET, 0);
    while (r.nowned > 0)
        release(&r);
    spend_cpu(r.cpu);
    if (status != LUA_OK) {
        lua_settop(L, top);
        return 0;
    }
    return lua_gettop(L) - top;
}

}  // namespace

int destringify_object(lua_State *L, const char *text, size_t length)
{
    return run_reader(L, read_document, text, length);
}

int destringify_object_metadata(lua_State *L, const char *text, size_t length)
{
    if (run_reader(L, read_metadata_only, text, length) == 1)
        return 1;
    lua_newtable(L);   // only when even that could not be done
    return 1;
}

int destringify_object_metadata(lua_State *L, const char *text)
{
    return destringify_object_metadata(L, text, text ? strlen(text) : 0);
}
