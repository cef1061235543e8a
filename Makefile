# make        build every program into build/bin/
# make test   install missing Debian packages, build, run the whole test suite
# make demo   install, build, and run one batch cycle on a demo database
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: all build test demo deps configure clean bench

all: build

deps:
	@scripts/install-deps

configure:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: deps build
	@cd $(BUILD) && ctest --output-on-failure --timeout 900

demo: deps build
	@scripts/demo

bench: deps build
	@scripts/install-deps --bench
	@bench/run

clean:
	rm -rf $(BUILD)
