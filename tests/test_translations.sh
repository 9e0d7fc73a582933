#!/usr/bin/env bash
# The translation sources are up to date: Qt 6's lupdate, run as
# scripts/translations runs it, would change none of them; and no shipped
# language has a text left unfinished. Skips (77) without Qt 6's lupdate.
set -euo pipefail
root="$1"
lupdate="${2:-}"
[ -x "$lupdate" ] || { echo "SKIP: Qt 6's lupdate is not installed (qt6-l10n-tools)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for ts in "$root"/resources/translations/tembra_*.ts; do
    name=$(basename "$ts")
    if grep -n 'type="unfinished"\|type="vanished"\|type="obsolete"' "$ts"; then
        echo "FAIL: $name has texts left unfinished (above)"
        status=1
    fi
    cp "$ts" "$work/$name"
done
(cd "$root" && "$lupdate" -silent -locations none -no-obsolete -no-ui-lines -extensions cpp,h,ui \
    app device pages web config util -ts "$work"/tembra_*.ts)
for ts in "$root"/resources/translations/tembra_*.ts; do
    name=$(basename "$ts")
    if ! diff -u "$ts" "$work/$name"; then
        echo "FAIL: lupdate would change $name: run scripts/translations and translate what is new"
        status=1
    fi
done
[ "$status" -eq 0 ] && echo "translations up to date"
exit "$status"
