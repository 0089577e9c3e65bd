# The README's commands: `make run` (build and analyse the example),
# `make test` (quick: build, every ctest label, the Python tests on the
# working tree), `make check` (plus sanitizers, ThreadSanitizer and fuzzing)
# and `make ci` (what .ci/run calls: lint, check, the wheels and the sdist,
# the gallery, the documentation site, arm64 under qemu, Windows under wine
# and the macOS link). Each installs what is missing (as root), configures,
# builds and runs.
BUILD_DIR ?= build
# Interpreter for tools/mfwindow-plot: Debian's, which python3-matplotlib serves.
PYTHON ?= /usr/bin/python3
# Debian's cmake, so that the build does not depend on which cmake comes
# first on PATH (the project also configures with CMake 4).
CMAKE ?= $(shell test -x /usr/bin/cmake && echo /usr/bin/cmake || echo cmake)
CTEST ?= $(shell test -x /usr/bin/ctest && echo /usr/bin/ctest || echo ctest)
# Debian packages the build and the tests need; check-arm64 adds the cross
# compiler, qemu-user and the arm64 development packages.
PACKAGES := cmake ninja-build g++ make time bc git libgtest-dev libbenchmark-dev \
  libtbb-dev libhwy-dev libcli11-dev pybind11-dev python3-pybind11 python3-dev \
  python3-numpy python3-matplotlib python3-scipy python3-pandas python3-tqdm python3-pytest \
  python3-venv python3-pip python3-setuptools python3-wheel python3-mpmath \
  python3-distributed python3-xarray clang libclang-rt-14-dev clang-format clang-tidy \
  util-linux libfftw3-dev
ARM64_PACKAGES := g++-aarch64-linux-gnu qemu-user-static libtbb-dev:arm64 \
  libhwy-dev:arm64 libgtest-dev:arm64 libstdc++-12-dev:arm64 \
  libfftw3-dev:arm64
ARM64_DIR ?= build-arm64
# check-windows: mingw-w64 (posix threads, for std::thread) and wine; the
# libraries are built for Windows from Debian's sources (apt-get source).
WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix wine64
WINDOWS_DIR ?= build-windows
# Seconds allowed for tests/python/installed_test.sh (`make wheel-check`:
# the wheels' checks, the Python tests in a fresh environment, the sdist
# and the offline route, these two compiling the library); CONTRIBUTING
# gives its times.
WHEEL_TEST_TIMEOUT ?= 1800
# `make wheel`: the work folder (libraries, builds, tools) and where the
# wheels are left.
WHEEL_WORK ?= build-wheel
WHEELHOUSE ?= wheelhouse
# zig, from the ziglang package of the Python index, in a virtual
# environment of its own (the macOS link and the wheels).
ZIG_ENV ?= build-zig
ZIG = $$($(ZIG_ENV)/bin/python -c 'import os, ziglang; \
  print(os.path.join(os.path.dirname(ziglang.__file__), "zig"))')
# The engine suite under qemu: the straightforward kernel's own tests and
# the progress poll's timing of windows in flight are portable code checked
# on the host (the poll also under ThreadSanitizer); under emulation they
# would take minutes of CI's budget. The segment-once kernel's stress
# corpus against its long double reference (software quad precision on
# aarch64, 2.5 minutes under qemu) runs once, on the wheel's aarch64 core.
WHEEL_ARM64_FILTER := -MethodOptions.*:StraightforwardKernel.*:StraightforwardNull.*:WindowQuality.*:RangeFloor.*:SeriesEngine.PollReachesTheWindowsInFlight
ARM64_ANALYSIS_FILTER := $(WHEEL_ARM64_FILTER):SegmentOnceKernel.KeepsItsContractOnTheStressCorpus

.PHONY: all deps deps-arm64 configure build run test check check-sanitize \
  wheel-check ci check-arm64 lint tsan fuzz clean gallery gallery-check \
  docs docs-deps docs-check deps-sources deps-windows windows check-windows \
  deps-zig deps-macos check-macos wheel

all: build

# Installs the packages in $(1) that are missing (as root,
# non-interactively), or prints the command.
define install_missing
	@missing=""; \
	for p in $(1); do \
	  dpkg-query -W -f='$${Status}' "$$p" 2>/dev/null | grep -q "ok installed" \
	    || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    $(2) apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; \
	  else \
	    echo "Missing packages. Run:"; \
	    echo "  sudo apt-get update && sudo apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES),)

# The arm64 packages need the arm64 architecture in dpkg, added here; only
# check-arm64 asks for them.
deps-arm64:
	$(call install_missing,$(ARM64_PACKAGES),dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64;)

configure: deps
	$(CMAKE) -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DSTRICT_WARNINGS=ON

build: configure
	$(CMAKE) --build $(BUILD_DIR)

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

# The quick tier: every ctest label on the Release build, the Python tests
# included (on the build folder's package, that is the working tree).
test: build
	$(CTEST) --test-dir $(BUILD_DIR) --output-on-failure -j 2

# The test tier plus the whole suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (less the tests that measure memory or load the
# library into another program), the threaded tests under ThreadSanitizer,
# and each fuzz target for 20 seconds.
check: test check-sanitize tsan fuzz

check-sanitize: deps
	$(CMAKE) -S . -B $(BUILD_DIR)-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
	  -DSANITIZE=ON -DSTRICT_WARNINGS=ON -DMFWINDOW_PYTHON=OFF
	$(CMAKE) --build $(BUILD_DIR)-asan
	$(CTEST) --test-dir $(BUILD_DIR)-asan --output-on-failure -j 2 -LE 'memory|faults|install|generator'

fuzz: deps
	tests/fuzz/run.sh 20

# The package as users get it (needs the package index): the wheels of
# `make wheel`, the aarch64 one's numerics and engine suites under qemu,
# then tests/python/installed_test.sh: each wheel's tag, glibc symbols and
# libraries, the x86_64 wheel in a fresh virtual environment (tests/python
# and both commands), the aarch64 wheel's program under qemu against it,
# the sdist from a clean clone and the offline route. The programs the
# tests compare with come from the build folder.
wheel-check: build deps-arm64
	WHEEL_ENGINE_TESTS=1 $(MAKE) wheel
	qemu-aarch64-static $(WHEEL_WORK)/build-aarch64/tests/numerics_test
	qemu-aarch64-static $(WHEEL_WORK)/build-aarch64/tests/analysis_test \
	  --gtest_filter='$(WHEEL_ARM64_FILTER)'
	timeout $(WHEEL_TEST_TIMEOUT) tests/python/installed_test.sh . $(BUILD_DIR) \
	  $(WHEELHOUSE)

# The self-contained Linux wheels, x86_64 and aarch64, for the machine's
# CPython (tools/cross/wheel-python.sh: WHEEL_PYTHON, else the first python3
# on PATH that is not Debian's), compiled by zig for glibc 2.17 with TBB, Highway and
# FFTW linked in and tagged manylinux2014 by auditwheel, into $(WHEELHOUSE)
# (tools/cross/build-wheel.sh says how).
wheel: deps deps-zig
	CMAKE=$(CMAKE) tools/cross/build-wheel.sh "$(ZIG)" \
	  $(WHEEL_WORK) $(WHEELHOUSE) x86_64 aarch64

# What CI runs (.ci/run): formatting and clang-tidy, the check tier, the
# wheels and the sdist, the gallery being current, the documentation
# site built and looked at in a browser, the engine tests on 64-bit Arm
# under qemu, the Windows programs and their tests under wine, and the
# macOS link.
ci: lint check wheel-check gallery-check docs-check check-arm64 check-windows \
  check-macos

# The tests that run the engines and the library on several threads, under
# ThreadSanitizer. (setarch -R: its shadow memory needs a fixed layout on
# kernels that randomise mappings widely.)
# tests/tsan_suppressions.txt says which reports inside TBB are left out.
TSAN_TESTS := analysis_test:VectorKernel.*:Engines.*:EngineOptions.*:SeriesEngine.* api_test:* \
  numerics_test:Surrogates.*:*Surrogate.*:SurrogateKey.*:KeyedRandom.*
tsan: deps
	$(CMAKE) -S . -B $(BUILD_DIR)-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSANITIZE_THREAD=ON -DSTRICT_WARNINGS=ON -DMFWINDOW_PYTHON=OFF \
	  -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST
	$(CMAKE) --build $(BUILD_DIR)-tsan --target analysis_test api_test numerics_test
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
check-arm64: deps deps-arm64
	$(CMAKE) -S . -B $(ARM64_DIR) -G Ninja \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DSTRICT_WARNINGS=ON -DMFWINDOW_PYTHON=OFF
	$(CMAKE) --build $(ARM64_DIR) --target numerics_test analysis_test
	qemu-aarch64-static $(ARM64_DIR)/tests/numerics_test
	qemu-aarch64-static $(ARM64_DIR)/tests/analysis_test \
	  --gtest_filter='$(ARM64_ANALYSIS_FILTER)'

# Windows: mfwindow.exe and mfwindow-batch.exe cross-built with mingw-w64,
# statically linked (they run alone), into $(WINDOWS_DIR)/dist; TBB,
# Highway, FFTW and GoogleTest built for the target from the sources of the
# Debian versions the Linux build uses (a deb-src entry is added for
# `apt-get source`). check-windows runs, under wine, the golden dialogue
# scenarios, the batch tool's command-line cases and the textio, numerics
# and analysis suites (tests/windows/windows_tests.cmake).
deps-windows: deps-sources
	$(call install_missing,$(WINDOWS_PACKAGES),)

# A deb-src entry for `apt-get source` (the cross builds' libraries).
deps-sources:
	@if ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then \
	  if [ "$$(id -u)" != 0 ]; then echo "apt-get source needs a deb-src entry"; exit 1; fi; \
	  if [ -f /etc/apt/sources.list.d/debian.sources ]; then \
	    sed 's/^Types: deb$$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
	      > /etc/apt/sources.list.d/debian-src.sources; \
	  else \
	    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/debian-src.list; \
	  fi; \
	  apt-get update -q; \
	fi

windows: deps deps-windows
	CMAKE=$(CMAKE) tools/cross/build-deps.sh cmake/x86_64-w64-mingw32.cmake \
	  $(WINDOWS_DIR)-deps $(WINDOWS_DIR)-deps/prefix --tests
	$(CMAKE) -S . -B $(WINDOWS_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake \
	  -DMFWINDOW_CROSS_DEPS=$(CURDIR)/$(WINDOWS_DIR)-deps/prefix \
	  -DSTRICT_WARNINGS=ON -DMFWINDOW_PYTHON=OFF
	$(CMAKE) --build $(WINDOWS_DIR) --target mfwindow mfwindow-batch
	mkdir -p $(WINDOWS_DIR)/dist
	cp $(WINDOWS_DIR)/mfwindow.exe $(WINDOWS_DIR)/mfwindow-batch.exe $(WINDOWS_DIR)/dist/
	@echo "Windows programs are in $(WINDOWS_DIR)/dist"

check-windows: windows
	$(CMAKE) --build $(WINDOWS_DIR)
	$(CTEST) --test-dir $(WINDOWS_DIR) --output-on-failure -j 2

# macOS as far as this machine can show it: the core and both programs
# compiled and linked for x86-64 and arm64 macOS with zig (the ziglang
# package from the Python index, in a virtual environment of its own),
# against TBB, Highway and FFTW built for each target from Debian's sources.
# Nothing runs: the check is that each links into a Mach-O executable of
# its architecture.
MACOS_DIR ?= build-macos
deps-zig: deps-sources
	$(call install_missing,file,)
	@test -x $(ZIG_ENV)/bin/python || $(PYTHON) -m venv $(ZIG_ENV)
	@$(ZIG_ENV)/bin/python -c 'import ziglang' 2>/dev/null \
	  || $(ZIG_ENV)/bin/pip install -q ziglang

deps-macos: deps-zig

check-macos: deps deps-macos
	@zig=$(ZIG); \
	for target in x86_64-macos aarch64-macos; do \
	  arch=$${target%%-*}; [ $$arch = aarch64 ] && arch=arm64; \
	  export ZIG=$$zig ZIG_TARGET=$$target; \
	  CMAKE=$(CMAKE) tools/cross/build-deps.sh cmake/zig.cmake \
	    $(MACOS_DIR)-deps/$$target-work $(MACOS_DIR)-deps/$$target || exit 1; \
	  $(CMAKE) -S . -B $(MACOS_DIR)/$$target -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake \
	    -DMFWINDOW_CROSS_DEPS=$(CURDIR)/$(MACOS_DIR)-deps/$$target \
	    -DSTRICT_WARNINGS=ON -DMFWINDOW_PYTHON=OFF -DMFWINDOW_TESTS=OFF || exit 1; \
	  $(CMAKE) --build $(MACOS_DIR)/$$target --target mfwindow mfwindow-batch || exit 1; \
	  for program in mfwindow mfwindow-batch; do \
	    file $(MACOS_DIR)/$$target/$$program | grep -q "Mach-O 64-bit $$arch executable" \
	      || { file $(MACOS_DIR)/$$target/$$program; exit 1; }; \
	  done; \
	  echo "$$target: mfwindow and mfwindow-batch link"; \
	done

# The figures of docs/gallery, drawn from recordings that Debian's packages
# ship (python3-scipy, python3-matplotlib) and synthetic references;
# gallery-check draws them again into a scratch folder and fails when
# docs/gallery is not what they give (docs/gallery/make_gallery.py says
# what it compares).
GALLERY_ENV = PYTHONPATH=$(CURDIR)/$(BUILD_DIR)/python \
  MPLCONFIGDIR=$(CURDIR)/$(BUILD_DIR)/python/mplconfig
gallery: configure
	$(CMAKE) --build $(BUILD_DIR) --target mfwindow_python
	$(GALLERY_ENV) $(PYTHON) docs/gallery/make_gallery.py --out docs/gallery

gallery-check: configure
	$(CMAKE) --build $(BUILD_DIR) --target mfwindow_python
	$(GALLERY_ENV) $(PYTHON) docs/gallery/make_gallery.py --check docs/gallery

# The documentation site (docs/, Sphinx with furo, MyST and myst-nb) into
# $(BUILD_DIR)/docs/html, warnings as errors; the tutorial notebook runs
# cell by cell and a failing cell fails it. The tools of
# docs/requirements.txt go into a virtual environment of Debian's python3
# that sees its numpy, matplotlib and pandas (needs the package index the
# first time). docs-check serves the site, opens every page in headless
# chromium (Debian's, driven by playwright) and fails on a broken link, a
# missing image or a JavaScript error; its screenshots go to
# $(BUILD_DIR)/docs/screenshots.
DOCS_VENV = $(BUILD_DIR)/docs-venv
DOCS_ENV = PYTHONPATH=$(CURDIR)/$(BUILD_DIR)/python \
  MPLCONFIGDIR=$(CURDIR)/$(BUILD_DIR)/python/mplconfig \
  MFWINDOW_BATCH=$(CURDIR)/$(BUILD_DIR)/mfwindow-batch
docs-deps: deps
	$(call install_missing,chromium,)
	@test -x $(DOCS_VENV)/bin/python || $(PYTHON) -m venv --system-site-packages $(DOCS_VENV)
	@cmp -s docs/requirements.txt $(DOCS_VENV)/requirements.txt \
	  || { $(DOCS_VENV)/bin/pip install -q -r docs/requirements.txt \
	       && cp docs/requirements.txt $(DOCS_VENV)/requirements.txt; }

docs: configure docs-deps
	$(CMAKE) --build $(BUILD_DIR) --target mfwindow_python mfwindow-batch
	rm -rf $(BUILD_DIR)/docs/html $(BUILD_DIR)/docs/doctrees
	$(DOCS_ENV) $(DOCS_VENV)/bin/sphinx-build -W --keep-going -q -b html \
	  -d $(BUILD_DIR)/docs/doctrees docs $(BUILD_DIR)/docs/html

docs-check: docs
	$(DOCS_ENV) $(DOCS_VENV)/bin/python tools/docs_check.py \
	  $(BUILD_DIR)/docs/html --screenshots $(BUILD_DIR)/docs/screenshots

clean:
	rm -rf $(BUILD_DIR)
