#include "image_mount.h"

/* squashfuse's header brings in the FUSE API version it was built for. */
#include <squashfuse/ll.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int is_folder(const char *path)
{
    struct stat status;
    return path && path[0] == '/' && stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

/* The user's runtime folder is private to them and cleared at log-out, so a
 * folder left by a killed run does not outlive the session there; the
 * temporary folder is the fallback when that one is missing or refuses. */
static int make_private_folder(char *folder, size_t size)
{
    const char *bases[] = { getenv("XDG_RUNTIME_DIR"), getenv("TMPDIR"), "/tmp" };
    for (size_t i = 0; i < sizeof bases / sizeof bases[0]; ++i) {
        if (!is_folder(bases[i]))
            continue;
        if ((size_t)snprintf(folder, size, "%s/quillmark-image-XXXXXX", bases[i]) >= size)
            continue;
        /* mkdtemp makes the folder with mode 0700. */
        if (mkdtemp(folder))
            return 0;
    }
    return -1;
}

static int is_program(const char *path)
{
    struct stat status;
    return stat(path, &status) == 0 && S_ISREG(status.st_mode) && access(path, X_OK) == 0;
}

/* libfuse runs fusermount3 from its build-time folder first, then from PATH. */
static int fusermount_installed(void)
{
    if (is_program("/usr/bin/fusermount3") || is_program("/bin/fusermount3"))
        return 1;
    const char *path = getenv("PATH");
    if (!path)
        return 0;
    char *folders = strdup(path);
    int found = 0;
    for (char *rest = folders, *folder; folders && !found && (folder = strsep(&rest, ":"));) {
        char candidate[PATH_MAX];
        if (*folder && (size_t)snprintf(candidate, sizeof candidate, "%s/fusermount3", folder) < sizeof candidate)
            found = is_program(candidate);
    }
    free(folders);
    return found;
}

/* libfuse's own loop looks at its exit flag only between requests, so it
 * cannot be stopped while it waits for one; this loop also waits for the
 * stop pipe. The descriptor is non-blocking, so a request the kernel takes
 * back between the poll and the read costs a turn, not a hang. */
static void *serve(void *argument)
{
    struct image_mount *mount = argument;
    struct pollfd watched[2] = {
        { .fd = fuse_session_fd(mount->session), .events = POLLIN },
        { .fd = mount->stop[0], .events = POLLIN },
    };
    struct fuse_buf request = { 0 };
    while (!fuse_session_exited(mount->session)) {
        if (poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (watched[1].revents)
            break;
        int got = fuse_session_receive_buf(mount->session, &request);
        if (got == -EINTR || got == -EAGAIN)
            continue;
        /* Zero: the connection has ended, the mount is gone. */
        if (got <= 0)
            break;
        fuse_session_process_buf(mount->session, &request);
    }
    free(request.mem);
    return NULL;
}

/* libfuse and fusermount3 explain a refusal in their own words on standard
 * error; the runtime says it in one sentence of its own instead. */
static int silence_errors(void)
{
    int saved = dup(STDERR_FILENO);
    int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved >= 0 && null >= 0)
        dup2(null, STDERR_FILENO);
    if (null >= 0)
        close(null);
    return saved;
}

static void restore_errors(int saved)
{
    if (saved < 0)
        return;
    dup2(saved, STDERR_FILENO);
    close(saved);
}

/* squashfuse frees its tables but leaves the image's descriptor and its own
 * allocation to the caller. */
static void close_image(sqfs_ll *image)
{
    int fd = image->fs.fd;
    sqfs_ll_destroy(image);
    free(image);
    close(fd);
}

/* Whether each descriptor below `count` is open, as /proc/self/fd lists. */
static void note_open_descriptors(unsigned char *open_now, int count)
{
    memset(open_now, 0, (size_t)count);
    DIR *listing = opendir("/proc/self/fd");
    if (!listing)
        return;
    /* The listing's own descriptor is closed again below; a descriptor the
     * mount opens may take its number. */
    int own = dirfd(listing);
    for (struct dirent *entry; (entry = readdir(listing));) {
        int fd = atoi(entry->d_name);
        if (fd > STDERR_FILENO && fd < count && fd != own)
            open_now[fd] = 1;
    }
    closedir(listing);
}

/* libfuse keeps its end of the socket to fusermount3's auto_unmount watcher
 * without close-on-exec. An installer that inherited it would keep the
 * watcher from ever seeing this process die. Descriptors the caller gave
 * the runtime are left as they are: they are the installer's too. */
static void keep_from_installer(const unsigned char *open_before, int count)
{
    unsigned char open_now[1024];
    note_open_descriptors(open_now, count);
    for (int fd = STDERR_FILENO + 1; fd < count; ++fd) {
        if (open_now[fd] && !open_before[fd])
            fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
    }
}

static enum image_mount_outcome mount_and_serve(struct image_mount *mount)
{
    static struct fuse_lowlevel_ops operations = {
        .lookup = sqfs_ll_op_lookup,
        .forget = sqfs_ll_op_forget,
        .getattr = sqfs_ll_op_getattr,
        .readlink = sqfs_ll_op_readlink,
        .open = sqfs_ll_op_open,
        .read = sqfs_ll_op_read,
        .release = sqfs_ll_op_release,
        .opendir = sqfs_ll_op_opendir,
        .readdir = sqfs_ll_op_readdir,
        .releasedir = sqfs_ll_op_releasedir,
        .statfs = stfs_ll_op_statfs,
        .getxattr = sqfs_ll_op_getxattr,
        .listxattr = sqfs_ll_op_listxattr,
        .create = sqfs_ll_op_create,
    };
    /* auto_unmount makes fusermount3 keep a watcher that unmounts as soon as
     * this process's FUSE descriptor closes, however the process ends: a
     * runtime killed with SIGKILL leaves no dead "Transport endpoint is not
     * connected" folder behind, and the kernel needs nothing from us. */
    char *arguments[] = { "quillmark-image", "-o", "ro,auto_unmount,fsname=quillmark-image,subtype=squashfs", NULL };
    struct fuse_args args = FUSE_ARGS_INIT(3, arguments);

    unsigned char open_before[1024];
    note_open_descriptors(open_before, (int)sizeof open_before);
    int saved = silence_errors();
    mount->session = fuse_session_new(&args, &operations, sizeof operations, mount->image);
    int mounted = mount->session && fuse_session_mount(mount->session, mount->folder) == 0;
    restore_errors(saved);
    keep_from_installer(open_before, (int)sizeof open_before);
    if (!mounted) {
        if (mount->session)
            fuse_session_destroy(mount->session);
        mount->session = NULL;
        return IMAGE_MOUNT_REFUSED;
    }
    int fd = fuse_session_fd(mount->session);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    /* Checked by its own result: a caller that closed standard input gets
     * descriptor 0 for the pipe. */
    int stop_made = pipe2(mount->stop, O_CLOEXEC) == 0;
    if (stop_made && pthread_create(&mount->server, NULL, serve, mount) == 0)
        return IMAGE_MOUNTED;
    if (stop_made) {
        close(mount->stop[0]);
        close(mount->stop[1]);
    }
    fuse_session_unmount(mount->session);
    fuse_session_destroy(mount->session);
    mount->session = NULL;
    return IMAGE_MOUNT_REFUSED;
}

enum image_mount_outcome image_mount_open(struct image_mount *mount, const char *path, uint64_t offset)
{
    memset(mount, 0, sizeof *mount);
    struct stat device;
    if (stat("/dev/fuse", &device) != 0 || !S_ISCHR(device.st_mode))
        return IMAGE_NO_FUSE_DEVICE;
    if (!fusermount_installed())
        return IMAGE_NO_FUSERMOUNT;

    int saved = silence_errors();
    mount->image = sqfs_ll_open(path, (size_t)offset);
    restore_errors(saved);
    if (!mount->image)
        return IMAGE_UNREADABLE;
    fcntl(mount->image->fs.fd, F_SETFD, FD_CLOEXEC);

    enum image_mount_outcome outcome = IMAGE_NO_FOLDER;
    if (make_private_folder(mount->folder, sizeof mount->folder) == 0) {
        outcome = mount_and_serve(mount);
        if (outcome != IMAGE_MOUNTED)
            rmdir(mount->folder);
    }
    if (outcome != IMAGE_MOUNTED) {
        close_image(mount->image);
        mount->image = NULL;
    }
    return outcome;
}

void image_mount_close(struct image_mount *mount)
{
    /* The serving thread stops before the unmount closes the descriptor it
     * reads, so it never reads a closed or reused descriptor. */
    (void)!write(mount->stop[1], "", 1);
    pthread_join(mount->server, NULL);
    close(mount->stop[0]);
    close(mount->stop[1]);
    /* Lazy (libfuse asks for MNT_DETACH): the folder leaves the mount table
     * at once even if something still holds a file of the image open. */
    fuse_session_unmount(mount->session);
    fuse_session_destroy(mount->session);
    close_image(mount->image);
    rmdir(mount->folder);
}
