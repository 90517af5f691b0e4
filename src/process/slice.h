// Frame slices and CPU accounting.
#pragma once
#include <cstdint>

struct Process;

constexpr int32_t FRAME_BUDGET = 0x44444;          // 279620 cycles
constexpr int32_t FRAME_BUDGET_STANDALONE = 0x111111;
constexpr int32_t DEBT_CAP = 0x2AAAA8;
constexpr int32_t DEBT_CAP_STANDALONE = 0xAAAAAA;
constexpr int32_t SUPERYIELD = 0x40000000;

// The three words shared with the virtual machine live in the Lua core.
extern "C" {
extern int cpu_cycles;
extern int cpu_cycles_max;
extern int cpu_superyielding;
}
extern int32_t total_frame_cycles;
extern int32_t total_frame_cycles_since_wm_flip;

int32_t frame_budget();
int32_t debt_cap();
void spend_cpu(int64_t n);
int32_t run_process_slice(Process *p, double fraction);
void prepare_processes_for_frame();
void update_processes_after_frame();
int32_t get_total_frame_cycles();
int32_t get_total_frame_cycles_since_wm_flip();
