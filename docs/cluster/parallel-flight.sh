#!/usr/bin/env bash
# A flight's PNG frames in N parts with GNU parallel, here or over ssh hosts
# that share the current folder, then encoded into a video from those frames.
#
#   parallel-flight.sh N FRAMES_DIR VIDEO KEY.png KEY.png... [OPTIONS]
#   SPIRELL_HOSTS=hosts.txt parallel-flight.sh 8 frames/ zoom.mp4 wide.png close.png --seconds 10
#
# Part I paints the I-th of N runs of consecutive frames into FRAMES_DIR. Every
# host must see the current folder at the same path (a shared file system): it
# reads the keyframes and writes the frames there. VIDEO "-" stops after the
# frames. The job log (FRAMES_DIR.joblog) records which parts succeeded; run
# the same command again after a failure and only the failed parts run again,
# each going on from the frames it left. SPIRELL_HOSTS, SPIRELL_JOBS and
# SPIRELL_RENDER as in parallel-poster.sh.
set -euo pipefail

if [ $# -lt 5 ] || ! [[ $1 =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: parallel-flight.sh N FRAMES_DIR VIDEO KEY.png KEY.png... [OPTIONS]" >&2
    exit 2
fi
count=$1
dir=${2%/}
video=$3
shift 3
render=${SPIRELL_RENDER:-spirell-render}
mkdir -p "$dir"

options=(--joblog "$dir.joblog" --resume-failed --workdir . --quote)
[ -z "${SPIRELL_HOSTS:-}" ] || options+=(--sshloginfile "$SPIRELL_HOSTS")
[ -z "${SPIRELL_JOBS:-}" ] || options+=(--jobs "$SPIRELL_JOBS")

if ! seq 0 $((count - 1)) | parallel "${options[@]}" \
    "$render" --animate "$@" --quiet --part "{}/$count" -o "$dir/"; then
    echo "parallel-flight.sh: parts failed; run the same command again to redo them" \
        "(job log: $dir.joblog)" >&2
    exit 1
fi
[ "$video" != - ] || exit 0
exec "$render" --animate "$@" --quiet -o "$video" --frames-from "$dir/"
