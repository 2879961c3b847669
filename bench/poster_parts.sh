#!/bin/sh
# Posters in parts: the wall time of 1, 2 and 4 parts of one poster run at
# once on this machine, and the join's speed against cp of the same bytes,
# with its peak memory. Runs alternate; take the fastest of each.
#
#   bench/poster_parts.sh [spirell-render] [folder] [runs]
set -eu
render=${1:-build/tools/spirell-render}
folder=${2:-/tmp/poster-parts}
runs=${3:-3}
view="ripple --size 20000" # 20000 x 20000 pixels
mkdir -p "$folder"

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc; }

for run in $(seq "$runs"); do
    for parts in 1 2 4; do
        start=$(now)
        for index in $(seq 0 $((parts - 1))); do
            # shellcheck disable=SC2086
            "$render" $view --quiet --part "$index/$parts" -o "$folder/part-$parts-$index.png" &
        done
        wait
        echo "run $run: $parts parts at once: $(elapsed "$start" "$(now)") s"
    done
done

# shellcheck disable=SC2086
"$render" $view --quiet -o "$folder/whole.png"
bytes=$(stat -c %s "$folder/whole.png")
echo "whole picture: $bytes bytes"
for run in $(seq "$runs"); do
    for parts in 2 4; do
        start=$(now)
        /usr/bin/time -f "peak %M KiB" -o "$folder/time.txt" \
            "$render" --join "$folder"/part-$parts-*.png -o "$folder/joined.png"
        seconds=$(elapsed "$start" "$(now)")
        cmp "$folder/whole.png" "$folder/joined.png"
        echo "run $run: join of $parts parts: $seconds s," \
            "$(echo "$bytes / $seconds / 1000000" | bc) MB/s, $(cat "$folder/time.txt")"
    done
    start=$(now)
    cp "$folder/whole.png" "$folder/copy.png"
    seconds=$(elapsed "$start" "$(now)")
    echo "run $run: cp: $seconds s, $(echo "$bytes / $seconds / 1000000" | bc) MB/s"
    rm "$folder/copy.png" "$folder/joined.png"
done
