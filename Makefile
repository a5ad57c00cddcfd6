# Thin targets over CMake. BUILD picks the build folder, CMAKE_FLAGS adds configure options.
BUILD ?= build
CMAKE_FLAGS ?=

FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local
DESTDIR ?=

.PHONY: all deps configure build test demo bench apache-compare sanitize tsan fuzz install package package-test windows windows-test clean

all: build

deps:
	@sh scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j2

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j2

# Converts the bundled example sites into $(BUILD)/demo and $(BUILD)/demo-apache (the one
# written for Apache, in the Apache dialect) and prints the logs.
demo: build
	rm -rf $(BUILD)/demo $(BUILD)/demo-apache
	./$(BUILD)/orrinfold examples/site $(BUILD)/demo
	./$(BUILD)/orrinfold --dialect apache examples/apache-site $(BUILD)/demo-apache

bench: build
	./$(BUILD)/bench/engine_bench
	./$(BUILD)/bench/site_bench
	./$(BUILD)/bench/pathological_bench
	./$(BUILD)/bench/rebuild_bench --preset medium
	./$(BUILD)/bench/rebuild_bench --preset large
	python3 bench/serve_bench.py ./$(BUILD)/orrinfold examples/site ./$(BUILD)/bench/rebuild_bench
	if [ -x ./$(BUILD)/bench/gui_bench ]; then ./$(BUILD)/bench/gui_bench; fi

# Random sites through a real Apache 2.4 and through --dialect apache, page by page
# (needs apache2: scripts/install-deps.sh apache).
apache-compare: build
	@sh scripts/install-deps.sh apache
	python3 scripts/apache-compare/compare.py --orrinfold $(BUILD)/orrinfold --sites 50

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	$(MAKE) test BUILD=build-sanitize CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Debug -DORRINFOLD_SANITIZE='address;undefined' -DORRINFOLD_BUILD_BENCH=OFF $(CMAKE_FLAGS)"

# The core and command-line test suites under ThreadSanitizer, for data races between the
# workers of a run; a race fails its test (TSan's exit status). The Pathological cases run the
# engine on one thread and take minutes under TSan, so they are left to `make sanitize`. Where
# the kernel lays out memory where gcc's TSan does not expect it ("unexpected memory mapping"),
# running without address randomisation (setarch -R) helps; it is used whenever allowed.
TSAN_OPTIONS ?= second_deadlock_stack=1
tsan:
	$(MAKE) build BUILD=build-tsan CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=RelWithDebInfo -DORRINFOLD_SANITIZE=thread -DORRINFOLD_BUILD_GUI=OFF -DORRINFOLD_BUILD_BENCH=OFF $(CMAKE_FLAGS)"
	TSAN_OPTIONS="$(TSAN_OPTIONS)" $$(setarch -R true >/dev/null 2>&1 && echo setarch -R) \
		ctest --test-dir build-tsan --output-on-failure -j2 --exclude-regex '^Pathological\.'

# Builds the fuzz targets with clang and runs each for FUZZ_SECONDS.
fuzz:
	@sh scripts/install-deps.sh fuzz
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DORRINFOLD_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build build-fuzz -j2
	sh scripts/fuzz.sh build-fuzz $(FUZZ_SECONDS)

# The programs, help pages, man pages, shell completions and desktop entry under PREFIX
# (staged under DESTDIR when given).
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The Debian package $(BUILD)/orrinfold_<version>_<arch>.deb (cpack; needs dpkg-dev).
package: build
	@sh scripts/install-deps.sh package
	cmake --build $(BUILD) -j2 --target package

# Builds the package, unpacks it into a scratch root and runs the programs from there.
package-test: package
	sh tests/packaging/package_test.sh $(BUILD)

# Windows: the core, the program and the test suites cross-built with MinGW-w64 into build-win
# (no desktop program: Debian has no Qt for Windows); windows-test runs the suites under Wine.
windows:
	@sh scripts/install-deps.sh windows
	cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
		-DORRINFOLD_BUILD_GUI=OFF -DORRINFOLD_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build build-win -j2

windows-test: windows
	sh scripts/windows-test.sh build-win

clean:
	rm -rf build build-sanitize build-tsan build-fuzz build-win
