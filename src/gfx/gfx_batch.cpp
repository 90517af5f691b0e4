// Drawing calls on the current process's target, and the batch records
// (f64 userdata) that the shape and sprite functions accept in place of
// their arguments.
#include "gfx/gfx_batch.h"

#include <algorithm>
#include <cmath>

#include "process/api.h"
#include "userdata/userdata.h"

bool gfx_call_begin(GfxCall *k)
{
    k->p = cproc;
    if (!gfx_begin(k->p, &k->c))
        return false;
    k->camx = gfx_camera_x(k->p);
    k->camy = gfx_camera_y(k->p);
    return true;
}

constexpr int64_t BATCH_MAX_RECORDS = 262144;

bool gfx_is_batch(lua_State *L)
{
    Userdata *u = ud_check(L, 1);
    return u && (u->type & UD_TYPE_MASK) == UD_F64;
}

bool gfx_batch_open(lua_State *L, int64_t max_params, GfxBatch *b)
{
    if (!gfx_is_batch(L))
        return false;
    Userdata *u = ud_check(L, 1);
    const int64_t lim = (int64_t)1 << 40;
    b->d = (const double *)ud_data(u);
    b->size = ud_count(u);
    b->offset = std::clamp<int64_t>(k64_intp(L, 2, 0), -lim, lim);
    b->count = std::min(k64_intp(L, 3, u->height), BATCH_MAX_RECORDS);
    b->params = std::clamp<int64_t>(k64_intp(L, 4, u->width), 0, max_params);
    b->stride = std::clamp<int64_t>(k64_intp(L, 5, u->width), -lim, lim);
    return b->count >= 1;
}

bool gfx_batch_begin(lua_State *L, int64_t max_params, GfxCall *k, GfxBatch *b)
{
    return gfx_batch_open(L, max_params, b) && gfx_call_begin(k);
}

int64_t gfx_batch_record(const GfxBatch *b, int64_t i)
{
    int64_t off = b->offset + i * b->stride;
    return (off < 0 || off > b->size - b->params) ? -1 : off;
}

double gfx_batch_num(const GfxBatch *b, int64_t off, int64_t j, double def)
{
    return j < b->params ? b->d[off + j] : def;
}

int64_t gfx_batch_int(const GfxBatch *b, int64_t off, int64_t j, int64_t def)
{
    if (j >= b->params)
        return def;
    double v = b->d[off + j];
    if (std::isnan(v))
        return 0;
    v = std::floor(v);
    if (v >= 9223372036854775807.0)
        return INT64_MAX;
    if (v <= -9223372036854775808.0)
        return INT64_MIN;
    return (int64_t)v;
}
