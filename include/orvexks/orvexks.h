/* liborvexks: every family header. */
#ifndef ORVEXKS_ORVEXKS_H
#define ORVEXKS_ORVEXKS_H

#include <orvexks/ks_base.h>
#include <orvexks/imsg.h>
#include <orvexks/list.h>
#include <orvexks/llist.h>
#include <orvexks/pfm.h>
#include <orvexks/qmthread.h>
#include <orvexks/stack.h>
#include <orvexks/stg.h>

#endif
