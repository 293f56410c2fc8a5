// The command-line family's service to message output, which lies below
// it: logging the application name as a command line.
#pragma once

// Logs name as a command line without arguments (clp_log_cl_args).
void ksi_clp_log_app_name(const char *name);
