# The two entry points: `make run` and `make test`. Both install what is missing first.
BUILD      ?= build
DEMO_PORT  ?= 8731
JOBS       ?= $(shell nproc)
# Development builds talk to the bundled demo feed server; see README for a real feed host.
CMAKE_ARGS ?= -DPINGLARK_SITE_URL=http://127.0.0.1:$(DEMO_PORT)

.PHONY: all deps configure build run test bench clean

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
