// The RAM folders that start-up fills from the system ROM file: "/system"
// from the system cartridge and "/ram/expcart" from an exported cartridge.
#pragma once

struct Buffer;

// Fills the RAM folder `folder` (a normalised path) with the files of a ROM
// cartridge image; bytes that are not a ROM image are taken as the legacy
// form, plain code up to the first 0 byte, stored as main.lua. Existing
// files are replaced. Returns the number of entries made, or -1.
int pdisk_populate_ram_folder(const char *folder, Buffer *rom);

// Mounts the RAM folder "/system" and fills it from the system cartridge.
// Returns the number of entries, or -1 when the image could not be read.
int pdisk_mount_system_rom(Buffer *rom);
// Mounts the RAM folder "/ram/expcart" and fills it from an exported
// cartridge. Returns as pdisk_mount_system_rom.
int pdisk_mount_exported_cart(Buffer *cart);
