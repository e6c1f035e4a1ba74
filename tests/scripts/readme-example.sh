#!/usr/bin/env bash
# Runs the README's example (the block after the line "<!-- readme_example -->") against the built program and
# simulator, as a reader would type it, with three things changed so that it can run beside other tests: the
# program and the simulator are the ones of this build, /tmp/link is a folder of its own, and the port is one that
# nothing listens on. Every ride must get its "AC", and the link must end through its close sequence.
# Usage: readme-example.sh README PROGRAM SIMULATOR
set -euo pipefail
readme=$1 program=$2 simulator=$3
work=$(mktemp -d)
example=
# A link the example left running (it failed before its end) is stopped with it.
cleanup() {
    if [ -n "$example" ]; then
        kill -- -"$example" 2>/dev/null || true
        for _ in $(seq 100); do
            pgrep -g "$example" >/dev/null || break
            sleep 0.1
        done
    fi
    rm -rf "$work"
}
trap cleanup EXIT

block=$(awk '/^<!-- readme_example -->$/ { marked = 1; next }
             marked && /^```/ { if (inside) exit; inside = 1; next }
             inside { print }' "$readme")
[ -n "$block" ] || { echo "FAIL: no block after <!-- readme_example --> in $readme" >&2; exit 1; }

# A port below the ephemeral range on which nothing listens.
port=$((20000 + RANDOM % 10000))
while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done

script=${block//build\/KorvelBSA/$program}
script=${script//build\/tools\/bsa-sim/$simulator}
script=${script//\/tmp\/link/$work/link}
script=${script//12001/$port}
printf '%s\n' "$script" >"$work/example.sh"

# In a process group of its own, so that everything it started can be stopped at once.
(cd "$work" && exec setsid timeout 120 bash -e "$work/example.sh") >"$work/output" 2>&1 &
example=$!
if ! wait "$example"; then
    echo "FAIL: the example did not run through:" >&2
    cat "$work/output" >&2
    exit 1
fi
failures=0
expect() {
    if ! grep -qF -- "$2" "$1"; then
        echo "FAIL: $1 lacks: $2" >&2
        failures=$((failures + 1))
    fi
}
answers=$(grep -c '^AC BSA 6 4711$' "$work/output" || true)
sends=$(grep -c 'bsa-sim send' <<<"$block" || true)
if [ "$sends" -eq 0 ] || [ "$answers" -ne "$sends" ]; then
    echo "FAIL: $sends rides sent, $answers answered AC BSA 6 4711:" >&2
    cat "$work/output" >&2
    failures=$((failures + 1))
fi
grep -q '^NC' "$work/output" && { echo "FAIL: a ride got NC" >&2; failures=$((failures + 1)); }
# The link said what it did where the README says it goes: its log, then the archive and the settings at its end.
log=$(grep 'KorvelBSA --headless' <<<"$block" | sed -n 's/.*>\(\/tmp\/[^ ]*\).*/\1/p' | head -n1)
if [ -n "$log" ]; then
    expect "${log/\/tmp\/link/$work/link}" "<ACK - (BN) VERWERKT>"
fi
archives=("$work"/link/BSA/LOGS/BS_*.TXT)
[ -e "${archives[0]}" ] || { echo "FAIL: no log archive in BSA/LOGS" >&2; failures=$((failures + 1)); }
expect "$work/link/KorvelBSA.xml" "<xLoginServer_Text>sqlite:BSA/planning.db</xLoginServer_Text>"
expect "$work/link/KorvelBSA.xml" "<FormVersion>0</FormVersion>"
[ "$failures" -eq 0 ] || exit 1
echo "ok: the README's example, $sends rides answered AC"
