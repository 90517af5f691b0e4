// The cartridge slots of the filesystem. The cartridge module points them at
// its mount and write-back functions.
#include "pdisk/hooks.h"

PdiskCartOps pdisk_cart_ops = {nullptr, nullptr};
