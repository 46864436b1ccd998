# The two commands of the README:
#   make demo   builds, then flashes a sample image into a simulated chip
#   make check  installs what is missing, builds everything, runs every test
# and the benchmark and the full fault-point sweep:
#   make bench
#   make sweep

SHELL := /bin/bash
HOST := build/host
ZAR_SIM := $(HOST)/tools/zar-sim

.PHONY: all deps host uefi asan check demo bench sweep clean

all: host

deps:
	@tools/install-deps.sh

host: deps
	cmake --preset host >/dev/null
	cmake --build --preset host

uefi: deps
	cmake --preset uefi >/dev/null
	cmake --build --preset uefi

asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan

check: host uefi asan
	ctest --preset host
	ctest --preset asan

demo: host
	@tools/demo.sh $(ZAR_SIM)

bench: deps
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	@tools/bench.sh build/bench/tools/zar-sim

# Every kind of point where the EC can stop answering, on three parts, each
# followed by the rerun the console advises (zar-sim --rerun shows one point).
SWEEP_JOBS ?= 2
sweep: host
	cd $(HOST)/tools && nice ./zar-sweep --jobs $(SWEEP_JOBS)

clean:
	rm -rf build
