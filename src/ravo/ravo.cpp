#include "ravo/ravo.h"

void ravo_init() {}
void generate_default_wavetable(Process *) {}
void ravo_write_default_instrument(Process *) {}
void ravo_stop_all() {}
void audio_op_start(int, int) {}
void audio_lock_release() {}
