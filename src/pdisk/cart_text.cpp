// Text cartridges (.k64): a header, one entry per file or folder, and an end
// line. Text files are written as they are; every other file as lines of
// base64 (or hex), each line encoded by itself.
#include "pdisk/cart.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "formats/base64.h"
#include "formats/buffer.h"
#include "pdisk/path.h"

constexpr size_t B64_FIRST_LINE_BYTES = 54;   // 72 characters after "b64$"
constexpr size_t B64_LINE_BYTES = 57;         // 76 characters
constexpr size_t HEX_FIRST_LINE_BYTES = 36;
constexpr size_t HEX_LINE_BYTES = 38;
constexpr size_t MAX_CODED_LINE = 1024;       // longer base64/hex lines are skipped

// --- writing -------------------------------------------------------------------

static bool starts_with(const uint8_t *d, size_t n, const char *prefix)
{
    size_t k = strlen(prefix);
    return n >= k && memcmp(d, prefix, k) == 0;
}

// Beyond the rule of the format (extension lua or txt, or an .info.kod file;
// no "hex$"/"b64$" start, no "\n:: ", bytes 1..127), a file is written as
// base64 when its text lines would not read back as the same bytes: an empty
// file (it would read back as "\n"), one starting with ":: " (it would read as
// an entry) and one holding '\r' (line reading drops a '\r' before '\n').
bool cart_is_text_file(const char *rel_path, const uint8_t *data, size_t n)
{
    const char *ext = get_ext(rel_path);
    bool texty = strcmp(ext, "lua") == 0 || strcmp(ext, "txt") == 0 || strstr(rel_path, ".info.kod");
    if (!texty || n == 0 || starts_with(data, n, "hex$") || starts_with(data, n, "b64$") ||
        starts_with(data, n, ":: "))
        return false;
    for (size_t i = 0; i < n; i++) {
        uint8_t c = data[i];
        if (c == 0 || c > 127 || c == '\r')
            return false;
        if (c == '\n' && starts_with(data + i + 1, n - i - 1, ":: "))
            return false;
    }
    return true;
}

static void append_base64_line(std::string &out, const uint8_t *d, size_t n)
{
    char line[B64_LINE_BYTES * 2 + 8];
    Base64EncodeState st;
    base64_init_encodestate(&st);
    int k = base64_encode_block(d, (int)n, line, &st);
    k += base64_encode_blockend(line + k, &st);
    out.append(line, (size_t)k);
    out += '\n';
}

static void append_hex_line(std::string &out, const uint8_t *d, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < n; i++) {
        out += digits[d[i] >> 4];
        out += digits[d[i] & 15];
    }
    out += '\n';
}

static void append_coded(std::string &out, const uint8_t *d, size_t n, bool hex)
{
    size_t first = hex ? HEX_FIRST_LINE_BYTES : B64_FIRST_LINE_BYTES;
    size_t rest = hex ? HEX_LINE_BYTES : B64_LINE_BYTES;
    auto line = hex ? append_hex_line : append_base64_line;
    out += hex ? "hex$" : "b64$";
    size_t k = n < first ? n : first;
    line(out, d, k);
    for (size_t i = k; i < n; i += rest)
        line(out, d + i, n - i < rest ? n - i : rest);
}

int write_k64_from_ram_files(Buffer *b, const char *folder, int hex)
{
    if (!b || !folder)
        return -1;
    std::vector<CartEntry> entries = cart_entries(folder);
    std::string out = CART_TEXT_FIRST_LINE "version 2\n\n";
    for (const CartEntry &e : entries)
        if (e.folder)
            out += ":: " + e.rel + "/\n";
    // Plain text files next, then binary and .info.kod files.
    for (int group = 2; group <= 3; group++) {
        for (const CartEntry &e : entries) {
            if (e.folder)
                continue;
            bool text = cart_is_text_file(e.rel.c_str(), e.data, e.size);
            bool info = e.rel.find(".info.kod") != std::string::npos;
            if ((group == 2) != (text && !info))
                continue;
            out += ":: " + e.rel + "\n";
            if (text) {
                out.append((const char *)e.data, e.size);
                out += '\n';
            } else {
                append_coded(out, e.data, e.size, hex != 0);
            }
        }
    }
    out += ":: [eoc]\n";
    if (out.size() > (size_t)INT32_MAX - (size_t)b->len)
        return -1;
    b->pos = b->len;
    return bwrite(out.data(), 1, (int)out.size(), b);
}

// --- reading -------------------------------------------------------------------

enum { CONTENT_NONE, CONTENT_TEXT, CONTENT_HEX, CONTENT_B64 };

struct TextCartReader {
    const char *folder;
    const char *where;
    bool damaged = false;
    int entries = 0;
    bool too_many = false;
    bool file_open = false;
    std::string rel;     // the file being filled
    std::string data;
    int content = CONTENT_NONE;
    Base64DecodeState b64;
};

static bool count_entry(TextCartReader &r)
{
    if (r.entries < CART_MAX_ENTRIES) {
        r.entries++;
        return true;
    }
    if (!r.too_many)
        printf("** too many entries in cartridge %s\n", r.where);
    r.too_many = r.damaged = true;
    return false;
}

// Checks and counts the entry named in a header line; makes it when it is a
// folder. True when a file's contents follow.
static bool begin_entry(TextCartReader &r, const std::string &name, bool folder)
{
    if (!cart_name_ok(name)) {
        printf("** bad file name in cartridge %s: %s\n", r.where, name.c_str());
        r.damaged = true;
        return false;
    }
    if (!count_entry(r))
        return false;
    if (folder) {
        if (!cart_put_folder(r.folder, name))
            r.damaged = true;
        return false;
    }
    return true;
}

// A decimal number (sign allowed) at *s, moving *s past it; false when there
// is none. Out-of-range values are clamped.
static bool read_number(const char **s, int *out)
{
    char *end;
    long v = strtol(*s, &end, 10);
    if (end == *s)
        return false;
    *s = end;
    *out = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : (int)v;
    return true;
}

static void close_file(TextCartReader &r)
{
    if (!r.file_open)
        return;
    r.file_open = false;
    // Every text line was stored with a '\n'; the writer added the last one.
    if (r.content == CONTENT_TEXT && r.data.size() > 1 && r.data.back() == '\n')
        r.data.pop_back();
    if (!cart_put_file(r.folder, r.rel, r.data.data(), r.data.size(), 0))
        r.damaged = true;
}

// Two digits per byte; a digit left over at the end is ignored.
static void append_hex_bytes(std::string &out, const char *s, size_t n)
{
    for (size_t i = 0; i + 1 < n; i += 2)
        out += (char)(hex_value((uint8_t)s[i]) << 4 | hex_value((uint8_t)s[i + 1]));
}

static void start_entry(TextCartReader &r, const char *line, size_t n)
{
    size_t end = 3;
    while (end < n && (uint8_t)line[end] >= 33)
        end++;
    std::string name(line + 3, end - 3);
    bool folder = !name.empty() && name.back() == '/';
    if (folder)
        name.pop_back();
    if (!begin_entry(r, name, folder))
        return;
    r.file_open = true;
    r.rel = name;
    r.data.clear();
    r.content = CONTENT_NONE;
}

static void add_content_line(TextCartReader &r, const char *line, size_t n)
{
    if (r.content == CONTENT_NONE) {
        r.content = CONTENT_TEXT;
        if (n >= 4 && (memcmp(line, "hex$", 4) == 0 || memcmp(line, "b64$", 4) == 0)) {
            r.content = line[0] == 'h' ? CONTENT_HEX : CONTENT_B64;
            base64_init_decodestate(&r.b64);
            line += 4;
            n -= 4;
        }
    }
    if (r.content == CONTENT_TEXT) {
        r.data.append(line, n);
        r.data += '\n';
        return;
    }
    if (n >= MAX_CODED_LINE) {
        r.damaged = true;
        return;
    }
    if (r.content == CONTENT_HEX) {
        append_hex_bytes(r.data, line, n);
        return;
    }
    uint8_t bytes[MAX_CODED_LINE];
    int k = base64_decode_block(line, (int)n, bytes, &r.b64);
    r.data.append((const char *)bytes, (size_t)k);
}

static int read_version_2(TextCartReader &r, Buffer *src, Buffer *line)
{
    bool eoc = false;
    while (!eoc && src->pos < src->len) {
        breadln(src, line);
        const char *s = (const char *)line->data;
        size_t n = (size_t)line->len;
        if (n >= 3 && memcmp(s, ":: ", 3) == 0) {
            close_file(r);
            if (n >= 8 && memcmp(s + 3, "[eoc]", 5) == 0 && (n == 8 || (uint8_t)s[8] < 33))
                eoc = true;
            else
                start_entry(r, s, n);
        } else if (r.file_open) {
            add_content_line(r, s, n);
        }
    }
    close_file(r);
    if (!eoc) {
        printf("** warning: no [eoc] found while mounting %s\n", r.where);
        r.damaged = true;
    }
    return r.damaged ? CART_READ_DAMAGED : CART_READ_WHOLE;
}

static void legacy_missing_contents(TextCartReader &r, int attribs, const std::string &name, const char *rest)
{
    printf("******** could not read legacy k64; file contents missing. missing null terminator issue?\n");
    printf("attribs: %d new_path: %s/%s c_p1: %.64s\n\n", attribs, r.folder, name.c_str(), rest);
    r.damaged = true;
}

// Version 1: one line per entry, "NAME N:ATTRIBS [HEX]", "##" comments.
static void read_legacy_line(TextCartReader &r, const char *s, size_t n)
{
    const char *space = (const char *)memchr(s, ' ', n);
    int number = 0, attribs = 0;
    const char *p = space ? space + 1 : nullptr;
    if (!p || !read_number(&p, &number) || *p++ != ':' || !read_number(&p, &attribs)) {
        printf("** bad legacy cartridge line in %s\n", r.where);
        r.damaged = true;
        return;
    }
    std::string name(s, (size_t)(space - s));
    while (!name.empty() && name[0] == '/')
        name.erase(0, 1);
    bool folder = attribs & 1;
    if (folder && !name.empty() && name.back() == '/')
        name.pop_back();
    if (!begin_entry(r, name, folder))
        return;
    const char *rest = p, *end = s + n;
    const char *open = rest < end ? (const char *)memchr(rest, '[', (size_t)(end - rest)) : nullptr;
    const char *close = open ? (const char *)memchr(open, ']', (size_t)(end - open)) : nullptr;
    if (!close) {
        legacy_missing_contents(r, attribs, name, rest);
        return;
    }
    std::string data;
    append_hex_bytes(data, open + 1, (size_t)(close - open - 1));
    if (!cart_put_file(r.folder, name, data.data(), data.size(), 0))
        r.damaged = true;
}

static int read_version_1(TextCartReader &r, Buffer *src, Buffer *line)
{
    while (src->pos < src->len) {
        breadln(src, line);
        const char *s = (const char *)line->data;
        size_t n = (size_t)line->len;
        if (n < 2 || (s[0] == '#' && s[1] == '#'))
            continue;
        read_legacy_line(r, s, n);
    }
    return r.damaged ? CART_READ_DAMAGED : CART_READ_WHOLE;
}

int populate_ram_folder_from_k64_buffer(const char *folder, Buffer *b, const char *where)
{
    int start = cart_read_start(folder, b);
    if (start != CART_READ_MORE)
        return start;
    Buffer *line = create_buffer_2(256, BUFFER_TAG_LINE);
    if (!line)
        return CART_READ_DAMAGED;
    TextCartReader r;
    r.folder = folder;
    r.where = where ? where : "";
    breadln(b, line);   // the first line says what the file is; nothing to read
    breadln(b, line);
    int version = 0;
    const char *v = (const char *)line->data + 8;
    if (line->len < 8 || memcmp(line->data, "version ", 8) != 0 || !read_number(&v, &version))
        version = 0;
    int result = CART_READ_DAMAGED;
    if (version == 2)
        result = read_version_2(r, b, line);
    else if (version == 1)
        result = read_version_1(r, b, line);
    else
        printf("** unknown cartridge version %d: %s\n", version, r.where);
    destroy_buffer(line);
    return result;
}
