# bench-rig.sh: what the Wine benchmarks share; sourced with ROOT set.

# bench_build NAME [DIR]: the cross build to measure, DIR or else the one this
# machine runs: BUILD, and STUB and ARCH from the stub it holds.
bench_build() {
    local name=$1 dir=${2:-}
    if [ -z "$dir" ]; then
        case "$(bash "$ROOT/tests/rig/target" 2>/dev/null || true)" in
            x86-64) dir=$ROOT/build/win64 ;;
            *) dir=$ROOT/build/win ;;
        esac
    fi
    BUILD=$(cd "$dir" && pwd)
    if [ -f "$BUILD/stub64.exe" ]; then
        STUB=$BUILD/stub64.exe ARCH=x86-64
    elif [ -f "$BUILD/stub.exe" ]; then
        STUB=$BUILD/stub.exe ARCH=i686
    else
        echo "$name: no stub.exe or stub64.exe in $BUILD: build the cross build first" >&2
        exit 2
    fi
}

# bench_cabsetup NAME: CABSETUP, the packaging tool built here.
bench_cabsetup() {
    CABSETUP=
    local f
    for f in "$ROOT/out/cabsetup" "$ROOT/build/native/tools/pack/cabsetup"; do
        [ -x "$f" ] && { CABSETUP=$f; break; }
    done
    [ -n "$CABSETUP" ] || { echo "$1: no cabsetup: make native first" >&2; exit 2; }
}

# bench_rig ARGS...: outside a rig, runs this script again inside one of the
# stub's bitness with ARGS; inside, makes a prefix of our own (WORK,
# WINEPREFIX) that goes with everything else on exit.
bench_rig() {
    if [ -z "${RIG_DIR:-}" ]; then
        export CABSETUP_WIN_ARCH=$ARCH
        exec "$ROOT/tests/rig/with-rig" "$0" "$@"
    fi
    WORK=$(mktemp -d "$RIG_DIR/bench.XXXXXX")
    export WINEPREFIX="$WORK/prefix"
    cp -a "$RIG_TEMPLATE" "$WINEPREFIX"
    trap 'timeout 20 wineserver -k >/dev/null 2>&1; rm -rf "$WORK"' EXIT
    wineserver -p
}
