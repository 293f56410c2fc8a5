// Process-wide set-up shared by the companion library's units.
#pragma once

// Runs the one-time set-up (fork handlers) unless it already ran; cheap
// after the first call. Returns 0 or the errno value of the set-up.
int nti_process_init();

// Fork handlers of the units, installed by nti_process_init.
void nti_env_before_fork();
void nti_env_after_fork_parent();
void nti_env_after_fork_child();
void nti_thread_after_fork_child();
