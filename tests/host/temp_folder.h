// Test helpers: a temporary folder removed at the end of its scope, and guards
// that restore the working folder, environment variables and the home setting.
#pragma once
#include "kernel/kernel.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <unistd.h>

struct TempFolder {
    std::string path;   // absolute, no trailing slash

    TempFolder()
    {
        char pattern[] = "/tmp/kestrane_test_XXXXXX";
        const char *made = mkdtemp(pattern);
        path = made ? made : "";
    }
    ~TempFolder()
    {
        std::error_code ec;
        if (!path.empty())
            std::filesystem::remove_all(path, ec);
    }
    std::string operator/(const std::string &name) const { return path + "/" + name; }
};

struct CwdGuard {
    std::filesystem::path saved = std::filesystem::current_path();
    explicit CwdGuard(const std::string &to) { std::filesystem::current_path(to); }
    ~CwdGuard() { std::filesystem::current_path(saved); }
};

struct EnvGuard {
    std::string name;
    std::optional<std::string> saved;

    EnvGuard(const char *var, const char *value) : name(var)
    {
        if (const char *old = getenv(var))
            saved = old;
        if (value)
            setenv(var, value, 1);
        else
            unsetenv(var);
    }
    ~EnvGuard()
    {
        if (saved)
            setenv(name.c_str(), saved->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
};

struct HomeGuard {
    char saved[sizeof config.home];
    explicit HomeGuard(const std::string &home)
    {
        memcpy(saved, config.home, sizeof saved);
        snprintf(config.home, sizeof config.home, "%s", home.c_str());
    }
    ~HomeGuard() { memcpy(config.home, saved, sizeof saved); }
};

inline std::string read_text_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_text_file(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline bool folder_exists(const std::string &path)
{
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}
