// Argument, extension and metadata helpers of the file API, and the one
// routine through which it writes whole files.
#include <cstdint>
#include <cstring>

#include "lua.hpp"
#include "pdisk/fileapi_internal.h"
#include "pdisk/path.h"
#include "pdisk/pfile.h"

const char *fileapi_text_arg(lua_State *L, int idx, size_t *len)
{
    return lua_type(L, idx) == LUA_TSTRING ? lua_tolstring(L, idx, len) : nullptr;
}

std::string fileapi_path_arg(lua_State *L, int idx)
{
    const char *text = fileapi_text_arg(L, idx);
    return text ? normalise_kestrane_path(text) : std::string();
}

static const char *last_ext_part(const char *path)
{
    const char *ext = get_ext(path);
    const char *dot = strrchr(ext, '.');
    return dot ? dot + 1 : ext;
}

int fileapi_ext_is(const char *path, const char *ext)
{
    return strcmp(last_ext_part(path), ext) == 0;
}

int fileapi_is_known_text_ext(const char *path)
{
    static const char *const known[] = {"v7l", "txt", "obj", "mtl", "svg", "pov",
                                        "sfd", "csv", "ppm", "html", "css", "json"};
    const char *ext = last_ext_part(path);
    for (const char *k : known)
        if (strcmp(ext, k) == 0)
            return 1;
    return 0;
}

int fileapi_is_host_text_ext(const char *path)
{
    const char *ext = last_ext_part(path);
    return strcmp(ext, "txt") == 0 || strcmp(ext, "pn") == 0 || strcmp(ext, "lua") == 0;
}

// Index of the first "]]" of a block that starts "--[[kod", or -1.
static int64_t block_close(const char *text, size_t n)
{
    if (n < 7 || memcmp(text, "--[[kod", 7) != 0)
        return -1;
    for (size_t i = 7; i + 1 < n; i++)
        if (text[i] == ']' && text[i + 1] == ']')
            return (int64_t)i;
    return -1;
}

int fileapi_metadata_is_whole(const char *text, size_t n)
{
    if (n == 0)
        return 1;
    int64_t close = block_close(text, n);
    if (close < 0)
        return 0;
    size_t rest = n - (size_t)close - 2;
    return rest == 0 || (rest == 1 && text[n - 1] == '\n');
}

size_t fileapi_metadata_block_length(const char *text, size_t n)
{
    int64_t close = block_close(text, n);
    if (close < 0)
        return 0;
    size_t end = (size_t)close + 2;
    return end < n && text[end] == '\n' ? end + 1 : end;
}

const char *fileapi_write_file(const char *path, const char *mode, const void *bytes, size_t n)
{
    if (n > (size_t)INT32_MAX - 1)
        return "too large";
    pfile *f = pfopen(path, mode);
    if (!f)
        return "could not open file";
    if (n && pfwrite(bytes, 1, (int)n, f) != (int)n) {
        // a host file must not be replaced by the part that fitted
        host_write_abort(&f->host);
        pfclose(f);
        return "out of memory";
    }
    return pfclose(f) == 0 ? nullptr : "write failed";
}
