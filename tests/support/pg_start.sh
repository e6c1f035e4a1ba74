#!/usr/bin/env bash
# Starts a throwaway PostgreSQL server for the database tests: pg_start.sh ANCHOR FACTS SCHEMA
# The cluster lives in a temporary folder that ANCHOR records, listens on 127.0.0.1 on a free port, and FACTS receives the
# connection facts as key=value lines. When the server cannot start, FACTS says why (status=unavailable) so the
# tests can skip with that reason.
set -euo pipefail
anchor=$1   # in the build folder: remembers where the cluster lives
facts=$2
schema=$3

unavailable() {
    printf 'status=unavailable\nreason=%s\n' "$1" >"$facts"
    echo "PostgreSQL test server unavailable: $1" >&2
}

rm -f "$facts"
trap 'unavailable "pg_start.sh failed at line $LINENO"' ERR
bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
    unavailable "no PostgreSQL server binaries under /usr/lib/postgresql (install the postgresql package)"
    exit 0
fi

# PostgreSQL refuses to run as root: run it as the postgres user then.
as_server() { "$@"; }
if [ "$(id -u)" -eq 0 ]; then
    if ! id postgres >/dev/null 2>&1; then
        unavailable "running as root and there is no postgres user to run the server"
        exit 0
    fi
    as_server() { runuser -u postgres -- "$@"; }
fi

# A server left over by an interrupted run is stopped before its folder goes.
if [ -f "$anchor/location" ]; then
    old=$(cat "$anchor/location")
    if [ -f "$old/data/postmaster.pid" ]; then
        as_server "$bindir/pg_ctl" -D "$old/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$old"
fi
rm -rf "$anchor"
mkdir -p "$anchor"
# The cluster itself lives in a short temporary folder: the postgres user may not reach a build folder under
# /root, and the server's socket path has a length limit.
dir=$(mktemp -d "${TMPDIR:-/tmp}/bsa-pg.XXXXXX")
chmod 755 "$dir"
printf '%s\n' "$dir" >"$anchor/location"
if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$dir"
    if ! runuser -u postgres -- test -w "$dir"; then
        unavailable "the postgres user cannot reach $dir"
        exit 1
    fi
fi

password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
printf '%s\n' "$password" >"$dir/superuser.pw"
if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$dir/superuser.pw"
fi
chmod 600 "$dir/superuser.pw"

if ! as_server "$bindir/initdb" -D "$dir/data" -U postgres --pwfile="$dir/superuser.pw" --auth-local=trust \
    --auth-host=scram-sha-256 --encoding=UTF8 --locale=C >"$dir/initdb.log" 2>&1; then
    unavailable "initdb failed: $(tail -n 5 "$dir/initdb.log" | tr '\n' ' ')"
    exit 1
fi

started=""
for attempt in 1 2 3 4 5 6 7 8 9 10; do
    port=$((20000 + RANDOM % 40000))
    if as_server "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$dir -c fsync=on" \
        start >/dev/null 2>&1; then
        started=yes
        break
    fi
    # Only a port taken by someone else is worth another try.
    grep -q "could not bind\|Address already in use" "$dir/server.log" 2>/dev/null || break
done
if [ -z "$started" ]; then
    unavailable "the server did not start: $(tail -n 5 "$dir/server.log" 2>/dev/null | tr '\n' ' ')"
    exit 1
fi

user=bsa_test
database=bsa_test
user_password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
as_server "$bindir/psql" -X -q -v ON_ERROR_STOP=1 -h "$dir" -p "$port" -U postgres -d postgres <<SQL
CREATE ROLE $user LOGIN CREATEDB CREATEROLE PASSWORD '$user_password';
CREATE DATABASE $database OWNER $user;
SQL

cat >"$facts" <<FACTS
status=ok
host=127.0.0.1
port=$port
user=$user
password=$user_password
database=$database
bindir=$bindir
schema=$schema
FACTS
echo "PostgreSQL test server on 127.0.0.1:$port ($dir)"
