#pragma once

#include <signal.h>

/* Runs `program` with `arguments` (argv[0] included) and the environment of
 * this process, passes SIGTERM, SIGINT and SIGHUP on to it and waits for its
 * end. The caller has blocked those signals and SIGCHLD; `caller_mask` is
 * the mask the runtime itself was started with, which the program gets,
 * and `caller_child_action` what the runtime was started with for SIGCHLD.
 * Returns the program's exit status, 128 + the signal number when a signal
 * ended it, or -1 with errno set when it could not be started. */
int installer_process_run(const char *program, char *const arguments[], const sigset_t *caller_mask,
    const struct sigaction *caller_child_action);
