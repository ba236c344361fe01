#!/usr/bin/env bash
# Builds the Debian package from a build tree, unpacks it into a temporary root and checks it:
# exactly the program's files, dependencies that cover every library the programs link, a
# valid desktop entry; then starts the unpacked tilu on a virtual X display with a bare
# environment (no library or plugin paths) and waits for its port window, which proves that
# the installed program finds its libraries and Qt's platform plugin by itself.
#   install_smoke.sh BUILD_DIR HAS_CLI(0|1)
# Exits 77 (skipped) where a tool it needs is missing.
set -euo pipefail

title="Конфигуратор эмулятора Тилу"

if [[ ${1:-} == --inside-display ]]; then
    # Runs under xvfb-run: start the program, find its window, check it, end the program.
    tilu=$2 log=$3
    "$tilu" >"$log" 2>&1 &
    pid=$!
    window=""
    for _ in $(seq 100); do
        window=$(xwininfo -root -tree | grep -F "\"$title\": (\"tilu\" \"tilu\")" | awk '{print $1}') || true
        [[ -n $window ]] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    status=0
    if [[ -z $window ]]; then
        echo "FAIL: no window \"$title\" of class tilu appeared within 10 s"
        status=1
    else
        echo "window $window: $(xwininfo -id "$window" | grep -E 'Width|Height' | tr -s ' ' | tr '\n' ' ')"
        # The task bar shows _NET_WM_NAME and _NET_WM_ICON (width, height, pixels).
        name=$(xprop -id "$window" -notype _NET_WM_NAME)
        icon=$(xprop -id "$window" -notype 32c _NET_WM_ICON | cut -c -200)
        echo "$name"
        echo "${icon:0:60}..."
        [[ $name == "_NET_WM_NAME = \"$title\"" ]] || { echo "FAIL: window name"; status=1; }
        [[ $icon =~ ^_NET_WM_ICON\ =\ ([1-9][0-9]*),\ ([1-9][0-9]*), ]] ||
            { echo "FAIL: the window has no icon"; status=1; }
        kill -0 "$pid" 2>/dev/null || { echo "FAIL: the program ended"; status=1; }
    fi
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    exit "$status"
fi

build=$(cd "$1" && pwd)
has_cli=$2

skip() {
    echo "SKIP: $*"
    exit 77
}
for tool in cpack dpkg-deb dpkg-shlibdeps objdump xvfb-run xauth xwininfo xprop; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (packages: dpkg-dev, binutils, xvfb, xauth, x11-utils)"
done

work=$(mktemp -d -t tilu-install-smoke.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# --- The package -----------------------------------------------------------------------------
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; echo "FAIL: cpack"; exit 1; }
deb=$(ls "$work"/package/tilu_*.deb)
echo "package: $(basename "$deb")"
root="$work/root"
dpkg-deb -x "$deb" "$root"

expected=(
    /usr/bin/tilu
    /usr/bin/tilu-sim
    /usr/share/applications/tilu.desktop
    /usr/share/icons/hicolor/scalable/apps/tilu.svg
)
[[ $has_cli == 1 ]] && expected+=(/usr/bin/tilu-cli)
installed=$(cd "$root" && find . ! -type d | sed 's/^\.//' | LC_ALL=C sort)
wanted=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
if [[ $installed != "$wanted" ]]; then
    fail "the package holds other files than the programs, the desktop entry and the icon"
    diff <(echo "$wanted") <(echo "$installed") || true
fi

# Every library a program links must come from a package that Depends names.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
depends_names=" $(echo "$depends" | sed -E 's/\([^)]*\)//g; s/[,|]/ /g') "
for package in qt6-qpa-plugins libqt6widgets6 libqt6serialport6; do
    [[ $depends_names == *" $package "* ]] || fail "Depends lacks $package"
done
for program in "$root"/usr/bin/*; do
    while read -r library; do
        path=$(ldd "$program" | awk -v lib="$library" '$1 == lib { print $3 }')
        if [[ -z $path || $path == "not" ]]; then
            fail "$(basename "$program"): $library not found"
            continue
        fi
        owner=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "$path" 2>/dev/null) || true
        owner=${owner%%:*}
        [[ -n $owner && $depends_names == *" $owner "* ]] ||
            fail "$(basename "$program") links $library (package ${owner:-unknown}), which Depends does not name"
    done < <(objdump -p "$program" | awk '$1 == "NEEDED" { print $2 }')
done

desktop="$root/usr/share/applications/tilu.desktop"
grep -qxF "Name=$title" "$desktop" || fail "desktop entry name"
grep -qxF "Categories=Utility;Electronics;" "$desktop" || fail "desktop entry categories"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
fi

# --- The installed program on a virtual display ----------------------------------------------
mkdir -p "$work/home"
if ! env -i PATH=/usr/bin:/bin HOME="$work/home" LANG=C.UTF-8 QT_DEBUG_PLUGINS=1 \
    timeout 60 xvfb-run -a -s "-screen 0 1280x1024x24" \
    bash "$0" --inside-display "$root/usr/bin/tilu" "$work/tilu.log"; then
    fail "the installed tilu did not show its port window"
    tail -n 40 "$work/tilu.log"
fi
grep -E 'platforms/libqxcb\.so"? loaded library' "$work/tilu.log" ||
    fail "Qt's xcb platform plugin was not loaded from the system's plugin folder"

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "install smoke test passed"
