# make        build everything into out/ (stub.exe, stub64.exe, cabsetup, robot.exe)
# make test   run every test (native unit tests, then Windows tests under Wine)
# make demo   build the example installer and run it under Wine
# make install [PREFIX=/usr/local] [DESTDIR=...]
#             install cabsetup, both stubs, its manual page and bash completion
# make deb    a Debian package of the same, in out/
# Each target installs what the machine lacks and rebuilds what is stale.
#
# The Windows tests and the demo run the build this machine can run
# (tests/rig/target): the i686 one in a 32-bit prefix where the kernel runs
# 32-bit code, else the x86-64 one in a 64-bit prefix. CABSETUP_WIN_ARCH=x86-64
# forces the 64-bit road anywhere.

JOBS ?= $(shell nproc)
NATIVE := build/native
WIN := build/win
WIN64 := build/win64
WIN_ARCH := $(shell bash tests/rig/target 2>/dev/null)
WIN_TESTS := $(if $(filter x86-64,$(WIN_ARCH)),$(WIN64),$(WIN))

PREFIX ?= /usr/local

.PHONY: all setup native win win64 sizes test demo clean bench install deb

all: native win win64 sizes

setup:
	@bash scripts/setup.sh

$(NATIVE)/CMakeCache.txt: | setup
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

$(WIN)/CMakeCache.txt: | setup
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null

$(WIN64)/CMakeCache.txt: | setup
	cmake -S . -B $(WIN64) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null

native: setup $(NATIVE)/CMakeCache.txt
	cmake --build $(NATIVE) -j $(JOBS)
	@mkdir -p out
	@if [ -f $(NATIVE)/tools/pack/cabsetup ]; then cp $(NATIVE)/tools/pack/cabsetup out/; fi

win: setup $(WIN)/CMakeCache.txt
	cmake --build $(WIN) -j $(JOBS)
	@mkdir -p out
	@cp $(WIN)/stub.exe out/stub.exe

win64: setup $(WIN64)/CMakeCache.txt
	cmake --build $(WIN64) -j $(JOBS)
	@mkdir -p out
	@cp $(WIN64)/stub64.exe out/stub64.exe

# The robot and its helpers in out/ are those of the build this machine runs.
sizes: win win64
	@for f in $(WIN_TESTS)/tests/robot/*.exe; do [ -f "$$f" ] && cp "$$f" out/; done; true
	@echo "out/stub.exe: $$(stat -c %s out/stub.exe) bytes (i686, 32-bit)"
	@echo "out/stub64.exe: $$(stat -c %s out/stub64.exe) bytes (x86-64, 64-bit)"

# Every Windows test runs once: one that fails, fails.
# Where the i686 build runs, the x86-64 stub's installation and removal run
# too, in a 64-bit prefix, so that stub never goes untested.
test: all
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)
	@road=$$(bash tests/rig/target --describe --check-wine) && echo "Windows tests: $$road"
	bash tests/rig/with-rig ctest --test-dir $(WIN_TESTS) --output-on-failure
ifeq ($(WIN_ARCH),i686)
	@echo "Windows tests: x86-64 stub, installation and removal in a 64-bit prefix"
	CABSETUP_WIN_ARCH=x86-64 bash tests/rig/with-rig ctest --test-dir $(WIN64) -R '^e2e_(install|uninstall)$$' --output-on-failure
endif

install: all
	DESTDIR=$(DESTDIR) cmake --install $(NATIVE) --prefix $(PREFIX) --strip

deb: all
	cpack --config $(NATIVE)/CPackConfig.cmake -B $(NATIVE)/deb
	@cp $(NATIVE)/deb/cabsetup_*.deb out/
	@ls out/cabsetup_*.deb

demo: all
	bash scripts/demo.sh

bench: all
	$(NATIVE)/tests/unit/crc32_bench

clean:
	rm -rf build out
