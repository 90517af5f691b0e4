// Helpers shared by the files of the file API.
#pragma once
#include <cstddef>
#include <string>

struct lua_State;

// The argument as a string, or null when it is not a Lua string.
const char *fileapi_text_arg(lua_State *L, int idx, size_t *len = nullptr);
// The normalised path of a string argument; "" when it is not a string or
// the path is illegal.
std::string fileapi_path_arg(lua_State *L, int idx);

// 1 when the last part of the path's extension is `ext` (lower case):
// "a.b.lua" and "a.lua" are both lua files.
int fileapi_ext_is(const char *path, const char *ext);
// Extensions whose files are plain text for other programs, kept free of
// metadata headers.
int fileapi_is_known_text_ext(const char *path);
// txt, pn and lua files hold host text.
int fileapi_is_host_text_ext(const char *path);

// 1 when text is empty or is a metadata block that a reader can find the
// end of: "--[[kod", then "]]" closing it, then at most one newline.
int fileapi_metadata_is_whole(const char *text, size_t n);
// Length of the metadata block at the start of a file (through "]]" and one
// newline), 0 when it has none or it never closes.
size_t fileapi_metadata_block_length(const char *text, size_t n);

// Writes n bytes as the whole file. Returns null, or why nothing was written
// (the file is then as it was, except a RAM file that ran out of memory).
const char *fileapi_write_file(const char *path, const char *mode, const void *bytes, size_t n);
