# Set-up and everyday commands. Each target installs what is missing first.
BUILD ?= build
BUILD_SAN ?= build-sanitize
BUILD_BENCH ?= build-bench
BUILD_FUZZ ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc)

.PHONY: deps build demo test test-sanitize bench fuzz memcheck clean

deps:
	@./scripts/install-deps

$(BUILD)/Makefile: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRACEMILL_BENCH=OFF >/dev/null

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRACEMILL_BENCH=OFF >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@./scripts/demo $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	@cmake -S . -B $(BUILD_SAN) -DCMAKE_BUILD_TYPE=Debug -DTRACEMILL_SANITIZE=ON -DTRACEMILL_WERROR=ON -DTRACEMILL_BENCH=OFF >/dev/null
	@cmake --build $(BUILD_SAN) -j $(JOBS)
	@cd $(BUILD_SAN) && ctest --output-on-failure -j $(JOBS)

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

clean:
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_BENCH) $(BUILD_FUZZ)
