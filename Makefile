# Entry points: `make demo` and `make test` (see README.md).
JOBS ?= 2
BUILD ?= build
ASAN_BUILD ?= build-asan
TSA_BUILD ?= build-tsa
CMAKE_FLAGS ?=

export ASAN_OPTIONS ?= detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1

.PHONY: all deps build build-asan build-tsa test test-fast test-asan demo install clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DOSTREL_SANITIZE=address,undefined -DOSTREL_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)

# The locking that the transport, the pool and the daemon declare, checked by clang's thread-safety
# analysis with its warnings as errors. Only those targets (and what they need) are compiled,
# unoptimised and without debug information: no programs, tests or benchmarks.
TSA_TARGETS = Corvel OstrelDal OstreldObjects

build-tsa: deps
	cmake -S . -B $(TSA_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS_DEBUG=-O0 -DCMAKE_C_FLAGS_DEBUG=-O0 -DOSTREL_BUILD_TESTS=OFF -DOSTREL_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(TSA_BUILD) -j$(JOBS) --target $(TSA_TARGETS)

# The lock check, the whole suite, then the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
test: build-tsa build build-asan
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 900
	cd $(ASAN_BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 900

test-fast: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 900

# The demo needs the programs, the password plug-in and the database driver modules only (each a
# real target: the INTERFACE library that gathers them has no build rule with Makefiles).
DEMO_TARGETS = ostreld ostrel ostrel-admin OstrelAuthSql VeskDalSqlite VeskDalPostgresql VeskDalMysql

demo: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS) --target $(DEMO_TARGETS)
	bash scripts/demo.sh $(BUILD)

install: build
	cmake --install $(BUILD) --prefix $(or $(PREFIX),/usr/local)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSA_BUILD)
