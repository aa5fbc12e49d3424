# Set-up and everyday commands. Each target installs what is missing first.
BUILD ?= build
BUILD_SAN ?= build-sanitize
BUILD_BENCH ?= build-bench
JOBS ?= $(shell nproc)

.PHONY: deps build demo test test-sanitize bench clean

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

clean:
	rm -rf $(BUILD) $(BUILD_SAN) $(BUILD_BENCH)
