// The message lock: a raise-mode mutex guarding all message state.
#pragma once

#include <orvexks/qmthread.h>

#include "internal/thread_safety.h"

extern qmthread_mutex_t ksi_msg_lock;
