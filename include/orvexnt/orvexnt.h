/* The companion library's public interface, all headers at once. */
#ifndef ORVEXNT_ORVEXNT_H
#define ORVEXNT_ORVEXNT_H

#include <orvexnt/nt_base.h>
#include <orvexnt/nt_accounts.h>
#include <orvexnt/nt_env.h>
#include <orvexnt/nt_error.h>
#include <orvexnt/nt_init.h>
#include <orvexnt/nt_registry.h>
#include <orvexnt/nt_security.h>
#include <orvexnt/nt_sid.h>
#include <orvexnt/nt_thread.h>

#endif
