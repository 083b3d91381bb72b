# Thin driver over CMake's presets.
#   make demo     installs what is missing, builds, renders a still and a video
#   make check    installs what is missing, builds every preset, runs every test
#   make windows  the 32-bit Windows DLL, tool and test programs
#   make bench    the benchmarks of this tree (not part of check)
#   make bench-compare  the benchmarks side by side with the baseline, 24c5995
#   make fuzz     the fuzzer for ten minutes (check runs it for one)
#   make install  trails, chaos-trails, the XScreenSaver hack, menu entry and
#                 manual page under PREFIX (default /usr/local)
JOBS ?= 2
BUILD := build
PREFIX ?= /usr/local

.PHONY: all deps native asan o0 windows fuzz-build check demo bench bench-compare fuzz install clean

all: native

deps:
	@scripts/install-deps

native: deps
	cmake --preset native -G Ninja >/dev/null
	cmake --build --preset native -j $(JOBS)

asan: deps
	cmake --preset native-asan -G Ninja >/dev/null
	cmake --build --preset native-asan -j $(JOBS)

o0: deps
	cmake --preset native-o0 -G Ninja >/dev/null
	cmake --build --preset native-o0 -j $(JOBS) --target trails

windows: deps
	cmake --preset windows -G Ninja >/dev/null
	cmake --build --preset windows -j $(JOBS)

# The fuzzer (clang, libFuzzer, ASan, UBSan), built ahead of its timed run.
fuzz-build: deps
	cmake -S fuzz -B $(BUILD)/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
	cmake --build $(BUILD)/fuzz -j $(JOBS)

# The sanitizer run first (the OpenGL and Wayland tests included); the
# release run last, with the cross-build checks (Windows
# under Wine, -O0 against release) and the bounded fuzz run. Its last lines
# name the checks that were skipped, and why Wine did not run.
check: native asan o0 windows fuzz-build
	@scripts/run-checks $(JOBS)

demo: native
	@mkdir -p out
	$(BUILD)/native/tools/trails render --out out/chaos-trails.png
	$(BUILD)/native/tools/trails render --seconds 10 --out out/chaos-trails.mp4
	@echo "demo: wrote $(CURDIR)/out/chaos-trails.png and $(CURDIR)/out/chaos-trails.mp4"

bench: native
	$(BUILD)/native/bench/chaostrails_bench

# Builds the baseline's tree (a worktree in build/baseline-src) and the same
# benchmarks against it, runs both builds in turn, and times the tick+frame
# pair through trails dump; see bench/side-by-side.sh.
bench-compare: deps
	JOBS=$(JOBS) bench/side-by-side.sh

fuzz: deps
	fuzz/run-fuzz.sh 600

install: native
	cmake --install $(BUILD)/native --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) out
