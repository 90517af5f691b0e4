// xoshiro256** per process, seeded by srand.
#include "memory/rng.h"

#include <ctime>

#include "process/process.h"

static uint32_t rng_entropy = RNG_ENTROPY_START;

static inline uint64_t rotl(uint64_t x, int k)
{
    return (x << k) | (x >> (64 - k));
}

uint64_t rng_next(Process *p)
{
    uint64_t *s = p->rng;
    uint64_t result = rotl(s[1] * 5, 7) * 9;
    uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = rotl(s[3], 45);
    return result;
}

void rng_seed(Process *p, uint64_t seed)
{
    p->rng[0] = seed ^ 0xDEADBEEFull;
    p->rng[1] = 0xFF;
    p->rng[2] = (seed << 32) | (seed >> 32);
    p->rng[3] = 0;
    for (int i = 0; i < 8; i++)
        rng_next(p);
}

double rng_float(Process *p, double x)
{
    uint32_t lo = (uint32_t)rng_next(p);
    return (double)lo * x / 4294967296.0;
}

uint32_t rng_entropy_step()
{
    uint32_t e = rng_entropy;
    e = (e << 7) ^ 0x56DF7780u ^ ((e >> 16) & 0xFF);
    e = (e + 331) * (e + 42863);
    rng_entropy = e;
    return e;
}

uint64_t rng_unpredictable_seed(int64_t pid, int64_t seconds, uint64_t unique, uint32_t entropy)
{
    uint64_t mix = ((uint64_t)pid * 32) ^ (((uint64_t)seconds + unique) * 3001);
    return mix | (uint64_t)(int64_t)(int32_t)entropy;
}

void rng_srand(Process *p, bool has_seed, uint64_t seed, uint64_t unique)
{
    uint32_t e = rng_entropy_step();
    if (!has_seed)
        seed = rng_unpredictable_seed(p->id, (int64_t)time(nullptr), unique, e);
    rng_seed(p, seed);
}
