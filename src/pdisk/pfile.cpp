// The pfile table and the open/read/write/close cycle of file handles.
#include "pdisk/pfile.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "formats/buffer.h"
#include "host/clock.h"
#include "host/log.h"
#include "pdisk/hooks.h"
#include "pdisk/mount.h"
#include "process/slice.h"

constexpr int32_t BUFFER_TAG_PFILE = 40;

int32_t pdisk_sync_needed;

// Never destroyed, like the mount table: files stay reachable while the
// program exits.
static std::vector<pfile *> &table = *new std::vector<pfile *>();
static std::vector<pfile *> &snapshot = *new std::vector<pfile *>();
static int num_live;
static int num_unused;

static uint32_t rotl32(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

uint32_t pdisk_hash(const void *bytes, size_t n)
{
    const uint8_t *p = (const uint8_t *)bytes;
    const uint32_t c1 = 0xcc9e2d51, c2 = 0x1b873593;
    uint32_t h = 0;
    size_t blocks = n / 4;
    for (size_t i = 0; i < blocks; i++) {
        uint32_t k = (uint32_t)p[4 * i] | (uint32_t)p[4 * i + 1] << 8 |
                     (uint32_t)p[4 * i + 2] << 16 | (uint32_t)p[4 * i + 3] << 24;
        k *= c1;
        k = rotl32(k, 15);
        k *= c2;
        h ^= k;
        h = rotl32(h, 13);
        h = h * 5 + 0xe6546b64;
    }
    const uint8_t *tail = p + blocks * 4;
    uint32_t k = 0;
    switch (n & 3) {
    case 3: k ^= (uint32_t)tail[2] << 16; [[fallthrough]];
    case 2: k ^= (uint32_t)tail[1] << 8; [[fallthrough]];
    case 1:
        k ^= tail[0];
        k *= c1;
        k = rotl32(k, 15);
        k *= c2;
        h ^= k;
    }
    h ^= (uint32_t)n;
    h ^= h >> 16;
    h *= 0x85ebca6b;
    h ^= h >> 13;
    h *= 0xc2b2ae35;
    h ^= h >> 16;
    return h;
}

// First index whose name is not below name.
static size_t lower_index(const char *name)
{
    auto it = std::lower_bound(table.begin(), table.end(), name,
                               [](const pfile *e, const char *n) { return strcmp(e->name.c_str(), n) < 0; });
    return (size_t)(it - table.begin());
}

// First index whose name is above name.
static size_t upper_index(const char *name)
{
    auto it = std::upper_bound(table.begin(), table.end(), name,
                               [](const char *n, const pfile *e) { return strcmp(n, e->name.c_str()) < 0; });
    return (size_t)(it - table.begin());
}

int get_index_by_name(const char *name)
{
    uint32_t h = pdisk_hash(name, strlen(name));
    for (size_t i = lower_index(name); i < table.size(); i++) {
        const pfile *e = table[i];
        if (e->hash == h && e->name == name) {
            if (e->kind != PFILE_UNUSED)
                return (int)i;
        } else if (e->name != name) {
            break;
        }
    }
    return -1;
}

pfile *get_ram_file_by_index(int i)
{
    if (i < 0 || i >= (int)table.size() || table[i]->kind != PFILE_RAM)
        return nullptr;
    return table[i];
}

pfile *get_ram_file_by_name(const char *name)
{
    // Host handles may share a name with a RAM entry; look past them.
    uint32_t h = pdisk_hash(name, strlen(name));
    for (size_t i = lower_index(name); i < table.size() && table[i]->name == name; i++)
        if (table[i]->kind == PFILE_RAM && table[i]->hash == h)
            return table[i];
    return nullptr;
}

pfile *pdisk_entry(int i) { return i >= 0 && i < (int)table.size() ? table[i] : nullptr; }

pfile *pfile_insert(const char *name, int kind, const char *origin)
{
    if ((int)table.size() >= PFILE_MAX_ENTRIES) {
        pdisk_compact_pfiles();
        if ((int)table.size() >= PFILE_MAX_ENTRIES)
            return nullptr;
    }
    Buffer *contents = create_buffer_2(1024, BUFFER_TAG_PFILE);
    if (!contents)
        return nullptr;
    pfile *e = new pfile();
    e->kind = kind;
    e->name = name;
    e->hash = pdisk_hash(name, e->name.size());
    e->origin = origin;
    e->contents = contents;
    table.insert(table.begin() + (std::ptrdiff_t)upper_index(name), e);
    num_live++;
    return e;
}

// The entry stays in the table, keeping its place, until compaction.
static void retire(pfile *e)
{
    if (e->kind == PFILE_UNUSED)
        return;
    host_write_abort(&e->host);
    destroy_buffer(e->contents);
    e->contents = nullptr;
    e->kind = PFILE_UNUSED;
    e->mode[0] = 0;
    num_live--;
    num_unused++;
}

void pdisk_compact_pfiles()
{
    if (!num_unused)
        return;
    auto keep = std::remove_if(table.begin(), table.end(), [](pfile *e) {
        if (e->kind != PFILE_UNUSED)
            return false;
        delete e;
        return true;
    });
    table.erase(keep, table.end());
    num_unused = 0;
}

void pdisk_clear_pfiles()
{
    for (pfile *e : table) {
        retire(e);
        delete e;
    }
    table.clear();
    snapshot.clear();
    num_live = 0;
    num_unused = 0;
    pdisk_sync_needed = 0;
}

int pdisk_num_pfiles() { return num_live; }

int pdisk_count_slots_by_kind(int kind)
{
    int n = 0;
    for (const pfile *e : table)
        n += e->kind == kind;
    return n;
}

int pdisk_pfile_iterator()
{
    pdisk_compact_pfiles();
    snapshot = table;
    return (int)snapshot.size();
}

pfile *pdisk_pfile_iterator_item(int i)
{
    return i >= 0 && i < (int)snapshot.size() ? snapshot[i] : nullptr;
}

void pdisk_prefix_range(const char *prefix, int *first, int *last)
{
    size_t n = strlen(prefix);
    size_t i = lower_index(prefix), j = i;
    while (j < table.size() && strncmp(table[j]->name.c_str(), prefix, n) == 0)
        j++;
    *first = (int)i;
    *last = (int)j;
}

int ram_path_is_inside_origin(const char *path, const char *origin, int flag)
{
    size_t n = strlen(origin);
    if (n == 1 && origin[0] == '/')
        return path[0] == '/' && (path[1] || flag);
    if (strncmp(path, origin, n) != 0)
        return 0;
    return path[n] == '/' || (flag && path[n] == 0);
}

int delete_ram_files_with_prefix(const char *prefix)
{
    int first, last, count = 0;
    pdisk_prefix_range(prefix, &first, &last);
    for (int i = first; i < last; i++) {
        if (table[i]->kind == PFILE_RAM) {
            retire(table[i]);
            count++;
        }
    }
    return count;
}

int delete_ram_files_in_path(const char *path)
{
    if (strcmp(path, "/") == 0)
        return delete_ram_files_with_prefix("/");
    int count = 0;
    for (size_t i = lower_index(path); i < table.size() && table[i]->name == path; i++) {
        if (table[i]->kind == PFILE_RAM) {
            retire(table[i]);
            count++;
        }
    }
    std::string below = std::string(path) + "/";
    return count + delete_ram_files_with_prefix(below.c_str());
}

static void note_open(pfile *e, char m0, char m1)
{
    e->mode[0] = m0;
    e->mode[1] = m1;
    e->mode[2] = 0;
    e->opened = get_ticks();
}

static void report_table_full()
{
    printf("** too many files **\n");
    vemo_debug("** too many files **\n");
}

static pfile *open_ram(const PdiskLocation &loc, char m0, char m1)
{
    const char *origin = loc.origin.c_str();
    pfile *e = get_ram_file_by_name(origin);
    if (e) {
        if (e->attribs & PFILE_ATTR_FOLDER)
            return nullptr;
        if (m0 == 'w')
            bclear(e->contents);
        e->contents->pos = m0 == 'a' ? e->contents->len : 0;
        note_open(e, m0, m1);
        return e;
    }
    if (m0 == 'r' || pdisk_ram_origin_is_folder(origin))
        return nullptr;
    e = pfile_insert(origin, PFILE_RAM, origin);
    if (!e) {
        report_table_full();
        return nullptr;
    }
    note_open(e, m0, m1);
    return e;
}

static pfile *open_host(const PdiskLocation &loc, char m0, char m1)
{
    std::string real;
    if (!pdisk_host_location(loc, &real))
        return nullptr;
    Buffer *contents = create_buffer_2(1024, BUFFER_TAG_PFILE);
    if (!contents)
        return nullptr;
    HostWrite w;
    if (m0 == 'r' && m1 == 'e') {
        FILE *f = host_file_size(real.c_str()) >= 0 ? fopen(real.c_str(), "rb") : nullptr;
        if (!f) {
            destroy_buffer(contents);
            return nullptr;
        }
        fclose(f);
        spend_cpu(16);
    } else if (m0 == 'r') {
        int64_t limit = m1 == 'm' ? PFILE_META_READ_LIMIT : -1;
        if (host_read_file(real.c_str(), contents, limit) < 0) {
            destroy_buffer(contents);
            return nullptr;
        }
        contents->pos = 0;
        spend_cpu(contents->len / 8);
    } else {
        // Written to a new file beside the target and renamed into place at
        // close, so the old file stays whole until the new one is.
        if (host_write_begin(real.c_str(), &w) < 0) {
            destroy_buffer(contents);
            return nullptr;
        }
        // an append rewrites the whole file, so the old bytes must be had
        if (m0 == 'a' && host_file_size(real.c_str()) >= 0) {
            if (host_read_file(real.c_str(), contents, -1) < 0) {
                host_write_abort(&w);
                destroy_buffer(contents);
                return nullptr;
            }
            spend_cpu(contents->len / 8);
        }
        contents->pos = contents->len;
    }
    pfile *e = pfile_insert(loc.path.c_str(), PFILE_HOST, real.c_str());
    if (!e) {
        host_write_abort(&w);
        destroy_buffer(contents);
        report_table_full();
        return nullptr;
    }
    destroy_buffer(e->contents);
    e->contents = contents;
    e->host = std::move(w);
    note_open(e, m0, m1);
    return e;
}

pfile *pfopen(const char *path, const char *mode)
{
    if (!path || !mode)
        return nullptr;
    char m0 = mode[0], m1 = m0 ? mode[1] : 0;
    if (m0 != 'r' && m0 != 'w' && m0 != 'a')
        return nullptr;
    if (m0 == 'r' && m1 == 'f')
        flush_dirty_mounts_immediately();
    PdiskLocation loc;
    if (!pdisk_locate(path, m1 == 'f', &loc))
        return nullptr;
    return loc.kind == MOUNT_RAM ? open_ram(loc, m0, m1) : open_host(loc, m0, m1);
}

int pfread(void *dst, int size, int count, pfile *h)
{
    if (!h || !h->contents)
        return 0;
    return bread(dst, size, count, h->contents);
}

int pfwrite(const void *src, int size, int count, pfile *h)
{
    if (!h || !h->contents)
        return 0;
    return bwrite(src, size, count, h->contents);
}

int pfclose(pfile *h)
{
    if (!h)
        return -1;
    int result = 0;
    if (h->kind == PFILE_HOST && h->host.file) {
        int32_t len = h->contents->len;
        spend_cpu(len / 8 + frame_budget() / 4);
        if (host_write_commit(&h->host, h->contents->data, (size_t)len) == 0) {
            pdisk_history_event(PDISK_EVENT_FILE_WRITTEN, h->name.c_str(), h->origin.c_str());
            pdisk_sync_needed = 1;
        } else {
            printf("** could not write %s\n", h->origin.c_str());
            vemo_debug("** could not write %s\n", h->origin.c_str());
            result = -1;
        }
    } else if (h->kind == PFILE_RAM && (h->mode[0] == 'w' || h->mode[0] == 'a')) {
        mark_parent_mount_dirty(h->origin.c_str());
    }
    if (h->kind == PFILE_HOST)
        retire(h);
    h->mode[0] = 0;
    return result;
}

int64_t pfile_size(const char *path, int skip_exact)
{
    PdiskLocation loc;
    if (!path || !pdisk_locate(path, skip_exact, &loc))
        return -1;
    if (loc.kind == MOUNT_RAM) {
        const pfile *e = get_ram_file_by_name(loc.origin.c_str());
        return e && !(e->attribs & PFILE_ATTR_FOLDER) ? e->contents->len : -1;
    }
    std::string real;
    return pdisk_host_location(loc, &real) ? host_file_size(real.c_str()) : -1;
}
