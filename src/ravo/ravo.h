// The audio engine. Filled by the audio issue; until then nothing plays.
#pragma once

struct Process;

void ravo_init();
void generate_default_wavetable(Process *p);
void ravo_write_default_instrument(Process *p);
void ravo_stop_all();
// Synchronises the engine with process RAM at the end of a frame.
void audio_op_start(int pid, int final);
void audio_lock_release();
