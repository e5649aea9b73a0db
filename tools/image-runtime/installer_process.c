#include "installer_process.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

/* Only async-signal-safe calls between fork and exec: the FUSE serving
 * thread exists in the parent, and the child gets none of its locks. */
static void become_installer(const char *program, char *const arguments[], const sigset_t *caller_mask,
    const struct sigaction *caller_child_action, pid_t runtime, int report)
{
    /* Without the runtime nothing serves the volume the installer runs
     * from, so it is asked to quit the polite way, which it may answer by
     * finishing a replacement it has begun. */
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != runtime)
        _exit(127);
    sigaction(SIGCHLD, caller_child_action, NULL);
    sigprocmask(SIG_SETMASK, caller_mask, NULL);
    execve(program, arguments, environ);
    int error = errno;
    (void)!write(report, &error, sizeof error);
    _exit(127);
}

static int status_of(int status)
{
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

int installer_process_run(const char *program, char *const arguments[], const sigset_t *caller_mask,
    const struct sigaction *caller_child_action)
{
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0)
        return -1;
    pid_t runtime = getpid();
    pid_t installer = fork();
    if (installer < 0) {
        int error = errno;
        close(report[0]);
        close(report[1]);
        errno = error;
        return -1;
    }
    if (installer == 0)
        become_installer(program, arguments, caller_mask, caller_child_action, runtime, report[1]);
    close(report[1]);

    /* The pipe closes on a successful exec; an error number means none. */
    int exec_error = 0;
    ssize_t got;
    while ((got = read(report[0], &exec_error, sizeof exec_error)) < 0 && errno == EINTR)
        ;
    close(report[0]);
    if (got == (ssize_t)sizeof exec_error) {
        while (waitpid(installer, NULL, 0) < 0 && errno == EINTR)
            ;
        errno = exec_error;
        return -1;
    }

    sigset_t awaited;
    sigemptyset(&awaited);
    sigaddset(&awaited, SIGTERM);
    sigaddset(&awaited, SIGINT);
    sigaddset(&awaited, SIGHUP);
    sigaddset(&awaited, SIGCHLD);
    for (;;) {
        siginfo_t signal;
        if (sigwaitinfo(&awaited, &signal) < 0)
            continue;
        if (signal.si_signo != SIGCHLD) {
            kill(installer, signal.si_signo);
            continue;
        }
        /* SIGCHLD also comes for fusermount3, which libfuse reaps itself,
         * and several ends may merge into one signal. */
        int status;
        pid_t ended = waitpid(installer, &status, WNOHANG);
        if (ended == installer)
            return status_of(status);
    }
}
