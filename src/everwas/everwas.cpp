#include "everwas/everwas.h"

void everwas_open() {}
void everwas_close() {}
