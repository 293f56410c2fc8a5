// Comparing an object's protections with the expected ones and reporting
// the difference in a message list.
#pragma once

#include <orvexks/imsg.h>
#include <orvexks/server.h>

// Compares path's owner, group and mode (under the clear mask: -1 the whole
// mode, 0 with expected mode 0 ownership only) and adds the report to
// list. *ok is 1 when everything agrees. 0, or the errno value of a read
// failure.
int ksi_check_protections(const char *path, const server_fsobj_prot_t *expected,
                          int clear, int *ok, imsg_list_t *list);

// Gives the caller a heap copy of the list's text (when report_out is not
// null) and destroys the list.
void ksi_finish_report(imsg_list_t *list, char **report_out);
