// The configuration file: default contents and "mount " lines.
#include "kernel/config.h"

#include "formats/buffer.h"
#include "host/log.h"
#include "host/paths.h"
#include "kernel/kernel.h"
#include "pdisk/mount.h"

#include <cstdio>
#include <cstring>
#include <memory>

static const char *const config_file_name = "kestrane_config.txt";
// Longest kernel path a mount line may name.
static const size_t config_max_kernel_path = 255;

std::string config_default_text(const std::string &drive_folder)
{
    return "# kestrane config\n\nmount / " + drive_folder + "\n";
}

// 0 when the whole text was written and the file closed cleanly.
static int write_text(const std::string &path, const std::string &text)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return -1;
    size_t n = fwrite(text.data(), 1, text.size(), f);
    int closed = fclose(f);
    return n == text.size() && closed == 0 ? 0 : -1;
}

static bool readable(const std::string &path)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    fclose(f);
    return true;
}

int config_apply_line(const char *line)
{
    if (strncmp(line, "mount ", 6) != 0)
        return 0;
    const unsigned char *p = (const unsigned char *)line + 6;
    const unsigned char *start = p;
    while (*p > ' ')
        p++;
    size_t kernel_len = (size_t)(p - start);
    // A cut path would mount the folder somewhere else.
    if (kernel_len > config_max_kernel_path) {
        vemo_debug("** mount: kernel path longer than %d characters\n", (int)config_max_kernel_path);
        return 0;
    }
    std::string kernel_path((const char *)start, kernel_len);
    while (*p == ' ')
        p++;
    // The host path runs to the line end and may hold spaces.
    const char *host = (const char *)p;
    std::string host_path(host, strcspn(host, "\r\n"));
    vemo_debug("mount: [%s] [%s]\n", kernel_path.c_str(), host_path.c_str());
    if (mount_host_path(host_path.c_str(), kernel_path.c_str()) != 0) {
        vemo_debug("** mount failed: [%s] [%s]\n", kernel_path.c_str(), host_path.c_str());
        return 0;
    }
    return 1;
}

static void write_default_config(const std::string &path, const std::string &drive)
{
    vemo_debug("writing default config to %s\n", path.c_str());
    if (write_text(path, config_default_text(drive)) != 0) {
        printf("ERROR: could not write to %s\n", path.c_str());
        kestrane_exit(1);
    }
}

void process_config()
{
    std::string drive = vemo_data_path("drive");
    vemo_mkdir(drive.c_str());
    std::string path = vemo_data_path(config_file_name);
    // Only a file that cannot be opened is replaced: a user's file is never
    // overwritten.
    if (!readable(path))
        write_default_config(path, drive);
    std::unique_ptr<Buffer, BufferDeleter> text(create_buffer_from_file(path.c_str()));
    if (!text) {
        vemo_debug("** could not read %s\n", path.c_str());
        return;
    }
    std::unique_ptr<Buffer, BufferDeleter> line(create_buffer_2(256, BUFFER_TAG_LINE));
    if (!line)
        return;
    text->pos = 0;
    while (text->pos < text->len) {
        breadln(text.get(), line.get());
        config_apply_line(to_cstr(line.get()));
    }
}
