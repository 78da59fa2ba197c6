#!/usr/bin/env bash
# Runs the `run:` steps of the workflow in docs/ci.md, in order, the way the
# CI machine would (bash -e -o pipefail, in the product's checkout), with a
# throw-away certificate as the secrets, and checks what they leave: the
# signed installer that passed the gate, and the JSON reports. The package
# installation step is left out (it needs the CI machine's sudo); the
# cabsetup build step finds the tool and the stub in place, as after a cache
# hit. The test ci_recipe.
#
# CABSETUP and STUB name the tool and the 32-bit stub (default:
# build/native/tools/pack/cabsetup, and out/stub.exe or build/win/stub.exe).
# Exit status 77 (skipped) when there is no stub or no MinGW compiler.
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
tool=${CABSETUP:-$src/build/native/tools/pack/cabsetup}
stub=${STUB:-}
for f in "$src/out/stub.exe" "$src/build/win/stub.exe"; do
    [ -n "$stub" ] || { [ -f "$f" ] && stub=$f; } || true
done
[ -n "$stub" ] && [ -f "$stub" ] || { echo "ci-recipe: no 32-bit stub (make win builds it)"; exit 77; }
command -v i686-w64-mingw32-g++ >/dev/null || { echo "ci-recipe: no MinGW compiler"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
repo=$work/repo
mkdir -p "$repo/src" "$repo/dist" "$repo/cabsetup/out"
cat >"$repo/src/hello.cpp" <<'CPP'
#include <windows.h>
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    MessageBoxA(nullptr, "Hello", "Hello 1.0", MB_OK);
    return 0;
}
CPP
printf 'Hello 1.0\r\n' >"$repo/README.txt"
: >"$repo/dist/.gitkeep"
ln -s "$tool" "$repo/cabsetup/out/cabsetup"
ln -s "$stub" "$repo/cabsetup/out/stub.exe"

# The secrets.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/sign.key" -out "$work/ca.pem" -days 2 \
    -subj "/CN=Example Release/O=Example Co" 2>/dev/null
openssl pkcs12 -export -inkey "$work/sign.key" -in "$work/ca.pem" -out "$work/sign.p12" -passout pass:ci-secret
export SIGNING_P12 SIGNING_PASSWORD=ci-secret SIGNING_CA
SIGNING_P12=$(base64 -w0 "$work/sign.p12")
SIGNING_CA=$(cat "$work/ca.pem")

# The steps: name and script of each `run:` in the yaml block.
python3 - "$src/docs/ci.md" "$work/steps" <<'PY'
import os, re, sys
text = open(sys.argv[1]).read()
yaml = text.split("```yaml\n", 1)[1].split("```", 1)[0].splitlines()
os.makedirs(sys.argv[2])
n, name, i = 0, "", 0
while i < len(yaml):
    line = yaml[i]
    m = re.match(r"\s*- name: (.*)", line)
    if m:
        name = m.group(1)
    m = re.match(r"(\s*)run: \|$", line)
    if m:
        indent, body = len(m.group(1)) + 2, []
        i += 1
        while i < len(yaml) and (not yaml[i].strip() or len(yaml[i]) - len(yaml[i].lstrip()) >= indent):
            body.append(yaml[i][indent:])
            i += 1
        n += 1
        with open(os.path.join(sys.argv[2], "%02d" % n), "w") as f:
            f.write("# " + name + "\n" + "\n".join(body) + "\n")
        continue
    i += 1
PY
# The steps' temporary folders, to see that the key goes with them.
mkdir "$work/tmp"
export TMPDIR=$work/tmp
for step in "$work"/steps/*; do
    name=$(head -1 "$step")
    case "$name" in "# Install the tools") echo "ci-recipe: left out: ${name#\# }"; continue ;; esac
    echo "ci-recipe: ${name#\# }"
    (cd "$repo" && bash -e -o pipefail "$step")
done

fail() { echo "ci-recipe: $*" >&2; exit 1; }
[ -f "$repo/hello-setup.exe" ] || fail "no hello-setup.exe"
grep -q '"files":2,' "$repo/pack.json" || fail "pack.json does not say 2 files (.gitkeep left out): $(cat "$repo/pack.json")"
grep -q '"check":"valid digest"' "$repo/pack.json" || fail "pack.json names no valid signature"
grep -q '"check":"valid digest",.*"chain":"verified"' "$repo/inspect.json" || fail "inspect.json: $(cat "$repo/inspect.json")"
grep -q '"kind":"installer"' "$repo/inspect.json" || fail "inspect.json names no installer"
[ -z "$(find "$work/tmp" -name sign.p12)" ] || fail "the key was left behind"
# The gate holds: the same installer changed after signing fails it.
cp "$repo/hello-setup.exe" "$work/changed.exe"
printf 'X' | dd of="$work/changed.exe" bs=1 seek=$(( $(stat -c %s "$stub") + 8 )) conv=notrunc status=none
if (cd "$repo" && "$tool" inspect --ca-file ca.pem "$work/changed.exe" >/dev/null); then
    fail "a changed installer passed the gate"
fi
echo "ci-recipe: the workflow's steps made a signed installer that passed the gate"
