#pragma once

#include <stdint.h>

/* Where the squashfs image starts inside the runnable file: right after the
 * runtime's own ELF bytes, rounded up to a 4 KiB boundary so that a loop
 * device can be pointed at it too. Returns 0 and sets *offset when an image
 * with the squashfs magic lies there, -1 otherwise. */
int embedded_image_offset(const char *path, uint64_t *offset);
