# Entry points: `make demo` and `make test` install what is missing, build and run.
BUILD_DIR    ?= build
SANITIZE_DIR ?= build-sanitize
JOBS         ?= 2
SAMPLE       ?= samples/astronaut.png
SAMPLE_MAP   := $(BUILD_DIR)/sample-labels.pgm
SAMPLE_PREVIEW := $(BUILD_DIR)/sample-preview.png
SAMPLE_OUTLINE := $(BUILD_DIR)/sample-outline.jpg

# Stop at the first finding; leaks inside ImageMagick itself are suppressed.
SANITIZER_ENV := ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
                 LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan-suppressions.txt:print_suppressions=0 \
                 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

.PHONY: all deps configure build demo test test-plain test-sanitize fuzz-smoke clean

all: build

deps:
	bash scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

# Only what the demo runs: the library and the program, not the tests.
demo: configure
	cmake --build $(BUILD_DIR) -j$(JOBS) --target Dornick
	$(BUILD_DIR)/app/Dornick AS $(SAMPLE) $(SAMPLE_MAP) --preview $(SAMPLE_PREVIEW) --outline $(SAMPLE_OUTLINE)
	@echo "Label map of $(SAMPLE) written to $(SAMPLE_MAP)"
	@echo "To look at it: preview (regions in their mean colour) $(SAMPLE_PREVIEW), outline (borders over the photo) $(SAMPLE_OUTLINE)"
	@echo "The program is $(BUILD_DIR)/app/Dornick; $(BUILD_DIR)/app/Dornick --help lists its options"

# One suite after the other, even under make -j.
test: test-plain
	$(MAKE) --no-print-directory test-sanitize
	$(MAKE) --no-print-directory fuzz-smoke

test-plain: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)
	bash scripts/check-install.sh $(BUILD_DIR)

test-sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DVESKAR_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(SANITIZE_DIR) -j$(JOBS)
	cd $(SANITIZE_DIR) && $(SANITIZER_ENV) ctest --output-on-failure -j$(JOBS)

# Each fuzz target for a few seconds (clang build in build-fuzz/).
fuzz-smoke: deps
	bash scripts/fuzz.sh smoke 8

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) build-fuzz
