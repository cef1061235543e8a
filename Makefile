# make        build every program into build/bin/
# make test   install missing Debian packages, build, run the whole test suite
# make demo   install, build, and run one batch cycle on a demo database
# make install PREFIX=/opt/kvo   the programs, the service unit and sample configuration
# make package  build/kvo_<version>_amd64.deb, the Debian package of all of it
BUILD ?= build
PREFIX ?= /opt/kvo
JOBS  ?= $(shell nproc)

.PHONY: all build test demo deps configure clean bench install package

all: build

deps:
	@scripts/install-deps

configure:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Packages first, then the build, then the tests, one after another even under make -j.
test: deps
	@$(MAKE) --no-print-directory build
	@cd $(BUILD) && ctest --output-on-failure --timeout 900

demo: deps
	@$(MAKE) --no-print-directory build
	@scripts/demo

bench: deps
	@scripts/install-deps --bench
	@$(MAKE) --no-print-directory build
	@bench/run

# The programs, the service unit and sample configuration under $(PREFIX) only.
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package: CPack installs the same rules into /usr and asks dpkg-shlibdeps for the
# libraries the programs link.
package: deps
	@$(MAKE) --no-print-directory build
	@cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD)
