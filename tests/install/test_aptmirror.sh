#!/usr/bin/env bash
# test_aptmirror.sh SOURCE_DIR: packaging/apt-mirror finds the bookworm archive in apt's sources
# as apt reads them, and the scripts name no server of their own.
set -uo pipefail
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

failed=0
expect() { # expect WHAT WANTED ETC: apt-mirror ETC prints WANTED
    local got
    got=$("$src/packaging/apt-mirror" "$3")
    [ "$got" = "$2" ] || { echo "FAIL: $1: got '$got', wanted '$2'" >&2; failed=1; }
}

mkdir -p "$tmp/list/sources.list.d" "$tmp/deb822/sources.list.d" "$tmp/none"
cat >"$tmp/list/sources.list" <<'END'
# deb http://commented.invalid/debian bookworm main
deb-src http://source.invalid/debian bookworm main
deb http://security.invalid/debian-security bookworm-security main
deb [arch=amd64 signed-by=/usr/share/keyrings/k.gpg] http://list.invalid/debian bookworm main # x
END
expect "one-line sources" http://list.invalid/debian "$tmp/list"

cat >"$tmp/deb822/sources.list.d/debian.sources" <<'END'
Types: deb deb-src
URIs: http://disabled.invalid/debian
Suites: bookworm
Enabled: no

Types: deb-src
URIs: http://source.invalid/debian
Suites: bookworm

Types: deb
# a comment inside the stanza
URIs: http://deb822.invalid/debian
Suites: bookworm-updates bookworm
Components: main
END
expect "deb822 sources" http://deb822.invalid/debian "$tmp/deb822"
expect "no sources" "" "$tmp/none"

# Only the machine's own sources say where packages come from. (An XML namespace, as in the
# Windows manifest, is a name, not a server.)
if named=$(grep -rnE 'https?://' "$src/scripts" "$src/packaging" "$src/.ci" |
    grep -v "^$src/packaging/debian/copyright:" | grep -vE 'xmlns="https?://[^"]*"'); then
    echo "FAIL: servers named in scripts:" >&2
    echo "$named" >&2
    failed=1
fi
exit $failed
