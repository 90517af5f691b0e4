// Process table and lifecycle: one record per running program, each with its
// own Lua state, address space, message queue and CPU and memory accounts.
#pragma once
#include <cstdint>
#include <cstddef>

struct lua_State;
struct Buffer;
struct Userdata;

constexpr int MAX_PROCESSES = 512;
constexpr int RAM_PAGES = 4096;
constexpr int RAM_PAGE_SIZE = 4096;
constexpr int64_t PROCESS_MEMORY_LIMIT = 0x2000000;   // 32 MiB
constexpr int64_t PROCESS_MEMORY_BASE = 0x80000;      // fixed overhead counted in every total
constexpr int GFX_SPRITES = 16384;                    // entries of a process's sprite table

enum { PSTATE_RUNNING = 0, PSTATE_FINISHED = 1, PSTATE_CRASHED = 2 };

// What to do with a process once its running slice has unwound.
enum { PENDING_NONE = 0, PENDING_KILL = 1, PENDING_RESTART = 2 };

// A plain record: zero-filled means "empty". Records are heap allocated and
// never move while the process lives; the table holds pointers.
struct Process {
    int64_t id;
    int64_t parent_id;
    int64_t created_t;
    char name[64];
    char prog[256];
    char sandbox[64];
    char lid[64];
    int32_t sandboxed;
    int32_t trust;
    int32_t state;
    lua_State *L;
    char *code;
    size_t code_len;
    char pwd[260];
    int64_t time_frames;
    double base_priority;
    int32_t high_priority;

    // CPU account
    int32_t cycles_frame;
    int32_t cycles_since_flip;
    int32_t cycles_prog_frame;
    int32_t flipped;
    int32_t frames_since_flip;
    int32_t fps;
    int32_t cycle_debt;
    int32_t allotted_frame;
    int32_t allotted_last_frame;
    int32_t slice_count;

    // address space
    uint8_t *read_ptr[RAM_PAGES];
    int32_t page_len[RAM_PAGES];
    uint8_t page_flags[RAM_PAGES];
    uint8_t *own_page[RAM_PAGES];
    uint32_t mapped_bits[RAM_PAGES / 32];
    // registry reference of the userdata a mapped page points into (0 = none);
    // keeps that userdata alive while any page maps it
    int32_t page_ref[RAM_PAGES];

    Buffer *msg_queue;
    uint64_t rng[4];
    int64_t lua_mem;
    int64_t mem_baseline;
    int64_t ram_alloc;
    int64_t out_of_memory;
    int32_t fs_busy_t;

    // draw state kept outside the address space (gfx/draw_state.h). Each
    // userdata held here is pinned by a registry reference (0 = none), which
    // is dropped when it is replaced; closing the Lua state drops the rest.
    Userdata *draw_target;
    int32_t draw_target_ref;
    int32_t clip_x0, clip_x1, clip_y0, clip_y1;   // effective clip, x1 and y1 exclusive
    uint32_t clip_word0, clip_word1;              // clip registers it was derived from
    int32_t clip_target_w, clip_target_h;         // and the target size
    int32_t saved_clip[4];                        // set_temporary_clipping
    int32_t invert;
    Userdata *sprite[GFX_SPRITES];
    int32_t sprite_ref[GFX_SPRITES];
    Userdata *cur_map;
    int32_t cur_map_ref;

    // button snapshot of 8 players x 16 buttons (host/input.h); 0 released,
    // 1-255 pressed with that strength
    uint8_t btn_cur[128];
    uint8_t btn_prev[128];
    uint8_t btn_wait[128];       // must be seen released before it counts
    int32_t btn_repeat[128];     // btnp repeat counters, -1 never repeats

    // kernel bookkeeping, not visible to programs
    int32_t running;     // slices of this process currently on the C stack
    int32_t pending;     // PENDING_* carried out when the slice unwinds
};

extern Process *process[MAX_PROCESSES];
extern int num_processes;
extern int32_t process_id;
extern Process *cproc;
extern int32_t video_mode_word;

Process *create_process_from_code(const char *code, const char *name, const char *prog,
                                  const char *sandbox, const char *lid);
Process *create_process_from_buffer(const char *code, size_t len, const char *name,
                                    const char *prog, const char *sandbox, const char *lid);
int init_process(Process *p, int64_t id, const char *code, size_t code_len, const char *name,
                 const char *prog, const char *sandbox, const char *lid);
void free_process(Process *p);
void kill_process(Process *p);
void kill_process_by_id(int64_t id);
void kill_process_by_index(int slot);
void restart_process(Process *p);
void processes_init();

Process *get_process(int64_t id);
Process *get_process_by_index(int slot);
int get_process_index(const Process *p);
int get_process_count();
Process *get_current_process();
void set_current_process(Process *p);
int32_t get_cproc_id();
int count_recent_sandboxed_processes();

int64_t process_memory_total(const Process *p);
void *l_alloc(void *owner, void *block, size_t old_size, size_t new_size, int retrying,
              size_t nominal_size);

// Posts a text to a process's queue by the kernel's single rule.
int send_process_message_string(Process *p, const char *text);
