#!/usr/bin/env bash
# fuzz.sh [SECONDS]: builds the inspect fuzzer with libFuzzer and
# AddressSanitizer and runs it for SECONDS (default 60). Seeds are a cabinet
# of each kind our writer makes and a package around one (the stub: STUB=,
# default out/stub.exe, as `make` builds it); the corpus stays
# in build/pack-native/fuzz between runs (OUT= to move it).
set -eu
ROOT=$(cd "$(dirname "$0")/../../.." && pwd)
OUT=${OUT:-$ROOT/build/pack-native/fuzz}
SECONDS_TO_RUN=${1:-60}
TOOL=${CABSETUP:-$ROOT/build/native/tools/pack/cabsetup}
mkdir -p "$OUT/corpus" "$OUT/seed"
# The packaging tool but its entry (what the library packtool holds).
mapfile -t TOOL_SOURCES < <(find "$ROOT/tools/pack" -name "*.cpp" ! -name Main.cpp | sort)

clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$ROOT" \
    "$ROOT/tests/unit/pack/verdict_fuzz.cpp" "${TOOL_SOURCES[@]}" \
    "$ROOT"/package/{ByteSource,Package,PackageReader,PackageWriter,PackageDigest,PathRules,PeImage,CRC32,TextLists,String}.cpp \
    "$ROOT"/services/{Text,SetupError}.cpp -lmspack -lz -lcrypto -lunistring -lpthread -o "$OUT/verdict_fuzz"

printf 'seed text, seed text, seed text\r\n' >"$OUT/seed/a.txt"
head -c 40000 /dev/urandom >"$OUT/seed/b.bin"
"$TOOL" cab -o "$OUT/corpus/mszip.cab" "$OUT/seed" >/dev/null
"$TOOL" cab --no-compress -o "$OUT/corpus/stored.cab" "$OUT/seed" >/dev/null
"$TOOL" cab --compression lzx:15 -o "$OUT/corpus/lzx.cab" "$OUT/seed" >/dev/null
"$TOOL" pack --stub "${STUB:-$ROOT/out/stub.exe}" -o "$OUT/corpus/package.exe" --product-name P --install-folder P \
    --start-menu-folder P --shortcut "P=a.txt" --cab "$OUT/corpus/mszip.cab" >/dev/null

cd "$OUT"
# Long enough for the package seed: its header sits behind a whole stub.
./verdict_fuzz -max_total_time="$SECONDS_TO_RUN" -max_len=$(($(stat -c %s corpus/package.exe) + 4096)) -timeout=10 corpus
