#!/usr/bin/env bash
# Benchmarks of `make bench`: pelmo-cli against PROJ's cct (ASCII points) and
# GDAL's ogr2ogr (a Polygon shapefile) on the same transformation:
# Gauss-Krueger zone 5 on Bessel 1841, DHDN -> ETRS89 (EPSG 1776), into UTM
# zone 33 on GRS 1980. For each job: times (best of alternating rounds),
# ratios to the peer, the floor (a translation by 0 0 0: reading, parsing,
# formatting and writing without the geodesy), a check that the first points
# agree with the peer's to 1 mm (the bench fails otherwise), peak memory
# for 1 and 4 times the size, and the same job run from the main window
# (offscreen) against the batch tool.
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=${BENCH_BIN:-build}  # folder of pelmo-cli and pelmo_bench_gen
POINTS=${BENCH_POINTS:-1000000}
VERTICES=${BENCH_VERTICES:-1000000}
ROUNDS=${BENCH_ROUNDS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Thread counts of the pelmo-cli columns: one, and one per core.
THREADS=(1)
if (($(nproc) > 1)); then THREADS+=("$(nproc)"); fi
ALL=${THREADS[-1]}
pelmo() {  # pelmo THREADS: the pelmo-cli command of that column, in the array P
  P=("$BIN/pelmo-cli" --quiet --yes --threads "$1")
}
job=(--in GK-Germ --out UTM --ell1 data/Bessel_1841.ell --ell2 data/GRS_1980.ell
     --7par1 data/DHDN_to_ETRS89_EPSG1776.7pr)
floor=(--translation 0 0 0)

pipeline="+proj=pipeline +step +inv +proj=tmerc +lat_0=0 +lon_0=15 +k=1 +x_0=5500000 +y_0=0 +ellps=bessel \
+step +proj=cart +ellps=bessel \
+step +proj=helmert +x=598.1 +y=73.7 +z=418.2 +rx=-0.202 +ry=-0.045 +rz=2.455 +s=6.7 +convention=coordinate_frame \
+step +inv +proj=cart +ellps=GRS80 +step +proj=utm +zone=33 +ellps=GRS80"
UTM_PREFIX=33000000  # zone number in the millions of Pelmo's UTM eastings
AGREE_M=0.001

now() { date +%s.%N; }
# Runs a command (output discarded), prints "seconds peak-kB cpu-seconds"
# (user + system: a machine busy with other work stretches the elapsed time).
measure() {
  local t0 t1
  t0=$(now)
  /usr/bin/time -f '%M %U %S' -o "$work/mem" "$@" >/dev/null 2>"$work/err" ||
    { cat "$work/err" >&2; return 1; }
  t1=$(now)
  echo "$(echo "$t1 - $t0" | bc -l) $(awk '{print $1, $2 + $3}' "$work/mem")"
}
best() { cut -d' ' -f1 "$1" | sort -g | head -n1; }
bestcpu() { cut -d' ' -f3 "$1" | sort -g | head -n1; }
peak() { cut -d' ' -f2 "$1" | sort -g | tail -n1; }
ratio() { echo "$1 / $2" | bc -l; }
# row LABEL FORMAT VALUE...: one line of a table, one value per column.
row() {
  local label=$1 format=$2
  shift 2
  printf '%-28s' "$label"
  for v in "$@"; do printf " $format" "$v"; done
  printf '\n'
}
header() {
  printf '%-28s' ""
  for t in "${THREADS[@]}"; do
    if [[ $t == 1 ]]; then printf ' %12s' "1 thread"; else printf ' %12s' "$t threads"; fi
  done
  printf '\n'
}
# table PEER PEER_TIMES: the figures of one job, a column per thread count
# (from the files t_pelmo_N and t_floor_N).
table() {
  local peer=$1 tpeer cpeer
  tpeer=$(best "$2") cpeer=$(bestcpu "$2")
  local tp=() tf=() rp=() rf=() cp=() rc=()
  for t in "${THREADS[@]}"; do
    tp+=("$(best "$work/t_pelmo_$t")") tf+=("$(best "$work/t_floor_$t")")
    cp+=("$(bestcpu "$work/t_pelmo_$t")")
    rp+=("$(ratio "${tp[-1]}" "$tpeer")") rf+=("$(ratio "${tf[-1]}" "$tpeer")")
    rc+=("$(ratio "${cp[-1]}" "$cpeer")")
  done
  header
  row "pelmo-cli [s]" '%12.3f' "${tp[@]}"
  row "$peer [s]" '%12.3f' "$tpeer"
  row "ratio pelmo/$peer" '%12.3f' "${rp[@]}"
  row "floor: translation 0 0 0 [s]" '%12.3f' "${tf[@]}"
  row "ratio floor/$peer" '%12.3f' "${rf[@]}"
  row "CPU time pelmo-cli [s]" '%12.3f' "${cp[@]}"
  row "CPU time $peer [s]" '%12.3f' "$cpeer"
  row "ratio of CPU times" '%12.3f' "${rc[@]}"
}
# agree WHAT FILE_PELMO FILE_PEER: both hold "easting northing" per line,
# Pelmo's with the zone prefix; fails the bench beyond AGREE_M.
agree() {
  local worst
  worst=$(paste -d' ' "$2" "$3" |
    awk -v p=$UTM_PREFIX '{d = $1 - p - $3; if (d < 0) d = -d; e = $2 - $4; if (e < 0) e = -e;
                          if (e > d) d = e; if (d > w) w = d} END {printf "%.6f", w}')
  if (($(echo "$worst > $AGREE_M" | bc -l))); then
    echo "FAILED: $1: Pelmo and the peer differ by $worst m in the first points (limit $AGREE_M m):" >&2
    paste -d' ' "$2" "$3" >&2
    exit 1
  fi
  printf 'first points agree with %s: largest difference %.2f mm (limit %g mm)\n' \
    "$1" "$(echo "$worst * 1000" | bc -l)" "$(echo "$AGREE_M * 1000" | bc -l)"
}
# memory THREADS WHAT UNIT SMALL_KB LARGE_KB LARGE_COUNT
memory() {
  printf 'peak memory of pelmo-cli, %s thread(s): %s kB for %s %s, %s kB for %s %s (%+.1f %%, limit +10 %%)\n' \
    "$1" "$4" "$2" "$3" "$5" "$6" "$3" "$(echo "($5 / $4 - 1) * 100" | bc -l)"
}
# window JOB_ARGS... -- SOURCE TARGET_STEM EXT: the job run from the main
# window (offscreen, all cores) against the batch tool on all cores, best of
# ROUNDS each; skipped when the window was not built.
window() {
  local args=() cli=() source stem ext tw tc
  while [[ $1 != -- ]]; do args+=("$1"); shift; done
  source=$2 stem=$3 ext=$4
  [[ -x $BIN/pelmo_bench_window ]] || { echo "window: not built (PELMO_BUILD_UI=OFF)"; return; }
  "$BIN/pelmo-cli" --quiet "${args[@]}" --save-par "$work/job.par"
  : >"$work/t_window" && : >"$work/t_cli"
  pelmo "$ALL" && cli=("${P[@]}")
  for ((r = 1; r <= ROUNDS; r++)); do
    rm -f "$stem".*
    QT_QPA_PLATFORM=offscreen "$BIN/pelmo_bench_window" "$work/job.par" "$source" "$stem.$ext" \
      >>"$work/t_window" 2>"$work/err" || { cat "$work/err" >&2; return 1; }
    rm -f "$stem".*
    measure "${cli[@]}" "${args[@]}" "$source" "$stem.$ext" >>"$work/t_cli"
  done
  tw=$(best "$work/t_window") tc=$(best "$work/t_cli")
  printf 'from the window (%s threads): %.3f s, batch tool %.3f s, ratio %.3f (limit 1.25)\n' \
    "$ALL" "$tw" "$tc" "$(ratio "$tw" "$tc")"
}

# ---------------------------------------------------------------- ASCII
echo "== ASCII: $POINTS GK-Germ points (Bessel) -> UTM 33 (GRS 1980), DHDN -> ETRS89"
echo "   best of $ROUNDS alternating rounds; targets pelmo/cct <= 0.25 on one thread, <= 0.15 on all cores"
"$BIN/pelmo_bench_gen" ascii "$POINTS" "$work/points.txt"
: >"$work/t_cct"
for t in "${THREADS[@]}"; do : >"$work/t_pelmo_$t"; : >"$work/t_floor_$t"; done
for ((r = 1; r <= ROUNDS; r++)); do
  for t in "${THREADS[@]}"; do
    pelmo "$t"
    measure "${P[@]}" "${job[@]}" --type ascii "$work/points.txt" "$work/out_pelmo.txt" >>"$work/t_pelmo_$t"
    measure "${P[@]}" "${floor[@]}" --type ascii "$work/points.txt" "$work/out_floor.txt" >>"$work/t_floor_$t"
  done
  measure cct $pipeline "$work/points.txt" >>"$work/t_cct"
done
head -n 3 "$work/points.txt" >"$work/first_in.txt"
cct $pipeline "$work/first_in.txt" | awk '{print $1, $2}' >"$work/first_cct"
head -n 3 "$work/out_pelmo.txt" | awk '{print $1, $2}' >"$work/first_pelmo"
table cct "$work/t_cct"
agree cct "$work/first_pelmo" "$work/first_cct"
window "${job[@]}" -- "$work/points.txt" "$work/out_window" txt
"$BIN/pelmo_bench_gen" ascii $((4 * POINTS)) "$work/points4.txt"
for t in "${THREADS[@]}"; do
  pelmo "$t"
  m4=$(measure "${P[@]}" "${job[@]}" --type ascii "$work/points4.txt" "$work/out_pelmo.txt" | cut -d' ' -f2)
  memory "$t" "$POINTS" points "$(peak "$work/t_pelmo_$t")" "$m4" $((4 * POINTS))
done
rm -f "$work"/points4.txt "$work"/out_*.txt

# ---------------------------------------------------------------- grid
echo
echo "== ASCII with a grid: $POINTS points inside BeTA2007, --grid1 BETA2007.gsb against the seven parameters"
echo "   best of $ROUNDS alternating rounds, one thread; target: the grid costs at most 30 % more"
"$BIN/pelmo_bench_gen" ascii $((POINTS * 3 / 2)) "$work/all.txt"
awk -v n="$POINTS" '$1 < 5530000 && c++ < n' "$work/all.txt" >"$work/points.txt"  # west of 15.5 E
grid=("${job[@]:0:8}" --grid1 BETA2007.gsb)
pelmo 1
: >"$work/t_seven"; : >"$work/t_grid"
for ((r = 1; r <= ROUNDS; r++)); do
  measure "${P[@]}" "${job[@]}" --type ascii "$work/points.txt" "$work/out_seven.txt" >>"$work/t_seven"
  measure "${P[@]}" "${grid[@]}" --type ascii "$work/points.txt" "$work/out_grid.txt" >>"$work/t_grid"
done
row "seven parameters [s]" '%12.3f' "$(best "$work/t_seven")"
row "grid [s]" '%12.3f' "$(best "$work/t_grid")"
row "ratio grid/seven parameters" '%12.3f' "$(ratio "$(best "$work/t_grid")" "$(best "$work/t_seven")")"
row "ratio of CPU times" '%12.3f' "$(ratio "$(bestcpu "$work/t_grid")" "$(bestcpu "$work/t_seven")")"
gridpipe="+proj=pipeline +step +inv +proj=tmerc +lat_0=0 +lon_0=15 +k=1 +x_0=5500000 +y_0=0 \
+ellps=bessel +step +proj=hgridshift +grids=BETA2007.gsb +step +proj=utm +zone=33 +ellps=GRS80"
head -n 3 "$work/points.txt" | cct $gridpipe | awk '{print $1, $2}' >"$work/first_cct"
head -n 3 "$work/out_grid.txt" | awk '{print $1, $2}' >"$work/first_pelmo"
agree "cct with hgridshift" "$work/first_pelmo" "$work/first_cct"
rm -f "$work"/all.txt "$work"/points.txt "$work"/out_*.txt

# ---------------------------------------------------------------- shapefile
echo
echo "== Shapefile: Polygon file of $VERTICES vertices, same transformation"
echo "   best of $ROUNDS alternating rounds; targets pelmo/ogr2ogr <= 0.5 on one thread, <= 0.3 on all cores"
"$BIN/pelmo_bench_gen" shape "$VERTICES" "$work/poly"
: >"$work/t_ogr"
for t in "${THREADS[@]}"; do : >"$work/t_pelmo_$t"; : >"$work/t_floor_$t"; done
for ((r = 1; r <= ROUNDS; r++)); do
  for t in "${THREADS[@]}"; do
    rm -f "$work"/out_p.* "$work"/out_f.*
    pelmo "$t"
    measure "${P[@]}" "${job[@]}" --type shape "$work/poly.shp" "$work/out_p.shp" >>"$work/t_pelmo_$t"
    measure "${P[@]}" "${floor[@]}" --type shape "$work/poly.shp" "$work/out_f.shp" >>"$work/t_floor_$t"
  done
  rm -f "$work"/out_o.*
  # The pipeline alone: with -s_srs EPSG:31469 ogr2ogr would first swap the
  # axes of that northing-first system and transform the wrong coordinates.
  measure ogr2ogr -f "ESRI Shapefile" -ct "$pipeline" "$work/out_o.shp" "$work/poly.shp" >>"$work/t_ogr"
done
"$BIN/pelmo_bench_gen" first 3 "$work/out_p.shp" >"$work/first_pelmo"
"$BIN/pelmo_bench_gen" first 3 "$work/out_o.shp" >"$work/first_ogr"
table ogr2ogr "$work/t_ogr"
agree ogr2ogr "$work/first_pelmo" "$work/first_ogr"
window "${job[@]}" -- "$work/poly.shp" "$work/out_w" shp
"$BIN/pelmo_bench_gen" shape $((4 * VERTICES)) "$work/poly4"
for t in "${THREADS[@]}"; do
  rm -f "$work"/out_p.*
  pelmo "$t"
  m4=$(measure "${P[@]}" "${job[@]}" --type shape "$work/poly4.shp" "$work/out_p.shp" | cut -d' ' -f2)
  memory "$t" "$VERTICES" vertices "$(peak "$work/t_pelmo_$t")" "$m4" $((4 * VERTICES))
done
