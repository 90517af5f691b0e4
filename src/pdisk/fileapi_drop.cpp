// Host files dropped on the window become RAM files in /ram/drop/ that the
// window manager is told about.
#include <cstring>
#include <memory>
#include <string>

#include "formats/buffer.h"
#include "host/log.h"
#include "pdisk/fileapi.h"
#include "pdisk/hostfs.h"
#include "pdisk/mount.h"
#include "pdisk/path.h"
#include "pdisk/pfile.h"
#include "process/message.h"
#include "process/process.h"

static const char DROP_FOLDER[] = "/ram/drop";

// "/ram/drop/NAME" for the last part of a host path, every character that
// is not a path character replaced by '_'. "" for a folder path (ending in
// a separator) and for names that would not stay inside the drop folder.
static std::string drop_location(const char *host_path)
{
    const char *name = host_path;
    for (const char *c = host_path; *c; c++)
        if (*c == '/' || *c == '\\')
            name = c + 1;
    std::string loc = std::string(DROP_FOLDER) + "/";
    // longer names would be dropped whole by normalisation
    for (size_t i = 0; name[i] && i < PDISK_MAX_SEGMENT; i++)
        loc += is_path_char((unsigned char)name[i]) ? name[i] : '_';
    // "." and ".." would name the folder or its parent
    if (normalise_kestrane_path(loc.c_str()) != loc)
        return "";
    return loc;
}

static void post_drop_message(const std::string &loc)
{
    std::unique_ptr<Buffer, BufferDeleter> b(create_buffer_2(256, 114));
    if (!b)
        return;
    bappend_str(b.get(), "{event=\"drop_items\",_flags=1,items={{kod_type=\"location\","
                         "filenav_op=\"move\",location=\"");
    bappend_str_escaped(b.get(), loc.c_str());
    bappend_str(b.get(), "\"}}}");
    send_process_message(get_process(3), b.get());
}

void process_dropped_file(const char *host_path)
{
    if (!host_path)
        return;
    vemo_debug("dropped file: %s\n", host_path);
    std::string loc = drop_location(host_path);
    // The host file is read before the RAM file is opened, so a drop that
    // fails leaves no empty file behind and an earlier drop of the same
    // name as it was.
    std::unique_ptr<Buffer, BufferDeleter> bytes;
    bool folder = loc.empty() || host_directory_exists(host_path);
    if (!folder) {
        bytes.reset(create_buffer_from_file(host_path));
        if (!bytes) {
            vemo_debug(" ** could not create buffer from file: %s\n", host_path);
            return;
        }
    }
    if (folder || bytes->len == 0) {
        notify("** dropping folders (and size zero files) not supported **");
        return;
    }
    if (!pdisk_directory_exists(DROP_FOLDER, 1))
        pmkdir(DROP_FOLDER);
    pfile *f = pfopen(loc.c_str(), "wf");
    if (!f) {
        vemo_debug(" ** could not open temp file: %s\n", loc.c_str());
        return;
    }
    bool ok = pfwrite(bytes->data, 1, bytes->len, f) == bytes->len;
    if (pfclose(f) != 0 || !ok) {
        vemo_debug(" ** could not write temp file: %s\n", loc.c_str());
        return;
    }
    post_drop_message(loc);
}
