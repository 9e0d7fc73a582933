# The desk benchmark, sourced by scripts/bench --desk N: the wall time of
# updating one simulated device, then N at once (--port given N times), each
# device at 115200-baud line timing with a 64 KiB image; and their ratio.
# Every run gets fresh devices (running 1.2.7) and a fresh data folder. While
# a run goes, the tool's processes are sampled every 0.2 s: their CPU use
# (percent of one core, over each interval, summed) and memory (resident set,
# summed); each run's peak is printed beside its time.

# The CPU ticks and resident kilobytes of the tool's processes, summed.
desk_sample() {
    local ticks=0 rss=0 pid stat
    for pid in $(pgrep -f "$BUILD_DIR/tembra-update-tool" || true); do
        stat=$(cat "/proc/$pid/stat" 2>/dev/null) || continue
        stat=${stat##*) }
        set -- $stat
        ticks=$((ticks + ${12} + ${13}))
        rss=$((rss + ${22} * $(getconf PAGESIZE) / 1024))
    done
    echo "$ticks $rss"
}

desk_update() { # count work url -> prints "seconds peak-cpu% peak-MiB"
    local count="$1" work="$2" url="$3" pids=() ports=() k
    for k in $(seq 1 "$count"); do
        "$BUILD_DIR/tembra-sim-device" --line-timing --link "$work/dev$count-$k" >/dev/null &
        pids+=($!)
        ports+=(--port "$work/dev$count-$k")
    done
    for k in $(seq 1 "$count"); do
        for _ in $(seq 1 100); do [ -e "$work/dev$count-$k" ] && break; sleep 0.1; done
    done
    local start end status=0 tool hz peakCpu=0 peakKiB=0 before ticks rss cpu
    hz=$(getconf CLK_TCK)
    start=$(date +%s.%N)
    # The runs' history of their own, not the user's.
    XDG_STATE_HOME="$work/state" "$BUILD_DIR/tembra-update-tool" --update "${ports[@]}" \
        --service-url "$url" --data-dir "$work/data$count" >"$work/run$count.out" 2>&1 &
    tool=$!
    local then nowNs
    read -r before _ < <(desk_sample)
    then=$(date +%s%N)
    while kill -0 "$tool" 2>/dev/null; do
        sleep 0.2
        read -r ticks rss < <(desk_sample)
        nowNs=$(date +%s%N)
        # Processes that ended take their ticks with them: never below zero.
        cpu=$(( (ticks > before ? ticks - before : 0) * 100 * 1000000000 / hz
                / (nowNs - then) ))
        before=$ticks
        then=$nowNs
        [ "$cpu" -gt "$peakCpu" ] && peakCpu=$cpu
        [ "$rss" -gt "$peakKiB" ] && peakKiB=$rss
    done
    wait "$tool" || status=$?
    end=$(date +%s.%N)
    kill "${pids[@]}" 2>/dev/null || true
    wait "${pids[@]}" 2>/dev/null || true
    if [ "$status" -ne 0 ]; then
        tail -n 20 "$work/run$count.out" >&2
        echo "The update of $count device(s) failed with exit code $status." >&2
        return 1
    fi
    echo "$(echo "$end - $start" | bc -l) $peakCpu $((peakKiB / 1024))"
}

run_desk_bench() {
    local n="${1:-4}" work url service one many oneCpu oneMiB manyCpu manyMiB
    work=$(mktemp -d)
    "$BUILD_DIR/tembra-update-service" >"$work/service.out" &
    service=$!
    trap 'kill $service 2>/dev/null; rm -rf "$work"' RETURN
    for _ in $(seq 1 100); do [ -s "$work/service.out" ] && break; sleep 0.1; done
    url="http://127.0.0.1:$(head -n 1 "$work/service.out")/"
    echo "Desk benchmark: $n simulated devices at 115200-baud line timing, 64 KiB image, $(nproc) CPUs"
    read -r one oneCpu oneMiB < <(desk_update 1 "$work" "$url")
    printf "one device:         %6.1f s   peak CPU %4d %%   peak memory %4d MiB\n" \
        "$one" "$oneCpu" "$oneMiB"
    read -r many manyCpu manyMiB < <(desk_update "$n" "$work" "$url")
    printf "%2d devices at once: %6.1f s   peak CPU %4d %%   peak memory %4d MiB\n" \
        "$n" "$many" "$manyCpu" "$manyMiB"
    printf "ratio:              %6.2f (target: 1.3 or less)\n" "$(echo "$many / $one" | bc -l)"
}
