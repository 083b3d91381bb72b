# Thin driver over CMake's presets.
#   make demo     installs what is missing, builds trails, renders a still and a video
#   make check    installs what is missing, builds every preset, runs every test
#   make deps     installs the Debian packages that are missing (as root)
#   make          the native build alone (no root needed when the packages are there)
#   make windows  the 32-bit Windows DLL, tool and test programs
#   make bench    the benchmarks of this tree (not part of check)
#   make bench-compare BASE=COMMIT  the same benchmarks side by side with an older commit
#   make fuzz     the fuzzer for ten minutes (check runs it for one)
#   make prove-math  every float through the exact sine, cosine, tangent and
#                 arc tangent, every camera argument through the double ones,
#                 against glibc and MPFR (not part of check: about an hour on
#                 two cores); rewrites tests/data/exact_math_cases.txt
#   make bench-math  the exact functions against glibc, per value
#   make install  trails, chaos-trails, the XScreenSaver hack, menu entry and
#                 manual page under PREFIX (default /usr/local)
JOBS ?= 2
BUILD := build
PREFIX ?= /usr/local

.PHONY: all deps native asan o0 windows fuzz-build builds check demo bench bench-compare fuzz prove-math bench-math install clean

all: native

# The only target that asks apt for anything; demo and check start with it.
deps:
	@scripts/install-deps

native:
	cmake --preset native -G Ninja >/dev/null
	cmake --build --preset native -j $(JOBS)

asan:
	cmake --preset native-asan -G Ninja >/dev/null
	cmake --build --preset native-asan -j $(JOBS)

o0:
	cmake --preset native-o0 -G Ninja >/dev/null
	cmake --build --preset native-o0 -j $(JOBS) --target trails

windows:
	cmake --preset windows -G Ninja >/dev/null
	cmake --build --preset windows -j $(JOBS)

# The fuzzer (clang, libFuzzer, ASan, UBSan), built ahead of its timed run.
fuzz-build:
	cmake -S fuzz -B $(BUILD)/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
	cmake --build $(BUILD)/fuzz -j $(JOBS)

builds: native asan o0 windows fuzz-build

# The sanitizer run first (the OpenGL and Wayland tests included); the release
# run last, with the cross-build checks (Windows under Wine, -O0 against
# release) and the bounded fuzz run. Its last lines name the checks that were
# skipped, and why Wine did not run.
check: deps
	@$(MAKE) --no-print-directory builds
	@scripts/run-checks $(JOBS)

# Only what the demo runs: the trails tool.
demo: deps
	cmake --preset native -G Ninja >/dev/null
	cmake --build --preset native -j $(JOBS) --target trails
	@mkdir -p out
	$(BUILD)/native/tools/trails render --out out/chaos-trails.png
	$(BUILD)/native/tools/trails render --seconds 10 --out out/chaos-trails.mp4
	@echo "demo: wrote $(CURDIR)/out/chaos-trails.png and $(CURDIR)/out/chaos-trails.mp4"

bench: native
	$(BUILD)/native/bench/chaostrails_bench

# BASE: the commit to compare with (default: the one before HEAD). Its tree's
# libraries are built in a worktree, with this tree's benchmark sources; see
# bench/compare.sh.
BASE ?= HEAD~1
bench-compare:
	JOBS=$(JOBS) bench/compare.sh $(BASE)

fuzz:
	fuzz/run-fuzz.sh 600

prove-math: native
	mkdir -p $(BUILD)
	nice $(BUILD)/native/tools/math-prove/prove_exact_math --cases tests/data/exact_math_cases.txt \
	  | tee $(BUILD)/prove-math.log

bench-math: native
	$(BUILD)/native/bench/exact_math_bench

install: native
	cmake --install $(BUILD)/native --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) out
