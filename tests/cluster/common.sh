# What the cluster engine tests share. Sourced by them, with RENDER set.

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

need_program() {
    command -v "$1" >/dev/null ||
        fail "$1 is not installed; scripts/install-dependencies $2 installs it"
}

# Fails unless spirell-render knows every option given, so that a renderer
# without them fails here with the reason instead of deep inside an engine.
need_options() {
    local help option
    help=$("$RENDER" --help) || fail "$RENDER --help failed"
    for option in "$@"; do
        grep -q -- "$option" <<<"$help" || fail "$RENDER has no $option option"
    done
}

same_file() {
    cmp "$1" "$2" || fail "$1 differs from $2"
}

# Inode and modification time: a file rewritten in place or replaced shows a
# change in one of them.
identity() {
    stat -c '%i %Y.%y' "$@"
}
