# The front door: `make test` installs what is missing, builds and runs every test,
# normally and under AddressSanitizer and UndefinedBehaviorSanitizer; `make demo`
# runs the monitor on the bundled recording.

BUILD     ?= build
SAN_BUILD ?= build-san
JOBS      ?= $(shell nproc)
PREFIX    ?= /usr/local

FUZZ_BUILD   ?= build-fuzz
FUZZ_CORPUS  ?= tests/fuzz/corpus
FUZZ_SECONDS ?= 30
FUZZ_TARGETS := start_time_fuzz audio_file_fuzz

# Debian packages the build, the tests and the demo need.
PACKAGES := cmake make g++ pkg-config googletest libgtest-dev libgmock-dev \
            libbenchmark-dev libfftw3-dev portaudio19-dev libsndfile1-dev libsoxr-dev \
            pulseaudio pulseaudio-utils libasound2-plugins sox python3 libsystemd-dev \
            libhowardhinnant-date-dev tzdata clang libclang-rt-14-dev \
            slurmctld slurmd slurm-client munge \
            libpng-dev chromium fonts-dejavu-core valgrind clang-format

SUDO := $(if $(filter 0,$(shell id -u)),,sudo)

.PHONY: all deps build test test-normal test-sanitize fuzz fuzz-build bench demo install \
        format format-check clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

# The project's own builds treat every warning as an error; a packager's build need not.
$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBM7_WERROR=ON

$(SAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DBM7_SANITIZE=ON -DBM7_BENCHMARKS=OFF \
	  -DBM7_WERROR=ON

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test-normal: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps $(SAN_BUILD)/CMakeCache.txt
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

$(FUZZ_BUILD)/CMakeCache.txt:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBM7_FUZZ=ON

fuzz-build: deps $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)

# Each fuzzer first runs every input of its committed corpus (where each input that once
# crashed stays), then mutates them for FUZZ_SECONDS. A crash, leak, undefined operation
# or an input taking over 25 s fails the target and leaves the input in $(FUZZ_BUILD)/crashes.
fuzz: fuzz-build
	@mkdir -p $(FUZZ_BUILD)/crashes
	@for target in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/found/$$target; \
	  echo "Fuzzing $$target for $(FUZZ_SECONDS) s"; \
	  $(FUZZ_BUILD)/tests/fuzz/$$target -max_total_time=$(FUZZ_SECONDS) -timeout=25 \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_BUILD)/crashes/$$target- \
	    $(FUZZ_BUILD)/found/$$target $(FUZZ_CORPUS)/$$target > $(FUZZ_BUILD)/$$target.log 2>&1 \
	  || { tail -n 40 $(FUZZ_BUILD)/$$target.log; \
	       echo "$$target failed: fix it and add its input to $(FUZZ_CORPUS)/$$target"; exit 1; }; \
	  grep -h '^stat::number_of_executed_units' $(FUZZ_BUILD)/$$target.log; \
	done

test: format-check test-normal test-sanitize fuzz

bench: build
	@for b in $(BUILD)/bench/*_bench; do [ -x "$$b" ] && "$$b"; done

demo: build
	@if [ -x scripts/demo.sh ]; then scripts/demo.sh $(BUILD); \
	else echo "make demo: the detector model is not built yet; nothing to run."; fi

# Installs the program, its service unit and user under PREFIX (DESTDIR for staging).
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

SOURCES = $(shell find src tests bench -name '*.cpp' -o -name '*.h')

format:
	clang-format -i $(SOURCES)

# The tree stays as `make format` leaves it; the test run fails on a file that is not.
format-check: deps
	@clang-format --dry-run --Werror $(SOURCES) || \
	  { echo "make format-check: run 'make format' and commit the result"; exit 1; }

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(FUZZ_BUILD)
