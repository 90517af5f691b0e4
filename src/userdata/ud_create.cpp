// Creating typed arrays from text: data strings of hex digits or decimal
// numbers, and the legacy "[gfx]" picture and "[map]" map literals.
#include <cstdlib>
#include <cstring>
#include <string>

#include "formats/buffer.h"
#include "process/slice.h"
#include "userdata/userdata.h"

namespace {

// A bounded text cursor. Reads never go past end; like the kernel's
// 0-terminated hex readers, a 0 byte also ends the text.
struct Text {
    const char *p;
    const char *end;
};

Text make_text(const char *data, size_t len)
{
    const char *nul = (const char *)memchr(data, 0, len);
    return {data, nul ? nul : data + len};
}

// `digits` hex digits, most significant first, a non-hex character counting
// as 0. Returns false (and consumes the rest) when the text runs out first.
bool read_hex(Text *t, int digits, uint64_t *out)
{
    uint64_t v = 0;
    for (int i = 0; i < digits; i++) {
        if (t->p >= t->end)
            return false;
        v = v << 4 | (uint64_t)hex_value((uint8_t)*t->p++);
    }
    *out = v;
    return true;
}

// Elements in flat order, each as 2, 4, 8 or 16 hex digits (two's
// complement); elements the text does not reach stay 0.
void fill_hex(Userdata *u, Text t)
{
    if (t.end - t.p >= 4 && memcmp(t.p, "hex:", 4) == 0)
        t.p += 4;
    int size = ud_elem_size(u->type);
    int64_t n = ud_count(u);
    uint8_t *d = ud_data(u);
    for (int64_t i = 0; i < n; i++) {
        uint64_t v;
        if (!read_hex(&t, size * 2, &v))
            return;
        memcpy(d + i * size, &v, (size_t)size);   // little-endian low bytes
    }
}

bool ends_f64_text(char c)
{
    return c == '"' || c == ')';
}

// One number of an f64 data string: the longest decimal prefix of the
// token, as the formatted-input conversion reads it, else 0.
double parse_number(const char *p, const char *end)
{
    char small[64];
    std::string big;
    size_t n = (size_t)(end - p);
    const char *s;
    if (n < sizeof small) {
        memcpy(small, p, n);
        small[n] = 0;
        s = small;
    } else {
        big.assign(p, n);
        s = big.c_str();
    }
    return strtod(s, nullptr);
}

// Decimal numbers separated by ','; whatever follows a number up to the next
// ',' is skipped; the text ends at its end, at '"' or at ')'.
void fill_f64(Userdata *u, Text t)
{
    if (t.end - t.p >= 4 && memcmp(t.p, "hex:", 4) == 0)
        t.p += 4;
    int64_t n = ud_count(u);
    double *d = (double *)ud_data(u);
    for (int64_t i = 0; i < n && t.p < t.end && !ends_f64_text(*t.p); i++) {
        const char *tok = t.p;
        while (t.p < t.end && *t.p != ',' && !ends_f64_text(*t.p))
            t.p++;
        d[i] = parse_number(tok, t.p);
        if (t.p < t.end && *t.p == ',')
            t.p++;
    }
}

// Picture literal pixel digits: 0-9, a-z, A-Z, '_' and '-' give 0..63.
int picture_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 36;
    if (c == '_')
        return 62;
    if (c == '-')
        return 63;
    return 0;
}

void charge_text(const Userdata *u)
{
    spend_cpu(ud_count(u) * ud_elem_size(u->type) * 8 / 32);
}

// "[gfx]WWHH..." and "[map]WWHH...": two hex digits each of width and height,
// then one digit per pixel (u8) or four hex digits per cell (i16).
Userdata *create_literal(lua_State *L, const char *lit, size_t len)
{
    bool map = lit[1] == 'm';
    int w = hex_value((uint8_t)lit[5]) << 4 | hex_value((uint8_t)lit[6]);
    int h = hex_value((uint8_t)lit[7]) << 4 | hex_value((uint8_t)lit[8]);
    Userdata *u = ud_new(L, map ? UD_I16 : UD_U8, 2, w, h);
    if (!u)
        return nullptr;
    Text t = {lit + 9, lit + len};
    int64_t n = ud_count(u);
    if (map) {
        int16_t *d = (int16_t *)ud_data(u);
        uint64_t v;
        for (int64_t i = 0; i < n && read_hex(&t, 4, &v); i++)
            d[i] = (int16_t)(uint16_t)v;
    } else {
        uint8_t *d = ud_data(u);
        for (int64_t i = 0; i < n && t.p < t.end; i++)
            d[i] = (uint8_t)picture_digit(*t.p++);
    }
    charge_text(u);
    return u;
}

}  // namespace

Userdata *ud_create(lua_State *L, const char *type_name, int dims, int64_t width, int64_t height,
                    const char *data, size_t data_len)
{
    if (type_name) {
        size_t len = strlen(type_name);
        if (len >= 9 && (memcmp(type_name, "[gfx]", 5) == 0 || memcmp(type_name, "[map]", 5) == 0))
            return create_literal(L, type_name, len);
    }
    Userdata *u = ud_new(L, ud_parse_type(type_name), dims, width, height);
    if (!u || !data)
        return u;
    Text t = make_text(data, data_len);
    if ((u->type & UD_TYPE_MASK) == UD_F64)
        fill_f64(u, t);
    else
        fill_hex(u, t);
    charge_text(u);
    return u;
}
