// kxu writer and reader.
//
// Header (after the 4-byte marker): (dims - 1) << 6 | type code; then the
// mode in the high nibble, with 8 set when the width or height needs 32 bits;
// then width and, for two dimensions, height, each one byte or a uint32.
// Older blocks have a byte below 16 at offset 5: width and height as uint32
// at offsets 4 and 8, the type at 16, and a move-to-front body from 17.
//
// Runs store their length minus one; a count that reaches the field's cap is
// continued in bytes of 255 closed by one byte below 255.
#include "formats/kxu.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "formats/buffer.h"
#include "userdata/userdata.h"

namespace {

constexpr uint8_t KXU_WIDE = 8;
constexpr int KXU_MAX_BITS = 6;      // widest index a reader accepts

// Value table and recency list of the move-to-front mode; writer and reader
// drive the same state.
struct MtfState {
    uint8_t value[256];   // value of each slot
    uint8_t order[256];   // slot numbers, most recent first
    int bits;

    explicit MtfState(int b) : bits(b)
    {
        for (int i = 0; i < 256; i++)
            value[i] = order[i] = (uint8_t)i;
    }
    int escape() const { return (1 << bits) - 1; }
    int cap() const { return (1 << (8 - bits)) - 1; }
    int find(uint8_t v) const
    {
        for (int s = 0; s < escape(); s++)
            if (value[s] == v)
                return s;
        return -1;
    }
    void use(int s)
    {
        int at = 0;
        while (order[at] != s)
            at++;
        memmove(order + 1, order, (size_t)at);
        order[0] = (uint8_t)s;
    }
    // An escaped literal replaces the slot at recency position 2^bits.
    void store_literal(uint8_t v) { value[order[1 << bits]] = v; }
};

// --- writer ------------------------------------------------------------------

struct KxuOut {
    Buffer *b;
    int written = 0;
    bool failed = false;

    void bytes(const void *p, int n)
    {
        if (n <= 0)
            return;
        if (bwrite(p, 1, n, b) != n)
            failed = true;
        written += n;
    }
    void u8(int v)
    {
        uint8_t c = (uint8_t)v;
        bytes(&c, 1);
    }
    void u32(uint32_t v)
    {
        uint8_t le[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
        bytes(le, 4);
    }
    void rest(int64_t r)
    {
        for (; r >= 255; r -= 255)
            u8(255);
        u8((int)r);
    }
};

// Length of the run of equal elements starting at element i.
int64_t run_length(const uint8_t *data, int64_t i, int64_t n, int es)
{
    int64_t j = i + 1;
    while (j < n && memcmp(data + j * es, data + i * es, (size_t)es) == 0)
        j++;
    return j - i;
}

void write_mtf(KxuOut &o, const uint8_t *data, int64_t n, int bits)
{
    MtfState st(bits);
    o.u8(bits);
    for (int64_t i = 0; i < n;) {
        int64_t extra = run_length(data, i, n, 1) - 1;
        uint8_t v = data[i];
        int64_t field = std::min<int64_t>(extra, st.cap());
        int s = st.find(v);
        if (s >= 0) {
            o.u8(s | (int)field << bits);
            st.use(s);
        } else {
            o.u8(st.escape() | (int)field << bits);
            o.u8(v);
            st.store_literal(v);
        }
        if (extra >= st.cap())
            o.rest(extra - st.cap());
        i += extra + 1;
    }
}

void write_rle(KxuOut &o, const uint8_t *data, int64_t n, int es)
{
    o.u8(0);
    for (int64_t i = 0; i < n;) {
        int64_t extra = run_length(data, i, n, es) - 1;
        o.u8((int)std::min<int64_t>(extra, 255));
        o.bytes(data + i * es, es);
        if (extra >= 255)
            o.rest(extra - 255);
        i += extra + 1;
    }
}

// --- reader ------------------------------------------------------------------

struct KxuIn {
    const uint8_t *p;
    size_t len;
    size_t pos;

    bool has(size_t n) const { return len - pos >= n; }
    bool u8(int *v)
    {
        if (!has(1))
            return false;
        *v = p[pos++];
        return true;
    }
    uint32_t u32_at(size_t at) const
    {
        return (uint32_t)p[at] | (uint32_t)p[at + 1] << 8 | (uint32_t)p[at + 2] << 16 |
               (uint32_t)p[at + 3] << 24;
    }
    // Adds continuation bytes to *count; saturates, as anything beyond the
    // element count is cut anyway.
    bool rest(int64_t *count)
    {
        int c;
        do {
            if (!u8(&c))
                return false;
            *count = std::min<int64_t>(*count + c, INT64_MAX / 2);
        } while (c == 255);
        return true;
    }
};

bool read_raw(KxuIn &in, uint8_t *data, int64_t n, int es)
{
    size_t bytes = (size_t)(n * es);
    if (!in.has(bytes))
        return false;
    memcpy(data, in.p + in.pos, bytes);
    in.pos += bytes;
    return true;
}

bool read_mtf(KxuIn &in, uint8_t *data, int64_t n)
{
    int bits;
    if (!in.u8(&bits) || bits < 1 || bits > KXU_MAX_BITS)
        return false;
    MtfState st(bits);
    for (int64_t i = 0; i < n;) {
        int x, v;
        if (!in.u8(&x))
            return false;
        int s = x & st.escape();
        int64_t extra = x >> bits;
        if (s == st.escape()) {
            if (!in.u8(&v))
                return false;
            st.store_literal((uint8_t)v);
        } else {
            v = st.value[s];
            st.use(s);
        }
        if (extra == st.cap() && !in.rest(&extra))
            return false;
        int64_t k = std::min(extra + 1, n - i);
        memset(data + i, v, (size_t)k);
        i += k;
    }
    return true;
}

bool read_rle(KxuIn &in, uint8_t *data, int64_t n, int es)
{
    int zero;
    if (!in.u8(&zero))
        return false;
    for (int64_t i = 0; i < n;) {
        int c0;
        if (!in.u8(&c0) || !in.has((size_t)es))
            return false;
        const uint8_t *elem = in.p + in.pos;
        in.pos += (size_t)es;
        int64_t extra = c0;
        if (c0 == 255 && !in.rest(&extra))
            return false;
        for (int64_t k = std::min(extra + 1, n - i); k > 0; k--, i++)
            memcpy(data + i * es, elem, (size_t)es);
    }
    return true;
}

struct KxuHeader {
    int type, dims, mode;
    int64_t width, height;
};

bool read_header(KxuIn &in, KxuHeader *h)
{
    if (!in.has(6) || memcmp(in.p, "kxu\0", 4) != 0)
        return false;
    if (in.p[5] < 16) {   // older layout
        if (!in.has(17))
            return false;
        h->width = in.u32_at(4);
        h->height = in.u32_at(8);
        h->type = in.p[16];
        h->dims = 2;
        h->mode = KXU_MODE_MTF;
        in.pos = 17;
        return true;
    }
    h->dims = (in.p[4] >> 6) + 1;
    h->type = in.p[4] & 0x3f;
    h->mode = in.p[5] & 0xf0;
    bool wide = in.p[5] & KXU_WIDE;
    in.pos = 6;
    size_t field = wide ? 4 : 1;
    if (!in.has(field * (size_t)(h->dims == 2 ? 2 : 1)))
        return false;
    h->width = wide ? in.u32_at(in.pos) : in.p[in.pos];
    in.pos += field;
    h->height = 1;
    if (h->dims == 2) {
        h->height = wide ? in.u32_at(in.pos) : in.p[in.pos];
        in.pos += field;
    }
    return true;
}

}  // namespace

int write_binary_kxu(Userdata *ud, Buffer *b, int bits, int mode)
{
    int type = ud->type & UD_TYPE_MASK;
    int es = ud_elem_size(type);
    int64_t n = ud_count(ud);
    bits = std::clamp(bits, 1, KXU_MAX_BITS);
    if ((mode == KXU_MODE_MTF && type != UD_U8) ||
        (mode != KXU_MODE_RAW && mode != KXU_MODE_MTF && mode != KXU_MODE_RLE))
        mode = KXU_MODE_RLE;
    bool wide = ud->width >= 256 || ud->height >= 256;

    KxuOut o{b};
    o.bytes("kxu\0", 4);
    o.u8((ud->dims - 1) << 6 | type);
    o.u8(mode | (wide ? KXU_WIDE : 0));
    if (wide)
        o.u32((uint32_t)ud->width);
    else
        o.u8(ud->width);
    if (ud->dims == 2) {
        if (wide)
            o.u32((uint32_t)ud->height);
        else
            o.u8(ud->height);
    }

    const uint8_t *data = ud_data(ud);
    if (mode == KXU_MODE_RAW)
        o.bytes(data, (int)(n * es));
    else if (mode == KXU_MODE_MTF)
        write_mtf(o, data, n, bits);
    else
        write_rle(o, data, n, es);
    return o.failed ? -1 : o.written;
}

const char *get_binary_kxu(lua_State *L, const char *text, size_t len)
{
    KxuIn in{(const uint8_t *)text, len, 0};
    KxuHeader h;
    if (!text || !read_header(in, &h))
        return nullptr;
    // The constructor checks the type and bounds the size before allocating.
    Userdata *ud = ud_new(L, h.type, h.dims, h.width, h.height);
    if (!ud)
        return nullptr;
    int es = ud_elem_size(ud->type);
    int64_t n = ud_count(ud);
    bool ok = true;
    switch (h.mode) {
    case KXU_MODE_RAW: ok = read_raw(in, ud_data(ud), n, es); break;
    case KXU_MODE_MTF: ok = ud->type == UD_U8 && read_mtf(in, ud_data(ud), n); break;
    case KXU_MODE_RLE: ok = read_rle(in, ud_data(ud), n, es); break;
    default: break;   // unknown mode: the userdata stays zero-filled
    }
    if (!ok) {
        lua_pop(L, 1);
        return nullptr;
    }
    return text + in.pos;
}
