#!/usr/bin/env bash
# The worked example of README.md ("Packing an installer"), made by the
# current build: runs the README's own shell block, with payload/ holding
# the example product (examples/viewer/files and the i686 viewer.exe), and
# prints what it prints.
#
#   scripts/readme-example.sh            print it
#   scripts/readme-example.sh --check    compare it with the README's text block
#                                        (the test readme_example); 1 on a difference
#   scripts/readme-example.sh --update   write it into the README
#
# CABSETUP, STUB and VIEWER name the tool, the 32-bit stub and the viewer
# (default: build/native/tools/pack/cabsetup, build/win/stub.exe,
# build/win/examples/viewer.exe; `make` builds them).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
readme=$src/README.md
tool=${CABSETUP:-$src/build/native/tools/pack/cabsetup}
stub=${STUB:-$src/build/win/stub.exe}
viewer=${VIEWER:-$src/build/win/examples/viewer.exe}
for f in "$tool" "$stub" "$viewer"; do
    [ -f "$f" ] || { echo "readme-example: $f is missing; make builds it" >&2; exit 1; }
done

# The README's blocks after the heading: the first ```sh and the ```text after it.
block() { # KIND
    awk -v kind="$1" '/^## Packing an installer/ { on = 1 } on && $0 == "```" kind { take = 1; next }
        take && $0 == "```" { exit } take { print }' "$readme"
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/out" "$work/payload"
ln -s "$tool" "$work/out/cabsetup"
ln -s "$stub" "$work/out/stub.exe"
cp "$src"/examples/viewer/files/* "$viewer" "$work/payload/"
made=$(cd "$work" && block sh | bash 2>&1)

case "${1:-}" in
--check)
    if [ "$made" != "$(block text)" ]; then
        echo "README.md's inspect example is not what the current build prints; run scripts/readme-example.sh --update" >&2
        diff <(block text) <(printf '%s\n' "$made") >&2 || true
        exit 1
    fi
    echo "README.md's inspect example is what the current build prints" ;;
--update)
    printf '%s\n' "$made" >"$work/made"
    awk -v made="$work/made" '/^## Packing an installer/ { on = 1 }
        on && !done && $0 == "```text" { print; while ((getline line < made) > 0) print line; skip = 1; next }
        skip && $0 == "```" { skip = 0; done = 1 } !skip { print }' "$readme" >"$work/readme"
    cp "$work/readme" "$readme" ;;
*)
    printf '%s\n' "$made" ;;
esac
