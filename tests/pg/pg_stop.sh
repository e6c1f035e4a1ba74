#!/usr/bin/env bash
# Stops the throwaway PostgreSQL server of the database tests and removes its folder: pg_stop.sh DIR FACTS
set -euo pipefail
dir=$1
facts=$2

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [ -n "$bindir" ] && [ -f "$dir/data/postmaster.pid" ]; then
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$bindir/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
    else
        "$bindir/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
    fi
fi
rm -rf "$dir"
rm -f "$facts"
