// "new.owner": the note a server leaves when it cannot hand a storage
// directory to its new owner itself, read when the owner takes it over.
#pragma once

#include <orvexks/credutl.h>

// Writes dir's "new.owner" for the user of ids: one line with the user's
// qualified account name and the text form of their SID, the file created
// for ids and then made read-only. Prints failures; 0, or an errno value.
int ksi_write_owner_file(const char *dir, const credutl_sid_credentials_t &ids);
