#!/usr/bin/env bash
# The Debian package, unpacked: the executable, the desktop entry, the icons
# and the documents are in place; the unpacked tool, started from a folder its
# user cannot write, runs, keeps its files in the user's data folder and ends
# cleanly when asked to; a log it makes replays with the simulator built
# beside it.
set -euo pipefail
build_dir="$1"
debs=("$build_dir"/tembra-update-tool_*.deb)
# Only scripts/test and scripts/package build the package: a plain build skips this test.
if [ ! -f "${debs[0]}" ] && [ -n "${TEMBRA_REQUIRE_PACKAGE:-}" ]; then
    echo "FAIL: no package in $build_dir"; exit 1
fi
[ -f "${debs[0]}" ] || { echo "SKIP: no package in $build_dir (scripts/test and scripts/package build it)"; exit 77; }
deb="${debs[0]}"

fail() { echo "FAIL: $*"; exit 1; }
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
chmod 755 "$work"
root="$work/root"
dpkg-deb -x "$deb" "$root"

exe="$root/usr/bin/tembra-update-tool"
desktop="$root/usr/share/applications/tembra-update-tool.desktop"
[ -x "$exe" ] || fail "no executable at /usr/bin/tembra-update-tool"
[ -f "$desktop" ] || fail "no desktop entry"
grep -qx "Name=Tembra Update Tool" "$desktop" || fail "desktop entry without its name"
grep -qx "Exec=tembra-update-tool" "$desktop" || fail "desktop entry does not start the tool"
grep -qx "Icon=tembra-update-tool" "$desktop" || fail "desktop entry without the icon"
grep -qx "Terminal=false" "$desktop" || fail "desktop entry asks for a terminal"
grep -qx "Categories=Utility;" "$desktop" || fail "desktop entry not under Utility"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop entry does not validate"
fi
for size in 16 22 24 32 48 64 128 256; do
    icon="$root/usr/share/icons/hicolor/${size}x${size}/apps/tembra-update-tool.png"
    [ -f "$icon" ] || fail "no ${size}x${size} icon"
    file -b "$icon" | grep -q "PNG image data, $size x $size" || fail "${size}x${size} icon is not a PNG of that size"
done
rule=$(find "$root" -path '*/udev/rules.d/70-tembra-update-tool.rules' | head -n 1)
[ -n "$rule" ] || fail "no udev rule"
dpkg-deb -e "$deb" "$work/control"
for script in postinst postrm; do
    [ -x "$work/control/$script" ] || fail "no $script"
    sh -n "$work/control/$script" || fail "$script is no shell script"
done
# Where udev does not run (this test's machine, a container), the install
# scripts say nothing.
if ! udevadm control --ping >/dev/null 2>&1; then
    said=$(sh "$work/control/postinst" configure 2>&1; sh "$work/control/postrm" remove 2>&1)
    [ -z "$said" ] || fail "the install scripts say, without udev: $said"
fi
# A font for the Chinese translation's glyphs.
dpkg-deb -f "$deb" Recommends | grep -q "fonts-noto-cjk | fonts-wqy-microhei" ||
    fail "no CJK font recommended: $(dpkg-deb -f "$deb" Recommends)"
for doc in usr/share/doc/tembra-update-tool/copyright usr/share/doc/tembra-update-tool/changelog.gz \
           usr/share/man/man1/tembra-update-tool.1.gz \
           usr/share/tembra-update-tool/translations/tembra_de.qm \
           usr/share/tembra-update-tool/translations/tembra_zh_CN.qm; do
    [ -f "$root/$doc" ] || fail "no /$doc"
done

# Run as a user who may not write the program's folder: nobody when the test
# runs as root (root may write anywhere), else the current user, with the
# unpacked tree made read-only.
home="$work/home"
mkdir -p "$home"
run_as=()
if [ "$(id -u)" -eq 0 ]; then
    chown nobody "$home"
    run_as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
chmod -R a-w "$root"
log="$work/tool.log"
env -i PATH=/usr/bin:/bin HOME="$home" XDG_DATA_HOME="$home/data" QT_QPA_PLATFORM=offscreen \
    QT_LOGGING_RULES="tembra.*.debug=true" "${run_as[@]}" "$exe" >"$log" 2>&1 &
pid=$!
started=""
for _ in $(seq 1 100); do
    grep -q "监控串口已开启" "$log" && { started=yes; break; }
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$started" ] || { cat "$log"; fail "the tool did not start"; }
# Running for a few seconds, waiting for a device.
for _ in $(seq 1 20); do
    kill -0 "$pid" 2>/dev/null || { cat "$log"; fail "the tool ended by itself"; }
    sleep 0.1
done
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || { cat "$log"; fail "the tool ended with status $status"; }
grep -q "settings and firmware are kept in $home/data/tembra-update-tool" "$log" ||
    { cat "$log"; fail "the tool did not choose the user's data folder"; }
[ -d "$home/data/tembra-update-tool" ] || fail "the data folder was not created"
logs=("$home"/data/tembra-update-tool/logs/tembra-update-tool-*.log)
[ -f "${logs[0]}" ] || fail "the run left no log file"
head -n 1 "${logs[0]}" | grep -qx "Tembra Update Tool 1.3.0" || fail "the log file has no header"
grep -q "tembra.device debug: 监控串口已开启" "${logs[0]}" || fail "the log file lacks the run's lines"
if grep -qE "Destroyed while thread|Segmentation|Aborted" "$log"; then
    cat "$log"
    fail "the tool did not end cleanly"
fi
# A log made by the packaged tool replays with the simulator built beside it:
# the same check, against the replayed device, ends the same way.
sim="$build_dir/tembra-sim-device"
service="$build_dir/tembra-update-service"
if [ -x "$sim" ] && [ -x "$service" ]; then
    run_tool() { # port data-folder
        env -i PATH=/usr/bin:/bin HOME="$work" QT_QPA_PLATFORM=offscreen TEMBRA_TEST_TIME_SCALE=0.2 \
            "$exe" --check --port "$1" --service-url "$url" --data-dir "$2" >>"$work/check.out" 2>&1
    }
    wait_for() { for _ in $(seq 1 100); do [ -e "$1" ] && [ -s "$1" -o -L "$1" ] && return; sleep 0.1; done; }
    "$service" --image-size 2048 >"$work/service.out" &
    service_pid=$!
    "$sim" --link "$work/device" >/dev/null &
    device_pid=$!
    wait_for "$work/service.out"
    wait_for "$work/device"
    url="http://127.0.0.1:$(head -n 1 "$work/service.out")/"
    recorded=0
    run_tool "$work/device" "$work/recorded" || recorded=$?
    kill "$device_pid"
    wait "$device_pid" 2>/dev/null || true
    recorded_log=("$work"/recorded/logs/tembra-update-tool-*.log)
    "$sim" --replay "${recorded_log[0]}" --link "$work/replayed" >/dev/null 2>"$work/replay.err" &
    replay_pid=$!
    wait_for "$work/replayed"
    replayed=0
    run_tool "$work/replayed" "$work/replay" || replayed=$?
    kill "$replay_pid" "$service_pid" 2>/dev/null || true
    wait "$replay_pid" "$service_pid" 2>/dev/null || true
    if [ "$recorded" -ne 10 ] || [ "$replayed" -ne 10 ]; then
        cat "$work/check.out" "$work/replay.err"
        fail "the check ended with $recorded, its replay with $replayed (10 expected)"
    fi
fi
echo "PASS: $(basename "$deb")"
