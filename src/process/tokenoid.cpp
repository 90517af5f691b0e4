// tokenoid(s, i, state): the code editor's tokenizer. Reads one token of
// Lua source at byte i and returns its text, the position after it, its
// class and, while a long bracket is still open at the end of s, the state
// with which the next call continues it.
#include <cstdint>

#include "lua.hpp"
#include "process/api.h"
#include "process/api_util.h"
#include "process/slice.h"

enum TokenClass {
    TOK_SPACE = 0,
    TOK_NAME = 1,
    TOK_NUMBER = 2,
    TOK_COMMENT = 3,
    TOK_STRING = 4,
    TOK_OTHER = 5,
};

constexpr int TOK_MAX_OPEN_LEVEL = 60;       // '=' signs read in an opening bracket
constexpr int64_t TOK_MAX_STATE_LEVEL = 64;  // level accepted from a state
constexpr int64_t TOK_STATE_COMMENT = 768;   // state = level + class << 8
constexpr int64_t TOK_STATE_STRING = 1024;

struct Token {
    size_t end;         // byte after the token
    int64_t cls;
    bool open = false;  // a long bracket runs on past the end of s
    int64_t state = 0;  // the state that continues it
};

static bool is_name_start(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

static bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Level of a long bracket "[", up to 60 "=", "[" opening at s[p], or -1.
static int long_bracket_level(const char *s, size_t n, size_t p) {
    if (p >= n || s[p] != '[') return -1;
    size_t q = p + 1;
    while (q < n && s[q] == '=' && q - p - 1 < TOK_MAX_OPEN_LEVEL + 1) q++;
    int level = (int)(q - p - 1);
    if (level > TOK_MAX_OPEN_LEVEL || q >= n || s[q] != '[') return -1;
    return level;
}

// End of the first "]" + level "=" + "]" at or after p, or n when none.
static size_t long_bracket_close(const char *s, size_t n, size_t p, int64_t level, bool *closed) {
    for (size_t q = p; q < n; q++) {
        if (s[q] != ']') continue;
        if ((size_t)level + 1 >= n - q) break;   // no room for the rest of the closing
        size_t k = 1;
        while ((int64_t)k <= level && s[q + k] == '=') k++;
        if ((int64_t)k == level + 1 && s[q + k] == ']') {
            *closed = true;
            return q + k + 1;
        }
    }
    *closed = false;
    return n;
}

// A long bracket body from p; the token keeps its class, and stays open
// with the given state when the closing is missing.
static Token long_bracket_token(const char *s, size_t n, size_t p, int64_t level, int64_t cls,
                                int64_t open_state) {
    bool closed;
    size_t end = long_bracket_close(s, n, p, level, &closed);
    return {end, cls, !closed, open_state};
}

static size_t number_end(const char *s, size_t n, size_t p) {
    size_t q = p + 1;
    for (; q < n; q++) {
        unsigned char c = s[q];
        size_t k = q - p;
        bool ok = is_digit(c) || c == '.' || (k == 1 && (c == 'b' || c == 'x')) ||
                  (k >= 2 && c >= 'a' && c <= 'f');
        if (!ok) break;
    }
    return q;
}

// A double-quoted string up to its closing quote, or to the end of s.
static size_t quoted_end(const char *s, size_t n, size_t p) {
    size_t q = p + 1;
    while (q < n) {
        if (s[q] == '\\' && q + 1 < n && (s[q + 1] == '"' || s[q + 1] == '\\')) {
            q += 2;
        } else if (s[q++] == '"') {
            break;
        }
    }
    return q;
}

static Token read_token(const char *s, size_t n, size_t p, int64_t state) {
    if (state & 0xF00) {
        int64_t level = state & 0xFF;
        if (level > TOK_MAX_STATE_LEVEL) level = TOK_MAX_STATE_LEVEL;
        return long_bracket_token(s, n, p, level, state >> 8, state);
    }
    unsigned char c = s[p];
    if (c == '\t') return {p + 1, TOK_SPACE};
    if (c == ' ') {
        size_t q = p;
        while (q < n && s[q] == ' ') q++;
        return {q, TOK_SPACE};
    }
    if (is_name_start(c)) {
        size_t q = p + 1;
        while (q < n && (is_name_start(s[q]) || is_digit(s[q]))) q++;
        return {q, TOK_NAME};
    }
    if (is_digit(c)) return {number_end(s, n, p), TOK_NUMBER};
    if (c == '"') return {quoted_end(s, n, p), TOK_STRING};
    if (c == '-' && p + 1 < n && s[p + 1] == '-') {
        int level = long_bracket_level(s, n, p + 2);
        if (level >= 0)
            return long_bracket_token(s, n, p + level + 4, level, TOK_COMMENT,
                                      level + TOK_STATE_COMMENT);
        // a line comment stops before its line feed, which is a token of its own
        size_t q = p + 2;
        while (q < n && s[q] != '\n') q++;
        return {q, TOK_COMMENT};
    }
    if (c == '[') {
        int level = long_bracket_level(s, n, p);
        if (level >= 0)
            return long_bracket_token(s, n, p + level + 2, level, TOK_STRING,
                                      level + TOK_STATE_STRING);
    }
    return {p + 1, TOK_OTHER};
}

int lua54_tokenoid(lua_State *L) {
    if (lua_type(L, 1) != LUA_TSTRING) return 0;
    size_t n;
    const char *s = lua_tolstring(L, 1, &n);
    int64_t i = k64_intp(L, 2, 1);
    int64_t state = k64_intp(L, 3, 0);
    if (i < 1 || i > (int64_t)n) return 0;
    size_t p = (size_t)(i - 1);
    Token t = read_token(s, n, p, state);
    spend_cpu((int64_t)(t.end - p));
    lua_pushlstring(L, s + p, t.end - p);
    lua_pushinteger(L, (lua_Integer)t.end + 1);
    lua_pushinteger(L, t.cls);
    if (!t.open) return 3;
    lua_pushinteger(L, t.state);
    return 4;
}
