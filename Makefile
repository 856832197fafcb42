# Entry points: `make run` and `make test` (see README.md). Both install the missing Debian
# packages first, so they work on a fresh Debian 12 machine.
BUILD     ?= build
NOQT      ?= build-noqt
FUZZBUILD ?= build-fuzz
BENCHBUILD ?= build-bench
SANBUILD  ?= build-sanitize
JOBS      ?= $(shell nproc)
SAMPLE    ?= sample
FUZZ_SECONDS ?= 20
CMAKE_GEN := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: deps build test test-noqt sanitize run bench fuzz sample graph stress pdf-timing serve clean \
        deb-deps deb deb-test

deps:
	@scripts/install-deps.sh

# The benchmarks are built with the tests (not run), so that a change cannot leave them behind.
$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOMEVA_BUILD_BENCH=ON

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build test-noqt
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Core and its tests with Qt (and the engine) kept out of the build: the layering must not leak.
test-noqt: deps
	cmake -S . -B $(NOQT) $(CMAKE_GEN) -DTOMEVA_WITH_QT=OFF -DTOMEVA_WITH_KMS=OFF -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(NOQT) -j $(JOBS)
	cd $(NOQT) && ctest --output-on-failure -j $(JOBS)

# Every test but the desktop program's under AddressSanitizer and UndefinedBehaviorSanitizer; the
# first finding fails the run.
SANFLAGS := -fsanitize=address,undefined -fno-omit-frame-pointer
sanitize: deps
	cmake -S . -B $(SANBUILD) $(CMAKE_GEN) -DTOMEVA_WITH_QT=OFF -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS="$(SANFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SANFLAGS)" \
	  -DCMAKE_SHARED_LINKER_FLAGS="$(SANFLAGS)"
	cmake --build $(SANBUILD) -j $(JOBS)
	cd $(SANBUILD) && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

sample: build
	scripts/run-sample.sh $(BUILD) $(SAMPLE) --prepare-only

run: build
	scripts/run-sample.sh $(BUILD) $(SAMPLE)

bench: deps
	cmake -S . -B $(BENCHBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DTOMEVA_BUILD_BENCH=ON -DTOMEVA_BUILD_TESTS=OFF
	cmake --build $(BENCHBUILD) -j $(JOBS)
	scripts/run-bench.sh $(BENCHBUILD)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZBUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTOMEVA_BUILD_FUZZ=ON -DTOMEVA_WITH_QT=OFF -DTOMEVA_WITH_KMS=ON -DTOMEVA_BUILD_TESTS=OFF
	cmake --build $(FUZZBUILD) -j $(JOBS)
	scripts/run-fuzz.sh $(FUZZBUILD) $(FUZZ_SECONDS)

# The import killed at random points over a fresh library each round, STRESS_ROUNDS times (the
# test suite runs 12); prints "kills: N, books lost: 0, duplicated: 0, records missing: 0".
STRESS_ROUNDS ?= 200
stress: build
	TOMEVA_KILL_ROUNDS=$(STRESS_ROUNDS) $(BUILD)/tests/import/import_test \
	  --gtest_filter='ImportKillTest.*' | grep -E '^kills:|PASSED|FAILED'

# The PDF tests on a sample whose anthology PDF has some 300 pages; prints the times from the PDF
# command to the first mark and to the document shown. With REAL_PDFS=FOLDER (PDFs made elsewhere
# with their GBK text copies beside them, page breaks as form feeds: tests/viewer/real-pdfs.sh
# makes such a folder) also, on the PDFs of 250 pages or more, the time from the execute data to
# the first mark in view against drawing that page alone, and on every PDF how many of the runs
# sent for words of its copy are marked at their own place, and how many marks are wrong.
REAL_PDFS ?=
pdf-timing: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 \
	  QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu \
	  TOMEVA_PDF_TEST_SAMPLE_ARGS="--records 1200 --whole-pdf-records 1200" \
	  tests/gui/pdf_gui_test | grep -E 'QINFO|Totals'
	@if [ -n "$(REAL_PDFS)" ]; then \
	  cd $(BUILD) && QT_QPA_PLATFORM=offscreen QTWEBENGINE_DISABLE_SANDBOX=1 \
	  QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu TOMEVA_REAL_PDF_DIR="$(abspath $(REAL_PDFS))" \
	  tests/viewer/viewer_test realPdfTiming realPdfPlacement | \
	  grep -E 'ViewerTest::realPdf|Totals'; fi

# The sample library's index served to the stations of a reading room (docs/reading-room.md) by
# Xapian's xapian-tcpsrv on PORT; the sample is made first when it has no index yet. Ctrl-C stops.
PORT ?= 33333
serve: deps
	@test -f $(SAMPLE)/SearchDB/XAPIANDB || $(MAKE) sample
	scripts/serve-index.sh $(SAMPLE)/SearchDB $(PORT)

# The picture of the targets and their links in docs/architecture.md, drawn from the build's own
# graph, so that it cannot drift from what CMake links. Commit docs/targets.* after a change.
graph: deps $(BUILD)/CMakeCache.txt
	cd $(BUILD) && cmake --graphviz=targets.dot . >/dev/null
	scripts/draw-targets.sh $(BUILD)/targets.dot docs

# The Debian package, built with the Debian tools in $(DEBOUT) (scripts/build-deb.sh) and checked
# with lintian, desktop-file-validate and appstreamcli. The tools come from their own list.
DEBOUT ?= out/deb
deb-deps:
	@scripts/install-deps.sh scripts/packages-deb.txt

deb: deps deb-deps
	scripts/build-deb.sh $(DEBOUT)

# The package installed, started from its menu entry on a library of one's own, and removed
# (scripts/deb-test.sh; as root it installs on this machine and purges afterwards).
# The sample's books come from the build's sample maker.
deb-test: deb $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target make-sample-library -j $(JOBS)
	scripts/deb-test.sh $(DEBOUT) $(BUILD)

clean:
	rm -rf $(BUILD) $(NOQT) $(FUZZBUILD) $(BENCHBUILD) $(SANBUILD) $(DEBOUT)
