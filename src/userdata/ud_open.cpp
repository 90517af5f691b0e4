// The USERDATA metatable of a Lua state and the creating globals.
#include "memory/ram.h"
#include "process/api.h"
#include "userdata/userdata.h"

// Every group of methods the metatable carries. The element-wise and matrix
// families add their groups to this list.
static const luaL_Reg *const method_groups[] = {
    ud_access_methods,
    ud_object_methods,
};

// How the address-space code sees a typed array.
static bool ram_view(lua_State *L, int idx, UdView *v)
{
    Userdata *u = ud_check(L, idx);
    if (!u)
        return false;
    v->data = ud_data(u);
    v->type = u->type & UD_TYPE_MASK;
    v->width = u->width;
    v->height = u->height;
    v->elem_size = ud_elem_size(u->type);
    return true;
}

void userdata_open(lua_State *L)
{
    ram_userdata_view = ram_view;
    lua_newtable(L);
    for (const luaL_Reg *group : method_groups)
        luaL_setfuncs(L, group, 0);
    lua_rawgeti(L, LUA_REGISTRYINDEX, LUA_RIDX_GLOBALS);
    lua_insert(L, -2);
    lua_setfield(L, -2, "USERDATA");
    lua_pop(L, 1);
}

// userdata(type, width, [height], [data])
int lua54_userdata(lua_State *L)
{
    int top = lua_gettop(L);
    int data_idx = top > 3 ? 4 : 3;
    bool has_data = lua_type(L, data_idx) == LUA_TSTRING;
    int sizes = has_data ? top - 2 : top - 1;
    int64_t width = k64_intp(L, 2, -1);
    int64_t height = 1;
    int dims = 1;
    if (sizes >= 2) {
        height = k64_intp(L, 3, -1);
        dims = 2;
    }
    const char *type = lua_type(L, 1) == LUA_TSTRING ? lua_tostring(L, 1) : nullptr;
    size_t len = 0;
    const char *data = has_data ? lua_tolstring(L, data_idx, &len) : nullptr;
    return ud_create(L, type, dims, width, height, data, len) ? 1 : 0;
}

// vec(n1, n2, ...): an f64 vector of the arguments as numbers.
int lua54_vec(lua_State *L)
{
    int n = lua_gettop(L);
    if (n < 1 || !lua_isnumber(L, 1))
        return 0;
    Userdata *u = ud_new(L, UD_F64, 1, n, 1);
    if (!u)
        return 0;
    double *d = (double *)ud_data(u);
    for (int i = 0; i < n; i++)
        d[i] = lua_tonumber(L, i + 1);
    return 1;
}
