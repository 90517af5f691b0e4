// kod writer and the Lua functions kod / unkod.
//
// The writer never runs Lua code: tables are walked with lua_next and read
// with lua_rawget / lua_rawgeti, and nothing is allocated in the Lua state
// (so no garbage-collection step, and no finalizer, can run in between).
// Keys to be sorted are kept on the Lua stack, which keeps them alive.
#include "formats/kod.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <lz4.h>
#include <lz4hc.h>

#include "formats/base64.h"
#include "formats/buffer.h"
#include "formats/kxu.h"
#include "lua.hpp"
#include "process/api.h"
#include "process/slice.h"
#include "userdata/userdata.h"

const char *kod_error_text(int err)
{
    switch (err) {
    case KOD_OK: return "";
    case KOD_ERR_CYCLE: return "kod: cyclic table";
    case KOD_ERR_DEPTH: return "kod: tables nested too deeply";
    case KOD_ERR_TOO_LARGE: return "kod: value too large";
    default: return "kod: out of memory";
    }
}

namespace {

int fail(KodWriter *w, int err)
{
    if (!w->error)
        w->error = err;
    return w->error;
}

// Output so far must stay within KOD_MAX_TEXT: that bounds the time spent on
// values that share subtables many times over, and keeps every output
// readable by the reader.
bool check_size(KodWriter *w)
{
    if ((int64_t)w->b->len - w->start > KOD_MAX_TEXT)
        fail(w, KOD_ERR_TOO_LARGE);
    return !w->error;
}

void put(KodWriter *w, const void *p, int64_t n)
{
    if (w->error)
        return;
    Buffer *b = w->b;
    if ((int64_t)b->len - w->start + n > KOD_MAX_TEXT) {
        fail(w, KOD_ERR_TOO_LARGE);
        return;
    }
    // Most writes are a few bytes into storage that already has room (and
    // the spare terminator byte): copied here without the buffer's checks.
    if ((int64_t)b->len + n < b->size) {
        memcpy(b->data + b->len, p, (size_t)n);
        b->len += (int32_t)n;
        b->pos = b->len;
        return;
    }
    b->pos = b->len;
    if (bwrite(p, 1, (int)n, b) != (int)n)
        fail(w, KOD_ERR_MEMORY);
}

void put_str(KodWriter *w, const char *s)
{
    put(w, s, (int64_t)strlen(s));
}

void put_u32(KodWriter *w, uint32_t v)
{
    uint8_t le[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
    put(w, le, 4);
}

// The "%.*g" text of a finite number given its shortest exact decimal
// digits (1 to prec of them, the first not 0 unless the number is 0) and
// decimal exponent. With no more digits than the precision, rounding to
// the precision gives those same digits, so printf's rules apply to them
// directly: fixed notation when -4 <= exp < prec, else d.ddde+XX, trailing
// zeros and a bare point dropped. Returns the length written.
size_t format_g_digits(char *out, bool neg, const char *digits, int k, int exp, int prec)
{
    char *p = out;
    if (neg)
        *p++ = '-';
    if (exp < -4 || exp >= prec) {
        *p++ = digits[0];
        if (k > 1) {
            *p++ = '.';
            memcpy(p, digits + 1, (size_t)k - 1);
            p += k - 1;
        }
        *p++ = 'e';
        *p++ = exp < 0 ? '-' : '+';
        int e = exp < 0 ? -exp : exp;
        if (e >= 100)
            *p++ = (char)('0' + e / 100);
        *p++ = (char)('0' + e / 10 % 10);
        *p++ = (char)('0' + e % 10);
    } else if (exp < 0) {
        *p++ = '0';
        *p++ = '.';
        for (int i = -1; i > exp; i--)
            *p++ = '0';
        memcpy(p, digits, (size_t)k);
        p += k;
    } else {
        int whole = exp + 1;   // digits before the point
        for (int i = 0; i < whole; i++)
            *p++ = i < k ? digits[i] : '0';
        if (k > whole) {
            *p++ = '.';
            memcpy(p, digits + whole, (size_t)(k - whole));
            p += k - whole;
        }
    }
    *p = 0;
    return (size_t)(p - out);
}

// Lua's float text ("%.14g"), except that when those 14 digits do not read
// back as the same number the shortest longer form that does is used, so
// that no float changes value on its way through kod. Writes a terminated
// text of at most 24 bytes (cap must allow that) and returns its length.
//
// Both come from the shortest exact form (std::to_chars): with 14 digits or
// fewer that form is what "%.14g" shows (the 14-digit grid is far coarser
// than the spacing of normal doubles), written out by format_g_digits;
// subnormal numbers, whose spacing is coarse, and longer forms
// take std::to_chars with a precision, which gives printf's "%.*g" text,
// from that many digits up, until one reads back as the same number.
size_t format_float(char *buf, size_t cap, double v)
{
    char sci[40];
    auto sr = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific);
    const char *q = sci;
    bool neg = *q == '-';
    q += neg;
    char digits[24];
    int k = 0;
    for (; q < sr.ptr && *q != 'e'; q++)
        if (*q >= '0' && *q <= '9' && k < (int)sizeof digits)
            digits[k++] = *q;
    if ((std::isnormal(v) || v == 0) && k <= 14 && q < sr.ptr) {
        int exp = 0;
        std::from_chars(q + 1 + (q[1] == '+'), sr.ptr, exp);
        return format_g_digits(buf, neg, digits, k, exp, 14);
    }
    size_t n = 0;
    for (int prec = std::max(k, 14); prec <= 17; prec++) {
        auto r = std::to_chars(buf, buf + cap - 1, v, std::chars_format::general, prec);
        n = (size_t)(r.ptr - buf);
        buf[n] = 0;
        if (!std::isfinite(v))
            break;
        double back;
        auto in = std::from_chars(buf, r.ptr, back);
        if (in.ec == std::errc() && back == v)
            break;
    }
    return n;
}

// The text of the number at idx as Lua's conversion gives it (integral floats
// end in ".0"), without that ".0" when `strip`. Infinities are written as
// 1e999 / -1e999, which read back as themselves. Returns the length of the
// text, or -1 for NaN, which has no text the reader accepts.
int number_text(lua_State *L, int idx, char *buf, size_t cap, bool strip)
{
    if (lua_isinteger(L, idx)) {
        auto r = std::to_chars(buf, buf + cap - 1, (long long)lua_tointeger(L, idx));
        *r.ptr = 0;
        return (int)(r.ptr - buf);
    }
    double v = (double)lua_tonumber(L, idx);
    if (std::isnan(v))
        return -1;
    if (std::isinf(v)) {
        snprintf(buf, cap, "%s", v < 0 ? "-1e999" : "1e999");
        return (int)strlen(buf);
    }
    size_t n = format_float(buf, cap, v);
    if (buf[strspn(buf, "-0123456789")] == 0 && n + 2 < cap) {
        memcpy(buf + n, ".0", 3);
        n += 2;
    }
    if (strip && n >= 3 && buf[n - 2] == '.' && buf[n - 1] == '0') {
        n -= 2;
        buf[n] = 0;
    }
    return (int)n;
}

void write_number(KodWriter *w, int idx)
{
    char buf[64];
    int n = number_text(w->L, idx, buf, sizeof buf, true);
    if (n < 0)
        put(w, "nil", 3);
    else
        put(w, buf, n);
}

void write_quoted(KodWriter *w, const char *s, size_t len)
{
    put(w, "\"", 1);
    if (len > 0 && !w->error) {
        if (bwrite_escaped_string(s, w->b, (int)len) < 0)
            fail(w, KOD_ERR_MEMORY);
        check_size(w);
    }
    put(w, "\"", 1);
}

void write_string(KodWriter *w, int idx)
{
    size_t len;
    const char *s = lua_tolstring(w->L, idx, &len);
    w->cpu += (int64_t)(len / 4);
    if (w->flags & KOD_STR_BLOCKS) {
        // longer blocks are refused by the reader
        if (len > (size_t)KOD_MAX_STR_BLOCK) {
            fail(w, KOD_ERR_TOO_LARGE);
            return;
        }
        put(w, "str\0", 4);
        put_u32(w, (uint32_t)len);
        put(w, s, (int64_t)len);
    } else {
        if (len > (size_t)KOD_MAX_STRING) {
            fail(w, KOD_ERR_TOO_LARGE);
            return;
        }
        write_quoted(w, s, len);
    }
}

// Element payload of userdata text: fixed-width lower-case hex per element,
// or for f64 the numbers separated by ','. Built in chunks on the C stack.
void write_payload(KodWriter *w, const Userdata *u)
{
    static const char digits[] = "0123456789abcdef";
    int type = u->type & UD_TYPE_MASK;
    int es = ud_elem_size(type);
    int64_t n = ud_count(u);
    const uint8_t *d = ud_data(u);
    char chunk[4096 + 64];
    size_t used = 0;
    for (int64_t i = 0; i < n && !w->error; i++) {
        if (type == UD_F64) {
            double v;
            memcpy(&v, d + i * 8, 8);
            if (i > 0)
                chunk[used++] = ',';
            used += format_float(chunk + used, 40, v);
        } else {
            uint64_t v = 0;
            memcpy(&v, d + i * es, (size_t)es);   // little-endian host
            for (int k = es * 2 - 1; k >= 0; k--)
                chunk[used++] = digits[(v >> (k * 4)) & 15];
        }
        if (used >= 4096) {
            put(w, chunk, (int64_t)used);
            used = 0;
        }
    }
    put(w, chunk, (int64_t)used);
}

void write_userdata(KodWriter *w, int idx)
{
    Userdata *u = ud_check(w->L, idx);
    if (!u) {
        put_str(w, "nil");   // foreign userdata has no kod form
        return;
    }
    int type = u->type & UD_TYPE_MASK;
    w->cpu += ud_count(u) * (1 << (type % 8)) / 32;
    if ((w->flags & KOD_KXU) && (type == UD_U8 || type == UD_I16)) {
        int mode = type == UD_I16 ? KXU_MODE_RLE : (w->flags & KOD_KXU_RAW) ? KXU_MODE_RAW : KXU_MODE_MTF;
        w->b->pos = w->b->len;
        if (write_binary_kxu(u, w->b, KXU_MTF_BITS, mode) < 0)
            fail(w, KOD_ERR_MEMORY);
        check_size(w);
        return;
    }
    char head[96];
    if (u->dims == 1)
        snprintf(head, sizeof head, "userdata(\"%s\",%d,\"", ud_type_name(type), (int)u->width);
    else
        snprintf(head, sizeof head, "userdata(\"%s\",%d,%d,\"", ud_type_name(type), (int)u->width,
                 (int)u->height);
    put_str(w, head);
    write_payload(w, u);
    put(w, "\")", 2);
}

bool is_ident_char(char c, bool first)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || (!first && c >= '0' && c <= '9');
}

// An ASCII identifier (reserved words included) is written as a bare key.
bool is_identifier(const char *s, size_t len)
{
    if (len == 0)
        return false;
    for (size_t i = 0; i < len; i++)
        if (!is_ident_char(s[i], i == 0))
            return false;
    return true;
}

void write_key(KodWriter *w, int idx)
{
    if (lua_type(w->L, idx) == LUA_TSTRING) {
        size_t len;
        const char *s = lua_tolstring(w->L, idx, &len);
        if (is_identifier(s, len)) {
            put(w, s, (int64_t)len);
            return;
        }
        if (len > (size_t)KOD_MAX_STRING) {
            fail(w, KOD_ERR_TOO_LARGE);
            return;
        }
        w->cpu += (int64_t)(len / 4);
        put(w, "[", 1);
        write_quoted(w, s, len);
        put(w, "]", 1);
        return;
    }
    char buf[64];
    int n = number_text(w->L, idx, buf, sizeof buf, false);   // keys are never NaN
    put(w, "[", 1);
    put(w, buf, std::max(n, 0));
    put(w, "]", 1);
}

// Pushes every key that is not part of the sequence 1..n onto the stack
// (strings and numbers only: other keys are dropped with their values).
// Returns false when the stack cannot grow.
bool collect_keys(lua_State *L, int t, lua_Unsigned n)
{
    lua_pushnil(L);
    while (lua_next(L, t)) {
        lua_pop(L, 1);
        int kt = lua_type(L, -1);
        bool keep = kt == LUA_TSTRING;
        if (kt == LUA_TNUMBER) {
            lua_Integer k = lua_tointeger(L, -1);
            keep = !lua_isinteger(L, -1) || k < 1 || (lua_Unsigned)k > n;
        }
        if (!keep)
            continue;
        if (!lua_checkstack(L, 3))
            return false;
        lua_pushvalue(L, -1);
        lua_insert(L, -2);   // the copy stays below the iteration key
    }
    return true;
}

// A key to be sorted: its stack slot, its type, and for a string its bytes.
struct SortKey {
    int idx;
    int type;
    const char *s;
    size_t len;
};

// The keys of the tables being written, each table's after its parent's
// (the parent's stay in place while its values are written). Kernel-wide
// scratch like the other areas of the writer.
std::vector<SortKey> sort_keys;

// True when Lua's string '<' is plain byte order (the C collation, which the
// kernel never changes): string keys are then sorted with memcmp instead of
// through lua_compare and strcoll, with the same result.
bool bytewise_strings = false;

bool key_less(lua_State *L, const SortKey &a, const SortKey &b)
{
    if (a.type != b.type)
        return a.type > b.type;   // string keys (type 4) before numeric keys (type 3)
    if (a.s && b.s && bytewise_strings) {
        int c = memcmp(a.s, b.s, std::min(a.len, b.len));
        return c != 0 ? c < 0 : a.len < b.len;
    }
    return lua_compare(L, a.idx, b.idx, LUA_OPLT) != 0;
}

void write_table(KodWriter *w, int t, int depth)
{
    lua_State *L = w->L;
    const void *self = lua_topointer(L, t);
    if (depth >= KOD_MAX_DEPTH) {
        fail(w, KOD_ERR_DEPTH);
        return;
    }
    for (int i = 0; i < depth; i++)
        if (w->path[i] == self) {
            fail(w, KOD_ERR_CYCLE);
            return;
        }
    if (!lua_checkstack(L, 8)) {
        fail(w, KOD_ERR_MEMORY);
        return;
    }
    w->path[depth] = self;
    int base = lua_gettop(L);
    lua_Unsigned n = lua_rawlen(L, t);
    if (!collect_keys(L, t, n)) {
        lua_settop(L, base);
        fail(w, KOD_ERR_MEMORY);
        return;
    }
    // string keys before numeric keys; each kind by Lua's <
    size_t kbase = sort_keys.size();
    for (int i = base + 1; i <= lua_gettop(L); i++) {
        SortKey k = {i, lua_type(L, i), nullptr, 0};
        if (k.type == LUA_TSTRING)
            k.s = lua_tolstring(L, i, &k.len);
        sort_keys.push_back(k);
    }
    size_t kend = sort_keys.size();
    std::sort(sort_keys.begin() + (ptrdiff_t)kbase, sort_keys.end(),
              [L](const SortKey &a, const SortKey &b) { return key_less(L, a, b); });

    put(w, "{", 1);
    bool first = true;
    for (size_t i = kbase; i < kend; i++) {
        if (w->error)
            break;
        int k = sort_keys[i].idx;   // by value: nested tables grow the vector
        if (!first)
            put(w, ",", 1);
        first = false;
        write_key(w, k);
        put(w, "=", 1);
        lua_pushvalue(L, k);
        lua_rawget(L, t);
        stringify_object_recursive(w, -1, depth + 1);
        lua_pop(L, 1);
    }
    sort_keys.resize(kbase);
    for (lua_Unsigned i = 1; i <= n && !w->error; i++) {
        if (!first)
            put(w, ",", 1);
        first = false;
        lua_rawgeti(L, t, (lua_Integer)i);
        stringify_object_recursive(w, -1, depth + 1);
        lua_pop(L, 1);
    }
    put(w, "}", 1);
    lua_settop(L, base);
    w->path[depth] = nullptr;
}

// One LZ4 HC state for every compression. LZ4_compress_HC would clear a
// fresh state of about 256 KiB on every call, which costs more than
// compressing a message; a reset state compresses to the same bytes.
LZ4_streamHC_t *lz4_state = nullptr;

int compress_hc(const char *src, char *dst, int n, int cap)
{
    if (!lz4_state)
        lz4_state = LZ4_createStreamHC();
    if (!lz4_state)
        return LZ4_compress_HC(src, dst, n, cap, 1);
    LZ4_resetStreamHC_fast(lz4_state, 1);
    return LZ4_compress_HC_continue(lz4_state, src, dst, n, cap);
}

// The lz4 block of the bytes in src.
void put_lz4_block(KodWriter *w, const Buffer *src)
{
    int r = src->len;
    int bound = LZ4_compressBound(r);
    char *dst = bound > 0 ? (char *)malloc((size_t)bound) : nullptr;
    if (!dst) {
        fail(w, KOD_ERR_MEMORY);
        return;
    }
    int c = compress_hc((const char *)src->data, dst, r, bound);
    w->cpu += r / 8;
    if (c <= 0 && r > 0) {
        fail(w, KOD_ERR_MEMORY);
    } else {
        put(w, "lz4\0", 4);
        put_u32(w, (uint32_t)c);
        put_u32(w, (uint32_t)r);
        put(w, dst, c);
    }
    free(dst);
}

void put_base64_wrapper(KodWriter *w, const Buffer *src)
{
    size_t cap = base64_encoded_size((size_t)src->len) + 8;
    char *text = (char *)malloc(cap);
    if (!text) {
        fail(w, KOD_ERR_MEMORY);
        return;
    }
    Base64EncodeState st;
    base64_init_encodestate(&st);
    int n = base64_encode_block(src->data, src->len, text, &st);
    n += base64_encode_blockend(text + n, &st);
    w->cpu += n / 8;
    put_str(w, "unkod(\"b64:");
    put(w, text, n);
    put(w, "\")", 2);
    free(text);
}

// Kernel-wide output buffer of kod(): the result is copied into Lua from it,
// so a Lua memory error while pushing cannot leak it. Storage grown past
// 1 MiB by a large result is given back at the start of the next call.
Buffer *kod_out = nullptr;

Buffer *kod_scratch()
{
    if (kod_out && kod_out->size > (1 << 20)) {
        destroy_buffer(kod_out);
        kod_out = nullptr;
    }
    if (!kod_out)
        kod_out = create_buffer_2(256, KOD_BUFFER_TAG);
    return bclear(kod_out);
}

}  // namespace

int stringify_object_recursive(KodWriter *w, int index, int depth)
{
    if (w->error)
        return w->error;
    lua_State *L = w->L;
    index = lua_absindex(L, index);
    w->cpu += 2;
    switch (lua_type(L, index)) {
    case LUA_TBOOLEAN: put_str(w, lua_toboolean(L, index) ? "true" : "false"); break;
    case LUA_TNUMBER: write_number(w, index); break;
    case LUA_TSTRING: write_string(w, index); break;
    case LUA_TUSERDATA: write_userdata(w, index); break;
    case LUA_TTABLE: write_table(w, index, depth); break;
    default: put_str(w, "nil"); break;
    }
    return w->error;
}

int stringify_object(lua_State *L, int index, Buffer *b, int flags)
{
    if (!b)
        return KOD_ERR_MEMORY;
    index = lua_absindex(L, index);
    int32_t start = b->len, start_pos = b->pos;
    const char *collation = setlocale(LC_COLLATE, nullptr);
    bytewise_strings = collation && (strcmp(collation, "C") == 0 || strcmp(collation, "POSIX") == 0);
    // storage grown by a table of very many keys is given back at the next call
    if (sort_keys.capacity() > 65536)
        std::vector<SortKey>().swap(sort_keys);
    sort_keys.clear();
    KodWriter w;
    memset(&w, 0, sizeof w);
    w.L = L;
    w.flags = flags;
    if (!(flags & (KOD_LZ4 | KOD_BASE64))) {
        w.b = b;
        w.start = start;
        stringify_object_recursive(&w, index, 0);
    } else {
        // The value goes to a scratch buffer first, then is wrapped once.
        Buffer *inner = create_buffer_2(256, KOD_BUFFER_TAG);
        if (!inner)
            return KOD_ERR_MEMORY;
        w.b = inner;
        stringify_object_recursive(&w, index, 0);
        if (!w.error && (flags & KOD_LZ4) && (flags & KOD_BASE64)) {
            Buffer *block = create_buffer_2(256, KOD_BUFFER_TAG);
            w.b = block;
            if (block)
                put_lz4_block(&w, inner);
            else
                fail(&w, KOD_ERR_MEMORY);
            destroy_buffer(inner);
            inner = block;
        }
        w.b = b;
        w.start = start;
        if (!w.error) {
            if (flags & KOD_BASE64)
                put_base64_wrapper(&w, inner);
            else
                put_lz4_block(&w, inner);
        }
        destroy_buffer(inner);
    }
    spend_cpu(w.cpu);
    if (w.error) {
        b->len = start;
        b->data[start] = 0;
        b->pos = start_pos;
    }
    return w.error;
}

int lua54_kod(lua_State *L)
{
    int flags = (int)k64_intp(L, 2, 0);
    Buffer *b = kod_scratch();
    if (!b)
        return luaL_error(L, "%s", kod_error_text(KOD_ERR_MEMORY));
    if (lua_type(L, 3) == LUA_TSTRING) {
        size_t len;
        const char *prefix = lua_tolstring(L, 3, &len);
        if (bwrite(prefix, 1, (int)std::min<size_t>(len, INT32_MAX), b) < 0)
            return luaL_error(L, "%s", kod_error_text(KOD_ERR_MEMORY));
    }
    if (lua_gettop(L) < 1)
        lua_pushnil(L);
    int err = stringify_object(L, 1, b, flags);
    if (err)
        return luaL_error(L, "%s", kod_error_text(err));
    lua_pushlstring(L, (const char *)b->data, (size_t)b->len);
    return 1;
}

int lua54_unkod(lua_State *L)
{
    if (lua_type(L, 1) != LUA_TSTRING)
        return 0;
    size_t len;
    const char *text = lua_tolstring(L, 1, &len);
    return destringify_object(L, text, len);
}
