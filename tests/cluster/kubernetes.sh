#!/usr/bin/env bash
# Runs the containers of docs/cluster's Kubernetes manifests as their pods
# would, without Kubernetes: each index of the Indexed Job with its
# JOB_COMPLETION_INDEX and environment, a folder for the shared volume and the
# built spirell-render on the PATH, then the join job's container; the poster
# must be the one-machine render. Checks on the way that the manifests hold
# what the pods rely on.
# Usage: kubernetes.sh SPIRELL-RENDER
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
docs=$here/../../docs/cluster
RENDER=$(realpath "$1")
source "$here/common.sh"
/usr/bin/python3 -c 'import yaml' 2>/dev/null ||
    fail "reading the manifests needs python3-yaml; scripts/install-dependencies python3-yaml installs it"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/volume"
ln -s "$RENDER" "$work/bin/spirell-render"

# Writes the Job's container into two files: the number of completions and
# then NAME=VALUE lines for its environment; its command, each word
# NUL-terminated.
container() {
    /usr/bin/python3 - "$@" <<'PYTHON'
import sys, yaml
manifest, indexed, environment_file, command_file = sys.argv[1:]
jobs = [d for d in yaml.safe_load_all(open(manifest)) if d and d.get("kind") == "Job"]
assert len(jobs) == 1, f"{manifest}: {len(jobs)} jobs, not 1"
job = jobs[0]["spec"]
pod = job["template"]["spec"]
assert pod["restartPolicy"] in ("Never", "OnFailure"), "a Job's pods must not restart always"
(box,) = pod["containers"]
environment = {e["name"]: e["value"] for e in box.get("env", [])}
mounts = {m["name"]: m["mountPath"] for m in box["volumeMounts"]}
volumes = {v["name"] for v in pod["volumes"]}
assert set(mounts) <= volumes, f"{manifest}: a mount without a volume"
assert environment.get("SPIRELL_DIR") in mounts.values(), \
    f"{manifest}: SPIRELL_DIR is not a mounted volume"
if indexed == "indexed":
    assert job.get("completionMode") == "Indexed", f"{manifest}: not an Indexed Job"
    assert str(job["completions"]) == environment["PARTS"], \
        f"{manifest}: {job['completions']} completions but PARTS={environment['PARTS']}"
with open(environment_file, "w") as out:
    out.write(str(job.get("completions", 1)) + "\n")
    for name, value in environment.items():
        out.write(f"{name}={value}\n")
with open(command_file, "wb") as out:
    for word in box["command"]:
        out.write(str(word).encode() + b"\0")
PYTHON
}

# Runs a container's command as its pod would, with the volume at our folder.
run_pod() {
    local environment=$1 command=$2 index=${3:-}
    local settings=() words=()
    mapfile -t settings < <(tail -n +2 "$environment")
    mapfile -d '' -t words <"$command"
    env -i PATH="$work/bin:/usr/bin:/bin" "${settings[@]}" SPIRELL_DIR="$work/volume" \
        ${index:+JOB_COMPLETION_INDEX=$index} "${words[@]}"
}

# The container's args are the render options a user sets; a smaller poster
# than the manifest's keeps the test short.
options=(thistle --size 768 --scale 2 --threads 1)
container "$docs/kubernetes-poster.yaml" indexed "$work/poster.env" "$work/poster.command"
printf '%s\0' "${options[@]}" >>"$work/poster.command"
container "$docs/kubernetes-join.yaml" plain "$work/join.env" "$work/join.command"
completions=$(head -n 1 "$work/poster.env")
echo "== $completions pods: spirell-render ${options[*]}"
"$RENDER" "${options[@]}" --quiet -o "$work/one.png"

pids=()
for ((i = 0; i < completions; i++)); do
    run_pod "$work/poster.env" "$work/poster.command" "$i" &
    pids+=($!)
done
for pid in "${pids[@]}"; do
    wait "$pid" || fail "a pod of the poster job failed"
done
echo "== the join job"
run_pod "$work/join.env" "$work/join.command" || fail "the join job failed"
same_file "$work/one.png" "$work/volume/poster.png"

echo "== a pod run again writes the same part"
cp "$work/volume/parts/part-3.png" "$work/first-part-3.png"
run_pod "$work/poster.env" "$work/poster.command" 3
same_file "$work/first-part-3.png" "$work/volume/parts/part-3.png"
echo "PASS"
