// Address-space throughput beside the host's memcpy and memset on the same
// sizes, so the overhead of the page rules reads as a ratio.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "memory/ram.h"

namespace {

constexpr uint32_t MIB = 1 << 20;
constexpr uint32_t SRC = 0x100000;    // two 1 MiB regions of own pages
constexpr uint32_t DEST = 0x300000;
constexpr uint32_t LOOP_BASE = 0x10000;
constexpr uint32_t LOOP_LEN = 0x10000;   // 64 KiB of video memory

Process *bench_process()
{
    static Process *p = [] {
        Process *q = (Process *)calloc(1, sizeof(Process));
        cproc = q;
        ram_init_process(q);
        k64_memset_proc(q, 0, 1, RAM_SIZE);   // back every page up front
        return q;
    }();
    cproc = p;
    return p;
}

void BM_poke_peek_loop(benchmark::State &state)
{
    bench_process();
    for (auto _ : state) {
        for (uint32_t a = 0; a < LOOP_LEN; a++)
            poke(LOOP_BASE + a, (uint8_t)a);
        uint32_t sum = 0;
        for (uint32_t a = 0; a < LOOP_LEN; a++)
            sum += peek(LOOP_BASE + a);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * 2 * (int64_t)LOOP_LEN);
}
BENCHMARK(BM_poke_peek_loop);

void BM_host_byte_loop(benchmark::State &state)
{
    std::vector<uint8_t> buf(LOOP_LEN);
    volatile uint8_t *b = buf.data();   // keep it a loop of single bytes
    for (auto _ : state) {
        for (uint32_t a = 0; a < LOOP_LEN; a++)
            b[a] = (uint8_t)a;
        uint32_t sum = 0;
        for (uint32_t a = 0; a < LOOP_LEN; a++)
            sum += b[a];
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * 2 * (int64_t)LOOP_LEN);
}
BENCHMARK(BM_host_byte_loop);

void BM_peek4_loop(benchmark::State &state)
{
    bench_process();
    for (auto _ : state) {
        uint32_t sum = 0;
        for (uint32_t a = 0; a < LOOP_LEN; a += 4)
            sum += peek4(LOOP_BASE + a);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)LOOP_LEN);
}
BENCHMARK(BM_peek4_loop);

void BM_k64_memcpy_1MiB(benchmark::State &state)
{
    bench_process();
    for (auto _ : state)
        benchmark::DoNotOptimize(k64_memcpy(DEST, SRC, MIB));
    state.SetBytesProcessed(state.iterations() * (int64_t)MIB);
}
BENCHMARK(BM_k64_memcpy_1MiB);

void BM_host_memcpy_1MiB(benchmark::State &state)
{
    std::vector<uint8_t> src(MIB, 1), dest(MIB);
    for (auto _ : state) {
        memcpy(dest.data(), src.data(), MIB);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)MIB);
}
BENCHMARK(BM_host_memcpy_1MiB);

void BM_k64_memset_1MiB(benchmark::State &state)
{
    bench_process();
    for (auto _ : state)
        benchmark::DoNotOptimize(k64_memset(DEST, 7, MIB));
    state.SetBytesProcessed(state.iterations() * (int64_t)MIB);
}
BENCHMARK(BM_k64_memset_1MiB);

void BM_host_memset_1MiB(benchmark::State &state)
{
    std::vector<uint8_t> dest(MIB);
    for (auto _ : state) {
        memset(dest.data(), 7, MIB);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * (int64_t)MIB);
}
BENCHMARK(BM_host_memset_1MiB);

void BM_k64_memcpy_overlap_64KiB(benchmark::State &state)
{
    bench_process();
    for (auto _ : state)
        benchmark::DoNotOptimize(k64_memcpy(SRC + 1, SRC, LOOP_LEN));
    state.SetBytesProcessed(state.iterations() * (int64_t)LOOP_LEN);
}
BENCHMARK(BM_k64_memcpy_overlap_64KiB);

}  // namespace
