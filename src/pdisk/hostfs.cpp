// Host folders and files as the filesystem core uses them.
#include "pdisk/hostfs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "formats/buffer.h"

int host_directory_exists(const char *host_path)
{
    struct stat st;
    return stat(host_path, &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t host_file_size(const char *host_path)
{
    struct stat st;
    if (stat(host_path, &st) != 0 || S_ISDIR(st.st_mode))
        return -1;
    return (int64_t)st.st_size;
}

static bool real_path_of(const char *path, std::string *out)
{
    char *r = realpath(path, nullptr);
    if (!r)
        return false;
    *out = r;
    free(r);
    return true;
}

// The real path of the deepest part of path that exists, followed by the
// part that does not.
static bool real_path_of_prefix(const std::string &path, std::string *out)
{
    std::string head = path, tail;
    for (;;) {
        struct stat st;
        if (lstat(head.c_str(), &st) == 0) {
            if (!real_path_of(head.c_str(), out))
                return false;   // dangling link or a loop
            if (*out == "/" && !tail.empty())
                out->clear();
            *out += tail;
            return true;
        }
        size_t cut = head.rfind('/');
        if (cut == std::string::npos || head == "/")
            return false;
        tail = head.substr(cut) + tail;
        head.resize(cut ? cut : 1);
    }
}

int host_path_inside(const char *folder, const char *host_path, std::string *real)
{
    std::string root, where;
    if (!real_path_of(folder, &root) || !real_path_of_prefix(host_path, &where))
        return 0;
    bool inside = where == root ||
                  (where.compare(0, root.size(), root) == 0 &&
                   (root == "/" || where[root.size()] == '/'));
    if (!inside)
        return 0;
    if (real)
        *real = where;
    return 1;
}

int64_t host_read_file(const char *host_path, Buffer *dst, int64_t limit)
{
    if (host_directory_exists(host_path))
        return -1;
    FILE *f = fopen(host_path, "rb");
    if (!f)
        return -1;
    char chunk[16384];
    int64_t total = 0;
    size_t got;
    bool ok = true;
    while (ok && (limit < 0 || dst->len <= limit) && (got = fread(chunk, 1, sizeof chunk, f)) > 0) {
        ok = bwrite(chunk, 1, (int)got, dst) >= 0;
        total += (int64_t)got;
    }
    ok = ok && !ferror(f);
    fclose(f);
    return ok ? total : -1;   // a file read in part is not read
}

int host_write_begin(const char *target, HostWrite *w)
{
    if (host_directory_exists(target))
        return -1;
    std::string t = target;
    size_t slash = t.rfind('/');
    std::string dir = slash == std::string::npos ? "." : t.substr(0, slash);
    std::string base = slash == std::string::npos ? t : t.substr(slash + 1);
    static unsigned counter;
    // A hidden name, so that folder listings never show a write in progress.
    for (int attempt = 0; attempt < 100; attempt++) {
        char suffix[48];
        snprintf(suffix, sizeof suffix, ".%ld_%u.tmp", (long)getpid(), counter++);
        std::string temp = dir + "/." + base + suffix;
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return -1;
        }
        w->file = fdopen(fd, "wb");
        if (!w->file) {
            close(fd);
            unlink(temp.c_str());
            return -1;
        }
        w->temp = temp;
        w->target = t;
        return 0;
    }
    return -1;
}

void host_write_abort(HostWrite *w)
{
    if (w->file)
        fclose(w->file);
    if (!w->temp.empty())
        unlink(w->temp.c_str());
    w->file = nullptr;
    w->temp.clear();
}

int host_write_commit(HostWrite *w, const void *bytes, size_t n)
{
    if (!w->file)
        return -1;
    bool ok = n == 0 || fwrite(bytes, 1, n, w->file) == n;
    ok = ok && fflush(w->file) == 0;
    struct stat st;
    if (ok && stat(w->target.c_str(), &st) == 0)
        ok = fchmod(fileno(w->file), st.st_mode & 07777) == 0;
    ok = ok && fsync(fileno(w->file)) == 0;
    ok = fclose(w->file) == 0 && ok;
    w->file = nullptr;
    ok = ok && rename(w->temp.c_str(), w->target.c_str()) == 0;
    if (!ok)
        unlink(w->temp.c_str());
    w->temp.clear();
    return ok ? 0 : -1;
}
