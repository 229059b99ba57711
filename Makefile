# Thin wrapper over CMake/Ninja. `make demo` and `make test` are the two commands the README names.
BUILD     ?= build
ASAN_DIR  ?= build-asan
FUZZ_DIR  ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= ssa_reader event_text settings layout bitmap_writer palette_honour generation link_client readers
JOBS      ?= 2
CMAKE_GEN := -G Ninja

PREFIX    ?= /usr/local
DESTDIR   ?=

.PHONY: all deps build test demo plugin-windows asan fuzz clean format bench install install-only uninstall package format-check screenshots

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The plug-in for the video tool on Windows, cross-built with mingw-w64 for x86_64 and i686:
# $(WIN_BUILD)-x86_64/VDubTessara.vdf and $(WIN_BUILD)-i686/VDubTessara.vdf.
WIN_BUILD ?= build-windows
plugin-windows: deps
	for arch in x86_64 i686; do \
	  cmake -S . -B $(WIN_BUILD)-$$arch $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$$arch.cmake && \
	  cmake --build $(WIN_BUILD)-$$arch -j $(JOBS) --target VDubTessara || exit 1; \
	done

# A PNG of every window of the desktop program, drawn offscreen, in docs/screenshots/.
screenshots: build
	$(BUILD)/tessara-gui-screenshots samples/demo.ssa docs/screenshots

demo: build
	@mkdir -p out
	$(BUILD)/tessara generate samples/demo.ssa -o out/demo.son

# Installs under PREFIX (default /usr/local), below DESTDIR when given (for staging and packaging).
# The list of installed files is kept in the build folder for `make uninstall`.
install: build install-only

install-only:
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# Removes exactly what the last `make install` put there (the list holds the paths without
# DESTDIR, so give the same DESTDIR), then the folders of our own it made.
uninstall:
	@test -f $(BUILD)/install_manifest.txt || { echo "nothing installed from $(BUILD)"; exit 1; }
	@while IFS= read -r f || [ -n "$$f" ]; do rm -fv "$(DESTDIR)$$f"; done < $(BUILD)/install_manifest.txt
	@for d in lib/tessara share/tessara share/doc/tessara; do \
	  rmdir --ignore-fail-on-non-empty "$(DESTDIR)$(PREFIX)/$$d" 2>/dev/null || true; done
	@rm -f $(BUILD)/install_manifest.txt

# The Debian package, in build/package/tessara_VERSION_ARCH.deb.
package: build
	cd $(BUILD) && cpack -G DEB

asan: deps
	cmake -S . -B $(ASAN_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTESSARA_SANITIZE=ON -DTESSARA_BENCH=OFF
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# Each fuzz target under libFuzzer with ASan and UBSan for FUZZ_SECONDS, one after the other.
# Opt-in: `make test` only replays the corpora in fuzz/corpus.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTESSARA_FUZZ=ON -DTESSARA_TESTS=OFF -DTESSARA_BENCH=OFF -DTESSARA_WERROR=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	scripts/run-fuzz $(FUZZ_DIR) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

bench: build
	$(BUILD)/bench/tessara_bench
	$(BUILD)/bench/tessara_gui_bench

format:
	scripts/check-format

format-check:
	scripts/check-format --check

clean:
	rm -rf $(BUILD) $(ASAN_DIR) $(FUZZ_DIR) $(WIN_BUILD)-x86_64 $(WIN_BUILD)-i686 out

# tessara generate against libass and spumux on the same generated scripts (bench/peers/run.sh);
# installs the peers first. RUNS, EVENTS, SEED and BENCH_DIR pass through to the script.
.PHONY: bench-peers
bench-peers: build
	scripts/install-bench-peers
	BUILD=$(BUILD) bench/peers/run.sh
