# Thin wrapper over CMake for the everyday commands.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all build test demo bench package clean windows test-windows test-sanitize \
	test-valgrind fuzz soak

# Reliability runs (see README, "Reliability testing").
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
SOAK_CALLS ?= 100000
VALGRIND = valgrind -q --error-exitcode=1 --leak-check=full \
	--errors-for-leak-kinds=definite --show-leak-kinds=definite

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The C++ suite (core, host, modules through the host, corpus replay) built
# with ASan and UBSan, stopping at the first report.
test-sanitize:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DSCENEMAP_SANITIZE=ON -DSCENEMAP_OCTAVE=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The loader-driven tests under memcheck: no errors, no definite leaks.
# The gateway inputs include the corpus a previous make fuzz grew.
test-valgrind: build
	$(VALGRIND) $(BUILD)/tests/module_test --gtest_brief=1
	$(VALGRIND) $(BUILD)/host/host_test --gtest_brief=1
	$(VALGRIND) $(BUILD)/tests/fuzz/replay_gateway tests/fuzz/corpus/gateway \
		$(wildcard $(FUZZ_BUILD)/corpus/gateway)

# Each libFuzzer target for FUZZ_SECONDS from the committed seeds (clang).
fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCENEMAP_FUZZ=ON \
		-DSCENEMAP_OCTAVE=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_core fuzz_gateway
	@for t in core gateway; do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  log=$(FUZZ_BUILD)/fuzz_$$t.log; \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s, log in $$log"; \
	  $(FUZZ_BUILD)/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/ \
	    $(FUZZ_BUILD)/corpus/$$t tests/fuzz/corpus/$$t >$$log 2>&1 || \
	    { tail -n 40 $$log; exit 1; }; \
	  grep -E '^Done|peak_rss' $$log; \
	done

# SOAK_CALLS mixed valid and invalid calls in one Octave process, for the
# native build and for the MEX build.
soak: build
	@for dir in octave octave-mex; do \
	  echo "soak: $(BUILD)/$$dir"; \
	  octave-cli --no-init-file --no-gui --quiet \
	    --eval "addpath('$(BUILD)/$$dir', 'tests/octave'); soak($(SOAK_CALLS))" \
	    || exit 1; \
	done

demo: build
	@sh tools/demo.sh $(BUILD)

# The Octave package, $(BUILD)/scenemap-<version>.tar.gz.
package: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target octave_package

# Timings: C++ walks beside their floors, modules beside vectorized Octave.
bench: build
	@sh bench/run.sh $(abspath $(BUILD))

clean:
	rm -rf $(BUILD)

# Windows modules, cross-built with mingw-w64 (x64 and x86 trees), and
# their tests under Wine, compared with this build's results.
WINDOWS := $(abspath $(BUILD))/windows
WINE_ENV := WINEPREFIX=$(WINDOWS)/wineprefix WINEDEBUG=-all \
	WINEDLLOVERRIDES="mscoree,mshtml="
windows_tree = cmake -S windows -B $(WINDOWS)/$(1) \
	-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchains/mingw-w64-$(2).cmake \
	-DSCENEMAP_MODULE_DIR=$(3) \
	-DSCENEMAP_REFERENCE_CASES=$(abspath $(BUILD))/tests/core_cases.bin $(4) \
	&& cmake --build $(WINDOWS)/$(1) -j $(JOBS)

windows:
	$(call windows_tree,x64,x86_64,$(WINDOWS))
	$(call windows_tree,x86,i686,$(WINDOWS))

# The x86 tests need a kernel that runs 32-bit programs (Wine's 32-bit
# loader). Where it cannot, the x86 modules' tables are still checked, and
# the x87 evaluation is measured on x64 builds compiled with -mfpmath=387.
test-windows: build windows
	$(call windows_tree,x87-on-x64,x86_64,$(WINDOWS)/x87-on-x64/modules,\
		-DCMAKE_CXX_FLAGS=-mfpmath=387)
	$(WINE_ENV) /usr/lib/wine/wine64 wineboot -i
	$(WINE_ENV) ctest --test-dir $(WINDOWS)/x64 --output-on-failure -V
	$(WINE_ENV) ctest --test-dir $(WINDOWS)/x87-on-x64 --output-on-failure \
		-V -R linux_reference
	@if /usr/lib/wine/wine --version >/dev/null 2>&1; then \
	  $(WINE_ENV) ctest --test-dir $(WINDOWS)/x86 --output-on-failure -V; \
	else \
	  echo "x86 module tests skipped: this kernel cannot run 32-bit programs"; \
	  ctest --test-dir $(WINDOWS)/x86 --output-on-failure -V -L static; \
	fi
