#!/usr/bin/env bash
# check_package.sh BUILD_DIR SOURCE_DIR VERSION
# Makes the Debian packages with CPack, checks their files and control fields, runs lintian and the
# desktop and AppStream validators, unpacks them into a scratch root and runs the unpacked programs
# from there: korvex-initdb makes a workspace, korvex starts headless on it and must find its help and
# icons beside itself.
set -euo pipefail
BUILD=$1 SOURCE=$2 VERSION=$3
SCRATCH=$(mktemp -d)
PIDS=()
cleanup() {
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$SCRATCH"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# --- the packages -----------------------------------------------------------------------------------
(cd "$BUILD" && cpack -G DEB -B "$SCRATCH/out") > "$SCRATCH/cpack.log" 2>&1 || { cat "$SCRATCH/cpack.log"; fail "cpack"; }
ARCH=$(dpkg --print-architecture)
MAIN=$SCRATCH/out/korvex_${VERSION}_$ARCH.deb
TOOLS=$SCRATCH/out/korvex-tools_${VERSION}_$ARCH.deb
[ -f "$MAIN" ] && [ -f "$TOOLS" ] || { ls "$SCRATCH/out"; fail "expected korvex and korvex-tools packages"; }

contents() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./||'; }
contents "$MAIN" > "$SCRATCH/main.list"
contents "$TOOLS" > "$SCRATCH/tools.list"
expect_in() { # LIST FILE...
    local list=$1; shift
    for f in "$@"; do grep -qxF "$f" "$list" || fail "$f missing from $(basename "$list" .list) package"; done
}
expect_in "$SCRATCH/main.list" usr/bin/korvex usr/bin/korvex-initdb \
    usr/share/applications/example.korvex.Korvex.desktop usr/share/metainfo/example.korvex.Korvex.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/korvex.svg \
    usr/share/man/man1/korvex.1.gz usr/share/man/man1/korvex-initdb.1.gz \
    usr/share/doc/korvex/copyright usr/share/doc/korvex/changelog.gz
for page in "$SOURCE"/docs/help/*.html; do expect_in "$SCRATCH/main.list" "usr/share/korvex/help/$(basename "$page")"; done
for icon in "$SOURCE"/src/ui/icons/*.svg; do expect_in "$SCRATCH/main.list" "usr/share/korvex/icons/$(basename "$icon")"; done
expect_in "$SCRATCH/tools.list" usr/bin/korvex-quiksim usr/bin/korvex-alertsim \
    usr/share/man/man1/korvex-quiksim.1.gz usr/share/man/man1/korvex-alertsim.1.gz \
    usr/share/doc/korvex-tools/copyright usr/share/doc/korvex-tools/changelog.gz
! grep -q sim "$SCRATCH/main.list" || fail "a simulator is in the korvex package"

field() { dpkg-deb -f "$1" "$2"; }
[ "$(field "$MAIN" Package)" = korvex ] || fail "Package: $(field "$MAIN" Package)"
[ "$(field "$MAIN" Version)" = "$VERSION" ] || fail "Version: $(field "$MAIN" Version)"
[ "$(field "$MAIN" Architecture)" = "$ARCH" ] || fail "Architecture: $(field "$MAIN" Architecture)"
for f in Maintainer Section Priority Description; do [ -n "$(field "$MAIN" $f)" ] || fail "no $f field"; done
DEPENDS=$(field "$MAIN" Depends)
# Linked libraries come from dpkg-shlibdeps; Qt's plugins that the program loads are named by hand.
for d in libqt6core6 libqt6widgets6 libvmime1 libqt6sql6-sqlite libqt6svg6; do
    [[ ", $DEPENDS," == *", $d"[\ ,]* ]] || fail "korvex does not depend on $d: $DEPENDS"
done
[[ "$(field "$TOOLS" Depends)" == *"korvex (= $VERSION)"* ]] || fail "korvex-tools Depends: $(field "$TOOLS" Depends)"

rc=0; lintian --fail-on error,warning "$MAIN" "$TOOLS" > "$SCRATCH/lintian.log" 2>&1 || rc=$?
grep -v '^running with root privileges' "$SCRATCH/lintian.log" || true
[ "$rc" -eq 0 ] || fail "lintian"

# --- unpacked ---------------------------------------------------------------------------------------
ROOT=$SCRATCH/root
dpkg -x "$MAIN" "$ROOT"
dpkg -x "$TOOLS" "$ROOT"
desktop-file-validate "$ROOT/usr/share/applications/example.korvex.Korvex.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$ROOT/usr/share/metainfo/example.korvex.Korvex.metainfo.xml" > "$SCRATCH/as.log" 2>&1 \
    || { cat "$SCRATCH/as.log"; fail "appstreamcli validate"; }
if grep -rlF "$SOURCE" "$ROOT"; then fail "an installed file names the source or build tree"; fi

KORVEX=$ROOT/usr/bin/korvex
[ "$("$KORVEX" --version)" = "korvex $VERSION" ] || fail "korvex --version: $("$KORVEX" --version)"
"$KORVEX" --help | grep -q -- '--workdir DIR' || fail "korvex --help"
rc=0; "$KORVEX" --no-such-option > "$SCRATCH/out.txt" 2> "$SCRATCH/err.txt" || rc=$?
[ "$rc" -eq 2 ] && [ ! -s "$SCRATCH/out.txt" ] && grep -q '^Usage: korvex' "$SCRATCH/err.txt" \
    || fail "an unknown option: exit $rc, stderr: $(cat "$SCRATCH/err.txt")"

# A workspace made by the installed initialiser, the robot connected to both databases.
make_workspace() { # DIR
    mkdir -p "$1/quik"
    "$ROOT/usr/bin/korvex-initdb" --alerts "$1/alerts.db"
    "$ROOT/usr/bin/korvex-initdb" --trading "$1/trading.db" --demo
    printf '%s\r\n' "[Quik]" "pathTRI=$1/quik/trans.tri" "pathTRO=$1/quik/trans.tro" \
        "pathInfoLog=$1/quik/info.log" "Alerts=$1/alerts.db" "QuikData=$1/trading.db" "Connect=-1" \
        > "$1/Korvex.ini"
}
# Starts EXE headless on DIR, waits until both databases are connected, shuts it down with SIGTERM and
# prints its journal as UTF-8.
run_headless() { # EXE DIR
    "$1" --headless --workdir "$2" > "$2/stdout.txt" 2>&1 &
    local pid=$!
    PIDS+=("$pid")
    for _ in $(seq 300); do
        [ "$(grep -c 'Подключение к базе данных .*: OK' "$2/stdout.txt")" -ge 2 ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    [ "$(grep -c 'Подключение к базе данных .*: OK' "$2/stdout.txt")" -ge 2 ] \
        || { cat "$2/stdout.txt"; fail "$1 did not connect to both databases"; }
    kill -TERM "$pid"
    local rc=0
    wait "$pid" || rc=$?
    [ "$rc" -eq 0 ] || { cat "$2/stdout.txt"; fail "$1 exited with $rc after SIGTERM"; }
    iconv -f CP1251 -t UTF-8 "$2/Korvex.log"
}

make_workspace "$SCRATCH/ws"
run_headless "$KORVEX" "$SCRATCH/ws" > "$SCRATCH/journal.txt"
if grep 'Не найден файл программы' "$SCRATCH/journal.txt"; then fail "the installed korvex misses its files"; fi

# The same program away from its share/ folder must say what it misses: the check above is not blind.
mkdir -p "$SCRATCH/lone/bin"
cp "$KORVEX" "$SCRATCH/lone/bin/"
make_workspace "$SCRATCH/ws2"
run_headless "$SCRATCH/lone/bin/korvex" "$SCRATCH/ws2" > "$SCRATCH/journal2.txt"
for missing in help/index.html icons/app.svg; do
    grep -qF "Не найден файл программы: $SCRATCH/lone/share/korvex/$missing" "$SCRATCH/journal2.txt" \
        || { cat "$SCRATCH/journal2.txt"; fail "korvex without its files did not journal $missing"; }
done
echo "korvex $VERSION: packages, lintian, validators and the unpacked program are fine"
