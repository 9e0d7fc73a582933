#!/bin/bash
# The rows of scripts/vm-test, run inside the virtual machine as its last
# step: the tool's package is installed with dpkg, simulated devices are
# plugged in as USB gadgets on dummy_hcd's UDCs, the host side of the same
# machine sees them through cdc_acm and udev, and each row runs the
# installed tool's command line against them.
#
# A row prints one line: "ROW|name|expected|got|exit code|seconds|PASS or
# FAIL", and on a failure the tail of the tool's log and of the devices'
# reports. The last line is "RESULT|passed|failed".
set -u
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
VM=/vm
SIM=$VM/tembra-sim-device
SERVICE=$VM/tembra-update-service
GADGETS=/sys/kernel/config/usb_gadget
WORK=/tmp/rows
DEVICES=4
ONLY="${TEMBRA_VM_ROWS:-}"
passed=0
failed=0
mkdir -p "$WORK"

say() { echo "vm: $*"; }

# One line for the row, and what explains a failure.
report() { # name expected got code seconds ok [files to show on failure...]
    local name="$1" expected="$2" got="$3" code="$4" seconds="$5" ok="$6"
    shift 6
    if [ "$ok" = yes ]; then
        passed=$((passed + 1))
        echo "ROW|$name|$expected|$got|$code|$seconds|PASS"
        return
    fi
    failed=$((failed + 1))
    echo "ROW|$name|$expected|$got|$code|$seconds|FAIL"
    local file
    for file in "$@"; do
        [ -s "$file" ] || continue
        echo "  -- $file"
        tail -n 25 "$file" | sed 's/^/  | /'
    done
}

wanted() { [ -z "$ONLY" ] || [[ "/$ONLY/" == *"/$1/"* ]]; }

# The gadgets: one per UDC, each with an ACM function; only the sims bind them.
make_gadgets() {
    local k g
    for k in $(seq 1 "$DEVICES"); do
        g=$GADGETS/g$k
        mkdir -p "$g/strings/0x409" "$g/functions/acm.usb0" "$g/configs/c.1/strings/0x409"
        echo 0x1209 >"$g/idVendor"
        echo 0x0001 >"$g/idProduct"
        echo Tembra >"$g/strings/0x409/manufacturer"
        echo "Tembra USB CDC" >"$g/strings/0x409/product"
        echo "TMB0000$k" >"$g/strings/0x409/serialnumber"
        echo "ACM" >"$g/configs/c.1/strings/0x409/configuration"
        ln -s "$g/functions/acm.usb0" "$g/configs/c.1/" 2>/dev/null || true
    done
}

tty_of() { echo "/dev/ttyGS$(cat "$GADGETS/g$1/functions/acm.usb0/port_num")"; }
by_path() { echo "/dev/serial/by-path/platform-dummy_hcd.$(($1 - 1))-usb-0:1:1.0"; }
by_id() { echo "/dev/serial/by-id/usb-Tembra_Tembra_USB_CDC_TMB0000$1-if00"; }

sim_pids=()
# Plugs device k in (on UDC k-1 unless --udc is among the arguments) and
# waits until udev has made its links.
start_device() { # k [sim arguments...]
    local k="$1"
    shift
    : >"$WORK/dev$k.out"
    rm -f "$WORK/img$k.bin"
    "$SIM" --gadget "$GADGETS/g$k" --tty "$(tty_of "$k")" --udc "dummy_udc.$((k - 1))" \
        --save-image "$WORK/img$k.bin" "$@" >>"$WORK/dev$k.out" 2>&1 &
    sim_pids+=($!)
    local i
    for i in $(seq 1 200); do
        [ -e "$(by_path "$k")" ] && break
        sleep 0.1
    done
    udevadm settle
}

stop_devices() {
    local pid
    for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${sim_pids[@]}"; do wait "$pid" 2>/dev/null; done
    sim_pids=()
    udevadm settle
}

# Runs the installed tool; sets code, seconds and out (its JSON lines).
run_tool() { # name [tool arguments...]
    local name="$1"
    shift
    local start end
    start=$(date +%s%N)
    timeout 300 env ${SCALE:+TEMBRA_TEST_TIME_SCALE=$SCALE} tembra-update-tool --update --json \
        --timeout "${LIMIT:-120}" \
        --service-url "$URL" --data-dir "$WORK/$name" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
    code=$?
    end=$(date +%s%N)
    seconds=$(( (end - start) / 1000000000 )).$(( (end - start) / 100000000 % 10 ))
    out="$WORK/$name.out"
    log=$(sed -n 's/.*"event":"start".*"log":"\([^"]*\)".*/\1/p; s/.*"log":"\([^"]*\)".*"event":"start".*/\1/p' \
        "$out" | head -n 1)
}

# What device k reports: its last firmware version, whether the image it
# received last is the one served, and its violations of the protocol.
device_state() { # k -> "1.3.0, image intact" or what differs
    local k="$1" version image violations
    version=$(sed -n 's/^device: firmware \(.*\) running$/\1/p' "$WORK/dev$k.out" | tail -n 1)
    [ -n "$version" ] || version="1.2.7"
    if [ -f "$WORK/img$k.bin" ] &&
        cmp -s -n "$(stat -c %s "$SERVED")" "$WORK/img$k.bin" "$SERVED"; then
        image="image intact"
    else
        image="image not received whole"
    fi
    violations=$(grep -c '^device: violation' "$WORK/dev$k.out")
    if [ "$violations" -gt 0 ]; then
        echo "$version, $image, $violations violations"
    else
        echo "$version, $image"
    fi
}

# An update row on device 1: expected exit 0, firmware 1.3.0, image intact.
update_row() { # name "sim arguments" [tool arguments...]
    local name="$1" simargs="$2"
    shift 2
    wanted "$name" || return 0
    # shellcheck disable=SC2086
    start_device 1 $simargs
    local args=()
    local a
    for a in "$@"; do args+=("$(eval echo "$a")"); done
    [ -n "${BEFORE_RUN:-}" ] && eval "$BEFORE_RUN"
    run_tool "$name" "${args[@]}"
    [ -n "${AFTER_RUN:-}" ] && eval "$AFTER_RUN"
    stop_devices
    local got
    got="exit $code, $(device_state 1)"
    # What the row is about, as the tool's log shows it.
    if [ -n "${EXPECT_LOG:-}" ] && ! grep -q "$EXPECT_LOG" "$log" 2>/dev/null; then
        got="$got, but the log never says \"$EXPECT_LOG\""
    fi
    local ok=no
    [ "$got" = "exit 0, 1.3.0, image intact" ] && ok=yes
    report "$name" "exit 0, 1.3.0, image intact" "$got" "$code" "$seconds" "$ok" \
        "$log" "$WORK/$name.err" "$WORK/dev1.out"
}

say "installing the package with dpkg -i"
if dpkg -i "$VM/tembra-update-tool.deb" >"$WORK/dpkg.log" 2>&1; then
    echo "ROW|package installed|dpkg -i ends well|dpkg -i ends well|0|0|PASS"
    passed=$((passed + 1))
else
    report "package installed" "dpkg -i ends well" "dpkg -i failed" 1 0 no "$WORK/dpkg.log"
fi
if grep -qi "failed" "$WORK/dpkg.log"; then
    report "package scripts quiet" "no failure said" "$(grep -i failed "$WORK/dpkg.log" | head -n 1)" \
        0 0 no "$WORK/dpkg.log"
fi

modprobe dummy_hcd num="$DEVICES"
modprobe libcomposite
modprobe cdc_acm
make_gadgets
"$SERVICE" --save-image "$WORK/served.bin" >"$WORK/service.out" 2>&1 &
for _ in $(seq 1 100); do [ -s "$WORK/service.out" ] && break; sleep 0.1; done
URL="http://127.0.0.1:$(head -n 1 "$WORK/service.out")/"
SERVED="$WORK/served.bin"
say "update service at $URL; $DEVICES UDCs: $(ls /sys/class/udc | tr '\n' ' ')"

# The package's udev rule on the real port.
if wanted "udev rule"; then
    start_device 1
    info=$(udevadm info "$(by_path 1)")
    stop_devices
    got=""
    grep -q '^E: ID_MM_DEVICE_IGNORE=1$' <<<"$info" && got="ID_MM_DEVICE_IGNORE=1"
    grep -Eq '^(G: uaccess|E: TAGS=.*:uaccess:)' <<<"$info" && got="$got uaccess"
    got="${got# }"
    ok=no
    [ "$got" = "ID_MM_DEVICE_IGNORE=1 uaccess" ] && ok=yes
    echo "$info" >"$WORK/udev.info"
    report "udev rule" "ID_MM_DEVICE_IGNORE=1 uaccess" "${got:-neither}" 0 0 "$ok" "$WORK/udev.info"
fi

update_row "search alone" ""
update_row "by-id link" "" --port '$(by_id 1)'
update_row "by-path link" "" --port '$(by_path 1)'
# ttyACM0 is held open meanwhile by another process (reading nothing), so
# that the device, restarting, comes back as ttyACM1.
BEFORE_RUN='sleep 1000 </dev/ttyACM0 & holder=$!; sleep 0.5' \
    AFTER_RUN='kill $holder 2>/dev/null; wait $holder 2>/dev/null' \
    EXPECT_LOG="the same device, now: .* port /dev/ttyACM1" \
    update_row "ttyACM0, back as ttyACM1" "" --port /dev/ttyACM0
EXPECT_LOG="port found: ttyACM" \
update_row "boot loader with another product" "--boot-product Tembra_Boot_Loader" \
    --port '$(by_id 1)'
update_row "re-plugged mid-transfer, same port" \
    "--unplug-at 100 --return-after 3000 --boot-ignores-update-start" --port '$(by_id 1)'
EXPECT_LOG="the same device, now: .*dummy_hcd.1" \
    update_row "re-plugged mid-transfer, another port" \
    "--unplug-at 100 --return-after 3000 --return-to dummy_udc.1 --boot-ignores-update-start" \
    --port '$(by_path 1)'
# The port goes at the update start, before any answer: the switch, not a loss.
EXPECT_LOG="went right after the update start" \
    update_row "switched without an answer" "--switch-without-answer" --port '$(by_id 1)'
# A file of the user's, on the real port: the served image, given as a file.
EXPECT_LOG="installing the chosen file" \
    update_row "a chosen file, by-id link" "" --port '$(by_id 1)' --firmware '$SERVED'

# A gadget's serial number string (read by the host at its next bind).
set_serial() { # k serial ("" for none)
    echo "$2" >"$GADGETS/g$1/strings/0x409/serialnumber"
}

# Device 1 pulled out mid-transfer, and another unit plugged into the same
# port: it is identified and never sent the update start nor an image, and
# the run fails, naming both (the bounds at a quarter).
other_unit_row() { # name "sim arguments" [tool arguments...]
    local name="$1" simargs="$2"
    shift 2
    wanted "$name" || return 0
    # shellcheck disable=SC2086
    start_device 1 --unplug-at 100 --return-after 3000 --return-firmware $simargs
    local args=() a
    for a in "$@"; do args+=("$(eval echo "$a")"); done
    SCALE=0.25 run_tool "$name" "${args[@]}"
    stop_devices
    set_serial 1 TMB00001
    local text after got
    text=$(sed -n 's/.*"event":"error".*"text":"\([^"]*\)".*/\1/p' "$out" | tail -n 1)
    after=$(sed -n '/^device: another unit$/,$p' "$WORK/dev1.out")
    got="exit $code"
    [ -n "$after" ] || got="$got, the other unit never came"
    grep -q "boot loader running\|image received" <<<"$after" && got="$got, the other unit was updated"
    grep -q "another device (D/N F1311520230010099999)" <<<"$text" || got="$got, not said: ${text:-nothing}"
    local ok=no
    [ "$got" = "exit 7" ] && ok=yes
    report "$name" "exit 7" "$got" "$code" "$seconds" "$ok" "$log" "$WORK/$name.err" \
        "$WORK/dev1.out"
}
other_unit_row "another unit in its port, by-id link" \
    "--return-serial TMB00009 --return-watch-id F1311520230010099999" --port '$(by_id 1)'
other_unit_row "a unit with its serial and another device number" \
    "--return-watch-id F1311520230010099999" --port '$(by_path 1)'

# A device without a USB serial number, found by the search and re-plugged
# mid-transfer into the same port.
if wanted "no serial number, re-plugged"; then
    set_serial 1 ""
    EXPECT_LOG="the device: USB 1209:0001, serial none" update_row "no serial number, re-plugged" \
        "--unplug-at 100 --return-after 3000 --boot-ignores-update-start"
    set_serial 1 TMB00001
fi

# Gone for good: a said failure, exit 7 (the bounds at a quarter).
if wanted "gone for good"; then
    start_device 1 --unplug-at 100
    SCALE=0.25 run_tool "gone for good" --port "$(by_id 1)"
    stop_devices
    text=$(sed -n 's/.*"event":"error".*"text":"\([^"]*\)".*/\1/p' "$out" | tail -n 1)
    ok=no
    [ "$code" = 7 ] && [ -n "$text" ] && ok=yes
    report "gone for good" "exit 7, said" "exit $code, ${text:-nothing said}" "$code" "$seconds" \
        "$ok" "$log" "$WORK/gone for good.err" "$WORK/dev1.out"
fi

# Two devices plugged in and neither --port nor --all: which one is not
# guessed; the run names both and ends with exit code 2, touching neither.
if wanted "two devices, no --port"; then
    start_device 1
    start_device 2
    run_tool "two devices, no --port"
    stop_devices
    text=$(sed -n 's/.*"event":"error".*"text":"\([^"]*\)".*/\1/p' "$out" | tail -n 1)
    got="exit $code"
    grep -q "/dev/ttyACM0" <<<"$text" && grep -q "/dev/ttyACM1" <<<"$text" ||
        got="$got, not both named: ${text:-nothing said}"
    grep -q "^device: boot loader running" "$WORK/dev1.out" "$WORK/dev2.out" &&
        got="$got, a device was switched"
    ok=no
    [ "$got" = "exit 2" ] && ok=yes
    report "two devices, no --port" "exit 2" "$got" "$code" "$seconds" "$ok" "$out" \
        "$WORK/two devices, no --port.err"
fi

# A desk of four: every device the search finds, then four by-path links.
desk_row() { # name [tool arguments...]
    local name="$1"
    shift
    wanted "$name" || return 0
    local k
    for k in $(seq 1 "$DEVICES"); do start_device "$k"; done
    local args=()
    local a
    for a in "$@"; do args+=("$(eval echo "$a")"); done
    run_tool "$name" "${args[@]}"
    stop_devices
    local got="exit $code" states=""
    for k in $(seq 1 "$DEVICES"); do states="$states; $(device_state "$k")"; done
    local all_ok=yes
    for k in $(seq 1 "$DEVICES"); do
        [ "$(device_state "$k")" = "1.3.0, image intact" ] || all_ok=no
    done
    [ "$all_ok" = yes ] && got="$got, all 4 at 1.3.0, images intact" || got="$got$states"
    local ok=no
    [ "$got" = "exit 0, all 4 at 1.3.0, images intact" ] && ok=yes
    report "$name" "exit 0, all 4 at 1.3.0, images intact" "$got" "$code" "$seconds" "$ok" \
        "$out" "$WORK/$name.err" "$WORK/dev1.out" "$WORK/dev2.out"
}
desk_row "desk of four, --all" --all
desk_row "desk of four, by-path links" --port '$(by_path 1)' --port '$(by_path 2)' \
    --port '$(by_path 3)' --port '$(by_path 4)'
# Two of the four share one serial number: four devices all the same.
if wanted "desk of four, two with one serial, --all"; then
    set_serial 2 TMB00001
    desk_row "desk of four, two with one serial, --all" --all
    set_serial 2 TMB00002
fi

echo "RESULT|$passed|$failed"
