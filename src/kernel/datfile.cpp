// Loading the system ROM file into one buffer per record.
#include "kernel/datfile.h"

#include "formats/buffer.h"
#include "host/log.h"
#include "kernel/kernel.h"

#include <string>

static const char *const dat_file_name = "sysrom.dat";
static const int32_t dat_file_tag = 'i';

static Buffer *dat_file[MAX_DAT_FILES];
static int dat_files;

// The executable's folder with forward slashes and a trailing slash; empty
// when argv[0] names no folder (the file is then looked up in the working
// directory).
static std::string program_folder()
{
    std::string path(vemo_argv0);
    for (char &c : path)
        if (c == '\\')
            c = '/';
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

int load_kestrane_dat_files()
{
    std::string path = program_folder() + dat_file_name;
    vemo_debug("load_kestrane_dat_files: %s // from: %s\n", dat_file_name, path.c_str());
    Buffer *file = create_buffer_from_file(path.c_str());
    if (!file) {
        free_dat_files();
        return 0;
    }
    int n = load_kestrane_dat_files_from_memory(file->data, (size_t)file->len);
    destroy_buffer(file);
    return n;
}

int load_kestrane_dat_files_from_memory(const uint8_t *data, size_t len)
{
    free_dat_files();
    if (!data)
        len = 0;
    size_t pos = 0;
    while (dat_files < MAX_DAT_FILES && len - pos >= 4) {
        const uint8_t *p = data + pos;
        uint32_t n = (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
        pos += 4;
        if (n > MAX_DAT_RECORD_LEN)
            break;
        Buffer *b = create_buffer_2((int32_t)n + 8, dat_file_tag);
        if (!b)
            break;
        // A record cut short by the end of the data stays empty.
        if (len - pos >= n) {
            bwrite(data + pos, 1, (int)n, b);
            pos += n;
        } else {
            pos = len;
        }
        b->pos = 0;
        dat_file[dat_files++] = b;
    }
    return dat_files;
}

Buffer *get_dat_file(int i)
{
    if (i < 0 || i >= dat_files)
        return nullptr;
    dat_file[i]->pos = 0;
    return dat_file[i];
}

int get_dat_file_count()
{
    return dat_files;
}

void free_dat_files()
{
    for (int i = 0; i < dat_files; i++) {
        destroy_buffer(dat_file[i]);
        dat_file[i] = nullptr;
    }
    dat_files = 0;
}

void datfile_write(Buffer *out, const std::vector<std::string> &records)
{
    if (!out)
        return;
    out->pos = out->len;
    for (const std::string &r : records) {
        bwrite_uint32_big_endian((uint32_t)r.size(), out);
        bwrite(r.data(), 1, (int)r.size(), out);
    }
}
