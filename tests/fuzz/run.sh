#!/usr/bin/env bash
# run.sh NAME [SECONDS]: builds the fuzz target NAME (mask, package_reader,
# pe_image, signature, text_lists, path_rules, command_line, manifest,
# cab_reader, lzx)
# with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer and runs it
# for SECONDS (default 60), starting from tests/fuzz/seeds/NAME. The corpus
# is kept in build/fuzz/NAME between runs; crashes land there too.
set -eu
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
NAME=${1:?usage: run.sh NAME [SECONDS]}
SECONDS_TO_RUN=${2:-60}
OUT="$ROOT/build/fuzz/$NAME"
mkdir -p "$OUT/corpus"

PORTABLE=("$ROOT"/package/{String,ByteSource,CRC32,Package,PackageReader,PackageWriter,PackageDigest,PathRules,PeImage,TextLists,VersionInfo}.cpp)
# The packaging tool but its entry (what the library packtool holds).
mapfile -t TOOL < <(find "$ROOT/tools/pack" -name "*.cpp" ! -name Main.cpp | sort)
MAX_LEN=8192
TIMEOUT=10
case "$NAME" in
mask) SOURCES=("$ROOT/cabinet/Masks.cpp" "$ROOT/services/Text.cpp" "$ROOT/services/SetupError.cpp"
               "$ROOT/package/String.cpp"); LIBS=() ;;
package_reader | pe_image | text_lists | path_rules) SOURCES=("${PORTABLE[@]}"); LIBS=() ;;
command_line) SOURCES=("$ROOT/loader/CommandLine.cpp" "$ROOT/services/Text.cpp" "$ROOT/services/SetupError.cpp"
               "$ROOT/package/String.cpp"); LIBS=() ;;
signature | manifest | cab_reader) SOURCES=("${PORTABLE[@]}" "${TOOL[@]}" "$ROOT/services/Text.cpp" "$ROOT/services/SetupError.cpp")
    LIBS=(-lmspack -lz -lcrypto -lunistring -lpthread) ;;
# One input spans many LZX frames when repeated, so it may be long.
lzx) SOURCES=("$ROOT"/tools/pack/cab/{CabReader,CabWriter,Lzx,Mszip}.cpp "$ROOT"/tools/pack/FileUtil.cpp "$ROOT"/package/{ByteSource,CRC32}.cpp)
    LIBS=(-lmspack -lz -lpthread); MAX_LEN=40000; TIMEOUT=20 ;;
*) echo "run.sh: no fuzz target $NAME" >&2; exit 2 ;;
esac

clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$ROOT" "$ROOT/tests/fuzz/${NAME}_fuzz.cpp" "${SOURCES[@]}" "${LIBS[@]}" -o "$OUT/${NAME}_fuzz"

if [ "$NAME" = mask ]; then
    # The masks the installer uses and one of each kind of fault.
    printf '*.*\0readme.txt' >"$OUT/corpus/seed-payload"
    printf 'License.txt\0LICENSE.TXT' >"$OUT/corpus/seed-name"
    printf '[!a-c]*?x\0dzzx' >"$OUT/corpus/seed-set"
    printf '[a\0a' >"$OUT/corpus/seed-open-set"
else
    cp "$ROOT/tests/fuzz/seeds/$NAME"/* "$OUT/corpus/"
fi

cd "$OUT"
./"${NAME}_fuzz" -max_total_time="$SECONDS_TO_RUN" -max_len="$MAX_LEN" -timeout="$TIMEOUT" corpus
