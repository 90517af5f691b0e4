// Reading values from files: fetch and the metadata of a file.
#include <cstring>
#include <memory>

#include "formats/buffer.h"
#include "formats/hosttext.h"
#include "formats/kod.h"
#include "lua.hpp"
#include "pdisk/fileapi.h"
#include "pdisk/fileapi_image.h"
#include "pdisk/fileapi_internal.h"
#include "pdisk/path.h"
#include "pdisk/pfile.h"
#include "process/api.h"

static bool starts_with(const char *text, size_t n, const char *prefix)
{
    size_t k = strlen(prefix);
    return n >= k && memcmp(text, prefix, k) == 0;
}

int unkod_from_fetched_buffer(lua_State *L, const Buffer *contents, const char *path, int flags)
{
    std::unique_ptr<Buffer, BufferDeleter> converted;
    if (fileapi_is_host_text_ext(path))
        converted.reset(decode_host_text(contents));
    const Buffer *src = converted ? converted.get() : contents;
    const char *text = (const char *)src->data;
    size_t n = src->len > 0 ? (size_t)src->len : 0;

    if (!(flags & FETCH_RAW)) {
        bool qoi = fileapi_ext_is(path, "qoi");
        bool png = !qoi && n >= 5 && memcmp(text + 1, "PNG", 3) == 0;
        // a picture that does not decode is read as any other file
        if ((qoi || png) && fileapi_push_image(L, text, n, qoi, flags & FETCH_IMAGE_RGBA))
            return 1;
    }
    if (fileapi_ext_is(path, "kod") || starts_with(text, n, "-- kestrane object data") ||
        starts_with(text, n, "--[[kod"))
        return destringify_object(L, text, n);
    lua_pushlstring(L, text, n);
    lua_createtable(L, 0, 1);
    lua_pushliteral(L, "none");
    lua_setfield(L, -2, "metadata_format");
    return 2;
}

// fetch(path, flags): flags bit 0 gives pictures as 32-bit colours, bit 1
// the bytes as they are. A cartridge path gives the cartridge file's bytes.
int lua54_fetch(lua_State *L)
{
    std::string p = fileapi_path_arg(L, 1);
    if (p.empty())
        return 0;
    int flags = (int)k64_intp(L, 2, 0);
    bool raw = k64_path_kind(p.c_str()) != K64_KIND_NONE || (flags & FETCH_RAW);
    pfile *f = pfopen(p.c_str(), raw ? "rf" : "rb");
    if (!f)
        return 0;
    int n;
    if (raw) {
        lua_pushlstring(L, (const char *)f->contents->data, (size_t)f->contents->len);
        n = 1;
    } else {
        n = unkod_from_fetched_buffer(L, f->contents, p.c_str(), flags);
    }
    pfclose(f);
    return n;
}

int lua54__fetch_metadata_from_file(lua_State *L)
{
    std::string p = fileapi_path_arg(L, 1);
    if (p.empty())
        return 0;
    pfile *f = pfopen(p.c_str(), "rm");
    if (!f)
        return 0;
    const char *text = (const char *)f->contents->data;
    size_t n = (size_t)f->contents->len;
    int pushed = 0;
    if (starts_with(text, n, "--[[kod"))
        pushed = destringify_object_metadata(L, text, n);
    pfclose(f);
    return pushed;
}
