// The filesystem's one call point into the file history.
#include "pdisk/hooks.h"

void (*pdisk_history_hook)(int kind, const char *path, const char *host_path) = nullptr;

void pdisk_history_event(int kind, const char *path, const char *host_path)
{
    if (pdisk_history_hook)
        pdisk_history_hook(kind, path, host_path);
}
