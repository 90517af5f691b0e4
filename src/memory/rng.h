// Per-process random numbers: xoshiro256** over the record's `rng` words.
#pragma once
#include <cstdint>

struct Process;

constexpr uint32_t RNG_ENTROPY_START = 0x011848D4;

uint64_t rng_next(Process *p);
// Seeds from a 64-bit value and advances 8 steps.
void rng_seed(Process *p, uint64_t seed);
// (low 32 bits of the next value) * x / 2^32: a float in [0, x).
double rng_float(Process *p, double x);

// Advances the kernel entropy word shared by every srand call; returns it.
uint32_t rng_entropy_step();
// The seed used by srand() without an argument; unique distinguishes the
// calling Lua state.
uint64_t rng_unpredictable_seed(int64_t pid, int64_t seconds, uint64_t unique, uint32_t entropy);
// srand: updates the entropy word, then seeds with seed, or with an
// unpredictable value when has_seed is false.
void rng_srand(Process *p, bool has_seed, uint64_t seed, uint64_t unique);
