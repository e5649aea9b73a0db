#pragma once

#include <limits.h>
#include <pthread.h>
#include <stdint.h>

struct fuse_session;
struct sqfs_ll;

enum image_mount_outcome {
    IMAGE_MOUNTED,
    IMAGE_NO_FUSE_DEVICE,
    IMAGE_NO_FUSERMOUNT,
    IMAGE_MOUNT_REFUSED,
    IMAGE_NO_FOLDER,
    IMAGE_UNREADABLE,
};

/* The embedded image, mounted read-only at a private folder and served by a
 * thread of this process. */
struct image_mount {
    char folder[PATH_MAX];
    struct sqfs_ll *image;
    struct fuse_session *session;
    pthread_t server;
    int stop[2];
};

/* Mounts the squashfs image found at `offset` in the file `path`. Every
 * signal should already be blocked, so that the serving thread never takes
 * one meant for the main thread. On any outcome but IMAGE_MOUNTED nothing is
 * left behind: no mount, no folder. */
enum image_mount_outcome image_mount_open(struct image_mount *mount, const char *path, uint64_t offset);

/* Unmounts, waits for the serving thread to end and removes the folder. */
void image_mount_close(struct image_mount *mount);
