#!/usr/bin/env bash
# Makes a photo-like test picture with the libvips command line: shapes with
# hard and soft edges over a sky-like gradient (an SVG), soft light variation,
# grain a few pixels wide and fine sensor noise. It compresses like a photo
# (about half its raw size as PNG), not like pure noise or a flat drawing.
# The same size always gives the same picture.
#
#   scripts/make-photo.sh WIDTH HEIGHT OUT.png
#
# Intermediate images go to a folder beside OUT and are removed at the end
# (at 20000 x 12000 they take about 8 GB of disk for a minute).
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 WIDTH HEIGHT OUT.png" >&2; exit 2; }
W=$1 H=$2 out=$3
work="$(mktemp -d "$(dirname "$out")/.make-photo.XXXXXX")"
trap 'rm -rf "$work"' EXIT

awk -v W="$W" -v H="$H" 'BEGIN {
  srand(7);
  printf "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\">\n", W, H;
  print "<defs><linearGradient id=\"sky\" x1=\"0\" y1=\"0\" x2=\"0.3\" y2=\"1\">";
  print "<stop offset=\"0\" stop-color=\"#4a78b0\"/><stop offset=\"0.55\" stop-color=\"#c8b89a\"/>";
  print "<stop offset=\"1\" stop-color=\"#3c4a2a\"/></linearGradient>";
  for (i = 0; i < 8; i++)
    printf "<radialGradient id=\"r%d\"><stop offset=\"0\" stop-color=\"rgb(%d,%d,%d)\"/>" \
           "<stop offset=\"1\" stop-color=\"rgb(%d,%d,%d)\" stop-opacity=\"0\"/></radialGradient>\n",
           i, 60 + rand() * 190, 60 + rand() * 190, 40 + rand() * 190, 20 + rand() * 100, 20 + rand() * 100,
           20 + rand() * 100;
  print "</defs><rect width=\"100%\" height=\"100%\" fill=\"url(#sky)\"/>";
  for (i = 0; i < 60; i++) {
    x = rand() * W; y = rand() * H; r = (0.02 + rand() * 0.15) * W;
    if (i % 3 == 0)
      printf "<ellipse cx=\"%d\" cy=\"%d\" rx=\"%d\" ry=\"%d\" fill=\"url(#r%d)\"/>\n", x, y, r, r * 0.7, i % 8;
    else if (i % 3 == 1)
      printf "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"rgb(%d,%d,%d)\" fill-opacity=\"0.8\" " \
             "transform=\"rotate(%d %d %d)\"/>\n",
             x, y, r, r * 0.5, rand() * 255, rand() * 255, rand() * 255, rand() * 40 - 20, x, y;
    else
      printf "<circle cx=\"%d\" cy=\"%d\" r=\"%d\" fill=\"rgb(%d,%d,%d)\" fill-opacity=\"0.6\"/>\n",
             x, y, r * 0.5, rand() * 255, rand() * 255, rand() * 255;
  }
  print "</svg>" }' >"$work/scene.svg"
vips flatten "$work/scene.svg" "$work/scene.v"

# Soft light variation: smoothed noise at 1/64 of the size, scaled up.
S=64
vips gaussnoise "$work/l0.v" $((W / S + 2)) $((H / S + 2)) --sigma 25 --mean 0 --seed 1
vips gaussblur "$work/l0.v" "$work/l1.v" 1.5
vips resize "$work/l1.v" "$work/l2.v" $S
vips crop "$work/l2.v" "$work/light.v" 0 0 "$W" "$H"
rm -f "$work"/l[012].v

# Grain three pixels wide, then sensor noise; all of it added to the scene.
T=3
vips gaussnoise "$work/t0.v" $((W / T + 2)) $((H / T + 2)) --sigma 4 --mean 0 --seed 2
vips resize "$work/t0.v" "$work/t1.v" $T
vips crop "$work/t1.v" "$work/grain.v" 0 0 "$W" "$H"
rm -f "$work"/t[01].v
vips gaussnoise "$work/noise.v" "$W" "$H" --sigma 1.5 --mean 0 --seed 3
vips add "$work/grain.v" "$work/noise.v" "$work/gn.v"
rm -f "$work/grain.v" "$work/noise.v"
vips add "$work/gn.v" "$work/light.v" "$work/gnl.v"
rm -f "$work/gn.v" "$work/light.v"
vips add "$work/scene.v" "$work/gnl.v" "$work/sum.v"
rm -f "$work/scene.v" "$work/gnl.v"
vips cast "$work/sum.v" "$out" uchar
