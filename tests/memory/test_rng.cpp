// Per-process random generator against a plain xoshiro256** written here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "memory/rng.h"
#include "process/process.h"

namespace {

struct RefXoshiro {
    uint64_t s[4];
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t next()
    {
        const uint64_t result = rotl(s[1] * 5, 7) * 9;
        const uint64_t t = s[1] << 17;
        s[2] ^= s[0];
        s[3] ^= s[1];
        s[1] ^= s[2];
        s[0] ^= s[3];
        s[2] ^= t;
        s[3] = rotl(s[3], 45);
        return result;
    }
    void seed(uint64_t v)
    {
        s[0] = v ^ 0xDEADBEEFull;
        s[1] = 0xFF;
        s[2] = ((v & 0xFFFFFFFFull) << 32) | (v >> 32);
        s[3] = 0;
        for (int i = 0; i < 8; i++)
            next();
    }
};

struct RngTest : testing::Test {
    Process *a = (Process *)calloc(1, sizeof(Process));
    Process *b = (Process *)calloc(1, sizeof(Process));
    ~RngTest() override
    {
        free(a);
        free(b);
    }
};

TEST_F(RngTest, UnseededStateGivesZero)
{
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(rng_next(a), 0u);
        EXPECT_EQ(rng_float(b, 1.0), 0.0);
    }
}

TEST_F(RngTest, SeededSequenceMatchesReference)
{
    for (uint64_t seed : {0ull, 1ull, 0x12345678ull, 0xFFFFFFFF00000001ull, 0x8000000000000000ull}) {
        RefXoshiro ref;
        ref.seed(seed);
        rng_seed(a, seed);
        for (int i = 0; i < 100; i++)
            ASSERT_EQ(rng_next(a), ref.next()) << seed << " " << i;
    }
}

TEST_F(RngTest, SrandWithSeedIsTheSameInEveryProcess)
{
    a->id = 5;
    b->id = 9;
    rng_srand(a, true, 0, 111);
    rng_srand(b, true, 0, 222);   // entropy word and state do not matter
    RefXoshiro ref;
    ref.seed(0);
    for (int i = 0; i < 10; i++) {
        uint64_t want = ref.next();
        EXPECT_EQ(rng_next(a), want);
        EXPECT_EQ(rng_next(b), want);
    }
}

TEST_F(RngTest, FloatIsLow32BitsScaled)
{
    RefXoshiro ref;
    ref.seed(42);
    rng_seed(a, 42);
    for (int i = 0; i < 1000; i++) {
        double x = 1 + i % 17;
        double want = (double)(ref.next() & 0xFFFFFFFFu) * x / 4294967296.0;
        double got = rng_float(a, x);
        ASSERT_EQ(got, want);
        ASSERT_GE(got, 0.0);
        ASSERT_LT(got, x);
    }
}

TEST_F(RngTest, UnpredictableSeedsDiffer)
{
    // same process id and second, different Lua states
    a->id = 7;
    b->id = 7;
    rng_srand(a, false, 0, 0x1000);
    rng_srand(b, false, 0, 0x2000);
    EXPECT_NE(rng_next(a), rng_next(b));
    // repeated calls in one state move on through the entropy word
    std::set<uint64_t> firsts;
    for (int i = 0; i < 8; i++) {
        rng_srand(a, false, 0, 0x1000);
        firsts.insert(rng_next(a));
    }
    EXPECT_GT(firsts.size(), 1u);
}

}  // namespace
