// The kernel's base64 variant: alphabet A-Z a-z 0-9 '_' '-', '=' padding to a
// multiple of 4 characters, no line breaks. Both directions keep their state
// in a small record so that data can be processed in pieces.
#pragma once
#include <cstddef>
#include <cstdint>

struct Base64EncodeState {
    int pending;      // bytes of the current 3-byte group seen so far (0..2)
    uint8_t carry;    // bits of the group not yet written, aligned to 6 bits
};

struct Base64DecodeState {
    int nbits;        // bits held in acc (0..7 between calls)
    uint32_t acc;
};

// Characters needed for n bytes, padding included (excluding any terminator).
constexpr size_t base64_encoded_size(size_t n) { return (n + 2) / 3 * 4; }

void base64_init_encodestate(Base64EncodeState *state);
// Writes every character whose 6 bits are complete; returns the count.
// At most length * 4 / 3 + 1 characters.
int base64_encode_block(const void *data, int length, char *out, Base64EncodeState *state);
// Writes the last partial character and the padding: 3 characters after a
// group with one byte, 2 after a group with two, none otherwise.
int base64_encode_blockend(char *out, Base64EncodeState *state);

void base64_init_decodestate(Base64DecodeState *state);
// Skips every character outside the alphabet; returns the bytes written, at
// most (length * 6 + 7) / 8 (the pending bits of earlier calls included).
int base64_decode_block(const char *text, int length, void *out, Base64DecodeState *state);
