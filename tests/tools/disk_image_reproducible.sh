#!/usr/bin/env bash
# make-disk-image gives the same bytes for the same bundles whatever their
# files' times and the order they were written in, and stores a file that
# both bundles carry once.
#
#   disk_image_reproducible.sh MAKE_DISK_IMAGE
set -euo pipefail
make_disk_image=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Incompressible, so that a second stored copy would show in the size.
head -c $((2 * 1024 * 1024)) /dev/urandom >"$work/shared.so"

write_bundles() { # FOLDER ORDER...
  local folder=$1 name
  shift
  mkdir -p "$folder/Install Quillmark.app/Contents/Frameworks" "$folder/Quillmark.app/Contents/Frameworks"
  for name in "$@"; do
    printf 'file %s\n' "$name" >"$folder/Quillmark.app/Contents/$name.txt"
  done
  cp "$work/shared.so" "$folder/Install Quillmark.app/Contents/Frameworks/libshared.so"
  cp "$work/shared.so" "$folder/Quillmark.app/Contents/Frameworks/libshared.so"
}

write_bundles "$work/first" a b c d
write_bundles "$work/second" d c b a
touch -d '2001-02-03 04:05:06' "$work/second/Quillmark.app/Contents/b.txt" "$work/second/Quillmark.app"

for copy in first second; do
  "$make_disk_image" "$work/$copy.squashfs" "$work/$copy/Install Quillmark.app" "$work/$copy/Quillmark.app" >/dev/null
done
cmp "$work/first.squashfs" "$work/second.squashfs" || {
  echo "the same bundles gave two different images" >&2
  exit 1
}
size=$(stat -c %s "$work/first.squashfs")
((size < 3 * 1024 * 1024)) || {
  echo "the file both bundles carry was stored twice: the image has $size bytes" >&2
  exit 1
}
echo "same bytes, $size bytes in all"
