#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 60), one after the
# other: scripts/fuzz.sh [SECONDS] [TARGET...]. The kept inputs in fuzz/corpus/<target> seed
# each run; what a run adds stays in the build folder's working corpus, crashes there too
# (copy an input that found a fault into fuzz/corpus/<target>, named for what it found).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="${ULVARIN_FUZZ_BUILD:-$(dirname "$root")/build-fuzz}"
targets=("$@")
[ ${#targets[@]} -eq 0 ] &&
    targets=(mask_file frame_file pulse_files configuration matrix_stream device_answers)

# libFuzzer comes with clang, which the normal build does not need: installed here when missing.
if ! command -v clang++ >/dev/null; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    # With its recommends: libFuzzer's runtime is one of them.
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq clang
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DULVARIN_BUILD_FUZZ=ON -DULVARIN_BUILD_PYTHON=OFF -DULVARIN_BUILD_TANGO=OFF \
    -DULVARIN_BUILD_TESTS=OFF -DULVARIN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

# Longest input per target: whole files of the larger readers must fit.
max_len() {
    case "$1" in
        frame_file) echo 400000 ;;
        mask_file | matrix_stream) echo 140000 ;;
        pulse_files) echo 50000 ;;
        *) echo 4096 ;;
    esac
}

declare -A executions
status=0
for t in "${targets[@]}"; do
    work="$build/corpus/$t"
    artifacts="$build/artifacts/$t/"
    mkdir -p "$work" "$artifacts"
    log="$build/fuzz-$t.log"
    echo "== $t: ${seconds}s (log $log)"
    if ! "$build/fuzz/fuzz_$t" "$work" "$root/fuzz/corpus/$t" -max_total_time="$seconds" \
        -max_len="$(max_len "$t")" -timeout=60 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$artifacts" >"$log" 2>&1; then
        echo "   FAULT found, see $log and $artifacts" >&2
        status=1
    fi
    executions[$t]="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')"
done

echo "Executions per target:"
for t in "${targets[@]}"; do printf '  %-16s %s\n' "$t" "${executions[$t]}"; done
exit $status
