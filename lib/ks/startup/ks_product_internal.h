// Start-up state other families read, and the helpers the installation
// directory routines share.
#pragma once

#include <sys/types.h>

// The process's file-creation mask as ks_system_init found it on its first
// call; 022 before that.
mode_t ksi_initial_umask(void);

// 1 when the Windows-form path names an existing directory of this host
// (mapped through the companion library's drive and share tables).
bool ksi_is_directory(const char *path);
