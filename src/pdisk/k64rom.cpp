// Reading and writing ROM cartridge images over plain entries.
#include "pdisk/k64rom.h"

#include "formats/buffer.h"

#include <lz4.h>
#include <lz4hc.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

static const int32_t rom_tag = 100;
static const int rom_format = 2;
static const int rom_compression_level = 9;

struct FreeDeleter {
    void operator()(void *p) const { free(p); }
};

// Walks a decompressed entry stream, appending to out; returns the number of
// entries read before the end of the stream or the first bad entry. *whole
// is cleared when the walk stopped early or an entry was cut short.
static int rom_walk(const uint8_t *s, int32_t n, std::vector<RomEntry> &out, bool *whole)
{
    int32_t p = 0;
    int count = 0;
    while (p < n && count < K64ROM_MAX_ENTRIES) {
        // A name must end with a 0 byte within its 400 characters.
        int32_t scan = std::min(n - p, K64ROM_MAX_NAME + 1);
        const uint8_t *nul = (const uint8_t *)memchr(s + p, 0, (size_t)scan);
        if (!nul || nul == s + p) {
            puts("  *** k64.rom filename parsing failed");
            *whole = false;
            break;
        }
        std::string name((const char *)s + p, (size_t)(nul - (s + p)));
        p += (int32_t)name.size() + 1;
        if (name.find("..") != std::string::npos) {
            printf("** bad file description while mounting .k64.rom: %s\n", name.c_str());
            *whole = false;
            break;
        }
        if (name.back() == '/') {
            name.pop_back();
            out.push_back(RomEntry{name, true, std::string()});
            count++;
            continue;
        }
        // Length, then data; both clamped to what remains of the stream.
        int64_t len = 0;
        if (p < n) {
            len = s[p++];
            if (len == 255) {
                if (n - p >= 4) {
                    len = (int64_t)s[p] | (int64_t)s[p + 1] << 8 | (int64_t)s[p + 2] << 16 | (int64_t)s[p + 3] << 24;
                    p += 4;
                } else {
                    len = 0;
                    p = n;
                    *whole = false;
                }
            }
        }
        if (len > n - p)
            *whole = false;
        len = std::min<int64_t>(len, n - p);
        out.push_back(RomEntry{name, false, std::string((const char *)s + p, (size_t)len)});
        p += (int32_t)len;
        count++;
    }
    if (p < n)
        *whole = false;   // entries beyond the limit
    return count;
}

int k64rom_read(Buffer *b, std::vector<RomEntry> &out, const char *where, bool *whole)
{
    bool scratch_whole;
    if (!whole)
        whole = &scratch_whole;
    *whole = false;
    if (!b || b->pos < 0 || (int64_t)b->pos + 3 > b->len || memcmp(b->data + b->pos, "k64", 3) != 0)
        return -1;
    b->pos += 3;
    bread_uint8(b);   // format byte, not needed to read
    uint32_t c = bread_uint32(b);
    int32_t csize = (int32_t)std::min<int64_t>(c, (int64_t)b->len - b->pos);
    const char *src = (const char *)b->data + b->pos;
    b->pos += csize;

    // Pages of the scratch are only touched as far as the stream reaches.
    std::unique_ptr<char, FreeDeleter> stream((char *)malloc(K64ROM_MAX_STREAM));
    int n = (stream && csize > 0) ? LZ4_decompress_safe(src, stream.get(), csize, K64ROM_MAX_STREAM) : -1;
    if (n == 0 && c == (uint32_t)csize) {
        *whole = true;   // an empty entry stream: a cartridge with nothing in it
        return 0;
    }
    if (n < 1) {
        printf("  *** k64.rom decompression failed: %s\n", where ? where : "");
        return 0;
    }
    *whole = c == (uint32_t)csize;
    return rom_walk((const uint8_t *)stream.get(), n, out, whole);
}

// The name as stored in the stream, or empty when the reader would refuse it.
static std::string rom_stream_name(const RomEntry &e)
{
    std::string name = e.name;
    if (e.folder && (name.empty() || name.back() != '/'))
        name += '/';
    bool ok = !name.empty() && name != "/" && name.size() <= (size_t)K64ROM_MAX_NAME &&
              name.find('\0') == std::string::npos && name.find("..") == std::string::npos &&
              (e.folder || name.back() != '/');
    return ok ? name : std::string();
}

static bool rom_write_stream(Buffer *stream, const std::vector<RomEntry> &entries)
{
    if (entries.size() > (size_t)K64ROM_MAX_ENTRIES)
        return false;
    for (const RomEntry &e : entries) {
        // Past the reader's limit already: stop before sizes get anywhere
        // near what a buffer can hold.
        if (stream->len > K64ROM_MAX_STREAM)
            return false;
        std::string name = rom_stream_name(e);
        if (name.empty() || bwrite(name.c_str(), 1, (int)name.size() + 1, stream) < 0)
            return false;
        if (e.folder)
            continue;
        if (e.data.size() > (size_t)K64ROM_MAX_STREAM)
            return false;
        uint32_t len = (uint32_t)e.data.size();
        if (len < 255) {
            bwrite_uint8((uint8_t)len, stream);
        } else {
            bwrite_uint8(255, stream);
            bwrite_uint32(len, stream);
        }
        if (bwrite(e.data.data(), 1, (int)len, stream) < 0)
            return false;
    }
    return stream->len <= K64ROM_MAX_STREAM;
}

int k64rom_write(Buffer *out, const std::vector<RomEntry> &entries)
{
    if (!out)
        return -1;
    std::unique_ptr<Buffer, BufferDeleter> stream(create_buffer_2(4096, rom_tag));
    if (!stream || !rom_write_stream(stream.get(), entries))
        return -1;

    int bound = LZ4_compressBound(stream->len);
    std::unique_ptr<char, FreeDeleter> block((char *)malloc((size_t)std::max(bound, 1)));
    if (bound <= 0 || !block)
        return -1;
    int c = LZ4_compress_HC((const char *)stream->data, block.get(), stream->len, bound, rom_compression_level);
    if (c <= 0)
        return -1;

    // Reserve the whole image first so that nothing is half written.
    int64_t end = (int64_t)out->len + 8 + c;
    if (end >= INT32_MAX || ballocate(out, (int32_t)end) < 0)
        return -1;
    out->pos = out->len;
    bwrite("k64", 1, 3, out);
    bwrite_uint8(rom_format, out);
    bwrite_uint32((uint32_t)c, out);
    bwrite(block.get(), 1, c, out);
    return 8 + c;
}

bool k64rom_find(const std::vector<RomEntry> &entries, const char *name, std::string *data)
{
    if (!name)
        return false;
    for (const RomEntry &e : entries) {
        if (e.name == name) {
            if (data)
                *data = e.data;
            return true;
        }
    }
    return false;
}

static bool read_host_file(const std::filesystem::path &path, std::string &data)
{
    FILE *f = fopen(path.string().c_str(), "rb");
    if (!f)
        return false;
    data.clear();
    char chunk[16384];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), f)) > 0)
        data.append(chunk, got);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

int k64rom_pack_folder(const char *host_dir, std::vector<RomEntry> &out)
{
    namespace fs = std::filesystem;
    out.clear();
    if (!host_dir)
        return -1;
    const fs::path root(host_dir);
    std::error_code ec;
    // Linked folders are followed, so the depth is bounded against loops.
    fs::recursive_directory_iterator it(root, fs::directory_options::follow_directory_symlink, ec), end;
    if (ec) {
        fprintf(stderr, "** cannot read folder %s: %s\n", host_dir, ec.message().c_str());
        return -1;
    }
    for (; it != end; it.increment(ec)) {
        if (ec)
            break;
        const fs::path &path = it->path();
        std::string leaf = path.filename().string();
        bool dir = it->is_directory(ec);
        if (leaf.empty() || leaf[0] == '.') {
            if (dir)
                it.disable_recursion_pending();
            continue;
        }
        if (it.depth() > 64) {
            fprintf(stderr, "** folders nested too deeply: %s\n", path.string().c_str());
            return -1;
        }
        RomEntry e{path.lexically_relative(root).generic_string(), dir, std::string()};
        if (!dir) {
            if (!it->is_regular_file(ec))
                continue;
            if (!read_host_file(path, e.data)) {
                fprintf(stderr, "** cannot read file %s\n", path.string().c_str());
                return -1;
            }
        }
        if (rom_stream_name(e).empty()) {
            fprintf(stderr, "** name cannot be stored in a rom: %s\n", e.name.c_str());
            return -1;
        }
        out.push_back(std::move(e));
    }
    if (ec) {
        fprintf(stderr, "** cannot read folder %s: %s\n", host_dir, ec.message().c_str());
        return -1;
    }
    std::sort(out.begin(), out.end(), [](const RomEntry &a, const RomEntry &b) { return a.name < b.name; });
    if (out.size() > (size_t)K64ROM_MAX_ENTRIES) {
        fprintf(stderr, "** too many entries for a rom: %zu\n", out.size());
        return -1;
    }
    return (int)out.size();
}
