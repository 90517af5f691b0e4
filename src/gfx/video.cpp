#include "gfx/video.h"

void init_default_coltabs() {}
int generate_video_out() { return 0; }
