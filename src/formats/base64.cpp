// Base64 with the kernel's alphabet. The encoder emits a character as soon as
// its 6 bits are known, so only a few bits travel between calls; the decoder
// accumulates bits and emits whole bytes, ignoring anything not in the
// alphabet (padding, spaces, line ends).
#include "formats/base64.h"

static constexpr char base64_alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";

// -1 for characters outside the alphabet.
struct Base64DecodeTable {
    int8_t v[256];
    constexpr Base64DecodeTable() : v()
    {
        for (int i = 0; i < 256; i++)
            v[i] = -1;
        for (int i = 0; i < 64; i++)
            v[(uint8_t)base64_alphabet[i]] = (int8_t)i;
    }
};
static constexpr Base64DecodeTable base64_decode_table;

void base64_init_encodestate(Base64EncodeState *state)
{
    state->pending = 0;
    state->carry = 0;
}

int base64_encode_block(const void *data, int length, char *out, Base64EncodeState *state)
{
    const uint8_t *in = (const uint8_t *)data;
    int n = 0;
    for (int i = 0; i < length; i++) {
        uint8_t c = in[i];
        switch (state->pending) {
        case 0:   // 6 bits out, 2 carried
            out[n++] = base64_alphabet[c >> 2];
            state->carry = (uint8_t)((c & 0x03) << 4);
            state->pending = 1;
            break;
        case 1:   // 2 + 4 bits out, 4 carried
            out[n++] = base64_alphabet[state->carry | (c >> 4)];
            state->carry = (uint8_t)((c & 0x0f) << 2);
            state->pending = 2;
            break;
        default:  // 4 + 2 bits out, then the last 6: the group is complete
            out[n++] = base64_alphabet[state->carry | (c >> 6)];
            out[n++] = base64_alphabet[c & 0x3f];
            state->carry = 0;
            state->pending = 0;
            break;
        }
    }
    return n;
}

int base64_encode_blockend(char *out, Base64EncodeState *state)
{
    int n = 0;
    if (state->pending == 0)
        return 0;
    out[n++] = base64_alphabet[state->carry];
    out[n++] = '=';
    if (state->pending == 1)
        out[n++] = '=';
    base64_init_encodestate(state);
    return n;
}

void base64_init_decodestate(Base64DecodeState *state)
{
    state->nbits = 0;
    state->acc = 0;
}

int base64_decode_block(const char *text, int length, void *out, Base64DecodeState *state)
{
    uint8_t *o = (uint8_t *)out;
    int n = 0;
    for (int i = 0; i < length; i++) {
        int v = base64_decode_table.v[(uint8_t)text[i]];
        if (v < 0)
            continue;
        state->acc = ((state->acc << 6) | (uint32_t)v) & 0x3fff;   // at most 14 bits matter
        state->nbits += 6;
        if (state->nbits >= 8) {
            state->nbits -= 8;
            o[n++] = (uint8_t)(state->acc >> state->nbits);
        }
    }
    return n;
}
