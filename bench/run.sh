#!/usr/bin/env bash
# Benchmarks of `make bench`: pelmo-cli against PROJ's cct (ASCII points) and
# GDAL's ogr2ogr (a Polygon shapefile) on the same transformation:
# Gauss-Krueger zone 5 on Bessel 1841, DHDN -> ETRS89 (EPSG 1776), into UTM
# zone 33 on GRS 1980. Prints times, ratios and peak memory; times nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=build
POINTS=${BENCH_POINTS:-1000000}
VERTICES=${BENCH_VERTICES:-1000000}
ROUNDS=${BENCH_ROUNDS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

pipeline="+proj=pipeline +step +inv +proj=tmerc +lat_0=0 +lon_0=15 +k=1 +x_0=5500000 +y_0=0 +ellps=bessel \
+step +proj=cart +ellps=bessel \
+step +proj=helmert +x=598.1 +y=73.7 +z=418.2 +rx=-0.202 +ry=-0.045 +rz=2.455 +s=6.7 +convention=coordinate_frame \
+step +inv +proj=cart +ellps=GRS80 +step +proj=utm +zone=33 +ellps=GRS80"

cli=("$BIN/pelmo-cli" --quiet --yes --in GK-Germ --out UTM
     --ell1 data/Bessel_1841.ell --ell2 data/GRS_1980.ell
     --7par1 data/DHDN_to_ETRS89_EPSG1776.7pr)

now() { date +%s.%N; }
best() { sort -g | head -n1; }
# Runs a command, prints "seconds peak-kB".
measure() {
  local t0 t1
  t0=$(now)
  /usr/bin/time -f %M -o "$work/mem" "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; return 1; }
  t1=$(now)
  echo "$(echo "$t1 - $t0" | bc -l) $(cat "$work/mem")"
}

echo "== ASCII: $POINTS GK-Germ points (Bessel) -> UTM 33 (GRS 1980), DHDN -> ETRS89"
"$BIN/pelmo_bench_gen" ascii "$POINTS" "$work/points.txt"
: >"$work/t_pelmo"; : >"$work/t_cct"
for ((r = 1; r <= ROUNDS; r++)); do
  measure "${cli[@]}" --type ascii "$work/points.txt" "$work/out_pelmo.txt" | cut -d' ' -f1 >>"$work/t_pelmo"
  t0=$(now); cct $pipeline "$work/points.txt" >"$work/out_cct.txt"; t1=$(now)
  echo "$t1 - $t0" | bc -l >>"$work/t_cct"
done
tp=$(best <"$work/t_pelmo"); tc=$(best <"$work/t_cct")
printf 'pelmo-cli  %8.3f s\ncct        %8.3f s\nratio pelmo/cct %.3f (best of %d alternating rounds)\n' \
  "$tp" "$tc" "$(echo "$tp / $tc" | bc -l)" "$ROUNDS"
# The two results must agree: compare the first points.
paste -d' ' <(head -n 3 "$work/out_pelmo.txt") <(head -n 3 "$work/out_cct.txt") |
  awk '{printf "first points: pelmo %s %s  cct %s %s  (cct easting without zone prefix)\n", $1, $2, $4, $5}'

echo
echo "== Shapefile: Polygon file of $VERTICES vertices, same transformation"
"$BIN/pelmo_bench_gen" shape "$VERTICES" "$work/poly"
"$BIN/pelmo_bench_gen" shape 10000 "$work/small"
: >"$work/t_pelmo"; : >"$work/t_ogr"
for ((r = 1; r <= ROUNDS; r++)); do
  rm -f "$work"/out_p.* "$work"/out_o.*
  measure "${cli[@]}" --type shape "$work/poly.shp" "$work/out_p.shp" >>"$work/t_pelmo"
  measure ogr2ogr -f "ESRI Shapefile" -ct "$pipeline" -t_srs EPSG:25833 -s_srs EPSG:31469 \
    "$work/out_o.shp" "$work/poly.shp" >>"$work/t_ogr"
done
tp=$(cut -d' ' -f1 <"$work/t_pelmo" | best); to=$(cut -d' ' -f1 <"$work/t_ogr" | best)
mp=$(cut -d' ' -f2 <"$work/t_pelmo" | sort -g | tail -n1)
rm -f "$work"/out_s.*
ms=$(measure "${cli[@]}" --type shape "$work/small.shp" "$work/out_s.shp" | cut -d' ' -f2)
printf 'pelmo-cli  %8.3f s\nogr2ogr    %8.3f s\nratio pelmo/ogr2ogr %.3f (best of %d alternating rounds)\n' \
  "$tp" "$to" "$(echo "$tp / $to" | bc -l)" "$ROUNDS"
printf 'peak memory of pelmo-cli: %s kB for 10,000 vertices, %s kB for %s vertices\n' "$ms" "$mp" "$VERTICES"
