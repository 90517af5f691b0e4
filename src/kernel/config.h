// The configuration file in the data folder. Read at every reset; filled by
// the settings issue, until then no host folder is mounted from it.
#pragma once

void process_config();
