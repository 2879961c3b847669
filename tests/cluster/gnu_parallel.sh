#!/usr/bin/env bash
# Runs docs/cluster's GNU parallel scripts on this machine (no ssh: the host
# list names this machine) and compares what they make with one-machine renders.
# Usage: gnu_parallel.sh poster|flight SPIRELL-RENDER
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
docs=$here/../../docs/cluster
mode=$1
RENDER=$(realpath "$2")
source "$here/common.sh"
need_program parallel parallel

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# Four jobs at a time on this machine, through the same --sshloginfile path
# that remote hosts take.
echo "4/:" >hosts
# This machine sees its own folder: the parts are written in place.
export SPIRELL_HOSTS=$work/hosts SPIRELL_SHARED=1 SPIRELL_RENDER=$RENDER

poster() {
    need_options --part --join
    local view=(thistle --size 768 --scale 2 --threads 1)
    "$RENDER" "${view[@]}" --quiet -o one.png

    echo "== a poster in 4 parts, joined"
    "$docs/parallel-poster.sh" 4 poster.png "${view[@]}" ||
        fail "parallel-poster.sh failed with status $?"
    same_file one.png poster.png

    echo "== a part whose job fails after writing runs again, and only that part"
    rm -rf poster.png poster.png.parts
    # The real renderer, but part 2 reports failure once it has written its
    # file, as when a host is lost before it can report.
    cat >fails-after-part-2 <<WRAPPER
#!/usr/bin/env bash
"$RENDER" "\$@" || exit
case " \$* " in *" --part 2/4 "*) exit 1 ;; esac
WRAPPER
    chmod +x fails-after-part-2
    local status=0
    SPIRELL_RENDER=$work/fails-after-part-2 \
        "$docs/parallel-poster.sh" 4 poster.png "${view[@]}" 2>errors || status=$?
    cat errors
    [ "$status" = 1 ] || fail "a failed part ended the script with status $status, not 1"
    [ ! -e poster.png ] || fail "the poster was joined although a part failed"
    grep -q "part-2.png" errors || fail "the failed part is not named"
    ! grep -q "part-[013].png" errors || fail "parts that succeeded are named as failed"
    cp poster.png.parts/part-2.png first-part-2.png
    local before
    before=$(identity poster.png.parts/part-{0,1,2,3}.png)
    "$docs/parallel-poster.sh" 4 poster.png "${view[@]}" ||
        fail "parallel-poster.sh failed with status $? when run again"
    same_file one.png poster.png
    same_file first-part-2.png poster.png.parts/part-2.png
    local after
    after=$(identity poster.png.parts/part-{0,1,2,3}.png)
    [ "$(sed -n 1,2p <<<"$before")$(sed -n 4p <<<"$before")" = \
        "$(sed -n 1,2p <<<"$after")$(sed -n 4p <<<"$after")" ] ||
        fail "parts that had succeeded were run again"
    [ "$(sed -n 3p <<<"$before")" != "$(sed -n 3p <<<"$after")" ] ||
        fail "the failed part was not run again"

    echo "== a join with a part missing fails with status 2 and writes nothing"
    rm poster.png poster.png.parts/part-1.png
    status=0
    "$docs/parallel-poster.sh" 4 poster.png "${view[@]}" || status=$?
    [ "$status" = 2 ] || fail "a missing part ended the join with status $status, not 2"
    [ ! -e poster.png ] || fail "a poster was written without one of its parts"
    [ -z "$(find . -mindepth 1 -name '.*')" ] || fail "the join left a hidden file behind"
}

flight() {
    need_options --animate --part --frames-from
    "$RENDER" ripple --size 150 --quiet -o key-1.png
    "$RENDER" ripple --size 150 --zoom 4 --x 20 --quiet -o key-2.png
    "$RENDER" ripple --size 150 --zoom 0.5 --brightness 300 --quiet -o key-3.png
    local flight=(key-1.png key-2.png key-3.png --seconds 1 --fps 6 --threads 1)
    "$RENDER" --animate "${flight[@]}" --quiet -o one-frames/
    "$RENDER" --animate "${flight[@]}" --quiet -o one.mp4

    echo "== a flight's frames in 3 parts"
    "$docs/parallel-flight.sh" 3 frames/ - "${flight[@]}" ||
        fail "parallel-flight.sh failed with status $? painting the frames"
    local names
    names=$(cd one-frames && ls)
    [ "$(wc -l <<<"$names")" = 13 ] || fail "the one-machine flight has not 13 frames: $names"
    [ "$(cd frames && ls)" = "$names" ] ||
        fail "the parts made other frames than one machine: $(cd frames && ls | tr '\n' ' ')"
    local name
    for name in $names; do
        same_file one-frames/"$name" frames/"$name"
    done

    echo "== the video encoded from those frames"
    local before
    before=$(identity frames/*)
    "$docs/parallel-flight.sh" 3 frames/ flight.mp4 "${flight[@]}" ||
        fail "parallel-flight.sh failed with status $? encoding the video"
    same_file one.mp4 flight.mp4
    [ "$(identity frames/*)" = "$before" ] || fail "encoding the video painted frames again"
}

case $mode in
poster | flight) "$mode" ;;
*) fail "unknown mode $mode" ;;
esac
echo "PASS"
