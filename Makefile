# Two commands set everything up on a fresh Debian 12 machine:
#   make demo   installs missing packages, builds, fills the bundled example
#   make test   installs missing packages, builds, runs every test
#   make install-gimp   builds and installs the GIMP 2.10 plug-in into the user's GIMP profile
PRESET ?= release
BUILD  := build/$(PRESET)

.PHONY: all deps configure build demo test lint install-gimp sanitize bench gallery gimp-dialog fuzz reliability mutants clean

FUZZ_SECONDS ?= 60

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@test -f $(BUILD)/build.ninja || cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

test: build
	ctest --preset $(PRESET)

# The format of every C and C++ file, and includes that point up the layers (docs/architecture.md).
lint:
	scripts/check_format.sh
	scripts/check_layers.py

demo: build
	@scripts/demo.sh $(BUILD)

install-gimp: build
	@scripts/install-gimp-plugin.sh $(BUILD)

sanitize:
	@scripts/install-deps.sh sanitize
	@test -f build/sanitize/build.ninja || cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

gallery: build
	@scripts/gallery.sh $(BUILD)

# The README's picture of the plug-in's dialog in GIMP (docs/gimp-dialog.png), under Xvfb.
gimp-dialog: build
	@scripts/gimp-dialog-screenshot.sh $(BUILD)

# Each fuzz target for FUZZ_SECONDS (clang, libFuzzer, ASan + UBSan).
fuzz:
	@scripts/install-deps.sh fuzz
	@test -f build/fuzz/build.ninja || cmake --preset fuzz
	cmake --build --preset fuzz
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz.sh build/fuzz

# Fuzzing, exhaustive fault injection, a 20,000 × 20,000 image, concurrent runs: rewrites
# docs/reliability.md with the figures of this run.
reliability: build
	@scripts/install-deps.sh reliability
	FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/reliability.sh $(BUILD) build/fuzz

# Planted faults: each fault of scripts/mutants.txt is planted in a private copy of the tree
# (build/mutants), which is built and tested; every fault must make a test fail.
# Options pass through ARGS, e.g. make mutants ARGS="--only fill,png" or ARGS="--list".
mutants: build
	/usr/bin/python3 scripts/mutants.py $(ARGS)

bench: build
	$(BUILD)/bench/areafill_bench --benchmark_min_time=0.2

clean:
	rm -rf build
