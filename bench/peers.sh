#!/bin/sh
# Runs one job with pictorix-batch and with the tools a user would pick instead, and
# prints each tool's wall time, CPU time (user + system) and peak memory (the largest
# resident set of any one process), with the ratio of its wall time to the codec floor.
#
#   bench/peers.sh [FOLDER]
#
# FOLDER holds the JPEG photographs to convert; without it the script generates
# PEERS_COUNT (default 12) photograph-like 4000 x 3000 pictures first.
#
# Jobs:
#   jpeg      every photo halved (linear / triangle filter), saved as JPEG quality 75;
#             the codec floor is djpeg of every source plus cjpeg -quality 75 of its
#             half-size picture, one after the other
#   png       the same photos as PNG, halved, saved as PNG (pictorix-batch at zlib level 6,
#             vips' default; ImageMagick and GraphicsMagick at their default, level 7)
#   tiff-pdf  the photos as TIFF, halved, saved as PDF (vips cannot write PDF)
#
# Environment: PICTORIX_BATCH (default: build/bin/pictorix-batch of this checkout),
# PEERS_JOBS (pictorix-batch --jobs, default: its own default), PEERS_REPEAT (runs per
# tool and job, default 3; the median wall time is shown), PEERS_JOBS_LIST (default
# "jpeg png tiff-pdf"), PEERS_WORK (scratch folder, default: a new temporary folder).
# Tools that are not installed are reported and skipped; Debian packages:
# libvips-tools, graphicsmagick, imagemagick, libjpeg-turbo-progs.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
batch=${PICTORIX_BATCH:-$here/../build/bin/pictorix-batch}
repeat=${PEERS_REPEAT:-3}
count=${PEERS_COUNT:-12}
jobs_list=${PEERS_JOBS_LIST:-"jpeg png tiff-pdf"}

die() { echo "peers.sh: $*" >&2; exit 2; }
have() { command -v "$1" >/dev/null 2>&1; }

[ -x "$batch" ] || die "pictorix-batch not found at $batch (build it, or set PICTORIX_BATCH)"
[ -x /usr/bin/time ] || [ -x "$(command -v time 2>/dev/null || true)" ] || die "GNU time is needed (Debian package time)"
timer=/usr/bin/time
[ -x "$timer" ] || die "GNU time is needed (Debian package time)"

# ImageMagick by its versioned name first, so that a wrapper named convert is bypassed.
im=""
for c in convert-im6.q16 magick convert; do
    if have "$c"; then im=$c; break; fi
done

work=${PEERS_WORK:-$(mktemp -d "${TMPDIR:-/tmp}/pictorix-peers.XXXXXX")}
mkdir -p "$work"
trap 'if [ -z "${PEERS_WORK:-}" ]; then rm -rf "$work"; fi' EXIT

# ---- Sources ----------------------------------------------------------------------------

src=$work/src
mkdir -p "$src"
if [ $# -ge 1 ]; then
    [ -d "$1" ] || die "$1 is not a folder"
    n=0
    for f in "$1"/*.jpg "$1"/*.JPG "$1"/*.jpeg "$1"/*.JPEG; do
        [ -f "$f" ] || continue
        n=$((n + 1))
        cp "$f" "$src/photo$(printf %03d $n).jpg"
    done
    [ "$n" -gt 0 ] || die "no JPEG files in $1"
else
    [ -n "$im" ] || die "generating pictures needs ImageMagick; give a folder of photographs instead"
    echo "Generating $count photograph-like 4000 x 3000 pictures ..."
    # One smooth, noisy base picture; every photo is a differently turned and tinted copy.
    "$im" -size 1000x750 plasma:fractal -blur 0x2 -resize 4000x3000! -attenuate 0.4 +noise Gaussian \
        -quality 92 "$work/base.jpg"
    i=1
    while [ "$i" -le "$count" ]; do
        case $((i % 4)) in
            0) op="-flop" ;; 1) op="-flip" ;; 2) op="-rotate 180" ;; *) op="-negate" ;;
        esac
        # shellcheck disable=SC2086
        "$im" "$work/base.jpg" $op -modulate 100,$((80 + i * 3)),$((90 + i * 2)) -quality 92 \
            "$src/photo$(printf %03d "$i").jpg"
        i=$((i + 1))
    done
fi

files=$(ls "$src"/*.jpg)
nfiles=$(echo "$files" | wc -l)
megapixels=""
if have identify-im6.q16 || have identify; then
    id=$(command -v identify-im6.q16 || command -v identify)
    megapixels=$("$id" -format "%w x %h" "$(echo "$files" | head -n 1)" 2>/dev/null || true)
fi
echo "Sources: $nfiles JPEG files${megapixels:+ of $megapixels}; $(nproc) cores; $repeat runs each, median wall time shown"

settings=$work/settings.ini
: >"$settings"
printf 'resize;50;50;percents;percents;both\n' >"$work/half.acf"

# ---- Measuring ----------------------------------------------------------------------------

# run NAME OUTDIR COMMAND...: runs COMMAND (in sh -c) $repeat times into a fresh OUTDIR and
# records "wall cpu peakKiB" of the median run in $result.
result=""
run() {
    name=$1 out=$2
    shift 2
    : >"$work/runs"
    r=1
    while [ "$r" -le "$repeat" ]; do
        rm -rf "$out" && mkdir -p "$out"
        if ! "$timer" -f "%e %U %S %M" -o "$work/time" sh -c "$*" >"$work/log" 2>&1; then
            echo "  $name failed:" >&2
            tail -n 5 "$work/log" >&2
            result="failed"
            return 0
        fi
        tail -n 1 "$work/time" >>"$work/runs"
        r=$((r + 1))
    done
    # Median by wall time; peak memory is the largest of all runs.
    peak=$(awk '{ if ($4 > m) m = $4 } END { print m }' "$work/runs")
    result=$(sort -n "$work/runs" | awk -v n="$repeat" -v peak="$peak" \
        'NR == int((n + 1) / 2) { printf "%.2f %.2f %d", $1, $2 + $3, peak }')
}

# row NAME FLOORWALL: prints the last result as a table row.
row() {
    if [ "$result" = "failed" ]; then
        printf '  %-34s %9s\n' "$1" "failed"
        return
    fi
    # shellcheck disable=SC2086
    set -- "$1" "$2" $result
    awk -v name="$1" -v floor="$2" -v wall="$3" -v cpu="$4" -v kib="$5" 'BEGIN {
        ratio = floor > 0 ? sprintf("%.2f", wall / floor) : "-"
        printf "  %-34s %9.2f %9.2f %10.1f %9s\n", name, wall, cpu, kib / 1024, ratio }'
}

header() {
    echo
    echo "$1"
    printf '  %-34s %9s %9s %10s %9s\n' "tool" "wall s" "cpu s" "peak MiB" "÷ floor"
}

skip() { printf '  %-34s %9s\n' "$1" "not installed ($2)"; }

jobs_opt=""
[ -n "${PEERS_JOBS:-}" ] && jobs_opt="--jobs $PEERS_JOBS"
batch_cmd() {  # FORMAT OUTDIR FILES
    echo "'$batch' --quiet $jobs_opt --settings '$settings' --set format.format=$1 --set format.jpegquality=75 \
--set format.pngquality=6 --set dest.dest=2 --set dest.folder='$2/' --set fileoptions.iffileexists=1 --actions '$work/half.acf' $3"
}

# peers GLOB EXT FORMAT FLOORWALL VIPSSUFFIX IMOPTIONS: runs every tool on the files of GLOB
# into files with extension EXT (pictorix-batch: output format index FORMAT). VIPSSUFFIX
# follows vips' output name ("-": vips cannot do this job).
peers() {
    pattern=$1 ext=$2 format=$3 floor=$4 vipsopt=$5 imopt=$6
    out=$work/out
    run "pictorix-batch" "$out" "$(batch_cmd "$format" "$out" "$pattern")"
    row "pictorix-batch${PEERS_JOBS:+ --jobs $PEERS_JOBS}" "$floor"
    if [ "$vipsopt" != "-" ]; then
        if have vips; then
            run vips "$out" "for f in $pattern; do b=\$(basename \"\$f\"); vips resize \"\$f\" \"$out/\${b%.*}.$ext$vipsopt\" 0.5 --kernel linear || exit 1; done"
            row "vips resize --kernel linear" "$floor"
        else
            skip "vips resize --kernel linear" libvips-tools
        fi
    fi
    if have gm; then
        # mogrify puts the input's path under -output-directory, so it gets bare names.
        run gm "$out" "cd '$(dirname "$pattern")' && gm mogrify -output-directory '$out' -format $ext \
-filter Triangle -resize 50% $imopt $(basename "$pattern")"
        row "gm mogrify -filter Triangle" "$floor"
    else
        skip "gm mogrify -filter Triangle" graphicsmagick
    fi
    if [ -n "$im" ]; then
        run convert "$out" "for f in $pattern; do b=\$(basename \"\$f\"); $im \"\$f\" -filter Triangle -resize 50% $imopt \"$out/\${b%.*}.$ext\" || exit 1; done"
        row "ImageMagick convert -filter Triangle" "$floor"
    else
        skip "ImageMagick convert -filter Triangle" imagemagick
    fi
}

for job in $jobs_list; do
    case $job in
    jpeg)
        header "JPEG -> resize 50 % -> JPEG quality 75"
        floor=0
        if have djpeg && have cjpeg; then
            # The half-size pictures that cjpeg encodes are made beforehand, untimed.
            mkdir -p "$work/half"
            for f in $files; do
                b=$(basename "$f" .jpg)
                djpeg -scale 1/2 -outfile "$work/half/$b.ppm" "$f"
            done
            run "codec floor" "$work/out" "for f in $src/*.jpg; do djpeg -outfile /dev/null \"\$f\" || exit 1; done; \
for f in $work/half/*.ppm; do cjpeg -quality 75 -outfile $work/out/\$(basename \"\$f\" .ppm).jpg \"\$f\" || exit 1; done"
            floor=$(echo "$result" | awk '{ print $1 }')
            row "codec floor (djpeg + cjpeg)" "$floor"
            rm -rf "$work/half"
        else
            skip "codec floor (djpeg + cjpeg)" libjpeg-turbo-progs
        fi
        peers "$src/*.jpg" jpg 1 "$floor" "[Q=75]" "-quality 75"
        ;;
    png)
        mkdir -p "$work/png"
        "$batch" --quiet --settings "$settings" --set format.format=2 --set format.pngquality=6 --set dest.dest=2 \
            --set dest.folder="$work/png/" --set fileoptions.iffileexists=1 $files >/dev/null
        header "PNG -> resize 50 % -> PNG"
        peers "$work/png/*.png" png 2 0 "" ""
        rm -rf "$work/png"
        ;;
    tiff-pdf)
        mkdir -p "$work/tif"
        "$batch" --quiet --settings "$settings" --set format.format=4 --set dest.dest=2 \
            --set dest.folder="$work/tif/" --set fileoptions.iffileexists=1 $files >/dev/null
        header "TIFF -> resize 50 % -> PDF"
        peers "$work/tif/*.tif" pdf 12 0 "-" ""
        rm -rf "$work/tif"
        ;;
    *) die "unknown job $job" ;;
    esac
done
