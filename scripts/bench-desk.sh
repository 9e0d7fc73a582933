# The desk benchmark, sourced by scripts/bench --desk N: the wall time of
# updating one simulated device, then N at once (--port given N times), each
# device at 115200-baud line timing with a 64 KiB image; and their ratio.
# Every run gets fresh devices (running 1.2.7) and a fresh data folder.

desk_update() { # count work url -> prints the seconds the update took
    local count="$1" work="$2" url="$3" pids=() ports=() k
    for k in $(seq 1 "$count"); do
        "$BUILD_DIR/tembra-sim-device" --line-timing --link "$work/dev$count-$k" >/dev/null &
        pids+=($!)
        ports+=(--port "$work/dev$count-$k")
    done
    for k in $(seq 1 "$count"); do
        for _ in $(seq 1 100); do [ -e "$work/dev$count-$k" ] && break; sleep 0.1; done
    done
    local start end status=0
    start=$(date +%s.%N)
    "$BUILD_DIR/tembra-update-tool" --update "${ports[@]}" --service-url "$url" \
        --data-dir "$work/data$count" >"$work/run$count.out" 2>&1 || status=$?
    end=$(date +%s.%N)
    kill "${pids[@]}" 2>/dev/null || true
    wait "${pids[@]}" 2>/dev/null || true
    if [ "$status" -ne 0 ]; then
        tail -n 20 "$work/run$count.out" >&2
        echo "The update of $count device(s) failed with exit code $status." >&2
        return 1
    fi
    echo "$end - $start" | bc -l
}

run_desk_bench() {
    local n="${1:-4}" work url service one many
    work=$(mktemp -d)
    "$BUILD_DIR/tembra-update-service" >"$work/service.out" &
    service=$!
    trap 'kill $service 2>/dev/null; rm -rf "$work"' RETURN
    for _ in $(seq 1 100); do [ -s "$work/service.out" ] && break; sleep 0.1; done
    url="http://127.0.0.1:$(head -n 1 "$work/service.out")/"
    echo "Desk benchmark: $n simulated devices at 115200-baud line timing, 64 KiB image, $(nproc) CPUs"
    one=$(desk_update 1 "$work" "$url")
    printf "one device:         %6.1f s\n" "$one"
    many=$(desk_update "$n" "$work" "$url")
    printf "%d devices at once:  %6.1f s\n" "$n" "$many"
    printf "ratio:              %6.2f (target: 1.3 or less)\n" "$(echo "$many / $one" | bc -l)"
}
