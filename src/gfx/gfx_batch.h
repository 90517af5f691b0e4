// Drawing calls on the current process's target, and batch records: an f64
// userdata at argument 1 (offset, count, params, stride at arguments 2-5)
// whose records stand for the arguments of one call each.
#pragma once
#include <cstdint>

#include "gfx/draw_state.h"

struct lua_State;

// One drawing call on the current process's target: the context and camera.
struct GfxCall {
    Process *p;
    GfxCtx c;
    int32_t camx, camy;
};
bool gfx_call_begin(GfxCall *k);

// Batch records from an f64 userdata at argument 1 (offset, count, params,
// stride at arguments 2-5), as the shape primitives read them.
struct GfxBatch {
    const double *d;
    int64_t size, offset, count, params, stride;
};
bool gfx_batch_open(lua_State *L, int64_t max_params, GfxBatch *b);
bool gfx_is_batch(lua_State *L);
// The batch at argument 1 and a drawing call; false when nothing draws.
bool gfx_batch_begin(lua_State *L, int64_t max_params, GfxCall *k, GfxBatch *b);
// Element offset of record i, or -1 where processing stops.
int64_t gfx_batch_record(const GfxBatch *b, int64_t i);
// Field j of the record at off as a double, or def when params leaves it out.
double gfx_batch_num(const GfxBatch *b, int64_t off, int64_t j, double def);
// The same floored into the 64-bit range (NaN gives 0).
int64_t gfx_batch_int(const GfxBatch *b, int64_t off, int64_t j, int64_t def);
