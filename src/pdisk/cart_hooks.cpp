// The cartridge slots of the filesystem, filled by the cartridge module.
#include "pdisk/cart.h"
#include "pdisk/hooks.h"

PdiskCartOps pdisk_cart_ops = {cart_mount_k64_path, cart_write_k64_mount};
