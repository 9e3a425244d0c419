#!/usr/bin/env bash
# test_install.sh CMAKE BUILD_DIR VERSION: installs the build with `cmake --install` into a
# temporary DESTDIR (so the programs run from somewhere other than their prefix, as an unpacked
# package would) and checks what a user meets there: the programs run and find their data, the
# desktop entry points at installed files, and the desktop, AppStream and manual page files are
# valid.
set -uo pipefail
cmake=$1 build=$2 version=$3
app_id=io.github.brelvon.Brelvon
programs=(brelvon brelvon-cli brelvon-site brelvon-skin)

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/.config XDG_RUNTIME_DIR=$tmp/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

passed=0 failed=0
check() { # check WHAT COMMAND...: runs COMMAND, counts and reports the outcome
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $what" >&2
    fi
}

DESTDIR=$tmp/root "$cmake" --install "$build" --prefix /usr >"$tmp/install.log" 2>&1 ||
    { cat "$tmp/install.log" >&2; echo "FAIL: cmake --install" >&2; exit 1; }
prefix=$tmp/root/usr
share=$prefix/share

for p in "${programs[@]}"; do
    check "program $p installed" test -x "$prefix/bin/$p"
done
check "default skin installed" test -s "$share/brelvon/skin.jss"
check "graphite skin installed" test -s "$share/brelvon/skins/graphite.jss"
check "help pages installed" test -s "$share/brelvon/help/index.html"

# The command line, against the demo site it serves in-process: every field of this buyer is set.
out=$(timeout 120 "$prefix/bin/brelvon-cli" query --demo xiaoyu_2008 2>"$tmp/cli.err")
status=$?
check "brelvon-cli query --demo ran (status $status): $(cat "$tmp/cli.err")" test $status -eq 0
check "brelvon-cli printed the buyer: $out" grep -q '^{"buyerId":"xiaoyu_2008",' <<<"$out"
# (The seller's own keys after the twelve fields are empty: nothing is noted on this buyer.)
check "brelvon-cli left no field empty: $out" test "$(sed 's/,"note":.*//' <<<"$out" | grep -c '":""')" -eq 0

# The embedded browser, when the build has one: the installed module is found from bin/../lib,
# and reads the demo buyer whose rate page only a browser is served.
if "$prefix/bin/brelvon-cli" --version | grep -q "embedded browser: Qt WebEngine"; then
    check "brelvon-cli --version finds the browser module" \
        test -z "$("$prefix/bin/brelvon-cli" --version | grep missing)"
    out=$(timeout 120 "$prefix/bin/brelvon-cli" query --demo --browser night_owl 2>"$tmp/browser.err")
    check "brelvon-cli --browser read the browser-only page: $out $(cat "$tmp/browser.err")" \
        grep -q '"goodCount":"63"' <<<"$out"
fi

# The window, offscreen: it shows itself, wearing the installed skin found from bin/../share.
out=$(QT_QPA_PLATFORM=offscreen BRELVON_QUIT_AFTER_SHOW=1 timeout 120 "$prefix/bin/brelvon" --demo \
    2>"$tmp/gui.err")
status=$?
check "brelvon --demo ran (status $status): $(cat "$tmp/gui.err")" test $status -eq 0
check "brelvon showed its window: $out" grep -q '^brelvon: shown "BrelvonV3.0" visible=1 ' <<<"$out"
check "brelvon wore the installed skin: $out" \
    grep -qE " caption=[1-9][0-9]* skin=$share/brelvon/skin.jss\$" <<<"$out"

# The desktop entry: valid, and its Exec, TryExec and Icon resolve to installed files.
desktop=$share/applications/$app_id.desktop
key() { sed -n "s/^$1=//p" "$desktop"; }
check "desktop entry valid" desktop-file-validate "$desktop"
exec_program=$(key Exec | cut -d' ' -f1)
check "Exec '$exec_program' is an installed program" test -x "$prefix/bin/$exec_program"
check "TryExec is an installed program" test -x "$prefix/bin/$(key TryExec)"
icon=$(key Icon)
check "Icon '$icon' has a scalable icon" test -s "$share/icons/hicolor/scalable/apps/$icon.svg"
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $3 * 256 + $4 "x" $7 * 256 + $8}'; }
for size in 16 22 24 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x$size/apps/$icon.png
    check "Icon '$icon' has a ${size}x$size PNG" test "$(png_size "$png" 2>/dev/null)" = "${size}x$size"
done

# The AppStream metadata: valid, launches this entry, and its newest release is this version.
metainfo=$share/metainfo/$app_id.metainfo.xml
check "metainfo valid" appstreamcli validate --no-net --no-color "$metainfo" >"$tmp/as.log"
check "metainfo launches the desktop entry" grep -q ">$app_id.desktop</launchable>" "$metainfo"
check "metainfo's newest release is $version" \
    test "$(grep -o -m1 '<release version="[^"]*"' "$metainfo")" = "<release version=\"$version\""

# The manual pages: one per program, rendered without a warning, naming every option the
# program's own usage text names.
for p in "${programs[@]}"; do
    page=$share/man/man1/$p.1.gz
    check "manual page of $p installed" test -s "$page"
    warnings=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    check "manual page of $p renders without warnings: $warnings" test -z "$warnings"
    source=$(gzip -dc "$page")
    for option in $(QT_QPA_PLATFORM=offscreen timeout 30 "$prefix/bin/$p" --help 2>&1 |
        grep -oE -- '--[a-z][a-z-]+' | sort -u); do
        check "manual page of $p names $option" grep -qF -- "${option//-/\\-}" <<<"$source"
    done
done

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
