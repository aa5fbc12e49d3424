# Set-up and everyday commands. Each target installs what is missing first.
BUILD ?= build
BUILD_SAN ?= build-sanitize
BUILD_TSAN ?= build-tsan
BUILD_BENCH ?= build-bench
BUILD_FUZZ ?= build-fuzz
BUILD_WINDOWS ?= build-windows
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc)
# make install PREFIX=/usr DESTDIR=stage: installs under stage/usr (DESTDIR made absolute).
PREFIX ?= /usr/local
DESTDIR ?=
destdir = $(if $(DESTDIR),$(abspath $(DESTDIR)))
# Quiet "Entering directory" lines, also from the make that cmake --build runs.
MAKEFLAGS += --no-print-directory

.PHONY: deps configure build demo test installables install uninstall package test-package test-sanitize test-tsan bench fuzz memcheck windows configure-windows test-windows clean

deps:
	@./scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRACEMILL_BENCH=OFF >/dev/null

# Everything: the converter, the synthetic log tools and every test.
build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only the converter (the examples are in the repository).
demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target tracemill
	@./scripts/demo $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The converter and the documents it installs with.
installables: configure
	@cmake --build $(BUILD) -j $(JOBS) --target tracemill tracemill_man tracemill_changelog

# Configures only a build folder that is not configured yet, so that `sudo make install`
# after `make installables` builds nothing as root that is not out of date.
# CMake's manifest leaves DESTDIR out; installed-files.txt keeps the full paths for uninstall.
install:
	@[ -f $(BUILD)/CMakeCache.txt ] || $(MAKE) configure
	@cmake --build $(BUILD) -j $(JOBS) --target tracemill tracemill_man tracemill_changelog
	@DESTDIR="$(destdir)" cmake --install $(BUILD) --prefix "$(PREFIX)"
	@sed 's|^|$(destdir)|' $(BUILD)/install_manifest.txt >$(BUILD)/installed-files.txt

# Removes what the last `make install` installed.
uninstall:
	@env -u DESTDIR cmake -DMANIFEST=$(BUILD)/installed-files.txt -P cmake/uninstall.cmake

# $(BUILD)/tracemill_<version>_<arch>.deb
package: installables
	@./scripts/install-deps --package
	@cd $(BUILD) && cpack

# Builds the package into a temporary folder, runs lintian on it and the unpacked binary on the examples.
test-package: installables
	@./scripts/install-deps --package
	@cd $(BUILD) && ctest --output-on-failure -C Package -L package

test-sanitize: deps
	@cmake -S . -B $(BUILD_SAN) -DCMAKE_BUILD_TYPE=Debug -DTRACEMILL_SANITIZE=ON -DTRACEMILL_WERROR=ON -DTRACEMILL_BENCH=OFF >/dev/null
	@cmake --build $(BUILD_SAN) -j $(JOBS)
	@cd $(BUILD_SAN) && ctest --output-on-failure -j $(JOBS)

# The runs on several threads under ThreadSanitizer (parallel files, binary-log containers
# deflated beside the conversion): the binary and the end-to-end tests.
# The interrupt test is left to the other builds: ThreadSanitizer holds a signal
# back until the thread next calls into the C library, so whether SIGINT still
# lands mid-file depends on the machine's load.
test-tsan: deps
	@cmake -S . -B $(BUILD_TSAN) -DCMAKE_BUILD_TYPE=Debug -DTRACEMILL_TSAN=ON -DTRACEMILL_WERROR=ON -DTRACEMILL_BENCH=OFF >/dev/null
	@cmake --build $(BUILD_TSAN) -j $(JOBS) --target tracemill test_e2e
	@cd $(BUILD_TSAN) && TSAN_OPTIONS=halt_on_error=1:exitcode=66 ./test_e2e --gtest_filter='ParallelRun*:ContainerE2e*:InputSafety*:OutputSafety*:FormatReadback*-OutputSafety.InterruptedRunLeavesNoFileAndEndsByItsSignal'

bench: deps
	@cmake -S . -B $(BUILD_BENCH) -DCMAKE_BUILD_TYPE=Release -DTRACEMILL_BENCH=ON >/dev/null
	@cmake --build $(BUILD_BENCH) -j $(JOBS)
	@./scripts/bench $(BUILD_BENCH)

# Every fuzz target for FUZZ_SECONDS, seeded from the synthetic log tools of $(BUILD).
fuzz: build
	@./scripts/install-deps --fuzz
	@CC=clang CXX=clang++ cmake -S fuzz -B $(BUILD_FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD_FUZZ) -j $(JOBS)
	@./fuzz/run-all $(BUILD_FUZZ) $(BUILD) $(FUZZ_SECONDS)

# The converter under valgrind on the examples and on generated hostile inputs.
memcheck: build
	@./scripts/install-deps --memcheck
	@./scripts/memcheck $(BUILD)

# Windows: tracemill.exe cross-compiled with MinGW-w64 and linked statically. The
# libraries it links are built from Debian's source packages once per version,
# into a cache outside the tree (scripts/build-windows-deps).
configure-windows:
	@./scripts/install-deps --windows
	@deps=$$(./scripts/build-windows-deps) && \
	  cmake -S . -B $(BUILD_WINDOWS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	        -DTRACEMILL_WINDOWS_DEPS="$$deps" -DCMAKE_BUILD_TYPE=Release -DTRACEMILL_BENCH=OFF >/dev/null

windows: configure-windows
	@cmake --build $(BUILD_WINDOWS) -j $(JOBS) --target tracemill

# The tests that need no POSIX-only feature, run under Wine, then the examples
# converted under Wine and compared with the Linux build's output.
test-windows: configure-windows configure
	@cmake --build $(BUILD_WINDOWS) -j $(JOBS)
	@cmake --build $(BUILD) -j $(JOBS) --target tracemill
	@./scripts/test-windows $(BUILD_WINDOWS) $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_BENCH) $(BUILD_FUZZ) $(BUILD_WINDOWS)
