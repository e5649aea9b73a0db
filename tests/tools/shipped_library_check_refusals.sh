#!/usr/bin/env bash
# The shipped-library check refuses what would break on another desktop:
# each row puts one fault into a copy of a shipped bundle and expects the
# check to fail naming it.
#
#   shipped_library_check_refusals.sh CHECK_SCRIPT BASE_SET SHIPPED_BUNDLE DEBUG_PROGRAM
set -euo pipefail
check=$1 base_set=$2 shipped=$3 with_debug=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run_row() { # NAME EXPECTED-TEXT
  local output
  if output=$(cmake "-DBUNDLES=$work/Fixture.app" "-DBASE_SET=$base_set" -P "$check" 2>&1); then
    echo "$1: the check passed a bundle it must refuse" >&2
    return 1
  fi
  grep -qF -- "$2" <<<"$output" || {
    echo "$1: the refusal does not say \"$2\":" >&2
    echo "$output" >&2
    return 1
  }
  echo "$1: refused as expected"
}

fresh_fixture() {
  rm -rf "$work/Fixture.app"
  cp -a "$shipped" "$work/Fixture.app"
}

program=$(find "$shipped/Contents/MacOS" -type f ! -name qt.conf | head -n 1)
name=$(basename "$program")

fresh_fixture
patchelf --add-needed libnot-on-any-desktop.so.1 "$work/Fixture.app/Contents/MacOS/$name"
run_row "a library neither carried nor in the base set" \
  "needs libnot-on-any-desktop.so.1, which is neither in the bundle nor in the base set"

fresh_fixture
rm "$work/Fixture.app/Contents/Frameworks/libQt6Core.so.6"
run_row "a carried library gone missing" "needs libQt6Core.so.6, which is neither"

fresh_fixture
cp "$with_debug" "$work/Fixture.app/Contents/MacOS/$name"
run_row "a program with its debug information" "carries debug sections"
