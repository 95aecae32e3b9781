#!/usr/bin/env bash
# Writes the sample control-point pair of data/samples/ with PROJ's cct:
# 16 points over Hesse and Lower Saxony, given as latitude, longitude and
# ellipsoidal height on Bessel 1841, in
#  - Gauss-Krueger zone 3 (central meridian 9 deg, DHDN, Bessel 1841) and
#  - UTM zone 32 with the zone number before the easting (ETRS89, GRS 1980)
#    through the DHDN to ETRS89 set of data/DHDN_to_ETRS89_EPSG1776.7pr
#    (PROJ's helmert step, coordinate-frame convention, exact rotations),
# rounded to the millimetre; point 1010 gets a blunder of +0.300 m in its
# UTM northing.
set -euo pipefail
out=${1:-data/samples}

points='1001 8.2000 50.1000 350.0
1002 9.1500 50.0500 210.0
1003 10.1000 50.2500 420.0
1004 8.0500 50.8500 480.0
1005 9.0000 50.9000 320.0
1006 10.2000 51.0500 380.0
1007 7.9000 51.6000 260.0
1008 8.9500 51.7000 300.0
1009 10.0500 51.8000 520.0
1010 8.4000 52.2000 120.0
1011 9.6000 52.3000 90.0
1012 9.5000 51.3000 250.0
1013 8.6500 50.4500 410.0
1014 9.8000 50.6500 360.0
1015 8.3000 51.2500 430.0
1016 9.2000 52.0000 150.0'

input() { awk '{print $2, $3, $4, 0, $1}' <<<"$points"; }

{
  printf '# Control points in DHDN: Gauss-Krueger zone 3 (central meridian 9), Bessel 1841\r\n'
  printf '# id  easting  northing  ellipsoidal height [m]\r\n'
  input | cct -d 4 +proj=tmerc +lat_0=0 +lon_0=9 +k=1 +x_0=3500000 +y_0=0 +ellps=bessel |
    awk '{printf "%s  %.3f  %.3f  %.3f\r\n", $5, $1, $2, $3}'
} >"$out/control_gk3_dhdn.txt"

{
  printf '# The same points in ETRS89: UTM zone 32 (zone number before the easting), GRS 1980\r\n'
  printf '# id  easting  northing  ellipsoidal height [m]\r\n'
  input | cct -d 4 +proj=pipeline +step +proj=unitconvert +xy_in=deg +xy_out=rad \
    +step +proj=cart +ellps=bessel \
    +step +proj=helmert +x=598.1 +y=73.7 +z=418.2 +rx=-0.202 +ry=-0.045 +rz=2.455 +s=6.7 \
    +convention=coordinate_frame +exact \
    +step +inv +proj=cart +ellps=GRS80 +step +proj=utm +zone=32 +ellps=GRS80 |
    awk '{n = $2; if ($5 == "1010") n += 0.300;
          printf "%s  %.3f  %.3f  %.3f\r\n", $5, $1 + 32000000, n, $3}'
} >"$out/control_utm32_etrs89.txt"
echo "written: $out/control_gk3_dhdn.txt $out/control_utm32_etrs89.txt"
