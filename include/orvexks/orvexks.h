/* liborvexks: every family header. */
#ifndef ORVEXKS_ORVEXKS_H
#define ORVEXKS_ORVEXKS_H

#include <orvexks/ks_base.h>
#include <orvexks/cl.h>
#include <orvexks/clp.h>
#include <orvexks/credutl.h>
#include <orvexks/date.h>
#include <orvexks/evutl.h>
#include <orvexks/fileutl.h>
#include <orvexks/hash.h>
#include <orvexks/imsg.h>
#include <orvexks/ks_product.h>
#include <orvexks/list.h>
#include <orvexks/llist.h>
#include <orvexks/msgcat.h>
#include <orvexks/ntpfxmap.h>
#include <orvexks/pfm.h>
#include <orvexks/qmthread.h>
#include <orvexks/rpc/auth.h>
#include <orvexks/rpc/clnt.h>
#include <orvexks/rpc/nirpc.h>
#include <orvexks/rpc/rpc_msg.h>
#include <orvexks/rpc/rpcb.h>
#include <orvexks/rpc/svc.h>
#include <orvexks/rpc/xdr.h>
#include <orvexks/rpc/xdrrec.h>
#include <orvexks/rt.h>
#include <orvexks/rt_proc.h>
#include <orvexks/server.h>
#include <orvexks/stack.h>
#include <orvexks/stg.h>
#include <orvexks/strfmt.h>
#include <orvexks/strutl.h>
#include <orvexks/sysutl.h>
#include <orvexks/sysutl_acl.h>

#endif
