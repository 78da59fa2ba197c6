# make        build everything into out/ (stub.exe, cabsetup, robot.exe)
# make test   run every test (native unit tests, then Windows tests under Wine)
# make demo   build the example installer and run it under Wine
# Each target installs what the machine lacks and rebuilds what is stale.

JOBS ?= $(shell nproc)
NATIVE := build/native
WIN := build/win

.PHONY: all setup native win test demo clean bench

all: native win

setup:
	@bash scripts/setup.sh

$(NATIVE)/CMakeCache.txt: | setup
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

$(WIN)/CMakeCache.txt: | setup
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null

native: setup $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j $(JOBS)
	@mkdir -p out
	@if [ -f $(NATIVE)/tools/pack/cabsetup ]; then cp $(NATIVE)/tools/pack/cabsetup out/; fi

win: setup $(WIN)/CMakeCache.txt
	cmake --build $(WIN) -j $(JOBS)
	@mkdir -p out
	@cp $(WIN)/stub.exe out/stub.exe
	@for f in $(WIN)/tests/robot/*.exe; do [ -f "$$f" ] && cp "$$f" out/; done; true

# The Windows tests watch real windows under a loaded Xvfb; a test that
# fails is run once more before it counts (both runs show in the log).
test: all
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)
	bash tests/rig/with-rig ctest --test-dir $(WIN) --output-on-failure --repeat until-pass:2

demo: all
	bash scripts/demo.sh

bench: all
	$(NATIVE)/tests/unit/crc32_bench

clean:
	rm -rf build out
