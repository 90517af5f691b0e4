// The file API: the native functions through which programs fetch and store
// values, read and write metadata headers, list, create, copy and delete
// files and folders, and use the host-side download cache.
//
// Every path argument must be a Lua string and is normalised; an illegal
// path gets no result. Functions never raise Lua errors.
#pragma once
#include <cstddef>

struct Buffer;
struct lua_State;

// fetch flags
constexpr int FETCH_IMAGE_RGBA = 1;   // images as i32 userdata of 0xAARRGGBB
constexpr int FETCH_RAW = 2;          // the file's bytes as one string

// Host-side cache: files shorter than this count as missing.
constexpr int FILEAPI_CACHE_MIN_SIZE = 512;
// Versions tried by a versioned cache fetch, highest first.
constexpr int FILEAPI_CACHE_MAX_VERSION = 32;

// Lua functions. Registered under the names given beside each.
int lua54_fetch(lua_State *L);                         // fetch, _fetch_local
int lua54_store(lua_State *L);                         // store, _store_local
int lua54__fetch_metadata_from_file(lua_State *L);     // _fetch_metadata_from_file
int lua54__store_metadata_str_to_file(lua_State *L);   // _store_metadata_str_to_file
int lua54__ls(lua_State *L);                           // ls, _ls
int lua54__mkdir(lua_State *L);                        // mkdir, _mkdir
int lua54__fstat(lua_State *L);                        // fstat, _fstat
int lua54__fullpath(lua_State *L);                     // fullpath, _fullpath
int lua54__fcopy(lua_State *L);                        // cp, _fcopy
int lua54__fdelete(lua_State *L);                      // _fdelete
int lua54__cache_store(lua_State *L);                  // _cache_store
int lua54__cache_fetch(lua_State *L);                  // _cache_fetch

// Pushes the value(s) that the bytes of a fetched file stand for: an image
// as userdata, a kod document as its value and metadata, anything else as a
// string and {metadata_format="none"}. `path` selects by its extension.
// Returns the number of values pushed.
int unkod_from_fetched_buffer(lua_State *L, const Buffer *contents, const char *path, int flags);

// Creates a folder: a RAM folder entry, a host folder, or for a cartridge
// path a (new, empty) cartridge mount that is written at the next flush.
// Returns 0, or -1 when it could not be created or already exists as a file.
int pmkdir(const char *path);
// Removes a file, an empty host folder or a RAM folder with everything in
// it, after removing a mount at exactly that path. Returns 0, or -1 when
// nothing could be deleted.
int delete_path(const char *path);
// Copies a file's bytes. The source is read whole before the target is
// opened, so a failed read leaves the target alone and a copy onto itself
// keeps the file. Returns the bytes copied, or -1.
int fcopy(const char *source, const char *target);

// A host file dropped on the window: copied to "/ram/drop/NAME" and
// offered to the window manager (process 3) as a drop_items message.
void process_dropped_file(const char *host_path);
