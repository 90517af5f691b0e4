// Writing values to files: store and the metadata of a file.
//
// Whatever store cannot write whole it does not write at all, and says so:
// the result is then a text naming the path and the reason. A value is
// serialised before its file is opened, so a value that cannot be written
// leaves the old file in place, and so does a metadata text whose end a
// reader could not find (it would make the whole file unreadable).
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "formats/buffer.h"
#include "formats/kod.h"
#include "formats/png.h"
#include "formats/qoi.h"
#include "lua.hpp"
#include "pdisk/fileapi.h"
#include "pdisk/fileapi_image.h"
#include "pdisk/fileapi_internal.h"
#include "pdisk/mount.h"
#include "pdisk/path.h"
#include "pdisk/pfile.h"
#include "process/process.h"
#include "process/slice.h"
#include "userdata/userdata.h"

constexpr int32_t BUFFER_TAG_STORE = 41;
constexpr int STORE_KOD_FLAGS = KOD_KXU | KOD_LZ4;   // binary userdata, one lz4 block
constexpr size_t PNG_CART_MIN_SIZE = 512;

static const char META_NONE[] = "metadata_format=\"none\"";
static const char RAW_HEADER[] = "--[[kod_format=\"raw\"";

using BufferPtr = std::unique_ptr<Buffer, BufferDeleter>;

static int report(lua_State *L, const std::string &path, const char *why)
{
    lua_pushfstring(L, "could not store %s: %s", path.c_str(), why);
    return 1;
}

// A metadata text that asks for no metadata is still written into files of
// sandboxed programs, unless the file is plain text for other programs.
static bool keeps_metadata(const char *meta, const char *path)
{
    if (!strstr(meta, META_NONE))
        return true;
    return cproc && cproc->sandboxed && !fileapi_is_known_text_ext(path);
}

static int write_buffer(lua_State *L, const std::string &p, const char *mode, const Buffer *b)
{
    const char *why = fileapi_write_file(p.c_str(), mode, b->data, (size_t)b->len);
    return why ? report(L, p, why) : 0;
}

// A string stored as it is, after its metadata block.
static int store_raw_string(lua_State *L, const std::string &p, const char *meta, size_t meta_len)
{
    size_t n;
    const char *bytes = lua_tolstring(L, 2, &n);
    if (!fileapi_metadata_is_whole(meta, meta_len))
        return report(L, p, "bad metadata");
    BufferPtr out(create_buffer_2(1024, BUFFER_TAG_STORE));
    if (!out)
        return report(L, p, "out of memory");
    if (meta_len && keeps_metadata(meta, p.c_str())) {
        bool ok = bwrite(meta, 1, (int)meta_len, out.get()) >= 0;
        // one newline ends the block; a second would become part of the string
        if (meta[meta_len - 1] != '\n')
            ok = ok && bwrite("\n", 1, 1, out.get()) >= 0;
        if (!ok)
            return report(L, p, "out of memory");
    }
    if (n > (size_t)INT32_MAX || bwrite(bytes, 1, (int)n, out.get()) < 0)
        return report(L, p, "out of memory");
    return write_buffer(L, p, "w", out.get());
}

static int store_cartridge(lua_State *L, const std::string &p)
{
    if (lua_type(L, 2) != LUA_TSTRING)
        return report(L, p, "a cartridge must be stored as a string");
    size_t n;
    const char *bytes = lua_tolstring(L, 2, &n);
    if (k64_path_kind(p.c_str()) == K64_KIND_PNG &&
        (n < PNG_CART_MIN_SIZE || memcmp(bytes + 1, "PNG", 3) != 0)) {
        lua_pushliteral(L, "invalid .k64.png file: not a valid PNG");
        return 1;
    }
    // A mount of the old cartridge would go on showing the old files and,
    // when dirty, write them over the new file later: it is put away first.
    delete_mount_point(p.c_str());
    const char *why = fileapi_write_file(p.c_str(), "wf", bytes, n);
    return why ? report(L, p, why) : 0;
}

static int store_image(lua_State *L, const std::string &p)
{
    Userdata *u = ud_check(L, 2);
    uint8_t *rgba = fileapi_userdata_rgba(u);
    if (!rgba)
        return report(L, p, "an image must be a 2d u8 or i32 userdata");
    BufferPtr out(create_buffer_2(4096, BUFFER_TAG_STORE));
    bool ok = out != nullptr;
    if (ok && fileapi_ext_is(p.c_str(), "qoi")) {
        QoiDesc desc = {(uint32_t)u->width, (uint32_t)u->height, 4, 1};
        size_t len = 0;
        uint8_t *qoi = qoi_encode(rgba, &desc, &len);
        ok = qoi && len <= INT32_MAX && bwrite(qoi, 1, (int)len, out.get()) >= 0;
        free(qoi);
    } else if (ok) {
        size_t len = 0;
        uint8_t *png = png_encode_rgba(rgba, (uint32_t)u->width, (uint32_t)u->height, &len);
        ok = png && len <= INT32_MAX && bwrite(png, 1, (int)len, out.get()) >= 0;
        free(png);
    }
    free(rgba);
    if (!ok)
        return report(L, p, "could not encode image");
    spend_cpu(ud_count(u));
    return write_buffer(L, p, "wb", out.get());
}

static int store_kod(lua_State *L, const std::string &p, const char *meta, size_t meta_len)
{
    BufferPtr out(create_buffer_2(1024, BUFFER_TAG_STORE));
    if (!out)
        return report(L, p, "out of memory");
    if (meta && !fileapi_metadata_is_whole(meta, meta_len))
        return report(L, p, "bad metadata");
    if (!meta) {
        meta = "--[[kod]]\n";
        meta_len = strlen(meta);
    }
    if (meta_len && bwrite(meta, 1, (int)meta_len, out.get()) < 0)
        return report(L, p, "out of memory");
    int flags = fileapi_is_host_text_ext(p.c_str()) ? 0 : STORE_KOD_FLAGS;
    int err = stringify_object(L, 2, out.get(), flags);
    if (err != KOD_OK)
        return report(L, p, kod_error_text(err));
    return write_buffer(L, p, "w", out.get());
}

// store(path, value, metadata)
int lua54_store(lua_State *L)
{
    if (!fileapi_text_arg(L, 1))
        return 0;
    std::string p = fileapi_path_arg(L, 1);
    if (p.empty())
        return 0;
    size_t meta_len = 0;
    const char *meta = fileapi_text_arg(L, 3, &meta_len);
    bool raw = meta && (meta_len == 0 || strncmp(meta, RAW_HEADER, strlen(RAW_HEADER)) == 0);
    if (lua_type(L, 2) == LUA_TSTRING && raw)
        return store_raw_string(L, p, meta, meta_len);
    if (k64_path_kind(p.c_str()) != K64_KIND_NONE)
        return store_cartridge(L, p);
    if (fileapi_ext_is(p.c_str(), "png") || fileapi_ext_is(p.c_str(), "qoi"))
        return store_image(L, p);
    return store_kod(L, p, meta, meta_len);
}

// _store_metadata_str_to_file(path, text): replaces the metadata block of a
// file, keeping what follows it; a missing file is created holding the block.
int lua54__store_metadata_str_to_file(lua_State *L)
{
    std::string p = fileapi_path_arg(L, 1);
    size_t meta_len = 0;
    const char *meta = fileapi_text_arg(L, 2, &meta_len);
    if (p.empty() || !meta)
        return 0;
    if (!fileapi_metadata_is_whole(meta, meta_len))
        return report(L, p, "bad metadata");
    std::string text = keeps_metadata(meta, p.c_str()) ? std::string(meta, meta_len) : "";
    // read whole before writing: a RAM file is its own handle
    if (pfile *f = pfopen(p.c_str(), "r")) {
        const char *old = (const char *)f->contents->data;
        size_t n = (size_t)f->contents->len;
        size_t cut = fileapi_metadata_block_length(old, n);
        text.append(old + cut, n - cut);
        pfclose(f);
    }
    const char *why = fileapi_write_file(p.c_str(), "w", text.data(), text.size());
    return why ? report(L, p, why) : 0;
}
