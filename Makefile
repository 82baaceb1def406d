# Thin wrapper over CMake for the everyday commands.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all build test demo bench package clean deps windows test-windows \
	test-sanitize test-valgrind fuzz soak macos test-macos test-i386

# Reliability runs (see README, "Reliability testing").
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
SOAK_CALLS ?= 100000
VALGRIND = valgrind -q --error-exitcode=1 --leak-check=full \
	--errors-for-leak-kinds=definite --show-leak-kinds=definite

all: build

# The packages the build and tests need (as root); DEPS adds extra runs'
# lists, e.g. make deps DEPS="reliability windows" (see tools/install-deps.sh).
deps:
	sh tools/install-deps.sh $(DEPS)

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
	$(VALGRIND) $(BUILD)/tests/host_test --gtest_brief=1
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

# Windows modules, cross-built with mingw-w64 from the same CMake description
# (one build tree per architecture, cmake/toolchains/), and their tests
# under Wine, compared with this build's results. The trees share one Wine
# prefix, made by the 64-bit loader first.
WINDOWS := $(abspath $(BUILD))/windows
test-windows: export WINEPREFIX := $(WINDOWS)/wineprefix
test-windows: export WINEDEBUG := -all
test-windows: export WINEDLLOVERRIDES := mscoree,mshtml=
windows_tree = cmake -S . -B $(WINDOWS)/$(1) \
	-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchains/mingw-w64-$(2).cmake \
	-DSCENEMAP_MODULE_DIR=$(3) \
	-DSCENEMAP_REFERENCE_CASES=$(abspath $(BUILD))/tests/core_cases.bin $(4) \
	&& cmake --build $(WINDOWS)/$(1) -j $(JOBS)

windows:
	$(call windows_tree,x64,x86_64,$(WINDOWS))
	$(call windows_tree,x86,i686,$(WINDOWS))

# Where the kernel cannot run 32-bit programs, the x86 tree checks only its
# modules' tables. The x87 evaluation is also measured on an x64 build
# compiled with -mfpmath=387.
test-windows: build windows
	$(call windows_tree,x87-on-x64,x86_64,$(WINDOWS)/x87-on-x64/modules,\
		-DCMAKE_CXX_FLAGS=-mfpmath=387)
	ctest --test-dir $(WINDOWS)/x64 --output-on-failure -V
	ctest --test-dir $(WINDOWS)/x87-on-x64 --output-on-failure -V \
		-R linux_reference
	ctest --test-dir $(WINDOWS)/x86 --output-on-failure -V

# macOS modules, cross-built with clang from the same CMake description (one
# tree per architecture, cmake/toolchains/macos-*.cmake): x86-64
# (.mexmaci64) and Apple-silicon (.mexmaca64) bundles linked by ld64.lld,
# i386 (.mexmaci) ones by LLVM 13's older Mach-O linker, all in $(MACOS).
# The tests check the bundles' tables and run them through the Mach-O loader
# of the Linux tree of their architecture: this build for x86-64, the i386
# tree (below) and an aarch64 one, both under qemu, for the others; their
# results are compared with this build's.
MACOS := $(abspath $(BUILD))/macos
AARCH64 := $(abspath $(BUILD))/aarch64
macos_tree = cmake -S . -B $(MACOS)/$(1) \
	-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchains/macos-$(1).cmake \
	-DSCENEMAP_MODULE_DIR=$(MACOS) -DSCENEMAP_HOST_BUILD=$(2) \
	-DSCENEMAP_REFERENCE_BUILD=$(abspath $(BUILD)) \
	&& cmake --build $(MACOS)/$(1) -j $(JOBS)
# A Linux tree of the given toolchain with what the macOS runs need: the
# loader, mexrun and the module tests.
linux_tree = cmake -S . -B $(1) \
	-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchains/linux-$(2).cmake \
	-DSCENEMAP_REFERENCE_CASES=$(abspath $(BUILD))/tests/core_cases.bin \
	&& cmake --build $(1) -j $(JOBS) $(3)
macos_hosts = --target mexrun module_test linux_reference_test

macos:
	$(call macos_tree,x86_64,$(abspath $(BUILD)))
	$(call macos_tree,arm64,$(AARCH64))
	$(call macos_tree,i386,$(I386))

test-macos: build macos
	$(call linux_tree,$(I386),i386,$(macos_hosts))
	$(call linux_tree,$(AARCH64),aarch64,$(macos_hosts))
	ctest --test-dir $(MACOS)/x86_64 --output-on-failure -V
	ctest --test-dir $(MACOS)/arm64 --output-on-failure -V
	ctest --test-dir $(MACOS)/i386 --output-on-failure -V

# The same sources as a 32-bit x86 Linux program (-m32, x87 doubles,
# cmake/toolchains/linux-i386.cmake): the C++ suites and both modules, run
# under qemu-i386, each program with the x87 unit at extended and at double
# precision, compared with this build's results.
I386 := $(abspath $(BUILD))/i386
test-i386: build
	$(call linux_tree,$(I386),i386)
	ctest --test-dir $(I386) --output-on-failure -j $(JOBS)
