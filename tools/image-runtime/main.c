/* The runtime at the front of the runnable installer file: it mounts the
 * disk image that follows it in the same file, read-only, runs the installer
 * from it and unmounts it when the installer ends. */

#include "embedded_image.h"
#include "image_mount.h"
#include "installer_process.h"

#include <errno.h>
#include <inttypes.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const char installer_in_image[] = "Install Quillmark.app/Contents/MacOS/QuillmarkInstaller";

/* The file as a shell reads it, inside single quotes. */
static void print_quoted(const char *text)
{
    fputc('\'', stderr);
    for (; *text; ++text) {
        if (*text == '\'')
            fputs("'\\''", stderr);
        else
            fputc(*text, stderr);
    }
    fputc('\'', stderr);
}

static void explain_missing_fuse(const char *reason, const char *file, uint64_t offset)
{
    fprintf(stderr,
        "The installer cannot open its disk image because FUSE is not available here (%s); "
        "mount the image by hand with \"sudo mount -o loop,ro,offset=%" PRIu64 " ",
        reason, offset);
    print_quoted(file);
    fprintf(stderr, " /mnt\" and run \"/mnt/%s\".\n", installer_in_image);
}

static int report_mount_failure(enum image_mount_outcome outcome, const char *file, uint64_t offset)
{
    switch (outcome) {
    case IMAGE_NO_FUSE_DEVICE:
        explain_missing_fuse("there is no /dev/fuse", file, offset);
        break;
    case IMAGE_NO_FUSERMOUNT:
        explain_missing_fuse("fusermount3 is not installed; the fuse3 package provides it", file, offset);
        break;
    case IMAGE_MOUNT_REFUSED:
        explain_missing_fuse("the system refused the FUSE mount", file, offset);
        break;
    case IMAGE_NO_FOLDER:
        fprintf(stderr, "The installer cannot make a private folder to mount its disk image in: %s.\n",
            strerror(errno));
        break;
    case IMAGE_UNREADABLE:
        fprintf(stderr, "The disk image in %s cannot be read; download the installer again.\n", file);
        break;
    case IMAGE_MOUNTED:
        break;
    }
    return 1;
}

int main(int argc, char *argv[])
{
    /* Blocked before any thread exists, so the signals come only to the
     * sigwaitinfo loop that passes them on to the installer. */
    sigset_t caller_mask, runtime_mask;
    sigemptyset(&runtime_mask);
    sigaddset(&runtime_mask, SIGTERM);
    sigaddset(&runtime_mask, SIGINT);
    sigaddset(&runtime_mask, SIGHUP);
    sigaddset(&runtime_mask, SIGCHLD);
    sigprocmask(SIG_BLOCK, &runtime_mask, &caller_mask);
    /* A caller that ignores SIGCHLD would have the installer reaped unseen
     * and its end never reported. */
    struct sigaction caller_child_action, default_action = { .sa_handler = SIG_DFL };
    sigaction(SIGCHLD, &default_action, &caller_child_action);

    char file[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", file, sizeof file - 1);
    if (length < 0)
        snprintf(file, sizeof file, "%s", argv[0]);
    else
        file[length] = '\0';

    /* Through /proc/self/exe the image is read from the file that was
     * started, even if it has been moved or replaced since. */
    uint64_t offset = 0;
    if (embedded_image_offset("/proc/self/exe", &offset) != 0) {
        fprintf(stderr, "%s carries no disk image; download the installer again.\n", file);
        return 1;
    }
    if (argc == 2 && strcmp(argv[1], "--image-offset") == 0) {
        printf("%" PRIu64 "\n", offset);
        return 0;
    }

    struct image_mount mount;
    enum image_mount_outcome outcome = image_mount_open(&mount, "/proc/self/exe", offset);
    if (outcome != IMAGE_MOUNTED)
        return report_mount_failure(outcome, file, offset);

    char program[sizeof mount.folder + sizeof installer_in_image];
    snprintf(program, sizeof program, "%s/%s", mount.folder, installer_in_image);
    argv[0] = program;
    int status = installer_process_run(program, argv, &caller_mask, &caller_child_action);
    if (status < 0) {
        fprintf(stderr, "The installer on the disk image could not be started: %s.\n", strerror(errno));
        status = 1;
    }
    image_mount_close(&mount);
    return status;
}
