#!/usr/bin/env bash
# Photographs the options dialog as a user sees it: the x86-64 DLL's dialog
# under wine64 on a virtual X display, drawn with a Japanese font from
# Debian's packages. Writes docs/options-dialog.png.
#
# Not part of the test suite. It installs its own tools (ImageMagick's
# import) and uses a Wine prefix of its own, build/wine-prefix-screenshot,
# which draws through X: the tests' prefix uses the null graphics driver.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
scripts/install-deps.sh
SCREENSHOT_PACKAGES=(imagemagick xvfb x11-utils fonts-ipafont-gothic)
missing=()
for package in "${SCREENSHOT_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
scripts/build.sh win64 >/dev/null

. "$ROOT/scripts/wine-env.sh"
export WINEPREFIX="$ROOT/build/wine-prefix-screenshot"
OUT="$ROOT/docs/options-dialog.png"
WORK="$ROOT/build/screenshot"
mkdir -p "$WORK" "$ROOT/docs"

# A display of our own, on the first free number from 90.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 480x320x24 -nolisten tcp >/dev/null 2>&1 &
XVFB_PID=$!
export DISPLAY=":$display"
cleanup() {
    wineserver -k 2>/dev/null || true
    kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

# The template's font, "ＭＳ Ｐゴシック", is drawn with IPA P Gothic. With no
# window manager on the display, Wine draws the title bar itself.
if [ ! -f "$WINEPREFIX/.roundcorner-screenshot-ready" ]; then
    mkdir -p "$WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    /usr/bin/python3 - "$WORK/settings.reg" <<'PY'
import sys
reg = "\r\n".join([
    "Windows Registry Editor Version 5.00", "",
    r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]",
    '"ＭＳ Ｐゴシック"="IPAPGothic"',
    '"MS PGothic"="IPAPGothic"', "",
    r"[HKEY_CURRENT_USER\Software\Wine\X11 Driver]",
    '"Decorated"="N"',
    '"Managed"="N"', "", ""])
open(sys.argv[1], "wb").write(b"\xff\xfe" + reg.encode("utf-16-le"))
PY
    "$WINE" regedit /S "$(winepath -w "$WORK/settings.reg" 2>/dev/null || echo "Z:$WORK/settings.reg" | tr / '\\')" >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.roundcorner-screenshot-ready"
fi
wineserver -p

# The dialog stays up for a few seconds, then cancels itself.
cd "$ROOT/build/win64/bin"
"$WINE" show_options.exe "Z:$(echo "$WORK/" | tr / '\\')" 8 &
SHOW_PID=$!
window=""
for _ in $(seq 100); do
    # (in a locale that exists here, so that xwininfo can show the title)
    window=$(LC_ALL=C.UTF-8 xwininfo -root -tree 2>/dev/null | awk '/"丸角"/ {print $1; exit}')
    [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || { echo "the dialog did not appear" >&2; exit 1; }
sleep 1  # let it finish painting
/usr/bin/import -window "$window" "$OUT"
wait "$SHOW_PID" || true
echo "$OUT"
