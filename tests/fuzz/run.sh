#!/usr/bin/env bash
# run.sh [SECONDS] [TARGET]: builds a fuzzer with libFuzzer, AddressSanitizer
# and UBSan and runs it for SECONDS (default 60). TARGET is mask (the
# name-mask matcher, default) or lzx (the LZX compressor against libmspack).
# The corpus is kept in build/fuzz/TARGET-corpus between runs; crashes land
# in build/fuzz/.
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
OUT="$ROOT/build/fuzz"
SECONDS_TO_RUN=${1:-60}
TARGET=${2:-mask}
CORPUS="$OUT/$TARGET-corpus"
FLAGS=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$ROOT")
mkdir -p "$CORPUS"

case "$TARGET" in
mask)
    clang++ "${FLAGS[@]}" \
        "$ROOT/tests/fuzz/mask_fuzz.cpp" "$ROOT/cabinet/Masks.cpp" "$ROOT/services/Text.cpp" \
        "$ROOT/services/SetupError.cpp" "$ROOT/package/String.cpp" \
        -o "$OUT/mask_fuzz"
    # Seeds: the masks the installer uses and one of each kind of fault.
    printf '*.*\0readme.txt' >"$CORPUS/seed-payload"
    printf 'License.txt\0LICENSE.TXT' >"$CORPUS/seed-name"
    printf '[!a-c]*?x\0dzzx' >"$CORPUS/seed-set"
    printf '[a\0a' >"$CORPUS/seed-open-set"
    MAX_LEN=512
    ;;
lzx)
    clang++ "${FLAGS[@]}" \
        "$ROOT/tests/fuzz/lzx_fuzz.cpp" "$ROOT"/tools/pack/{CabReader,CabWriter,Lzx,Mszip,FileUtil}.cpp \
        "$ROOT"/package/{ByteSource,CRC32}.cpp -lmspack -lz -lpthread -o "$OUT/lzx_fuzz"
    # Seeds: text, x86-like calls, and both repeated over many frames.
    printf '\x06\x00seed text, seed text, seed text\r\n' >"$CORPUS/seed-text"
    printf '\x86\x40\xe8\x10\x00\x00\x00\x90\xe8\xf0\xff\xff\xff\xc3\xe8\x00\x00\x00\x80' >"$CORPUS/seed-calls"
    printf '\x80\xff0123456789abcdef' >"$CORPUS/seed-long"
    MAX_LEN=40000
    ;;
*)
    echo "unknown fuzz target $TARGET (mask or lzx)" >&2
    exit 2
    ;;
esac

cd "$OUT"
"./${TARGET}_fuzz" -max_total_time="$SECONDS_TO_RUN" -max_len="$MAX_LEN" -timeout=20 "$CORPUS"
