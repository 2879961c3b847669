#!/usr/bin/env bash
# A poster in N parts with GNU parallel, here or over ssh hosts, then joined.
#
#   parallel-poster.sh N POSTER.png RENDER-OPTIONS...
#   SPIRELL_HOSTS=hosts.txt parallel-poster.sh 16 poster.png ripple --size 768 --scale 16
#
# Environment:
#   SPIRELL_HOSTS   an --sshloginfile ("8/node1", ":" for this machine); without
#                   it every part runs on this machine
#   SPIRELL_JOBS    parts at a time on each host (default: one per core; give
#                   each part fewer threads with --threads then)
#   SPIRELL_PARTS_DIR  the parts and the job log (default: POSTER.png.parts)
#   SPIRELL_SHARED  1 when the current folder is the same folder on every host
#                   (a shared file system): the hosts write their parts into it.
#                   Otherwise each host writes its part under the same path
#                   below its home folder, and parallel returns it with rsync
#                   and removes it there.
#   SPIRELL_RENDER  the renderer as the hosts find it (default: spirell-render)
#
# The job log records which parts succeeded; run the same command again after
# a failure and only the failed parts run again (--resume-failed). Parts appear
# only when complete and a rerun writes the same bytes, so a part run twice is
# harmless. Exit status: 0 with the poster written, 1 when parts failed (they
# are named), or the join's status (2: a part missing or damaged).
set -euo pipefail

if [ $# -lt 3 ] || ! [[ $1 =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: parallel-poster.sh N POSTER.png RENDER-OPTIONS..." >&2
    exit 2
fi
count=$1
poster=$2
shift 2
render=${SPIRELL_RENDER:-spirell-render}
dir=${SPIRELL_PARTS_DIR:-$poster.parts}
dir=${dir%/}
mkdir -p "$dir"

# The parts whose latest run in the job log failed. A rerun appends to the log.
failed_parts() {
    awk -F '\t' 'NR > 1 {
            failed[$1] = $7 != 0 || $8 != 0
            match($9, /part-[0-9]+\.png/)
            name[$1] = substr($9, RSTART, RLENGTH)
        }
        END { for (seq in failed) if (failed[seq]) print "  " name[seq] }' "$1" | sort -V
}

options=(--joblog "$dir/joblog" --resume-failed --workdir . --quote)
[ -z "${SPIRELL_HOSTS:-}" ] || options+=(--sshloginfile "$SPIRELL_HOSTS")
[ -z "${SPIRELL_JOBS:-}" ] || options+=(--jobs "$SPIRELL_JOBS")
# rsync renames a returned file into place only once it is complete.
[ "${SPIRELL_SHARED:-0}" = 1 ] || [ -z "${SPIRELL_HOSTS:-}" ] ||
    options+=(--return "$dir/part-{}.png" --cleanup)

if ! seq 0 $((count - 1)) | parallel "${options[@]}" \
    "$render" "$@" --quiet --part "{}/$count" -o "$dir/part-{}.png"; then
    echo "parallel-poster.sh: parts failed (run the same command again to redo them):" >&2
    failed_parts "$dir/joblog" >&2
    exit 1
fi

parts=()
for ((i = 0; i < count; i++)); do
    parts+=("$dir/part-$i.png")
done
exec "$render" --join "${parts[@]}" -o "$poster"
