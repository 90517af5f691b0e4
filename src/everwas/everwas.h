// The everwas file history. Filled by the file-history issue.
#pragma once

void everwas_open();
void everwas_close();
