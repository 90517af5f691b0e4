// Path grammar, normalisation, extensions and the listing order.
#include "pdisk/path.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "process/process.h"

int is_path_char(int c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-' || c == '.' || c == '/';
}

int is_legal_path(const char *text)
{
    if (!text || !text[0] || text[0] == '#' || text[0] == '-')
        return 0;
    for (const char *p = text; *p && *p != '#'; p++)
        if (!is_path_char((unsigned char)*p))
            return 0;
    return 1;
}

// Length of the protocol prefix including "://", or 0.
static size_t prot_prefix_length(const char *text, size_t n)
{
    for (size_t i = 0; i < n && i < 16; i++) {
        if (text[i] != ':')
            continue;
        if (i + 2 < n && text[i + 1] == '/' && text[i + 2] == '/')
            return i + 3;
        return 0;
    }
    return 0;
}

std::string collapse_path(const char *text, int length, int trace)
{
    size_t n = length < 0 ? strlen(text) : (size_t)length;
    std::string out;
    if (trace)
        printf(":: collapse: [%.*s]\n", (int)n, text);
    size_t i = prot_prefix_length(text, n);
    size_t base = i;   // out never shrinks below the protocol prefix
    out.assign(text, base);
    if (base && trace)
        printf("skipping prot: %s\n", out.c_str());
    while (i < n) {
        while (i < n && text[i] == '/')
            i++;
        size_t start = i;
        while (i < n && text[i] != '/')
            i++;
        size_t len = i - start;
        if (len == 0)
            break;
        const char *seg = text + start;
        if (len == 1 && seg[0] == '.') {
            if (trace)
                printf("  skipped .  -> %s\n", out.c_str());
        } else if (len == 2 && seg[0] == '.' && seg[1] == '.') {
            size_t cut = out.rfind('/');
            out.resize(cut == std::string::npos || cut < base ? base : cut);
            if (trace)
                printf("  folded ..  -> %s\n", out.c_str());
        } else if (len <= (size_t)PDISK_MAX_SEGMENT) {
            if (!(base && out.size() == base))
                out += '/';
            out.append(seg, len);
            if (trace)
                printf("  left segment: %.*s  -> %s\n", (int)len, seg, out.c_str());
        }
    }
    if (out.empty())
        out = "/";
    if (trace)
        printf("  --> [%s]\n", out.c_str());
    return out;
}

std::string normalise_kestrane_path(const char *text)
{
    if (!is_legal_path(text))
        return "";
    if (text[0] == '/')
        return collapse_path(text, -1, 0);
    const char *pwd = cproc && cproc->pwd[0] ? cproc->pwd : "/";
    std::string joined = pwd;
    joined += '/';
    joined += text;
    return collapse_path(joined.c_str(), (int)joined.size(), 0);
}

const char *get_prot(const char *text)
{
    static char scratch[17];
    size_t n = strlen(text);
    size_t len = prot_prefix_length(text, n);
    if (!len)
        return nullptr;
    memcpy(scratch, text, len - 3);
    scratch[len - 3] = 0;
    return scratch;
}

const char *get_ext(const char *path)
{
    static char scratch[64];
    scratch[0] = 0;
    const char *seg = strrchr(path, '/');
    seg = seg ? seg + 1 : path;
    const char *last = strrchr(seg, '.');
    if (!last)
        return scratch;
    const char *start = last;
    for (const char *p = last - 1; p >= seg; p--) {
        if (*p == '.') {
            start = p;
            break;
        }
    }
    start++;
    size_t len = strlen(start);
    if (len > 63)
        return scratch;
    for (size_t i = 0; i <= len; i++) {
        char c = start[i];
        scratch[i] = (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c;
    }
    return scratch;
}

static bool ends_with_nocase(const char *text, size_t n, const char *tail)
{
    size_t m = strlen(tail);
    return n >= m && strncasecmp(text + n - m, tail, m) == 0;
}

// Decided by how the name ends rather than by get_ext, so that a name with
// more dots ("level.2.k64") is still a cartridge wherever one is expected.
int k64_path_kind(const char *path)
{
    size_t n = strlen(path);
    if (ends_with_nocase(path, n, ".k64"))
        return K64_KIND_TEXT;
    if (ends_with_nocase(path, n, ".k64.rom"))
        return K64_KIND_ROM;
    if (ends_with_nocase(path, n, ".k64.png"))
        return K64_KIND_PNG;
    return K64_KIND_NONE;
}

int count_slashes(const char *text)
{
    int n = 0;
    for (; *text; text++)
        n += *text == '/';
    return n;
}

static bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Compares two decimal runs by value, however long they are.
static int compare_digit_runs(const char *a, size_t na, const char *b, size_t nb)
{
    while (na > 1 && *a == '0') a++, na--;
    while (nb > 1 && *b == '0') b++, nb--;
    if (na != nb)
        return na < nb ? -1 : 1;
    return memcmp(a, b, na);
}

int compare_listing_item(const char *a, const char *b)
{
    size_t la = strlen(a), lb = strlen(b);
    bool fa = la && a[la - 1] == '/';
    bool fb = lb && b[lb - 1] == '/';
    if (fa != fb)
        return fa ? -1 : 1;
    size_t i = 0, j = 0;
    while (i < la && j < lb) {
        unsigned char ca = a[i], cb = b[j];
        bool da = is_digit(ca), db = is_digit(cb);
        if (da && db) {
            size_t ei = i, ej = j;
            while (ei < la && is_digit(a[ei])) ei++;
            while (ej < lb && is_digit(b[ej])) ej++;
            int d = compare_digit_runs(a + i, ei - i, b + j, ej - j);
            if (d)
                return d;
            i = ei;
            j = ej;
            continue;
        }
        if (da != db) {
            // a digit run ranks where the digits stand in byte order, so that
            // the order stays transitive ('-' < '.' < '7' < 'A')
            unsigned char other = da ? cb : ca;
            bool other_first = other < '0';
            return (da == other_first) ? 1 : -1;
        }
        int ua = (ca >= 'a' && ca <= 'z') ? ca - 32 : ca;
        int ub = (cb >= 'a' && cb <= 'z') ? cb - 32 : cb;
        if (ua != ub)
            return ua - ub;
        i++;
        j++;
    }
    if (i < la)
        return 1;
    if (j < lb)
        return -1;
    return 0;
}
