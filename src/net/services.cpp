#include "net/services.h"

void gurl_init() {}
void gurl_update() {}
void qenuser_init() {}
void qenuser_update() {}
void scoresub_update() {}
void scoresub_forget_process(int64_t) {}
UserSession *get_active_session() { return nullptr; }
void update_session(UserSession *) {}
