# The two entry points: `make run` and `make test`. Both install what is missing first.
BUILD      ?= build
DEMO_PORT  ?= 8731
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

.PHONY: all deps configure build run test bench clean install package

all: build

deps:
	@tools/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	tools/run-demo.sh $(BUILD) $(DEMO_PORT)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

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
