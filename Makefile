# Thin wrapper over CMake for the everyday commands.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all build test demo package clean windows test-windows

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	@sh tools/demo.sh $(BUILD)

# The Octave package, $(BUILD)/scenemap-<version>.tar.gz.
package: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target octave_package

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
