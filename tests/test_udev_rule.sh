#!/usr/bin/env bash
# The udev rule's syntax, as udev itself reads it: udevadm test runs the rules
# against an existing tty device (no real device needed) and names every line
# of a rules file it cannot take. Skips without udevadm, or where this user
# cannot place a rule in /run/udev/rules.d for the run.
set -euo pipefail
rule="$1"
name=$(basename "$rule")
command -v udevadm >/dev/null || { echo "SKIP: no udevadm"; exit 77; }
[ -e /sys/class/tty/tty0 ] || { echo "SKIP: no tty device to test against"; exit 77; }
mkdir -p /run/udev/rules.d 2>/dev/null && [ -w /run/udev/rules.d ] ||
    { echo "SKIP: /run/udev/rules.d is not writable"; exit 77; }
placed=/run/udev/rules.d/$name
[ -e "$placed" ] && { echo "SKIP: $placed exists already"; exit 77; }
trap 'rm -f "$placed"' EXIT
cp "$rule" "$placed"
out=$(udevadm test --action=add /sys/class/tty/tty0 2>&1) || true
grep -qF "Reading rules file: $placed" <<<"$out" || { echo "$out"; echo "FAIL: udev did not read the rule"; exit 1; }
if grep -E "^$placed:[0-9]+ " <<<"$out"; then
    echo "FAIL: udev refuses lines of the rule"
    exit 1
fi
echo "PASS: $name"
