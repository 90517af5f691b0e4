// The host-side cache: downloaded bytes kept as host files in the data
// folder, "cache/CATEGORY/NAME", outside the virtual filesystem.
//
// Category and name come from programs and become host path segments, so
// each must be one plain segment: path characters other than '/', not
// starting with '.'. A versioned name carries one integer field ("%d",
// optionally with a width, "%03d"), filled in by the kernel; no other '%'
// is allowed, so the name is never used as a format string.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "formats/buffer.h"
#include "host/paths.h"
#include "lua.hpp"
#include "pdisk/fileapi.h"
#include "pdisk/fileapi_internal.h"
#include "pdisk/hostfs.h"
#include "pdisk/path.h"
#include "process/slice.h"

constexpr size_t CACHE_MAX_SEGMENT = 200;

static bool plain_segment(const std::string &s)
{
    if (s.empty() || s.size() > CACHE_MAX_SEGMENT || s[0] == '.')
        return false;
    for (char c : s)
        if (c == '/' || !is_path_char((unsigned char)c))
            return false;
    return true;
}

static std::string cache_folder(const std::string &category)
{
    return vemo_data_path("cache") + "/" + category;
}

// The name with its one integer field set to v; "" when the name does not
// hold exactly one field of the form %d, %Nd or %0Nd.
static std::string versioned_name(const std::string &name, int v)
{
    size_t at = name.find('%');
    if (at == std::string::npos || name.find('%', at + 1) != std::string::npos)
        return "";
    size_t i = at + 1;
    bool zero = i < name.size() && name[i] == '0';
    if (zero)
        i++;
    int width = 0;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9' && width < 100)
        width = width * 10 + (name[i++] - '0');
    if (i >= name.size() || name[i] != 'd' || width > 32)
        return "";
    char number[48];
    snprintf(number, sizeof number, zero ? "%0*d" : "%*d", width, v);
    return name.substr(0, at) + number + name.substr(i + 1);
}

int lua54__cache_store(lua_State *L)
{
    const char *category = fileapi_text_arg(L, 1);
    const char *name = fileapi_text_arg(L, 2);
    size_t n = 0;
    const char *bytes = fileapi_text_arg(L, 3, &n);
    if (!category || !name || !bytes || !plain_segment(category) || !plain_segment(name))
        return 0;
    std::string folder = cache_folder(category);
    if (vemo_mkdirs(folder.c_str()) != 0)
        return 0;
    HostWrite w;
    if (host_write_begin((folder + "/" + name).c_str(), &w) == 0)
        host_write_commit(&w, bytes, n);
    spend_cpu((int64_t)n / 8);
    return 0;
}

// The bytes of one cached file, when it exists and is long enough.
static bool read_cached(const std::string &host_path, lua_State *L)
{
    if (host_file_size(host_path.c_str()) < FILEAPI_CACHE_MIN_SIZE)
        return false;
    std::unique_ptr<Buffer, BufferDeleter> b(create_buffer_2(4096, BUFFER_TAG_FROM_FILE));
    if (!b || host_read_file(host_path.c_str(), b.get(), -1) < FILEAPI_CACHE_MIN_SIZE)
        return false;
    spend_cpu(b->len / 8);
    lua_pushlstring(L, (const char *)b->data, (size_t)b->len);
    return true;
}

// _cache_fetch(category, name, versioned): with `versioned` the name holds
// a version field and the highest version present wins.
int lua54__cache_fetch(lua_State *L)
{
    const char *category = fileapi_text_arg(L, 1);
    const char *name = fileapi_text_arg(L, 2);
    if (!category || !name || !plain_segment(category))
        return 0;
    std::string folder = cache_folder(category) + "/";
    if (!lua_toboolean(L, 3))
        return plain_segment(name) && read_cached(folder + name, L) ? 1 : 0;
    for (int v = FILEAPI_CACHE_MAX_VERSION; v >= 0; v--) {
        std::string file = versioned_name(name, v);
        if (!plain_segment(file))
            return 0;
        if (read_cached(folder + file, L))
            return 1;
    }
    return 0;
}
