#!/usr/bin/env bash
# run.sh [SECONDS]: builds the mask fuzzer with libFuzzer and AddressSanitizer
# and runs it for SECONDS (default 60). The corpus is kept in
# build/fuzz/corpus between runs; crashes land in build/fuzz/.
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT="$ROOT/build/fuzz"
SECONDS_TO_RUN=${1:-60}
mkdir -p "$OUT/corpus"

clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$ROOT" \
    "$ROOT/tests/fuzz/mask_fuzz.cpp" "$ROOT/cabinet/Masks.cpp" "$ROOT/services/Text.cpp" \
    "$ROOT/services/SetupError.cpp" "$ROOT/package/String.cpp" \
    -o "$OUT/mask_fuzz"

# Seeds: the masks the installer uses and one of each kind of fault.
printf '*.*\0readme.txt' >"$OUT/corpus/seed-payload"
printf 'License.txt\0LICENSE.TXT' >"$OUT/corpus/seed-name"
printf '[!a-c]*?x\0dzzx' >"$OUT/corpus/seed-set"
printf '[a\0a' >"$OUT/corpus/seed-open-set"

cd "$OUT"
./mask_fuzz -max_total_time="$SECONDS_TO_RUN" -max_len=512 -timeout=5 corpus
