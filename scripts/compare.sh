#!/usr/bin/env bash
# Rounds the corners of the same photo-like PNG with roundcorners, libvips and
# ImageMagick, side by side in one run, and prints for each: the median wall
# time (hyperfine), the peak memory (largest max RSS from /usr/bin/time over
# the runs; for a pipeline of several commands, the largest of its commands),
# the output's size, and roundcorners' time, memory and size over the peer's.
#
#   scripts/compare.sh                         # 6000x4000 and 20000x12000
#   scripts/compare.sh --runs 9 6000x4000      # one size, more runs
#   scripts/compare.sh --no-imagemagick 20000x12000
#
# Options: --runs N (default 5) and --big-runs N (default 1) set the runs per
# command below and above 50 megapixels; --radius R (200); --background
# '#RRGGBB' ('#202020'); --no-imagemagick skips ImageMagick.
#
# Every command writes PNG at zlib level 6. The row filters differ: libpng's
# default (adaptive: each row gets the filter that looks cheapest) in
# roundcorners and ImageMagick, no filter in libvips' pngsave by default; the
# libvips pipeline is also run with filter=all, libpng's adaptive choice.
#
# Last, bench/png_settings shows what libpng's encoder settings cost and give
# on the first size's photo and on docs/sample.png (a drawing).
#
# Installs hyperfine, libvips-tools, imagemagick and time when missing (not
# part of the test suite). Pictures, outputs and results live in
# build/compare/; the outputs of a size are removed once it is measured, the
# test pictures are kept for the next run (remove build/compare to drop them).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"

RUNS=5 BIG_RUNS=1 RADIUS=200 BACKGROUND='#202020' IMAGEMAGICK=1
sizes=()
while [ $# -gt 0 ]; do
    case "$1" in
    --runs) RUNS=$2; shift 2 ;;
    --big-runs) BIG_RUNS=$2; shift 2 ;;
    --radius) RADIUS=$2; shift 2 ;;
    --background) BACKGROUND=$2; shift 2 ;;
    --no-imagemagick) IMAGEMAGICK=0; shift ;;
    [0-9]*x[0-9]*) sizes+=("$1"); shift ;;
    *) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
    esac
done
[ ${#sizes[@]} -gt 0 ] || sizes=(6000x4000 20000x12000)
[[ "$BACKGROUND" =~ ^#[0-9A-Fa-f]{6}$ ]] || { echo "--background takes #RRGGBB" >&2; exit 2; }
RED=$((16#${BACKGROUND:1:2})) GREEN=$((16#${BACKGROUND:3:2})) BLUE=$((16#${BACKGROUND:5:2}))

# The peers, from Debian's archive, only when missing. ImageMagick's convert
# is called as /usr/bin/convert: another convert may come first in PATH.
missing=()
command -v hyperfine >/dev/null || missing+=(hyperfine)
[ -x /usr/bin/vips ] || missing+=(libvips-tools)
[ -x /usr/bin/convert ] || missing+=(imagemagick)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

scripts/build.sh native >/dev/null
RC="$ROOT/build/native/host/roundcorners"
WORK="$ROOT/build/compare"
mkdir -p "$WORK"
SETTINGS="$(mktemp -d "$WORK/.settings.XXXXXX")"  # empty: the run's values only
trap 'rm -rf "$SETTINGS"' EXIT

# ImageMagick's policy on Debian refuses images wider or taller than 16K
# pixels or larger than 128 megapixels; above that it runs with this one.
BIG_POLICY="$WORK/imagemagick-policy"
mkdir -p "$BIG_POLICY"
cat >"$BIG_POLICY/policy.xml" <<'EOF'
<policymap>
  <policy domain="resource" name="memory" value="16GiB"/>
  <policy domain="resource" name="map" value="32GiB"/>
  <policy domain="resource" name="width" value="1MP"/>
  <policy domain="resource" name="height" value="1MP"/>
  <policy domain="resource" name="area" value="16GP"/>
  <policy domain="resource" name="disk" value="64GiB"/>
</policymap>
EOF

# One job: a name, whether it smooths (on, off, or - for a floor), the file
# it writes and its commands as a bash script.
add_job() {
    local name=$1 smooth=$2 output=$3 script=$4
    printf '%s\n' "set -e" "$script" >"$JOBS/$name.sh"
    printf '%s\t%s\t%s\n' "$name" "$smooth" "$output" >>"$JOBS/list"
}

# The libvips pipeline: the rounded rectangle drawn by librsvg as a one-band
# mask (antialiased, or with crisp edges) and a background image of the
# colour, then ifthenelse picks the photo inside and the colour outside.
# Mask and background are PNGs of almost one value (tens to hundreds of kB),
# so that the last command streams all three inputs.
vips_prepare() {
    local tag=$1 rendering=""
    [ "$tag" = antialiased ] || rendering=' shape-rendering="crispEdges"'
    cat <<EOF
printf '<svg xmlns="http://www.w3.org/2000/svg" width="$W" height="$H"><rect width="$W" height="$H" rx="$RADIUS" ry="$RADIUS" fill="#fff"$rendering/></svg>' >"$OUT/mask-$tag.svg"
vips extract_band "$OUT/mask-$tag.svg" "$OUT/mask-$tag.png" 3
printf '<svg xmlns="http://www.w3.org/2000/svg" width="$W" height="$H"><rect width="$W" height="$H" fill="$BACKGROUND"/></svg>' >"$OUT/background-$tag.svg"
vips flatten "$OUT/background-$tag.svg" "$OUT/background-$tag.png"
EOF
}

vips_round() {
    local tag=$1 save=$2 blend=""
    [ "$tag" = antialiased ] && blend=--blend
    echo "vips ifthenelse '$OUT/mask-$tag.png' '$IN' '$OUT/background-$tag.png' '$save' $blend"
}

# ImageMagick's recipe: a white rounded rectangle on black, taken as the
# photo's alpha, then flattened onto the colour; -antialias or +antialias.
imagemagick_command() {
    local antialias=$1 out=$2 policy=""
    if [ "$W" -gt 16000 ] || [ "$H" -gt 16000 ] || [ $((W * H)) -gt 128000000 ]; then
        policy="MAGICK_CONFIGURE_PATH='$BIG_POLICY' "
    fi
    echo "${policy}/usr/bin/convert '$IN' \\( -size ${W}x${H} xc:black -fill white $antialias" \
        "-draw 'roundrectangle 0,0 $((W - 1)),$((H - 1)) $RADIUS,$RADIUS' \\) -alpha off" \
        "-compose CopyOpacity -composite -background '$BACKGROUND' -compose Over -flatten -alpha off" \
        "-define png:compression-level=6 '$out'"
}

measure_size() {
    local size=$1
    W=${size%x*} H=${size#*x}
    IN="$WORK/photo-$size.png"
    if [ ! -f "$IN" ]; then
        echo "making $IN"
        scripts/make-photo.sh "$W" "$H" "$WORK/.partial-$size.png"
        mv "$WORK/.partial-$size.png" "$IN"
    fi
    OUT="$WORK/out-$size"
    JOBS="$OUT/jobs"
    rm -rf "$OUT"
    mkdir -p "$JOBS"
    : >"$JOBS/list"
    local rc="'$RC' --settings-dir '$SETTINGS' --radius $RADIUS --background '$BACKGROUND'"
    add_job roundcorners on "$OUT/rc.png" "$rc '$IN' -o '$OUT/rc.png'"
    add_job "roundcorners --no-smooth" off "$OUT/rc-no-smooth.png" "$rc --no-smooth '$IN' -o '$OUT/rc-no-smooth.png'"
    add_job "libvips ifthenelse --blend" on "$OUT/vips.png" \
        "$(vips_prepare antialiased; vips_round antialiased "$OUT/vips.png")"
    add_job "libvips ifthenelse --blend, filter=all" on "$OUT/vips-all.png" \
        "$(vips_prepare antialiased; vips_round antialiased "$OUT/vips-all.png[filter=all]")"
    add_job "libvips ifthenelse --blend alone (mask made beforehand)" on "$OUT/vips-alone.png" \
        "$(vips_round antialiased "$OUT/vips-alone.png")"
    add_job "libvips ifthenelse, crisp mask" off "$OUT/vips-crisp.png" \
        "$(vips_prepare crisp; vips_round crisp "$OUT/vips-crisp.png")"
    if [ "$IMAGEMAGICK" = 1 ]; then
        add_job "ImageMagick convert" on "$OUT/im.png" "$(imagemagick_command -antialias "$OUT/im.png")"
        add_job "ImageMagick convert +antialias" off "$OUT/im-no-aa.png" \
            "$(imagemagick_command +antialias "$OUT/im-no-aa.png")"
    fi
    add_job "floor: decoding alone (vips avg)" - - "vips avg '$IN' >/dev/null"
    add_job "floor: vips copy" - "$OUT/copy.png" "vips copy '$IN' '$OUT/copy.png'"
    add_job "floor: vips copy, filter=all" - "$OUT/copy-all.png" "vips copy '$IN' '$OUT/copy-all.png[filter=all]'"
    bash -c "set -e; $(vips_prepare antialiased)"  # for the job that leaves it out
    local runs=$RUNS warmup=1
    if [ $((W * H)) -gt 50000000 ]; then runs=$BIG_RUNS warmup=0; fi
    local args=() name smooth output i=0
    while IFS=$'\t' read -r name smooth output; do
        args+=(-n "$name" "/usr/bin/time -f %M -a -o '$JOBS/$i.rss' bash '$JOBS/$name.sh'")
        i=$((i + 1))
    done <"$JOBS/list"
    echo "== $size, R = $RADIUS, $BACKGROUND: $runs run(s) per command, $warmup warm-up"
    echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
    hyperfine --style basic --runs "$runs" --warmup "$warmup" --export-json "$OUT/hyperfine.json" "${args[@]}" \
        >"$OUT/hyperfine.log"
    echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
    /usr/bin/python3 - "$OUT" "$IN" "$W" "$H" "$RED $GREEN $BLUE" <<'EOF'
import json, os, subprocess, sys

out, source, width, height, colour = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
jobs = [line.rstrip("\n").split("\t") for line in open(os.path.join(out, "jobs", "list"))]
results = json.load(open(os.path.join(out, "hyperfine.json")))["results"]

def point(path, x, y):
    text = subprocess.run(["vips", "getpoint", path, str(x), str(y)], capture_output=True, text=True).stdout
    return [round(float(v)) for v in text.split()]

centre = point(source, width // 2, height // 2)
want = [int(v) for v in colour.split()]
rows = []
for i, ((name, smooth, path), result) in enumerate(zip(jobs, results)):
    rss = max(int(v) for v in open(os.path.join(out, "jobs", f"{i}.rss")).read().split())
    # The result is right where it matters: the corner pixel is the colour,
    # the centre pixel is the photo's.
    check = "—"
    if smooth != "-":
        ok = point(path, 0, 0) == want and point(path, width // 2, height // 2) == centre
        check = "yes" if ok else "NO"
    rows.append(dict(name=name, smooth=smooth, median=result["median"], low=min(result["times"]),
                     high=max(result["times"]), runs=len(result["times"]), rss=rss / 1024,
                     size=os.path.getsize(path) / 1e6 if path != "-" else None, check=check))

reference = {r["smooth"]: r for r in rows if r["name"].startswith("roundcorners")}
print(f"| {width}×{height} | median s (min–max, runs) | peak RSS MB | output MB | corners ok "
      "| roundcorners time / this | memory / this | size / this |")
print("| --- | --- | --- | --- | --- | --- | --- | --- |")
for r in rows:
    ref = reference.get(r["smooth"], reference["on"])
    ratios = ["", "", ""] if r is ref else [f"{ref['median'] / r['median']:.2f}", f"{ref['rss'] / r['rss']:.2f}",
                                            f"{ref['size'] / r['size']:.2f}" if r["size"] else "—"]
    spread = f"{r['median']:.2f} ({r['low']:.2f}–{r['high']:.2f}, {r['runs']})"
    size = f"{r['size']:.1f}" if r["size"] else "—"
    print(f"| {r['name']} | {spread} | {r['rss']:.0f} | {size} | {r['check']} | "
          + " | ".join(ratios) + " |")
print("Ratios compare with roundcorners at the same smoothing (the floors with smoothing on);"
      " below 1 means roundcorners is ahead.")
EOF
    echo
    rm -f "$OUT"/*.png "$OUT"/*.svg
}

cpu() { grep -m1 "^$1" /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'; }
echo "machine: $(nproc) cores, $(cpu 'model name') (family $(cpu 'cpu family'), model $(cpu 'model\s'))," \
    "$(awk '/MemTotal/ {printf "%.0f GB", $2 / 1048576}' /proc/meminfo)"
echo "roundcorners $(git rev-parse --short HEAD 2>/dev/null || echo '?'), libpng $(dpkg-query -W -f='${Version}' libpng16-16)," \
    "zlib $(dpkg-query -W -f='${Version}' zlib1g); $(vips --version);" \
    "$(/usr/bin/convert -version | sed -n '1s/^Version: //p' | cut -d' ' -f1-3); $(hyperfine --version)"
for size in "${sizes[@]}"; do measure_size "$size"; done

# Where roundcorners' time goes: libpng's encoder on the first size's photo
# and on the sample drawing, with its default settings and faster ones.
echo "== libpng encoder settings (bench/png_settings)"
build/native/bench/png_settings --repetitions 3 "$WORK/photo-${sizes[0]}.png" docs/sample.png
