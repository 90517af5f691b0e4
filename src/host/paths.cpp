#include "host/paths.h"

#include "host/log.h"
#include "kernel/kernel.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#ifdef _WIN32
#include <direct.h>
#include <shlobj.h>
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

static std::string export_name;

// ---------------------------------------------------------------------------
// Text helpers

void vemo_fix_backslashes(char *text)
{
    for (; text && *text; text++)
        if (*text == '\\')
            *text = '/';
}

void vemo_fix_backslashes(std::string &text)
{
    for (char &c : text)
        if (c == '\\')
            c = '/';
}

std::string vemo_trim(const char *text)
{
    if (!text)
        return "";
    const unsigned char *start = (const unsigned char *)text;
    while (*start && *start < 33)
        start++;
    const unsigned char *end = start + strlen((const char *)start);
    while (end > start && end[-1] < 33)
        end--;
    return std::string((const char *)start, (size_t)(end - start));
}

static void append_slash(std::string &folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
}

// Drops trailing slashes, keeping a lone root "/".
static void strip_slashes(std::string &folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
}

static bool is_folder(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---------------------------------------------------------------------------
// Folders

int vemo_mkdir(const char *path)
{
    if (!path || !*path)
        return -1;
#ifdef _WIN32
    int r = _mkdir(path);
#else
    int r = mkdir(path, 0755);
#endif
    if (r == 0)
        return 0;
    return is_folder(path) ? 0 : -1;
}

int vemo_mkdirs(const char *path)
{
    if (!path || !*path)
        return -1;
    std::string p = path;
    vemo_fix_backslashes(p);
    strip_slashes(p);
    // Parents first; a failure there shows up when the last folder fails.
    for (size_t i = 1; i < p.size(); i++)
        if (p[i] == '/' && p[i - 1] != '/')
            vemo_mkdir(p.substr(0, i).c_str());
    return vemo_mkdir(p.c_str());
}

// ---------------------------------------------------------------------------
// Host-specific folder queries

static std::string env_text(const char *name)
{
    const char *v = getenv(name);
    return v ? v : "";
}

#ifndef _WIN32
static std::string home_dir()
{
    std::string home = env_text("HOME");
    if (home.empty()) {
        const struct passwd *pw = getpwuid(getuid());
        if (pw && pw->pw_dir)
            home = pw->pw_dir;
    }
    return home;
}
#endif

#if !defined(_WIN32) && !defined(__APPLE__)
// An XDG base variable counts only when set to an absolute path.
static std::string xdg_base(const char *var, const char *fallback_below_home)
{
    std::string v = env_text(var);
    if (!v.empty() && v[0] == '/')
        return v;
    return home_dir() + fallback_below_home;
}
#endif

#ifdef _WIN32
static std::string host_appdata_base()
{
    std::string base = env_text("APPDATA");
    if (base.empty())
        base = env_text("USERPROFILE") + "/Application Data";
    return base;
}
#elif defined(__APPLE__)
static std::string host_appdata_base()
{
    std::string base = home_dir() + "/Library/Application Support";
    vemo_mkdirs(base.c_str());
    return base;
}
#else
static std::string host_appdata_base()
{
    std::string base = xdg_base("XDG_DATA_HOME", "/.local/share");
    // A fresh account may not have it yet; the folders below need it.
    vemo_mkdirs(base.c_str());
    return base;
}
#endif

#ifdef _WIN32
static std::string host_desktop_folder()
{
    std::string folder;
    wchar_t wide[MAX_PATH];
    char narrow[MAX_PATH * 2];
    if (SHGetFolderPathW(NULL, CSIDL_DESKTOPDIRECTORY, NULL, 0, wide) != S_OK)
        vemo_debug("desktop_directory(): SHGetFolderPathW failed\n");
    else if (!WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, NULL, NULL))
        vemo_debug("desktop_directory(): WideCharToMultiByte failed\n");
    else
        folder = narrow;
    vemo_fix_backslashes(folder);
    strip_slashes(folder);
    if (!folder.empty() && is_folder(folder))
        return folder;
    if (!folder.empty())
        vemo_debug("vemo_prefix_with_desktop_path(): result give by SHGetFolderPathW not found\n");
    const char *profile = getenv("USERPROFILE");
    vemo_debug("vemo_prefix_with_desktop_path(): desktop_directory() failed; trying USERPROFILE %s\n",
               profile ? profile : "[also failed]");
    folder = profile ? profile : "";
    vemo_fix_backslashes(folder);
    strip_slashes(folder);
    return folder;
}
#elif defined(__APPLE__)
static std::string host_desktop_folder()
{
    std::string folder = home_dir() + "/Desktop";
    return is_folder(folder) ? folder : home_dir();
}
#else
// Reads XDG_DESKTOP_DIR from the user-dirs file: a line of the form
// XDG_DESKTOP_DIR="$HOME/Desktop" or XDG_DESKTOP_DIR="/absolute/path".
static std::string xdg_user_desktop_dir(const std::string &home)
{
    std::ifstream in(xdg_base("XDG_CONFIG_HOME", "/.config") + "/user-dirs.dirs");
    const std::string key = "XDG_DESKTOP_DIR=";
    std::string line, found;
    while (std::getline(in, line)) {
        std::string t = vemo_trim(line.c_str());
        if (t.compare(0, key.size(), key) != 0)
            continue;
        std::string value;
        bool quoted = false;
        for (size_t i = key.size(); i < t.size(); i++) {
            char c = t[i];
            if (c == '"') {
                if (quoted)
                    break;
                quoted = true;
            } else if (c == '\\' && i + 1 < t.size()) {
                value += t[++i];
            } else {
                value += c;
            }
        }
        if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/'))
            value = home + value.substr(5);
        if (!value.empty() && value[0] == '/')
            found = value;   // a later line overrides an earlier one, as in a shell
    }
    return found;
}

static std::string host_desktop_folder()
{
    std::string home = home_dir();
    std::string folder = xdg_user_desktop_dir(home);
    if (folder.empty())
        folder = home + "/Desktop";
    strip_slashes(folder);
    if (is_folder(folder))
        return folder;
    // Captures would otherwise be lost; the home folder is always there.
    vemo_debug("vemo_desktop_path(): %s not found; using HOME %s\n", folder.c_str(), home.c_str());
    strip_slashes(home);
    return home;
}
#endif

#ifdef _WIN32
static std::string host_program_folder()
{
    char full[_MAX_PATH];
    std::string path = _fullpath(full, vemo_argv0, sizeof full) ? full : vemo_argv0;
    vemo_fix_backslashes(path);
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}
#else
static std::string host_program_folder()
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path exe = vemo_argv0;
    // A bare name was found through PATH: ask the system where it lives.
    if (!strchr(vemo_argv0, '/')) {
#ifdef __linux__
        fs::path self = fs::read_symlink("/proc/self/exe", ec);
        if (!ec)
            return self.parent_path().string();
#endif
        return fs::current_path(ec).string();
    }
    fs::path resolved = fs::weakly_canonical(fs::absolute(exe, ec), ec);
    if (ec)
        resolved = fs::absolute(exe, ec);
    return resolved.parent_path().string();
}
#endif

// ---------------------------------------------------------------------------
// Public paths

std::string vemo_program_path(const char *name)
{
    std::string folder = host_program_folder();
    vemo_fix_backslashes(folder);
    append_slash(folder);
    return folder + (name ? name : "");
}

std::string vemo_home_folder()
{
    if (config.home[0] == 0 || config.home[0] == ' ')
        return "";
    std::string folder(config.home, strnlen(config.home, sizeof config.home));
    vemo_fix_backslashes(folder);
    append_slash(folder);
    return folder;
}

void vemo_set_export_name(const char *name)
{
    export_name = name ? name : "";
}

// The export name becomes one folder name; anything that would leave the
// exports folder selects the shared folder instead.
static bool export_name_usable(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string::npos;
}

static std::string data_folder()
{
    std::string folder = vemo_home_folder();
    if (!folder.empty())
        return folder;
    folder = host_appdata_base();
    vemo_fix_backslashes(folder);
    append_slash(folder);
    folder += "Kestrane";
    vemo_mkdir(folder.c_str());
    folder += "/exp/";
    vemo_mkdir(folder.c_str());
    folder += export_name_usable(export_name) ? export_name + "/" : std::string("shared/");
    vemo_mkdir(folder.c_str());
    return folder;
}

std::string vemo_data_path(const char *name)
{
    return data_folder() + (name ? name : "");
}

std::string vemo_desktop_path(const char *name)
{
    std::string folder(config.desktop_path, strnlen(config.desktop_path, sizeof config.desktop_path));
    vemo_fix_backslashes(folder);
    strip_slashes(folder);
    if (folder.empty())
        folder = host_desktop_folder();
    return folder + "/" + (name ? name : "");
}
