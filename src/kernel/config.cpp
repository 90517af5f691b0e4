#include "kernel/config.h"

void process_config() {}
