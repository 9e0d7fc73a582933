# The idle benchmark (sourced by scripts/bench --idle): the tool's release
# build, offscreen, waiting 60 s for a device that never comes, once as it is
# and once listing the system's ports in full on every pass; CPU time from
# /proc/<pid>/stat over the same 60 s after a 5 s warm-up.
idle_cpu_percent() {
    local home pid ticks_before ticks_after hz
    home=$(mktemp -d)
    env HOME="$home" XDG_DATA_HOME="$home/data" QT_QPA_PLATFORM=offscreen "$@" \
        "$BUILD_DIR/tembra-update-tool" >/dev/null 2>&1 &
    pid=$!
    sleep 5
    hz=$(getconf CLK_TCK)
    ticks_before=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    sleep "$IDLE_SECONDS"
    ticks_after=$(awk '{print $14 + $15}' "/proc/$pid/stat")
    kill -TERM "$pid"
    wait "$pid" || true
    rm -rf "$home"
    awk -v t=$((ticks_after - ticks_before)) -v hz="$hz" -v s="$IDLE_SECONDS" \
        'BEGIN { printf "%.3f", 100 * t / hz / s }'
}

run_idle_bench() {
    IDLE_SECONDS=${IDLE_SECONDS:-60}
    local cached full
    echo "Measuring $IDLE_SECONDS s with no device, twice..."
    cached=$(idle_cpu_percent)
    echo "idle CPU, no device: $cached % of one core"
    full=$(idle_cpu_percent TEMBRA_FULL_PORT_LISTING=1)
    echo "idle CPU, no device, full listing on every pass: $full % of one core"
    awk -v a="$cached" -v b="$full" 'BEGIN {
        if (a > 0) printf "ratio: %.1f times less\n", b / a;
        else print "ratio: no CPU time measured with the fingerprint" }'
}
