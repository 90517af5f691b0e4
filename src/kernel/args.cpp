// The command line.
#include "kernel/kernel.h"

#include "host/paths.h"

#include <climits>
#include <cstdlib>
#include <cstring>

// What the next non-option argument is taken as.
enum ArgTarget {
    ARG_POSITIONAL,
    ARG_IGNORED,    // after an unknown option
    ARG_HOME,
    ARG_DISPLAY,
    ARG_USER_ID,
    ARG_SESSION_TOKEN,
    ARG_USERNAME,
};

struct ArgOption {
    const char *text;
    ArgTarget target;
    int32_t *flag;   // set to 1 by flag options, which take no value
};

// Copies at most size - 1 characters and always terminates.
static void copy_field(char *dst, size_t size, const char *src)
{
    size_t n = strnlen(src, size - 1);
    memcpy(dst, src, n);
    dst[n] = 0;
}

// Decimal integer; text without digits leaves the value unchanged, and values
// beyond 32 bits are clamped.
static void read_int_field(int32_t *dst, const char *text)
{
    char *end;
    long long v = strtoll(text, &end, 10);
    if (end == text)
        return;
    if (v > INT32_MAX)
        v = INT32_MAX;
    if (v < INT32_MIN)
        v = INT32_MIN;
    *dst = (int32_t)v;
}

// Options are known by their first characters: "-xyz" is "-x".
static ArgTarget apply_option(const char *arg)
{
    const ArgOption options[] = {
        {"-home", ARG_HOME, nullptr},
        {"-x", ARG_POSITIONAL, &config.headless},
        {"-use_system_rom", ARG_POSITIONAL, &config.use_system_rom},
        {"-display", ARG_DISPLAY, nullptr},
        {"-user_id", ARG_USER_ID, nullptr},
        {"-session_token", ARG_SESSION_TOKEN, nullptr},
        {"-username", ARG_USERNAME, nullptr},
    };
    for (const ArgOption &o : options) {
        if (strncmp(arg, o.text, strlen(o.text)) != 0)
            continue;
        if (o.flag)
            *o.flag = 1;
        return o.target;
    }
    return ARG_IGNORED;
}

static void apply_value(ArgTarget target, const char *arg)
{
    switch (target) {
    case ARG_POSITIONAL:
        copy_field(config.cart_arg, sizeof config.cart_arg, arg);
        break;
    case ARG_IGNORED:
        break;
    case ARG_HOME: {
        copy_field(config.home, sizeof config.home, arg);
        std::string folder = vemo_home_folder();
        if (!folder.empty())
            vemo_mkdirs(folder.c_str());
        break;
    }
    case ARG_DISPLAY:
        read_int_field(&config.display, arg);
        break;
    case ARG_USER_ID:
        copy_field(config.user_id, sizeof config.user_id, arg);
        break;
    case ARG_SESSION_TOKEN:
        copy_field(config.session_token, sizeof config.session_token, arg);
        break;
    case ARG_USERNAME:
        copy_field(config.username, sizeof config.username, arg);
        break;
    }
}

void process_arguments(int argc, char **argv)
{
    ArgTarget pending = ARG_POSITIONAL;
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        if (!arg)
            break;
        // Shell redirections passed through by some launchers end the list.
        if (arg[0] == '&' || arg[0] == '|' || arg[0] == '>')
            break;
        if (arg[0] == '-') {
            // An option right after another drops the earlier one's value.
            pending = apply_option(arg);
            continue;
        }
        apply_value(pending, arg);
        pending = ARG_POSITIONAL;
    }
}
