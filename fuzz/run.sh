#!/bin/sh
# Runs every fuzz target for a given time: run.sh BUILD_DIR SECONDS CORPUS_DIR TARGET...
# Seeds are made afresh from our own writers and the picture corpus; what a target
# learns is kept in BUILD_DIR/fuzz-corpus between runs. A picture that crashes a
# reader is copied into tests/data/corrupt/, where the test suite replays it; the
# exit status is 1 when any target found a fault.
set -u
build=$1
seconds=$2
corpus=$3
shift 3
bin=$build/bin
seeds=$build/fuzz-seeds
rm -rf "$seeds"
"$bin/fuzz_seeds" "$seeds" "$corpus" || exit 1

status=0
for target in "$@"; do
    work=$build/fuzz-corpus/$target
    artifacts=$build/fuzz-artifacts/$target
    mkdir -p "$work" "$artifacts"
    case $target in
        fuzz_decode) maxlen=300000 ;;
        *) maxlen=4096 ;;
    esac
    echo "== $target: $seconds s"
    log=$build/fuzz-$target.log
    "$bin/$target" -max_total_time="$seconds" -max_len="$maxlen" -timeout=60 -rss_limit_mb=3072 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$work" "$seeds/$target" >"$log" 2>&1
    code=$?
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)' "$log" | tail -2
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log"
    # Slow inputs are worth a look but are no fault; crashes, leaks, timeouts and
    # running out of memory are.
    find "$artifacts" -type f -name 'slow-unit-*' -exec echo "$target: slow input {}" \;
    found=$(find "$artifacts" -type f ! -name 'slow-unit-*' | wc -l)
    if [ "$code" -ne 0 ] || [ "$found" -ne 0 ]; then
        status=1
        echo "$target: FAULT (exit $code), see $log; inputs in $artifacts:"
        find "$artifacts" -type f
        if [ "$target" = fuzz_decode ]; then
            mkdir -p tests/data/corrupt
            for f in "$artifacts"/crash-* "$artifacts"/timeout-* "$artifacts"/oom-* "$artifacts"/leak-*; do
                [ -f "$f" ] && "$bin/fuzz_seeds" --picture "$f" tests/data/corrupt
            done
        fi
    fi
done
exit $status
