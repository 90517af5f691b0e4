// Conversion between host text (UTF-8) and the kernel's 8-bit character set.
// Codes 9, 10, 13 and 32..126 are ASCII; every other code from 1 to 255 stands
// for one Unicode character (a few with a variation selector).
#pragma once
#include <cstddef>
#include <cstdint>

struct Buffer;

constexpr int32_t HOSTTEXT_BUFFER_TAG = 105;

// Host text in b (bytes 0..len) to kernel text. A byte-order mark selects
// UTF-8, UTF-16 or UTF-32 input (only the ASCII part of the wide forms
// survives); carriage returns are dropped; bytes that start no known sequence
// are kept as they are. Null for a null buffer.
Buffer *decode_host_text(const Buffer *b);

// Kernel text to UTF-8. Stops at a 0 byte or after max_len bytes. Null when
// the result would not fit a buffer.
Buffer *encode_host_text(const char *text, size_t max_len = SIZE_MAX);

// The UTF-8 form of one kernel code (0 has none: returns 0). seq receives up
// to HOSTTEXT_MAX_SEQ bytes; the length is returned.
constexpr int HOSTTEXT_MAX_SEQ = 8;
int hosttext_code_utf8(int code, uint8_t *seq);
