// Fault management of the process, shared by its three sources:
// pfm_init.cpp (initialisation and process types), pfm_signals.cpp (signal
// tables, delivery thread, dispatcher, deferred signals) and pfm_exit.cpp
// (exit handlers, pfm_exit, panic and assertions).
#pragma once

#include "fault/pfm_state.h"
#include "internal/thread_safety.h"

// Signals 1 to this number have entries in the signal tables.
constexpr int kKsiPfmMaxSignal = 31;

// Records each signal's initial handler, takes it as the requested one,
// and clears the deferred signals.
void ksi_pfm_signals_init(void) KSI_REQUIRES(ksi_pfm_mutex);
// Installs the default interrupt handler for SIGINT and SIGTERM.
void ksi_pfm_install_interrupt_handlers(void);
// Gives every signal its initial handler back (process type 2, at exit).
void ksi_pfm_restore_initial_handlers(void);
// Passes deferred signals on to their initial handlers (process type 2).
void ksi_pfm_pass_deferred_signals(void);
// Turns passing deferred signals on (pfm_proc_init(2)) or off.
void ksi_pfm_set_pass_deferred(bool on);
// Waits until no dispatch runs.
void ksi_pfm_wait_for_dispatch_end(void);

// The exit function becomes the C runtime's exit.
void ksi_pfm_reset_exit_function(void) KSI_REQUIRES(ksi_pfm_mutex);
// Runs the exit handlers with `code`, newest first (see the definition).
void ksi_pfm_run_exit_handlers(int code);
// Fault management counts as not initialised (a completed pfm_exit).
void ksi_pfm_forget_init(void) KSI_REQUIRES(ksi_pfm_mutex);
