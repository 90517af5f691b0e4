// font_compile: turns a font drawn as text into the C++ array of a 4096-byte
// font block (header, width nibbles, 8 rows of 8 bits per glyph).
//
//   font_compile FONT.txt OUT.cpp ARRAY_NAME
//
// The text holds header lines "NAME VALUE" (width, wide_width, height,
// x_offset, y_offset, flags, tab), then one block per glyph: a line
// "glyph CODE [label] [adjust=N] [raise]" followed by up to 8 rows of '.'
// and '#', the leftmost character being bit 0. "adjust" (-4..3) is added to
// the glyph's advance, "raise" draws it one pixel higher; both need flags
// bit 0, which keeps codes 1-15 for the width nibbles. Every code 16-255
// must have a block. Lines starting with "//" and blank lines are ignored.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Font {
    uint8_t block[4096] = {};
    bool seen[256] = {};
    int rows[256] = {};
    int adjust[256] = {};
    bool raise[256] = {};
};

const char *header_names[] = {"width", "wide_width", "height", "x_offset", "y_offset", "flags", "tab"};

[[noreturn]] void fail(const std::string &where, const std::string &msg)
{
    fprintf(stderr, "font_compile: %s: %s\n", where.c_str(), msg.c_str());
    exit(1);
}

bool is_row(const std::string &s)
{
    return !s.empty() && s.find_first_not_of(".#") == std::string::npos;
}

int header_index(const std::string &name)
{
    for (int i = 0; i < 7; i++)
        if (name == header_names[i])
            return i;
    return -1;
}

long parse_number(const std::string &s, const std::string &where)
{
    char *end = nullptr;
    long v = strtol(s.c_str(), &end, 0);
    if (s.empty() || *end)
        fail(where, "not a number: " + s);
    return v;
}

// "glyph CODE [label] [adjust=N] [raise]"; returns the code.
int parse_glyph_line(Font *f, std::istringstream &in, const std::string &where)
{
    std::string tok;
    in >> tok;
    long code = parse_number(tok, where);
    if (code < 1 || code > 255)
        fail(where, "glyph code out of 1..255");
    if (f->seen[code])
        fail(where, "glyph " + std::to_string(code) + " given twice");
    f->seen[code] = true;
    while (in >> tok) {
        if (tok.rfind("adjust=", 0) == 0) {
            long a = parse_number(tok.substr(7), where);
            if (a < -4 || a > 3)
                fail(where, "adjust out of -4..3");
            f->adjust[code] = (int)a;
        } else if (tok == "raise") {
            f->raise[code] = true;
        }
        // anything else is the glyph's label
    }
    return (int)code;
}

void read_font(Font *f, const char *path)
{
    std::ifstream file(path);
    if (!file)
        fail(path, "cannot open");
    std::string line;
    int lineno = 0, code = -1;
    while (std::getline(file, line)) {
        lineno++;
        std::string where = std::string(path) + ":" + std::to_string(lineno);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty() || line.rfind("//", 0) == 0)
            continue;
        if (is_row(line)) {
            if (code < 0)
                fail(where, "glyph row before any glyph line");
            if (line.size() > 8)
                fail(where, "glyph row wider than 8");
            if (f->rows[code] == 8)
                fail(where, "glyph taller than 8 rows");
            uint8_t bits = 0;
            for (size_t i = 0; i < line.size(); i++)
                if (line[i] == '#')
                    bits |= (uint8_t)(1 << i);
            f->block[8 * code + f->rows[code]++] = bits;
            continue;
        }
        std::istringstream in(line);
        std::string word;
        in >> word;
        if (word == "glyph") {
            code = parse_glyph_line(f, in, where);
            continue;
        }
        int h = header_index(word);
        if (h < 0)
            fail(where, "unknown line: " + line);
        std::string value;
        in >> value;
        long v = parse_number(value, where);
        if (v < 0 || v > 255)
            fail(where, word + " out of 0..255");
        f->block[h] = (uint8_t)v;
    }
}

void check_and_pack(Font *f, const char *path)
{
    bool nibbles = f->block[5] & 1;
    std::string missing;
    for (int c = 1; c < 256; c++) {
        if (c >= 16 && !f->seen[c])
            missing += " " + std::to_string(c);
        if (nibbles && c < 16 && f->seen[c])
            fail(path, "glyph " + std::to_string(c) + " overlaps the width nibbles (flags bit 0)");
        if (!nibbles && (f->adjust[c] || f->raise[c]))
            fail(path, "adjust and raise need flags bit 0");
    }
    if (!missing.empty())
        fail(path, "glyphs missing:" + missing);
    if (!nibbles)
        return;
    for (int c = 16; c < 256; c++) {
        int nib = (f->adjust[c] & 7) | (f->raise[c] ? 8 : 0);
        f->block[c >> 1] |= (uint8_t)((c & 1) ? nib << 4 : nib);
    }
}

void write_array(const Font *f, const char *src, const char *out, const char *name)
{
    FILE *o = fopen(out, "w");
    if (!o)
        fail(out, "cannot write");
    fprintf(o, "// Generated by font_compile from %s; edit that file instead.\n", src);
    fprintf(o, "#include <cstdint>\n\nextern const uint8_t %s[4096];\n", name);
    fprintf(o, "const uint8_t %s[4096] = {\n", name);
    for (int i = 0; i < 4096; i += 16) {
        fputs("   ", o);
        for (int j = 0; j < 16; j++)
            fprintf(o, " 0x%02x,", f->block[i + j]);
        fputs("\n", o);
    }
    fputs("};\n", o);
    if (fclose(o) != 0)
        fail(out, "cannot write");
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: font_compile FONT.txt OUT.cpp ARRAY_NAME\n");
        return 2;
    }
    static Font f;
    read_font(&f, argv[1]);
    check_and_pack(&f, argv[1]);
    write_array(&f, argv[1], argv[2], argv[3]);
    return 0;
}
