// HTTP jobs and the online services. Filled by the HTTP issue; until then no
// job or session exists and these do nothing.
#pragma once
#include <cstdint>

struct UserSession;

void gurl_init();
void gurl_update();
void qenuser_init();
void qenuser_update();
void scoresub_update();
void scoresub_forget_process(int64_t pid);
UserSession *get_active_session();
void update_session(UserSession *s);
