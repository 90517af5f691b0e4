// Video output and the default colour tables. Filled by the graphics issues.
#pragma once

void init_default_coltabs();
// Composes the video process's display into the RGB frame; returns 1 when a
// frame was produced.
int generate_video_out();
