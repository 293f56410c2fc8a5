// Looking up a call's program and version in the registered programs.
#pragma once

#include <orvexks/rpc/svc.h>

struct ksi_svc_lookup {
  ks_svc_dispatch_t dispatch;  // null: no exact match
  bool prog_known;             // some version of the program is registered
  uint32_t low;                // its lowest and highest registered versions
  uint32_t high;
};

ksi_svc_lookup ksi_svc_find_program(uint32_t prog, uint32_t vers);
