# The two entry points: `make run` and `make test`. Both install what is missing first.
BUILD      ?= build
DEMO_PORT  ?= 8731
# The format the demo feed server serves at Pinglark's feed address: rss1, rss2 or atom.
FEED       ?= rss1
JOBS       ?= $(shell nproc)
# Development builds talk to the bundled demo feed server; see README for a real feed host.
CMAKE_ARGS ?= -DPINGLARK_SITE_URL=http://127.0.0.1:$(DEMO_PORT)
# `make install` and `make package` use a Release build of their own for the default feed host, or
# for the one given as PINGLARK_SITE_URL=https://... (never the demo server).
PACKAGE_BUILD ?= $(BUILD)/package
PREFIX        ?= /usr/local
PACKAGE_SITE   = $(if $(PINGLARK_SITE_URL),-DPINGLARK_SITE_URL=$(PINGLARK_SITE_URL),-UPINGLARK_SITE_URL)
PACKAGE_ARGS   = -DCMAKE_BUILD_TYPE=Release -DPINGLARK_BUILD_TESTS=OFF -DPINGLARK_BUILD_BENCH=OFF \
                 $(PACKAGE_SITE)

# `make test` also builds the suites with AddressSanitizer and UndefinedBehaviorSanitizer, in a
# build of their own, and runs them again there: any report fails the run.
SANITIZE_BUILD ?= $(BUILD)/sanitize
SANITIZE_ARGS   = $(CMAKE_ARGS) -DCMAKE_BUILD_TYPE=Debug -DPINGLARK_BUILD_BENCH=OFF \
                  -DPINGLARK_SANITIZE=ON "-DCMAKE_CXX_FLAGS=-O1 -g"

.PHONY: all deps configure build run test test-sanitize bench clean install package

all: build

deps:
	@tools/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	tools/run-demo.sh $(BUILD) $(DEMO_PORT) $(FEED)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) test-sanitize

# The end-to-end and installation suites check the real program as a desktop and a package
# manager see it, and the static checks look at the sources; the plain build runs them.
test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) $(SANITIZE_ARGS)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS) -E '^(e2e|install|format$$|tidy$$)'

bench: build
	tools/run-bench.sh $(BUILD)

clean:
	rm -rf $(BUILD)

install: deps
	cmake -S . -B $(PACKAGE_BUILD) $(PACKAGE_ARGS)
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cmake --install $(PACKAGE_BUILD) --prefix $(PREFIX)

package: deps
	cmake -S . -B $(PACKAGE_BUILD) $(PACKAGE_ARGS)
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && cpack -G DEB
