// Rectangle copies between typed arrays, and blit for Lua.
#include <algorithm>
#include <cstring>

#include "process/api.h"
#include "process/slice.h"
#include "userdata/userdata.h"

Userdata *(*ud_draw_target_hook)(lua_State *L, UdRect *clip) = nullptr;

// Coordinates far outside any array are pulled in first, so that sums of
// saturated 64-bit arguments cannot overflow.
static int64_t bound(int64_t v)
{
    return std::clamp<int64_t>(v, -((int64_t)1 << 33), (int64_t)1 << 33);
}

int64_t ud_blit(Userdata *src, Userdata *dst, int64_t sx, int64_t sy, int64_t dx, int64_t dy,
                int64_t w, int64_t h, const UdRect *clip)
{
    if ((src->type & UD_TYPE_MASK) != (dst->type & UD_TYPE_MASK) || w < 1 || h < 1)
        return 0;
    sx = bound(sx), sy = bound(sy), dx = bound(dx), dy = bound(dy), w = bound(w), h = bound(h);
    // The clip rectangle may be stale (the target can be retyped smaller
    // after its clip was derived), so it is always cut to the destination.
    int64_t cx0 = std::max(clip->x0, 0), cy0 = std::max(clip->y0, 0);
    int64_t cx1 = std::min(clip->x1, dst->width), cy1 = std::min(clip->y1, dst->height);
    if (dx < cx0) {
        sx += cx0 - dx, w -= cx0 - dx, dx = cx0;
    }
    if (dy < cy0) {
        sy += cy0 - dy, h -= cy0 - dy, dy = cy0;
    }
    w = std::min(w, cx1 - dx);
    h = std::min(h, cy1 - dy);
    if (sx < 0) {
        dx -= sx, w += sx, sx = 0;
    }
    if (sy < 0) {
        dy -= sy, h += sy, sy = 0;
    }
    w = std::min<int64_t>(w, src->width - sx);
    h = std::min<int64_t>(h, src->height - sy);
    if (w < 1 || h < 1)
        return 0;

    int64_t e = ud_elem_size(src->type);
    size_t row_bytes = (size_t)(w * e);
    const uint8_t *s = ud_data(src);
    uint8_t *d = ud_data(dst);
    auto row = [&](int64_t j) {
        memmove(d + ((dy + j) * dst->width + dx) * e, s + ((sy + j) * src->width + sx) * e, row_bytes);
    };
    // bottom-up when the destination lies below the source in one object,
    // so that no row is overwritten before it is read
    if (src == dst && dy > sy) {
        for (int64_t j = h - 1; j >= 0; j--)
            row(j);
    } else {
        for (int64_t j = 0; j < h; j++)
            row(j);
    }
    int64_t cost = h * (w + 64);
    return (src == dst && sy == dy && dx >= sx) ? cost * 4 : cost;
}

// blit(src, dest, sx, sy, dx, dy, w, h): a missing source or destination is
// the draw target, whose clip rectangle applies when it is the destination;
// any other destination is clipped to its whole area only.
int lua54_blit(lua_State *L)
{
    UdRect target_clip = {0, 0, 0, 0};
    Userdata *target = ud_draw_target_hook ? ud_draw_target_hook(L, &target_clip) : nullptr;
    Userdata *src = ud_check(L, 1);
    Userdata *dst = ud_check(L, 2);
    if (!src)
        src = target;
    if (!dst)
        dst = target;
    if (!src || !dst)
        return 0;
    UdRect clip = {0, 0, dst->width, dst->height};
    if (dst == target)
        clip = target_clip;
    int64_t cost = ud_blit(src, dst, k64_intp(L, 3, 0), k64_intp(L, 4, 0), k64_intp(L, 5, 0),
                           k64_intp(L, 6, 0), k64_intp(L, 7, src->width), k64_intp(L, 8, src->height), &clip);
    spend_cpu(cost / 64);
    return 0;
}
