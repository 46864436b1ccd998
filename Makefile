# The two commands of the README:
#   make demo   builds, then flashes a sample image into a simulated chip
#   make check  installs what is missing, builds everything, runs every test
# and the benchmark, the full fault-point sweep and the fuzzers:
#   make bench
#   make sweep
#   make fuzz   (FUZZ_SECONDS per target, default 120)
# and, for Secure Boot, signed copies of the UEFI applications beside them
# (docs/secure-boot.md):
#   make sign KEY=db.key CERT=db.crt

SHELL := /bin/bash
HOST := build/host
ZAR_SIM := $(HOST)/tools/zar-sim

.PHONY: all deps host uefi asan clang check demo bench sweep fuzz sign clean

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

# The clang build: the same code through a second compiler, the tests, and
# each fuzz target for a few seconds on its seed corpus.
clang: deps
	cmake --preset clang >/dev/null
	cmake --build --preset clang

check: host uefi asan clang
	ctest --preset host
	ctest --preset asan
	ctest --preset clang

demo: host
	@tools/demo.sh $(ZAR_SIM)

bench: deps
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	@tools/bench.sh build/bench/tools/zar-sim

FUZZ_SECONDS ?= 120
fuzz: clang
	@tools/fuzz.sh $(FUZZ_SECONDS) build/clang

# Every kind of point where the EC can stop answering, on three parts, each
# followed by the rerun the console advises (zar-sim --rerun shows one point).
SWEEP_JOBS ?= 2
sweep: host
	cd $(HOST)/tools && nice ./zar-sweep --jobs $(SWEEP_JOBS)

sign: uefi
	@[ -n "$(KEY)" ] && [ -n "$(CERT)" ] || { echo "usage: make sign KEY=db.key CERT=db.crt" >&2; exit 2; }
	@tools/sign-efi.sh "$(KEY)" "$(CERT)" build/uefi/zar.efi build/uefi/zar-sim.efi

clean:
	rm -rf build
