#!/usr/bin/env bash
# Stops the throwaway PostgreSQL server of the database tests and removes its folder: pg_stop.sh ANCHOR FACTS
set -euo pipefail
anchor=$1
facts=$2
dir=$(cat "$anchor/location" 2>/dev/null || true)
[ -n "$dir" ] || { rm -rf "$anchor" "$facts"; exit 0; }

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [ -n "$bindir" ] && [ -f "$dir/data/postmaster.pid" ]; then
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$bindir/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
    else
        "$bindir/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
    fi
fi
rm -rf "$dir" "$anchor"
rm -f "$facts"
