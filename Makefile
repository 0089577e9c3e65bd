# The two commands of the README: `make run` and `make test`. Each installs
# what is missing (as root), configures, builds and runs.
BUILD_DIR ?= build
# Debian packages the build and the tests need.
PACKAGES := cmake ninja-build g++ make time bc libgtest-dev libbenchmark-dev libtbb-dev libhwy-dev

.PHONY: all deps configure build run test clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' "$$p" 2>/dev/null | grep -q "ok installed" \
	    || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing; \
	  else \
	    echo "Missing packages. Run:"; \
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

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j 2

clean:
	rm -rf $(BUILD_DIR)
