// Source generator for the compilation benchmark of vm_bench.cpp: a large
// plain Lua chunk made deterministically from a fixed seed, so that every
// build compiles exactly the same text. The chunk fills a table M with
// thousands of functions that use what real programs use (locals, table
// constructors, numeric and generic loops, if/elseif chains, string
// literals with escapes, long strings and comments, integer and float
// arithmetic, nested closures, small classes with methods) and, when run,
// calls each one and returns a checksum and the number of functions.

#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

struct vm_parse_gen {
    std::string out;
    uint64_t state;
};

// xorshift64*: fixed seed, same sequence on every host.
inline uint32_t vm_parse_rand(vm_parse_gen *g)
{
    g->state ^= g->state >> 12;
    g->state ^= g->state << 25;
    g->state ^= g->state >> 27;
    return static_cast<uint32_t>((g->state * 0x2545F4914F6CDD1DULL) >> 33);
}

// Draws n numbers in order. Templates take their numbers from such an
// array: the order in which a call's arguments are evaluated is
// unspecified, so calling the generator inside an argument list would let
// the text depend on the compiler.
inline void vm_parse_draw(vm_parse_gen *g, uint32_t *v, int n)
{
    for (int i = 0; i < n; ++i)
        v[i] = vm_parse_rand(g);
}

// Appends printf-formatted text to the chunk.
__attribute__((format(printf, 2, 3)))
inline void vm_parse_put(vm_parse_gen *g, const char *fmt, ...)
{
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n > 0)
        g->out.append(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

inline const char *vm_parse_word(uint32_t r)
{
    static const char *const words[] = {
        "alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel",
        "india", "juliet", "kilo", "lima", "mike", "november", "oscar", "papa",
    };
    return words[r % (sizeof words / sizeof words[0])];
}

// A short string literal in one of Lua's quoting styles, escapes included.
inline void vm_parse_literal(vm_parse_gen *g)
{
    uint32_t v[4];
    vm_parse_draw(g, v, 4);
    const char *w = vm_parse_word(v[1]);
    const char *w2 = vm_parse_word(v[2]);
    switch (v[0] % 5) {
    case 0: vm_parse_put(g, "\"%s %u\"", w, v[3] % 1000); break;
    case 1: vm_parse_put(g, "'%s\\t\\\"q\\\" \\x41\\065\\u{48}\\n'", w); break;
    case 2: vm_parse_put(g, "[[%s line\n  second %s]]", w, w2); break;
    case 3: vm_parse_put(g, "[==[%s ]] still ]=] inside]==]", w); break;
    default: vm_parse_put(g, "\"%s\\\\path\\\\%s\\z\n        end\"", w, w2); break;
    }
}

// One of a pool of extra statements, so that functions differ in shape.
inline void vm_parse_statement(vm_parse_gen *g)
{
    uint32_t v[5];
    vm_parse_draw(g, v, 5);
    switch (v[0] % 5) {
    case 0:
        vm_parse_put(g, "  local parts = {}\n  for j = 1, %u do parts[#parts + 1] = \"%s\" .. j end\n"
                        "  s = s .. table.concat(parts, \",\")\n",
                     v[1] % 5 + 1, vm_parse_word(v[2]));
        break;
    case 1:
        vm_parse_put(g, "  repeat x = x - %u until x < %u or x %% %u == 0\n",
                     v[1] % 9 + 1, v[2] % 500 + 10, v[3] % 7 + 2);
        break;
    case 2:
        vm_parse_put(g, "  --[[ %s %s\n       %s ]] y = y / %u.5 + %u\n", vm_parse_word(v[1]),
                     vm_parse_word(v[2]), vm_parse_word(v[3]), v[4] % 9 + 1, v[1] % 9);
        break;
    case 3:
        vm_parse_put(g, "  local C = {}\n  C.__index = C\n"
                        "  function C.new(v) return setmetatable({v = v, tag = \"%s\"}, C) end\n"
                        "  function C:get(d) return self.v * d + #self.tag end\n"
                        "  x = x + C.new(x %% %u):get(%u)\n",
                     vm_parse_word(v[1]), v[2] % 1000 + 1, v[3] % 9 + 1);
        break;
    default:
        vm_parse_put(g, "  if type(s) == \"string\" and #s > %u then x = x + #s elseif not t[1] then x = 0 end\n",
                     v[1] % 20);
        break;
    }
}

// One function M.f<k>(a, b, c) returning an integer from its arguments.
inline void vm_parse_function(vm_parse_gen *g, int k)
{
    uint32_t v[32];
    vm_parse_draw(g, v, 32);
    vm_parse_put(g, "-- f%d: %s %s\n", k, vm_parse_word(v[0]), vm_parse_word(v[1]));
    vm_parse_put(g, "function M.f%d(a, b, c)\n", k);
    vm_parse_put(g, "  local x, y = a * %u + b // %u - c %% %u, %u.%u\n",
                 v[2] % 50 + 1, v[3] % 9 + 1, v[4] % 9 + 2, v[5] % 90, v[6] % 100);
    vm_parse_put(g, "  local s = ");
    vm_parse_literal(g);
    vm_parse_put(g, "\n  local t = {%d, %u, %u.25, \"%s\", key%u = x, [\"k%d\"] = %s,\n",
                 k, v[7] % 100000, v[8] % 1000, vm_parse_word(v[9]), v[10] % 10, k,
                 v[11] % 2 ? "true" : "false");
    vm_parse_put(g, "             nested = {%u, {}, p = {q = %u, r = 0x%X}}}\n",
                 v[12] % 100, v[13] % 100, v[14] % 0xFFFF);
    vm_parse_put(g, "  for i = 1, %u do\n", v[15] % 12 + 4);
    vm_parse_put(g, "    if i %% %u == 0 then x = x + i * %u\n", v[16] % 4 + 2, v[17] % 30 + 1);
    vm_parse_put(g, "    elseif x > %u then x = x - %u\n", v[18] % 5000 + 100, v[19] % 50 + 1);
    vm_parse_put(g, "    else x = x ~ (i << %u) end\n  end\n", v[20] % 8);
    vm_parse_put(g, "  while x > %u do x = x // %u end\n", v[21] % 100000 + 1000, v[22] % 5 + 2);
    for (uint32_t e = 0; e < v[23] % 4; ++e)
        vm_parse_statement(g);
    vm_parse_put(g, "  local function inner(u)\n    local w = u * %u + #s\n"
                    "    return function(z) return (x + w * z) %% %u end\n  end\n",
                 v[24] % 20 + 1, v[25] % 100000 + 7);
    vm_parse_put(g, "  local sum = 0\n  for _, v in ipairs(t) do\n"
                    "    if math.type(v) == \"integer\" then sum = sum + v\n"
                    "    elseif type(v) == \"string\" then sum = sum + #v end\n  end\n");
    vm_parse_put(g, "  y = y * 1.%u + sum / %u\n", v[26] % 10, v[27] % 50 + 1);
    vm_parse_put(g, "  return (inner(sum)(c) + math.floor(y) + #t) & 0xffffff\nend\n\n");
}

// The whole chunk, at least target_bytes long; *functions gets the count.
inline std::string vm_parse_source(size_t target_bytes, int *functions)
{
    vm_parse_gen g;
    g.state = 0x9E3779B97F4A7C15ULL;
    g.out.reserve(target_bytes + 4096);
    vm_parse_put(&g, "-- generated compilation workload\nlocal M = {}\n\n");
    int k = 0;
    while (g.out.size() < target_bytes)
        vm_parse_function(&g, ++k);
    vm_parse_put(&g, "local acc = 0\nfor i = 1, %d do\n"
                     "  acc = (acc * 31 + M[\"f\" .. i](i, i %% 13 + 1, i %% 7 + 2)) & 0xffffffff\n"
                     "end\nreturn acc, %d\n", k, k);
    *functions = k;
    return g.out;
}
