# The two commands of the README: `make run` and `make test`.
JOBS := $(shell nproc)

.PHONY: run test build bench package fuzz

# Seconds each fuzz target runs for under `make fuzz`.
FUZZ_SECONDS ?= 60

build:
	scripts/install.sh
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRESVIK_BUILD_TESTS=OFF >/dev/null
	cmake --build build -j$(JOBS)

run: build
	scripts/run.sh

test:
	scripts/test.sh

bench: build
	scripts/isolated.sh scripts/with-display.sh scripts/run-bench.sh

package: build
	cmake --build build --target package

fuzz:
	scripts/install.sh fuzz
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRESVIK_FUZZ=ON \
	  -DTRESVIK_BUILD_TESTS=OFF >/dev/null
	cmake --build build-fuzz -j$(JOBS) --target fuzz_targets
	scripts/fuzz.sh $(FUZZ_SECONDS)
