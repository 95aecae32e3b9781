#!/usr/bin/env python3
"""Injects faults into the product code one at a time and tells which the
engine tests catch.

Each fault is one edit: in one file, one exact text (it must occur exactly
once) is replaced. The tree of the given git revision is unpacked into a
scratch folder (never the working tree), built there once with ccache in a
build folder that is kept between runs, and then, for each fault alone: the
edit is applied, the engine tests and the batch tool are rebuilt
incrementally, the engine tests run, the file is restored. A fault is
"caught" when a test fails (or the run does not end within the time limit),
"missed" when every test passes, and "n/a" when its text is not found (the
code has changed), found more than once, or the edited code does not build.

Run through tools/inject_faults.sh; see --help.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

# Each fault: its name, what it does, and one or more spellings of the same
# edit (file, exact text, replacement) for successive versions of the code;
# the first spelling whose text occurs exactly once is applied.
FAULTS = [
    # ------------------------------------------------------------ geodesy
    ('geo-meridian-series-sign', 'sign of a term of the meridian-arc series', [
        ('geodesy/geodesy.cpp',
         '(3.0 / 4) * ep2 - (15.0 / 16) * ep4',
         '(3.0 / 4) * ep2 + (15.0 / 16) * ep4'),
    ]),
    ('geo-gk-forward-series-sign', 'sign in the l^3 term of the Gauss-Krueger forward series', [
        ('geodesy/geodesy.cpp',
         '(1 - t2 + eta2)',
         '(1 + t2 + eta2)'),
    ]),
    ('geo-gk-footpoint-argument', 'wrong multiple of the angle in the footpoint series', [
        ('geodesy/geodesy.cpp',
         '(21.0 / 16) * n2 * std::sin(4 * sigma)',
         '(21.0 / 16) * n2 * std::sin(2 * sigma)'),
        ('geodesy/geodesy.cpp',  # the sin 4 sigma and sin 6 sigma coefficients swapped
         '(21.0 / 16) * n2, (151.0 / 96) * n3}',
         '(151.0 / 96) * n3, (21.0 / 16) * n2}'),
    ]),
    ('geo-gk-inverse-sign', 'sign of the y^2 term of the Gauss-Krueger inverse', [
        ('geodesy/geodesy.cpp',
         'Div(-tf, (Mf + Mf) * Nf)',
         'Div(tf, (Mf + Mf) * Nf)'),
        ('geodesy/geodesy.cpp',
         'const double b2 = -tf * (',
         'const double b2 = tf * ('),
    ]),
    ('geo-gk-inverse-power', 'wrong power of y in the last longitude term of the inverse', [
        ('geodesy/geodesy.cpp',
         'Pow(y, 5.0) * b5',
         'Pow(y, 4.0) * b5'),
        ('geodesy/geodesy.cpp',
         'y * (b1 + y2 * (b3 + y2 * b5))',
         'y * (b1 + y2 * (b3 + y * b5))'),
    ]),
    ('geo-xyz-stop-rule', 'latitude iteration of XYZToBLH stops too early', [
        ('geodesy/geodesy.cpp',
         'std::fabs(next - t) > kLatitudeTolerance * cosProduct',
         'std::fabs(next - t) > 1e-6 * cosProduct'),
        ('geodesy/geodesy.cpp',
         'std::fabs(Bold - B) > kLatitudeTolerance',
         'std::fabs(Bold - B) > 1e-6'),
    ]),
    ('geo-xyz-quadrant', 'longitude of the third quadrant turned the wrong way', [
        ('geodesy/geodesy.cpp',
         'L = L - kPi;',
         'L = L + kPi;'),
    ]),
    ('geo-xyz-height-from-y', 'height next to the 90-degree meridians from the wrong function', [
        ('geodesy/geodesy.cpp',
         'Div(Y, std::cos(B) * std::sin(L)) - N',
         'Div(Y, std::cos(B) * std::cos(L)) - N'),
        ('geodesy/geodesy.cpp',
         'Div(Y, cosB * sinL) - N',
         'Div(Y, cosB * cosL) - N'),
        ('geodesy/geodesy.cpp',
         'Div(Y, g.cosB * sinL) - N',
         'Div(Y, g.cosB * cosL) - N'),
    ]),
    ('geo-tangent-sine', 'sine of the latitude from its tangent with the wrong sign', [
        ('geodesy/geodesy.cpp',
         'g.sinB = t * g.cosB;',
         'g.sinB = -t * g.cosB;'),
    ]),
    ('geo-gk-latitude-cosine', 'cosine of the latitude of the GK inverse by the wrong addition rule', [
        ('geodesy/geodesy.cpp',
         'g.cosB = cosBf * cosD - sinBf * sinD;',
         'g.cosB = cosBf * cosD + sinBf * sinD;'),
    ]),
    ('geo-iteration-cap', 'iterations capped below what a normal point needs', [
        ('geodesy/geodesy.hpp',
         'kMaxIterations = 1000;',
         'kMaxIterations = 3;'),
    ]),
    ('geo-krovak-scale', 'wrong scale on the Krovak pseudo-standard parallel', [
        ('geodesy/geodesy.cpp',
         'kKrovakScale = 0.9999;',
         'kKrovakScale = 0.99999;'),
    ]),
    ('geo-krovak-start-value', 'Krovak inverse latitude iteration never runs', [
        ('geodesy/geodesy.cpp',
         'double previous = 0;',
         'double previous = Up;'),
    ]),
    ('geo-krovak-stop-rule', 'Krovak inverse latitude iteration stops too early', [
        ('geodesy/geodesy.cpp',
         'std::fabs(phi - previous) > kLatitudeTolerance',
         'std::fabs(phi - previous) > 1e-6'),
    ]),
    ('geo-helmert-rotation-sign', 'sign in the Helmert rotation matrix', [
        ('geodesy/geodesy.cpp',
         'p.r12 = cg * sb * sa + sg * ca;',
         'p.r12 = cg * sb * sa - sg * ca;'),
    ]),
    ('geo-helmert-ppm', 'Helmert scale read in the wrong unit', [
        ('geodesy/geodesy.cpp',
         'kPpm = 1e-6;',
         'kPpm = 1e-7;'),
    ]),
    ('geo-geocentric-height', 'height subtracted in Z of BLHToXYZ', [
        ('geodesy/geodesy.cpp',
         '((1 - e2) * N + h) * sinB',
         '((1 - e2) * N - h) * sinB'),
    ]),
    ('geo-arcsin-end', 'arcsine of 1 wrong', [
        ('geodesy/geodesy.cpp',
         'if (x == 1.0) return kHalfPi;',
         'if (x == 1.0) return kQuarterPi;'),
    ]),
    ('geo-division-check-skipped', 'division by zero not checked', [
        ('geodesy/geodesy.cpp',
         'if (d == 0) [[unlikely]]',
         'if (d == 0 && d != 0) [[unlikely]]'),
    ]),
    ('geo-sqrt-check-weakened', 'square root of a small negative number not refused', [
        ('geodesy/geodesy.cpp',
         'if (x < 0) [[unlikely]]',
         'if (x < -1) [[unlikely]]'),
    ]),
    ('geo-stale-flags-reported', 'flags left by other code reported as faults', [
        ('geodesy/geodesy.cpp',
         'inline void ResetFaultFlags() {\n  if (PendingFaultFlags() != 0) [[unlikely]]',
         'inline void ResetFaultFlags() {\n  if (PendingFaultFlags() == -1) [[unlikely]]'),
    ]),
    # ------------------------------------------------------------ point chain
    ('chain-gk-false-easting', 'GK input without the false easting', [
        ('geodesy/point_chain.cpp',
         'second = (second - Div(L0, kGKZoneWidth) * kMillion) - kFalseEasting;',
         'second = second - Div(L0, kGKZoneWidth) * kMillion;'),
    ]),
    ('chain-utm-northing-scale', 'UTM output northing not scaled', [
        ('geodesy/point_chain.cpp',
         'g[0] = k * g[0];',
         'g[0] = g[0];'),
    ]),
    ('chain-utm-input-scale-option', 'UTM input scaled by the output scale option', [
        ('geodesy/point_chain.cpp',
         'const double k = c.o[opt::kUTMma]();',
         'const double k = c.o[opt::kUTMma2]();'),
        ('geodesy/point_chain.cpp',
         'kInputOptions{opt::kGKBM,      opt::kUTMBM,      opt::kUTMma,',
         'kInputOptions{opt::kGKBM,      opt::kUTMBM,      opt::kUTMma2,'),
    ]),
    ('chain-output-meridian-option', 'GK output on the input meridian', [
        ('geodesy/point_chain.cpp',
         'const double L0 = c.o[opt::kGKBM2]();',
         'const double L0 = c.o[opt::kGKBM]();'),
    ]),
    ('chain-krovak-input-order', 'Krovak input values in the wrong order', [
        ('geodesy/point_chain.cpp',
         'if (first < second) std::swap(first, second);',
         'if (first > second) std::swap(first, second);'),
    ]),
    ('chain-krovak-output-sign', 'Krovak output with a wrong sign', [
        ('geodesy/point_chain.cpp',
         'r.values = {-first, -second, 0};',
         'r.values = {first, -second, 0};'),
    ]),
    ('chain-gk-general-northing', 'false northing of GK-general input added', [
        ('geodesy/point_chain.cpp',
         'first = first - c.o[opt::kINnorthing]();',
         'first = first + c.o[opt::kINnorthing]();'),
        ('geodesy/point_chain.cpp',
         'first = first - c.o[o.northing]();',
         'first = first + c.o[o.northing]();'),
    ]),
    ('chain-ell-output-order', 'geographic output with latitude first', [
        ('geodesy/point_chain.cpp',
         'r.values = {lon, lat, W[2]};',
         'r.values = {lat, lon, W[2]};'),
    ]),
    ('chain-second-set-skipped', 'second seven-parameter set not applied', [
        ('geodesy/point_chain.cpp',
         'W = geotra::SevenParTrans(c.Set2(), W[0], W[1], W[2]);',
         '(void)c.Set2();'),
    ]),
    ('chain-stale-settings', 'changed settings not converted again', [
        ('geodesy/point_chain.cpp',
         'if (c.revision != session.revision()) c.Refresh(session);',
         'if (c.revision == 0) c.Refresh(session);'),
    ]),
    ('chain-stale-parameter-set', 'a changed first parameter set keeps its old prepared form', [
        ('geodesy/point_chain.cpp',
         'krovak2.ready = set1.ready = set2.ready = false;',
         'krovak2.ready = set2.ready = false;'),
    ]),
    ('chain-finite-check-skipped', 'infinite results not refused', [
        ('geodesy/point_chain.cpp',
         'for (std::size_t i = 0; i < r.size; ++i) Finite(r.values[i]);',
         'for (std::size_t i = 0; i < r.size; ++i) Finite(0);'),
    ]),
    ('chain-translation-height', 'height shifted by the wrong translation', [
        ('geodesy/point_chain.cpp',
         'height = height + c.dh();',
         'height = height + c.dy();'),
    ]),
    ('chain-no-event-pass', 'no event pass after a point (no cancel, no progress)', [
        ('geodesy/point_chain.cpp',
         'session.frontEnd().ProcessEvents();',
         '(void)session;'),
    ]),
    ('chain-group-order', 'a group of points given the results of other points', [
        ('geodesy/point_chain.cpp',
         'pts[k].result = state[k].r;',
         'pts[k].result = state[group - 1 - k].r;'),
    ]),
    ('chain-group-fallback-swap', 'a group that fails redone with its values swapped', [
        ('geodesy/point_chain.cpp',
         'TransformPoint(session, pts[k].first, pts[k].second, pts[k].height)',
         'TransformPoint(session, pts[k].second, pts[k].first, pts[k].height)'),
    ]),
    ('ascii-group-read-failure-line', 'a line that cannot be read in a group named by the next line number', [
        ('formats/ascii_file.cpp',
         'fail(failure, b.firstLine + static_cast<long>(i + read), lines[read].text);',
         'fail(failure, b.firstLine + static_cast<long>(i + read + 1), lines[read].text);'),
    ]),
    ('shp-group-failure-vertex', 'a failing vertex on a worker named by the first of its group', [
        ('formats/shapefile_run.cpp',
         'k0 + k + static_cast<std::int64_t>(std::min(done, group - 1))',
         'k0 + k'),
    ]),
    # ------------------------------------------------------------ numbers, files
    ('num-decimal-comma', 'a decimal comma not read', [
        ('core/numtext.cpp',
         "buf[sepPos - mantissaStart] = '.';",
         "buf[sepPos - mantissaStart] = ',';"),
    ]),
    ('num-overflow-number', 'overflow reported as type mismatch', [
        ('core/numtext.cpp',
         'if (magnitude > 0) return errnum::kOverflow;',
         'if (magnitude > 0) return errnum::kTypeMismatch;'),
    ]),
    ('num-digits-written', 'numbers written with 17 instead of 15 digits', [
        ('core/numtext.cpp',
         'std::chars_format::general, 15);',
         'std::chars_format::general, 17);'),
        ('core/numtext.cpp',  # the numbers written without the fast formatter
         'std::chars_format::general,\n                                  kDigits).ptr;',
         'std::chars_format::general,\n                                  kDigits + 2).ptr;'),
    ]),
    ('num-rounding-ties', 'ties of the 15-digit rounding away from zero, not to even', [
        ('core/numtext.cpp',
         '(remainder == half && (digits & 1) != 0)',
         '(remainder == half)'),
        ('core/numtext.cpp',
         '(scaled + (half - 1) + (digits & 1)) >> shift',
         '(scaled + half) >> shift'),
    ]),
    ('num-lane-digit-value', 'eight digits read at once with the wrong weight of their pairs', [
        ('core/numtext.cpp',
         'w = w * 10 + (w >> kLaneBits);',
         'w = w * 10 + (w >> 16);'),
    ]),
    ('ascii-line-end-lanes', 'line ends searched sixteen bytes at a time miss the line feed', [
        ('formats/ascii_file.cpp',
         "lf = _mm_set1_epi8('\\n')",
         "lf = _mm_set1_epi8('\\r')"),
    ]),
    ('num-locale-order', 'decimal sign from the environment in the wrong order', [
        ('core/numtext.cpp',
         '{"LC_ALL", "LC_NUMERIC", "LANG"}',
         '{"LC_NUMERIC", "LC_ALL", "LANG"}'),
    ]),
    ('io-missing-folder-number', 'missing folder and missing file swapped (76/53)', [
        ('core/fileio.cpp',
         '? errnum::kPathNotFound\n                   : errnum::kFileNotFound;',
         '? errnum::kFileNotFound\n                   : errnum::kPathNotFound;'),
    ]),
    ('io-disk-full-number', 'a full disk reported as an I/O error', [
        ('core/fileio.cpp',
         'case EFBIG: number = errnum::kDiskFull; break;',
         'case EFBIG: number = errnum::kIoError; break;'),
    ]),
    ('io-crlf-across-blocks', 'CR LF split across two read blocks read as two line ends', [
        ('core/fileio.cpp',
         "if (c == '\\r' && !AtEnd() && buf_[pos_] == '\\n') ++pos_;",
         "if (c == '\\r' && pos_ < end_ && buf_[pos_] == '\\n') ++pos_;"),
        ('core/fileio.cpp',
         "if (c == '\\r' && !AtEnd() && buf_[pos_] == '\\n') {",
         "if (c == '\\r' && pos_ < end_ && buf_[pos_] == '\\n') {"),
    ]),
    ('io-committed-not-counted', 'bytes that reached the file not counted', [
        ('core/fileio.cpp',
         'committed_ += n;',
         ''),
    ]),
    # ------------------------------------------------------------ ASCII driver
    ('ascii-error-number', 'a line with one field gives the wrong error number', [
        ('formats/ascii_file.cpp',
         'if (count < 2) throw RunTimeError(errnum::kOutOfRange);',
         'if (count < 2) throw RunTimeError(errnum::kTypeMismatch);'),
        ('formats/ascii_layout.cpp',
         'return AsciiFieldError(errnum::kOutOfRange, AsciiFieldError::Problem::kMissing,',
         'return AsciiFieldError(errnum::kTypeMismatch, AsciiFieldError::Problem::kMissing,'),
    ]),
    ('ascii-height-ignored', 'the third field of a line is not read', [
        ('formats/ascii_file.cpp',
         'count >= 3 ? ParseNumber(fields[2]) : 0',
         'count > 3 ? ParseNumber(fields[2]) : 0'),
        ('formats/ascii_layout.cpp',
         '  for (int k = 0; k < 3; ++k) {\n    if (!complete(k)) throw LineTooLong();',
         '  for (int k = 0; k < 2; ++k) {\n    if (!complete(k)) throw LineTooLong();'),
    ]),
    ('ascii-bom-kept', 'a UTF-8 byte order mark stops the run', [
        ('formats/ascii_file.cpp',
         'if (line.starts_with(kUtf8Bom)) line.erase(0, kUtf8Bom.size());',
         ''),
        ('formats/ascii_file.cpp',
         'if (line.starts_with(kUtf8Bom)) {',
         'if (line.starts_with(kUtf8Bom) && lineNo < 1) {'),
    ]),
    ('ascii-no-truncation', 'a piece of a lost block stays in the target', [
        ('formats/ascii_file.cpp',
         'std::filesystem::resize_file(target.path(), progress.committed, ec);',
         ''),
    ]),
    ('ascii-line-number', 'the message names the line before the bad one', [
        ('formats/ascii_file.cpp',
         'msg += std::to_string(lineNo);',
         'msg += std::to_string(lineNo - 1);'),
    ]),
    ('ascii-height-from-result', 'the height written from the wrong value', [
        ('formats/ascii_file.cpp',
         'AppendNumber(out, height, sign);',
         'AppendNumber(out, r[2], sign);'),
        ('formats/ascii_layout.cpp',
         'end = WriteNumber(end, height, sign);',
         'end = WriteNumber(end, r[2], sign);'),
        ('formats/ascii_layout.cpp',
         'AppendNumber(out, height, sign);',
         'AppendNumber(out, r[2], sign);'),
        ('formats/ascii_layout.cpp',
         'end = WriteNumber(end, height, sign);',
         'end = WriteNumber(end, r[2], sign);'),
    ]),
    ('ascii-long-height-check', 'a height cut at the line limit is read', [
        ('formats/ascii_file.cpp',
         'if (!complete(2)) throw LineTooLong();',
         ''),
        ('formats/ascii_layout.cpp',
         'if (!complete(k)) throw LineTooLong();',
         'if (!complete(k) && k < 2) throw LineTooLong();'),
    ]),
    # ------------------------------------------------------------ shapefiles
    ('shp-box-wrong-coordinate', 'box built from the wrong coordinate', [
        ('formats/shapefile_format.hpp',
         'ymin = std::min(ymin, y);',
         'ymin = std::min(ymin, x);'),
    ]),
    ('shp-bytes-after-points', 'bytes of a record behind its points not copied', [
        ('formats/shapefile_run.cpp',
         'CopyRange(shpIn_, shpOut_, R + pointsEnd, size - pointsEnd);',
         ''),
        ('formats/shapefile_format.cpp',
         'CopyRange(in, out, r.at, r.size, s.xy);',
         'CopyRange(in, out, r.at, r.shape != nullptr ? r.valuesEnd : r.size, s.xy);'),
    ]),
    ('shp-part-start-bound', 'a part starting at NumPoints accepted', [
        ('formats/shapefile_run.cpp',
         'start >= std::max<std::int64_t>(numPoints, 1)',
         'start > std::max<std::int64_t>(numPoints, 1)'),
        ('formats/shapefile_format.cpp',
         'start >= std::max<std::int64_t>(r.numPoints, 1)',
         'start > std::max<std::int64_t>(r.numPoints, 1)'),
    ]),
    ('shp-no-final-truncation', 'a longer old main file keeps its tail', [
        ('formats/shapefile_run.cpp',
         'shpOut_.Truncate(shpLength_);',
         ''),
        ('formats/shapefile_run.cpp',
         'shpOut_.Truncate(reader_.shpLength());',
         ''),
    ]),
    ('shp-not-emptied', 'the old main file not emptied before writing', [
        ('formats/shapefile_run.cpp',
         'shpOut_.Truncate(0);',
         ''),
    ]),
    ('shp-corner-box', 'the box of a record without vertices from the wrong corner', [
        ('formats/shapefile_run.cpp',
         'y2 = LoadLEDouble(source + 24);',
         'y2 = LoadLEDouble(source + 8);'),
        ('formats/shapefile_format.cpp',
         'double y[2] = {LoadLEDouble(box + 8), LoadLEDouble(box + 24)};',
         'double y[2] = {LoadLEDouble(box + 8), LoadLEDouble(box + 8)};'),
    ]),
    ('shp-index-box', "the index keeps the source's header box", [
        ('formats/shapefile_run.cpp',
         'shxOut_.WriteAt(kHeaderBox, bytes, sizeof bytes);',
         ''),
    ]),
    ('shp-file-box-union', 'poly records left out of the header box', [
        ('formats/shapefile_run.cpp',
         'fileBox_.Add(box);',
         ''),
        ('formats/shapefile_run.cpp',
         'fileExtent_.xy.Add(e.xy);',
         ''),
    ]),
    ('shp-point-size-check', 'a point record too short for its point accepted', [
        ('formats/shapefile_run.cpp',
         'if (size < kRecPointEnd) {',
         'if (size < kRecPointX) {'),
        ('formats/shapefile_format.cpp',
         'if (size < end) return tooShort(t.z',
         'if (size < end - kPointBytes) return tooShort(t.z'),
    ]),
    ('shp-negative-count-check', 'a negative number of points accepted', [
        ('formats/shapefile_run.cpp',
         'if (numParts < 0 || numPoints < 0) {',
         'if (numParts < 0) {'),
        ('formats/shapefile_format.cpp',
         'if (r.numParts < 0 || r.numPoints < 0) {',
         'if (r.numParts < 0) {'),
    ]),
    ('shp-record-end-check', 'a record reaching past the end of the file not refused', [
        ('formats/shapefile_run.cpp',
         'if (content < 0 || R + size > shpLength_) {',
         'if (content < 0) {'),
        ('formats/shapefile_format.cpp',
         'if (content < 0 || R + size > shpLength_) {',
         'if (content < 0) {'),
    ]),
    ('shp-record-type-check', "a record of another layout than the file's transformed", [
        ('formats/shapefile_run.cpp',
         'if (!fits) {',
         'if (fits && !fits) {'),
        ('formats/shapefile_format.cpp',
         'if (own == nullptr || !SameLayout(*own, *type_)) {',
         'if (own == nullptr) {'),
    ]),
    ('shp-index-in-words', 'index offsets read as bytes instead of words', [
        ('formats/shapefile_run.cpp',
         'const std::int64_t R = 2 * words;',
         'const std::int64_t R = words;'),
        ('formats/shapefile_format.cpp',
         'const std::int64_t R = 2 * words;',
         'const std::int64_t R = words;'),
    ]),
    ('shp-header-offset-check', 'an index entry pointing into the header not refused', [
        ('formats/shapefile_run.cpp',
         'if (R < kHeaderBytes || R + kRecordHeadBytes > shpLength_) {',
         'if (R + kRecordHeadBytes > shpLength_) {'),
        ('formats/shapefile_format.cpp',
         'if (R < kHeaderBytes || R + kRecordHeadBytes > shpLength_) {',
         'if (R + kRecordHeadBytes > shpLength_) {'),
    ]),
    ('shp-header-length-check', 'a header length beyond the file not refused', [
        ('formats/shapefile_run.cpp',
         'if (length > it.file->size()) {',
         'if (length > it.file->size() + 8) {'),
        ('formats/shapefile_format.cpp',
         'if (length > it.file->size()) {',
         'if (length > it.file->size() + 8) {'),
    ]),
    ('shp-dbf-not-replaced', 'an existing attribute table not replaced', [
        ('formats/shapefile_run.cpp',
         'fs::copy_options::overwrite_existing, ec);',
         'fs::copy_options::skip_existing, ec);'),
    ]),
    ('shp-dbf-kept-on-failure', 'the copied attribute table stays after a failure', [
        ('formats/shapefile_run.cpp',
         'std::string failures;\n  for (const Target* t : {&tShx_, &tShp_, &tDbf_}) {',
         'std::string failures;\n  for (const Target* t : {&tShx_, &tShp_}) {'),
        ('formats/shapefile_run.cpp',
         'std::string failures;\n  for (const Target* t : {&tShx_, &tShp_, &tDbf_, &tPrj_, &tCpg_}) {',
         'std::string failures;\n  for (const Target* t : {&tShx_, &tShp_, &tPrj_, &tCpg_}) {'),
    ]),
    ('shp-overwrite-question', 'the overwrite answer inverted', [
        ('formats/shapefile_run.cpp',
         'if (target.existed && !Ask(',
         'if (target.existed && Ask('),
    ]),
    ('shp-read-only-question', 'the read-only question asked for the wrong files', [
        ('formats/shapefile_run.cpp',
         'if (IsReadOnly(dbf) &&',
         'if (!IsReadOnly(dbf) &&'),
    ]),
    ('shp-null-record', 'null records not copied', [
        ('formats/shapefile_run.cpp',
         'if (recordType == kShapeNull) {',
         'if (recordType == kShapeNull && shapeType_ == 0) {'),
        ('formats/shapefile_format.cpp',
         'CopyRange(in, out, r.at, r.size, s.xy);\n  if (r.shape == nullptr) return ext;',
         'if (r.shape == nullptr) return ext;\n  CopyRange(in, out, r.at, r.size, s.xy);'),
    ]),
    ('shp-vertex-loop-bound', 'one vertex per chunk left untransformed', [
        ('formats/shapefile_run.cpp',
         'const std::int64_t n = std::min(kVertexChunk, numPoints - k0);',
         'const std::int64_t n = std::min(kVertexChunk - 1, numPoints - k0);'),
        ('formats/shapefile_format.cpp',
         'const std::int64_t n = std::min(chunk, r.numPoints - k0);',
         'const std::int64_t n = std::min(chunk - 1, r.numPoints - k0);'),
    ]),
    ('shp-cancel-ignored', 'Cancel only seen at the end of the run', [
        ('formats/shapefile_run.cpp',
         'if (s_.CancelRequested) throw CancelledRun{};',
         ''),
    ]),
    ('shp-vanished-target', 'a target deleted during the run reported as success', [
        ('formats/shapefile_run.cpp',
         'if (f->Vanished()) {',
         'if (f->Vanished() && f->size() < 0) {'),
    ]),
    ('shp-identity-in-driver', 'the driver does not refuse a target naming the source', [
        ('formats/shapefile_run.cpp',
         'if (SameShapefile(t.txtQuelldatei, t.txtZielDatei)) throw ShapeFailure(kMsgIdentical);',
         ''),
    ]),
    # ------------------------------------------------------------ properties
    ('par-group-not-cleared', 'a True option button leaves the others of its group set', [
        ('paramfiles/properties.cpp',
         'for (const FlagField f : def.group) settings.*f = false;',
         ''),
    ]),
    ('par-quote-not-doubled', 'quotes inside a text not doubled when saving', [
        ('paramfiles/properties.cpp',
         'if (c == \'"\') out += \'"\';',
         ''),
    ]),
    ('par-check-state-bound', 'a check-box state of 3 accepted', [
        ('paramfiles/properties.cpp',
         'value < 0 || value > kMaxCheckState)',
         'value < 0 || value > kMaxCheckState + 1)'),
    ]),
    ('par-short-file-number', 'a short file reported with the wrong number', [
        ('paramfiles/properties.cpp',
         'throw PropertiesError(errnum::kPastEndOfFile, lineNo,',
         'throw PropertiesError(errnum::kIoError, lineNo,'),
    ]),
    ('par-line-mapping', 'line 7 stored into the wrong setting', [
        ('paramfiles/properties.cpp',
         'flag("optInBL", &Settings::optInBL, kInputGroup);',
         'flag("optInBL", &Settings::optINetrs, kInputGroup);'),
    ]),
    ('par-encoding-by-last-line', 'the encoding decided by the last line only', [
        ('paramfiles/properties.cpp',
         'utf8 = utf8 && IsValidUtf8(l);',
         'utf8 = IsValidUtf8(l);'),
    ]),
    ('par-save-check-skipped', 'a check-box state that cannot be read back saved', [
        ('paramfiles/properties.cpp',
         "if (v.size() != 1 || v[0] < '0' || v[0] > '0' + kMaxCheckState) {",
         'if (v.size() != 1) {'),
    ]),
    ('par-failed-line-assigned', 'a text line that fails is assigned anyway', [
        ('paramfiles/properties.cpp',
         'if (r.number == 0) settings.*def.text = std::move(value);',
         'settings.*def.text = std::move(value);'),
    ]),
    ('par-bom-kept', 'a byte order mark makes line 1 unreadable', [
        ('paramfiles/properties.cpp',
         'lines.front().erase(0, kUtf8Bom.size());',
         ''),
    ]),
    ('set-doubled-quote', 'a doubled quote ends the text', [
        ('paramfiles/paramsets.cpp',
         'if (pos_ < line_.size() && line_[pos_] == \'"\') {',
         'if (pos_ < line_.size() && line_[pos_] == \'"\' && pos_ == 0) {'),
    ]),
    ('set-number-ends-at-comma', 'a number does not end at a comma', [
        ('paramfiles/paramsets.cpp',
         "while (end < line_.size() && line_[end] != ',' && !IsBlank(line_[end])) ++end;",
         'while (end < line_.size() && !IsBlank(line_[end])) ++end;'),
    ]),
    ('set-number-check-skipped', 'a value that is no number read as 0', [
        ('paramfiles/paramsets.cpp',
         'if (token.empty() || TryParseNumber(token, value) != 0) return false;',
         'if (token.empty()) return false;'),
    ]),
    ('set-name-into-wrong-set', 'the name of a parameter set goes to the other set', [
        ('paramfiles/paramsets.cpp',
         '(set == 2 ? settings.txtsevenParSys2 : settings.txtsevenParSys) = par.name;',
         '(set == 1 ? settings.txtsevenParSys2 : settings.txtsevenParSys) = par.name;'),
    ]),
    ('set-ellipsoid-group', 'the eccentricity of ellipsoid 2 goes to ellipsoid 1', [
        ('paramfiles/paramsets.cpp',
         'settings.txtEll2e = FormatNumber(ell.e, decimalSign);',
         'settings.txtEll1e = FormatNumber(ell.e, decimalSign);'),
    ]),
    ('enc-windows1252-range', 'the last byte of the Windows-1252 table converted as Latin-1', [
        ('paramfiles/encoding.cpp',
         '} else if (c < 0xA0) {',
         '} else if (c < 0x9F) {'),
    ]),
    # ------------------------------------------------------------ job start
    ('job-axis-bound', 'the lower bound of the semi-major axis allowed', [
        ('job/job_start.cpp',
         'a > kMinSemiMajorAxis && a < kMaxSemiMajorAxis',
         'a >= kMinSemiMajorAxis && a < kMaxSemiMajorAxis'),
    ]),
    ('job-ellipsoid2-check-skipped', 'ellipsoid 2 not checked', [
        ('job/job_start.cpp',
         'if (!EllipsoidInRange(t.txtEll2a, t.txtEll2e)) {',
         'if (t.txtEll2a.empty()) {'),
        ('job/job_start.cpp',
         'if (!EllipsoidInRange(t.txtEll2a, t.txtEll2e)) return kMsgEllipsoid2;',
         'if (t.txtEll2a.empty()) return kMsgEllipsoid2;'),
    ]),
    ('job-meridian-coeffs-ellipsoid1', 'meridian-arc coefficients of the input ellipsoid', [
        ('job/job_start.cpp',
         'geotra::MeridianArcCoeffs(ParseNumber(t.txtEll2a), ParseNumber(t.txtEll2e));',
         'geotra::MeridianArcCoeffs(ParseNumber(t.txtEll1a), ParseNumber(t.txtEll1e));'),
    ]),
    ('job-shapefile-identity', 'two names of one shapefile not refused by the job start', [
        ('job/job_start.cpp',
         'if (t.optSHP) return SameShapefile(t.txtQuelldatei, t.txtZielDatei);',
         ''),
    ]),
    ('job-no-touch', 'a new job keeps the settings converted for the last one', [
        ('job/job_start.cpp',
         '  session.Touch();\n',
         ''),
    ]),
    ('job-log-replaced', 'the elapsed time replaces the log', [
        ('job/job_start.cpp',
         'session.AppendLog("vergangene Zeit in s "',
         'session.SetLog("vergangene Zeit in s "'),
    ]),
    ('job-last-field-unchecked', 'the last parameter not checked', [
        ('job/job_start.cpp',
         '&t.txtP2_6,  &t.txtP2_7};',
         '&t.txtP2_6};'),
    ]),
    ('job-translation-check', 'the height shift not checked', [
        ('job/job_start.cpp',
         '{&t.txtDX, &t.txtDY, &t.txtDH}',
         '{&t.txtDX, &t.txtDY}'),
    ]),
    # ------------------------------------------------------------ batch tool
    ('cli-output-names', '--out GK-general and UTM swapped', [
        ('cli/main.cpp',
         '&t.optOutGKallgemein, &t.optOUTetrs,',
         '&t.optOUTetrs, &t.optOutGKallgemein,'),
    ]),
    ('cli-input-names', '--in Krovak and Ell swapped', [
        ('cli/main.cpp',
         '&t.optInKrovak, &t.optInBL};',
         '&t.optInBL, &t.optInKrovak};'),
    ]),
    ('cli-input-gk-names', '--in GK-Germ and GK-general swapped', [
        ('cli/main.cpp',
         'bool* in[] = {&t.optInGK, &t.optINGKallgemein,',
         'bool* in[] = {&t.optINGKallgemein, &t.optInGK,'),
    ]),
    ('cli-output-krovak-ell', '--out Krovak and Ell swapped', [
        ('cli/main.cpp',
         '&t.optOutKrovak, &t.optOutBL};',
         '&t.optOutBL, &t.optOutKrovak};'),
    ]),
    ('cli-name-table', 'UTM and Krovak names swapped in both directions', [
        ('cli/main.cpp',
         '{"gk-germ", "gk-general", "utm", "krovak", "ell"}',
         '{"gk-germ", "gk-general", "krovak", "utm", "ell"}'),
    ]),
    ('cli-type-upper-case', 'an upper-case .SHP not taken as a shapefile', [
        ('cli/main.cpp',
         'std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });',
         ''),
    ]),
    ('cli-exit-status', 'a stopped job exits with 0', [
        ('cli/main.cpp',
         'return outcome == JobOutcome::kDone ? kExitOk : kExitJobStopped;',
         'return kExitOk;'),
        ('cli/main.cpp',
         'if (!j.done) return kExitJobStopped;',
         'if (!j.done) return kExitOk;'),
    ]),
    ('cli-translation-mode', '--translation leaves the seven-parameter mode on', [
        ('cli/main.cpp',
         '      t.optSevPar = false;\n',
         ''),
        ('cli/main.cpp',
         '          r.t.optSevPar = false;\n',
         ''),
    ]),
    ('cli-ellipsoid-group', '--ell1 and --ell2 swapped', [
        ('cli/main.cpp',
         'a == "--ell1" ? 1 : 2',
         'a == "--ell2" ? 1 : 2'),
        ('cli/main.cpp',
         'LoadEllipsoidFile(LibraryFile(v[0], ".ell"), r.t, k,',
         'LoadEllipsoidFile(LibraryFile(v[0], ".ell"), r.t, 3 - k,'),
    ]),
]


def run(cmd, cwd=None, env=None, timeout=None, quiet=True):
    return subprocess.run(cmd, cwd=cwd, env=env, timeout=timeout, text=True, errors="replace",
                          stdout=subprocess.PIPE if quiet else None,
                          stderr=subprocess.STDOUT if quiet else None)


def prepare_tree(repo, rev, work):
    """Unpacks `rev` into work/src once; returns (src, build, sha)."""
    sha = run(["git", "-C", repo, "rev-parse", "--verify", rev + "^{commit}"]).stdout.strip()
    if not re.fullmatch(r"[0-9a-f]{40}", sha):
        sys.exit(f"inject_faults: unknown revision {rev}")
    base = os.path.join(work, sha[:12])
    # The build folder inside the tree, as `make` has it: the programs find
    # the shipped library beside it.
    src = os.path.join(base, "src")
    build = os.path.join(src, "build")
    if not os.path.exists(os.path.join(base, ".unpacked")):
        shutil.rmtree(src, ignore_errors=True)
        os.makedirs(src)
        archive = subprocess.Popen(["git", "-C", repo, "archive", sha], stdout=subprocess.PIPE)
        subprocess.run(["tar", "-x", "-C", src], stdin=archive.stdout, check=True)
        if archive.wait() != 0:
            sys.exit("inject_faults: git archive failed")
        open(os.path.join(base, ".unpacked"), "w").close()
    return src, build, sha


def build_env(work):
    env = dict(os.environ)
    env["CMAKE_CXX_COMPILER_LAUNCHER"] = "ccache"
    env["CCACHE_BASEDIR"] = work
    env["CCACHE_NOHASHDIR"] = "1"
    return env


def build(src, build_dir, env, jobs):
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        r = run(["cmake", "-S", src, "-B", build_dir, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
                 "-DPELMO_BUILD_UI=OFF"], env=env)
        if r.returncode != 0:
            return False, r.stdout
    r = run(["cmake", "--build", build_dir, "-j", str(jobs), "--target", "pelmo-cli",
             "pelmo_engine_tests"], env=env)
    return r.returncode == 0, r.stdout


def run_tests(build_dir, timeout, gtest_filter=""):
    """Runs the engine tests; returns (passed, failing test names, timed out)."""
    env = dict(os.environ, LC_ALL="C")
    try:
        r = run([os.path.join(build_dir, "pelmo_engine_tests"), "--gtest_brief=1"] +
                ([f"--gtest_filter={gtest_filter}"] if gtest_filter else []),
                cwd=build_dir, env=env, timeout=timeout)
    except subprocess.TimeoutExpired:
        return False, [], True
    failed = sorted(set(re.findall(r"^\[  FAILED  \] ([\w/.]+)", r.stdout, re.M)))
    if r.returncode != 0 and not failed:
        failed = [f"(exit {r.returncode})"]
    return r.returncode == 0, failed, False


def main():
    parser = argparse.ArgumentParser(
        prog="tools/inject_faults.sh",
        description="Injects each fault of the list alone into a scratch copy of REV and "
                    "reports which the engine tests catch.")
    parser.add_argument("rev", nargs="?", default="HEAD",
                        help="git revision whose code and tests are used (default HEAD)")
    parser.add_argument("--only", help="comma-separated fault names (or name prefixes)")
    parser.add_argument("--list", action="store_true",
                        help="list the faults, each with whether its text is found once in REV, and exit")
    parser.add_argument("--filter", default="",
                        help="GoogleTest filter of the engine tests to run (default all), "
                             "e.g. '-Estimate.*' to leave a suite out")
    parser.add_argument("--work", default=os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                                       "pelmo-faults"),
                        help="scratch folder (kept between runs; default $TMPDIR/pelmo-faults)")
    parser.add_argument("--jobs", type=int, default=2, help="build jobs (default 2)")
    parser.add_argument("--timeout", type=int, default=300,
                        help="seconds a test run may take before it counts as caught")
    parser.add_argument("--output", help="also write the results (tab-separated) to this file")
    args = parser.parse_args()

    faults = FAULTS
    if args.only:
        wanted = args.only.split(",")
        faults = [f for f in FAULTS if any(f[0].startswith(w) for w in wanted)]
    repo = run(["git", "rev-parse", "--show-toplevel"]).stdout.strip()
    if args.list:
        texts = {}
        for name, what, spellings in faults:
            found, where = "n/a", spellings[0][0]
            for k, (path, old, _) in enumerate(spellings):
                if path not in texts:
                    texts[path] = run(["git", "-C", repo, "show", f"{args.rev}:{path}"]).stdout
                if texts[path].count(old) == 1:
                    found, where = f"#{k + 1}", path
                    break
            print(f"{name:34} {found:4} {where:28} {what}")
        return 0

    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    src, build_dir, sha = prepare_tree(repo, args.rev, work)
    # A run stopped while a fault was applied left the faulted file: restore it
    # (with a new time, so that it is built again).
    marker = os.path.join(os.path.dirname(src), ".faulted")
    if os.path.exists(marker):
        path = open(marker, encoding="utf-8").read()
        text = run(["git", "-C", repo, "show", f"{sha}:{path}"]).stdout
        with open(os.path.join(src, path), "w", encoding="utf-8") as f:
            f.write(text)
        os.remove(marker)
        print(f"restored {path}, left faulted by a stopped run", flush=True)
    env = build_env(work)
    print(f"revision {args.rev} ({sha[:12]}), tree {src}", flush=True)

    ok, log = build(src, build_dir, env, args.jobs)
    if not ok:
        print(log)
        sys.exit("inject_faults: the unchanged tree does not build")
    passed, failed, _ = run_tests(build_dir, args.timeout, args.filter)
    if not passed:
        sys.exit("inject_faults: the engine tests fail without a fault: " + ", ".join(failed))

    results = []
    start = time.time()
    for name, what, spellings in faults:
        path, old, new, original, count = spellings[0][0], "", "", None, 0
        for path, old, new in spellings:  # the first spelling found once in its file
            file = os.path.join(src, path)
            original = open(file, encoding="utf-8").read() if os.path.exists(file) else None
            count = original.count(old) if original is not None else 0
            if count == 1:
                break
        if count != 1:
            result, detail = "n/a", ("text not found" if count == 0 else f"text found {count} times")
        else:
            try:
                with open(marker, "w", encoding="utf-8") as f:
                    f.write(path)
                with open(file, "w", encoding="utf-8") as f:
                    f.write(original.replace(old, new))
                ok, _ = build(src, build_dir, env, args.jobs)
                if not ok:
                    result, detail = "n/a", "does not build"
                else:
                    passed, failed, timedOut = run_tests(build_dir, args.timeout, args.filter)
                    if timedOut:
                        result, detail = "caught", f"no end within {args.timeout} s"
                    elif passed:
                        result, detail = "missed", ""
                    else:
                        result, detail = "caught", f"{len(failed)} failing: " + " ".join(failed)
            finally:
                with open(file, "w", encoding="utf-8") as f:
                    f.write(original)
                os.remove(marker)
        results.append((name, path, result, detail, what))
        print(f"{result:7} {name:34} {detail[:110]}", flush=True)

    build(src, build_dir, env, args.jobs)  # leave the scratch build unfaulted
    counts = {k: sum(1 for r in results if r[2] == k) for k in ("caught", "missed", "n/a")}
    print(f"\n{len(results)} faults against {args.rev} ({sha[:12]}): {counts['caught']} caught, "
          f"{counts['missed']} missed, {counts['n/a']} not applicable "
          f"({time.time() - start:.0f} s)")
    for name, _, result, detail, what in results:
        if result == "missed":
            print(f"  missed: {name}: {what}")
    if args.output:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(f"# {args.rev} {sha}\n")
            for r in results:
                f.write("\t".join(r) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
