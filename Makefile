# The two commands of the README: `make run` and `make test`. Each installs
# what is missing (as root), configures, builds and runs.
BUILD_DIR ?= build
# Interpreter for tools/mfwindow-plot: Debian's, which python3-matplotlib serves.
PYTHON ?= /usr/bin/python3
# Debian packages the build and the tests need, and those of check-arm64:
# the cross compiler, qemu-user and the arm64 development packages.
PACKAGES := cmake ninja-build g++ make time bc git libgtest-dev libbenchmark-dev \
  libtbb-dev libhwy-dev libcli11-dev pybind11-dev python3-pybind11 python3-dev \
  python3-numpy python3-matplotlib python3-pandas python3-tqdm python3-pytest \
  python3-venv python3-pip python3-setuptools python3-wheel python3-mpmath \
  python3-distributed clang libclang-rt-14-dev clang-format clang-tidy \
  util-linux libfftw3-dev
ARM64_PACKAGES := g++-aarch64-linux-gnu qemu-user-static libtbb-dev:arm64 \
  libhwy-dev:arm64 libgtest-dev:arm64 libstdc++-12-dev:arm64 \
  libfftw3-dev:arm64
ARM64_DIR ?= build-arm64
# Seconds allowed for the installed-package step of `make test` (a clean
# clone built into a wheel, which compiles the library, then the Python
# tests); it took 3 min 46 s on this project's 2-core machine (README).
WHEEL_TEST_TIMEOUT ?= 900

.PHONY: all deps configure build run test check-arm64 lint tsan clean

all: build

# Installs what is missing (as root, non-interactively; the arm64 packages
# need the arm64 architecture in dpkg, added here), or prints the command.
deps:
	@missing=""; \
	for p in $(PACKAGES) $(ARM64_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' "$$p" 2>/dev/null | grep -q "ok installed" \
	    || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    dpkg --print-foreign-architectures | grep -qx arm64 \
	      || dpkg --add-architecture arm64; \
	    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; \
	  else \
	    echo "Missing packages. Run:"; \
	    echo "  sudo dpkg --add-architecture arm64 && sudo apt-get update"; \
	    echo "  sudo apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	fi

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DSTRICT_WARNINGS=ON

build: configure
	cmake --build $(BUILD_DIR)

run: build
	cd examples && "../$(BUILD_DIR)/mfwindow" < answers.txt
	@echo "Results are in examples/F(Alfa)/"
	@if $(PYTHON) -c 'import matplotlib, numpy' 2>/dev/null; then \
	  $(PYTHON) tools/mfwindow-plot examples/F\(Alfa\)/*.dat \
	  && echo "Pictures of the results are beside them, one PNG per series"; \
	else \
	  echo "To plot the results, install python3-matplotlib and run:"; \
	  echo "  tools/mfwindow-plot examples/F\(Alfa\)/*.dat"; \
	fi

# Every test; the Python tests against a wheel built from a clean clone and
# installed into a fresh virtual environment (CTest's quick run of the same
# tests on the build folder's package is left out here); then the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer (less
# the tests that measure memory or load the library into another program);
# the threaded tests under ThreadSanitizer;
# then each fuzz target for 20 seconds.
test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j 2 -LE python
	timeout $(WHEEL_TEST_TIMEOUT) tests/python/installed_test.sh . $(BUILD_DIR)
	cmake -S . -B $(BUILD_DIR)-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
	  -DSANITIZE=ON -DSTRICT_WARNINGS=ON -DMFWINDOW_PYTHON=OFF
	cmake --build $(BUILD_DIR)-asan
	ctest --test-dir $(BUILD_DIR)-asan --output-on-failure -j 2 -LE 'memory|faults|install|generator'
	$(MAKE) tsan
	tests/fuzz/run.sh 20

# The tests that run the engines and the library on several threads, under
# ThreadSanitizer. (setarch -R: its shadow memory needs a fixed layout on
# kernels that randomise mappings widely.)
# tests/tsan_suppressions.txt says which reports inside TBB are left out.
TSAN_TESTS := analysis_test:FastEngine.*:Engines.*:EngineOptions.*:SeriesEngine.* api_test:* \
  numerics_test:Surrogates.*:*Surrogate.*:SurrogateKey.*:KeyedRandom.*
tsan: deps
	cmake -S . -B $(BUILD_DIR)-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSANITIZE_THREAD=ON -DSTRICT_WARNINGS=ON -DMFWINDOW_PYTHON=OFF \
	  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST
	cmake --build $(BUILD_DIR)-tsan --target analysis_test api_test numerics_test
	@for t in $(TSAN_TESTS); do \
	  exe=$${t%%:*}; filter=$${t#*:}; \
	  echo "ThreadSanitizer: $$exe --gtest_filter=$$filter"; \
	  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan_suppressions.txt" \
	    setarch $$(uname -m) -R $(BUILD_DIR)-tsan/tests/$$exe \
	    --gtest_filter="$$filter" --gtest_brief=1 || exit 1; \
	done

# Formatting and clang-tidy (.clang-tidy) over our own code; no findings
# allowed. Needs the configured build for compile_commands.json.
lint: configure
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
	run-clang-tidy -quiet -p $(BUILD_DIR) -j 2 '$(CURDIR)/src/' > $(BUILD_DIR)/clang-tidy.log 2>&1 \
	  || { grep -E 'warning:|error:' $(BUILD_DIR)/clang-tidy.log; exit 1; }
	@echo "lint: clean"

# The numerics and engine tests cross-built for 64-bit Arm and run under
# qemu-user against Debian's arm64 glibc (cmake/aarch64-linux-gnu.cmake).
check-arm64: deps
	cmake -S . -B $(ARM64_DIR) -G Ninja \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DSTRICT_WARNINGS=ON -DMFWINDOW_PYTHON=OFF
	cmake --build $(ARM64_DIR) --target numerics_test analysis_test
	qemu-aarch64-static $(ARM64_DIR)/tests/numerics_test
	# The straightforward engine's own tests are portable code, checked on
	# the host; under emulation they would take minutes of CI's budget.
	qemu-aarch64-static $(ARM64_DIR)/tests/analysis_test \
	  --gtest_filter='-MethodOptions.*:ReferenceEngine.*:ReferenceEngineNull.*:WindowQuality.*:RangeFloor.*'

clean:
	rm -rf $(BUILD_DIR)
