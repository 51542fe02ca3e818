#!/bin/bash
# The window program's own options: absurd values are refused at once with the reason and
# exit 2 (no window made, no gigabyte picture), and frames that cannot be saved fail the run.
# Usage: window_options_test.sh ULVARIN_BINARY
set -u
ulvarin=$1
dir=$(mktemp -d)
trap 'chmod -R u+w "$dir"; rm -rf "$dir"' EXIT
export QT_QPA_PLATFORM=offscreen ULVARIN_EMULATOR=medipix2:1
failures=0

# refused ARGS... : exit 2, the reason on stderr, no picture written
refused() {
    local reason=$1
    shift
    rm -f "$dir/shot.png"
    timeout 20 "$ulvarin" "$@" >"$dir/out" 2>"$dir/err"
    local code=$?
    if [ "$code" -ne 2 ] || ! grep -qF -- "$reason" "$dir/err" || [ -e "$dir/shot.png" ]; then
        echo "FAIL: $* -> exit $code"; head -5 "$dir/err"; failures=$((failures + 1))
    fi
}
refused "--size takes WIDTHxHEIGHT" --screenshot "$dir/shot.png" --size 100000x100000
refused "--size takes WIDTHxHEIGHT" --screenshot "$dir/shot.png" --size 0x-5
refused "--size takes WIDTHxHEIGHT" --screenshot "$dir/shot.png" --size 1280x720x3
refused "--frames takes 0 to" --screenshot "$dir/shot.png" --frames -1
refused "--frames takes 0 to" --screenshot "$dir/shot.png" --frames 99999999999
refused "Usage:" --bogus --size 640x480 --screenshot "$dir/shot.png"

# Frames into a folder that cannot be written: the picture is taken, the run says it failed.
mkdir "$dir/locked" && chmod a-w "$dir/locked"
if [ "$(id -u)" -ne 0 ]; then
    timeout 120 "$ulvarin" --screenshot "$dir/shot.png" --frames 1 --save-frames "$dir/locked/sub" \
        >"$dir/out" 2>"$dir/err"
    code=$?
    if [ "$code" -ne 1 ] || ! grep -q "cannot write" "$dir/err"; then
        echo "FAIL: unwritable --save-frames -> exit $code"; head -5 "$dir/err"; failures=$((failures + 1))
    fi
fi
# As root every folder is writable: a path under a regular file stands in for one.
touch "$dir/plain"
timeout 120 "$ulvarin" --screenshot "$dir/shot2.png" --frames 1 --save-frames "$dir/plain/sub" \
    >"$dir/out" 2>"$dir/err"
code=$?
if [ "$code" -ne 1 ] || ! grep -q "cannot write" "$dir/err"; then
    echo "FAIL: --save-frames under a file -> exit $code"; head -5 "$dir/err"; failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] && echo "window options: all refused as they should be"
exit "$failures"
