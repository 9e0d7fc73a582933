#!/usr/bin/env bash
# The window as a screen reader sees it, through AT-SPI: run inside
# xvfb-run and dbus-run-session by test_accessibility. Starts the
# accessibility bus, the simulated device (at line speed) and the update
# service, opens the real window on the device, and has read.py report what
# the bus says, one JSON object per line.
set -u
tool="$1" sim="$2" service="$3" here="$(dirname "${BASH_SOURCE[0]}")"
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
pids+=($!)
"$sim" --line-timing --link "$work/dev" >"$work/device.out" 2>&1 &
pids+=($!)
"$service" >"$work/service.out" 2>&1 &
service_pid=$!
pids+=($service_pid)
for _ in $(seq 1 100); do [ -s "$work/service.out" ] && [ -e "$work/dev" ] && break; sleep 0.1; done
port=$(head -n 1 "$work/service.out")
HOME="$work" LANG=C.UTF-8 LANGUAGE= QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    "$tool" --port "$work/dev" --service-url "http://127.0.0.1:$port/" --data-dir "$work/data" \
    >"$work/tool.out" 2>&1 &
pids+=($!)
/usr/bin/python3 "$here/read.py" "$service" "$port" "$service_pid"
