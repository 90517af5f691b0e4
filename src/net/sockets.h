// Sockets for programs. Filled by the network issue; until then there are no
// sockets and these do nothing.
#pragma once
#include <cstdint>

void sockets_init();
void sockets_exit();
void delete_sockets_by_process(int64_t pid);
void update_all_sockets();
