# Two commands set everything up on a fresh Debian 12 machine:
#   make demo   installs missing packages, builds, fills the bundled example
#   make test   installs missing packages, builds, runs every test
PRESET ?= release
BUILD  := build/$(PRESET)

.PHONY: all deps configure build demo test sanitize bench gallery clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@test -f $(BUILD)/build.ninja || cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

test: build
	ctest --preset $(PRESET)

demo: build
	@scripts/demo.sh $(BUILD)

sanitize:
	@scripts/install-deps.sh sanitize
	@test -f build/sanitize/build.ninja || cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

gallery: build
	@scripts/gallery.sh $(BUILD)

bench: build
	$(BUILD)/bench/areafill_bench --benchmark_min_time=0.2

clean:
	rm -rf build
