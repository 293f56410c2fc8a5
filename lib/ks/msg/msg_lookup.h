// Text lookup of numbered messages: the catalog's translation when a
// catalog is open for the table's catalog name, else the table's default.
#pragma once

#include <orvexks/imsg.h>

// The text of message `index` of `table` (0 <= index < table->count). A
// translation lives in the calling thread's storage until the thread's next
// lookup; a default text lives for the process.
const char *ksi_msg_lookup(const ks_msg_table_t *table, int index);
