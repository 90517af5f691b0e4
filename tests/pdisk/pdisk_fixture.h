// A clean filesystem for each test: a current process with a working
// directory, "/" on a temporary host folder, "/ram", and a stand-in
// cartridge module that records what it mounts and writes.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/temp_folder.h"
#include "formats/buffer.h"
#include "kernel/kernel.h"
#include "pdisk/hooks.h"
#include "pdisk/mount.h"
#include "pdisk/pfile.h"
#include "process/process.h"

struct FakeCarts {
    static inline int mounted, written, counter;
    static inline bool fail;
    static inline std::vector<std::string> events;   // history events seen

    static Mount *mount(const char *path)
    {
        char origin[64];
        snprintf(origin, sizeof origin, "/ram/mount/m%d", ++counter);
        pfile_insert(origin, PFILE_RAM, origin)->attribs = PFILE_ATTR_FOLDER;
        mounted++;
        return mount_p_path(path, origin);
    }
    // Packs the cartridge as the names of its RAM files.
    static int write(Mount *m)
    {
        if (fail)
            return -1;
        std::string text;
        int first, last;
        pdisk_prefix_range((m->origin + "/").c_str(), &first, &last);
        for (int i = first; i < last; i++)
            if (pdisk_entry(i)->kind == PFILE_RAM)
                text += pdisk_entry(i)->name.substr(m->origin.size()) + "\n";
        pfile *f = pfopen(m->mount_point.c_str(), "wf");
        if (!f)
            return -1;
        pfwrite(text.data(), 1, (int)text.size(), f);
        if (pfclose(f) != 0)
            return -1;
        written++;
        return 0;
    }
    static void history(int kind, const char *path, const char *host_path)
    {
        events.push_back(std::to_string(kind) + " " + path + " " + host_path);
    }
};

struct PdiskTest : testing::Test {
    TempFolder tmp;
    std::string drive;
    Process *p = nullptr;
    Process *saved_proc = nullptr;
    AppState saved_app;
    PdiskCartOps saved_ops;

    void SetUp() override
    {
        saved_proc = cproc;
        saved_app = app;
        saved_ops = pdisk_cart_ops;
        p = (Process *)calloc(1, sizeof(Process));
        p->id = 7;
        snprintf(p->pwd, sizeof p->pwd, "/");
        cproc = p;
        pdisk_cart_ops = {FakeCarts::mount, FakeCarts::write};
        pdisk_history_hook = FakeCarts::history;
        FakeCarts::mounted = FakeCarts::written = 0;
        FakeCarts::fail = false;
        FakeCarts::events.clear();
        app.atomic_pid = 0;
        app.exit_requested = 0;
        pfile_init();
        pfile_reset();
        drive = tmp / "drive";
        std::filesystem::create_directory(drive);
        mount_host_path(drive.c_str(), "/");
        mount_ram_folder("/ram");
    }
    void TearDown() override
    {
        pfile_init();
        pdisk_cart_ops = saved_ops;
        pdisk_history_hook = nullptr;
        app = saved_app;
        cproc = saved_proc;
        free(p);
    }

    // Writes or reads a whole file through the handles.
    int put(const char *path, const std::string &text, const char *mode = "w")
    {
        pfile *f = pfopen(path, mode);
        if (!f)
            return -2;
        pfwrite(text.data(), 1, (int)text.size(), f);
        return pfclose(f);
    }
    std::string get(const char *path, const char *mode = "r")
    {
        pfile *f = pfopen(path, mode);
        if (!f)
            return "<none>";
        std::string text((const char *)f->contents->data, (size_t)f->contents->len);
        pfclose(f);
        return text;
    }
};
