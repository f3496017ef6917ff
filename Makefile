# Thin front end over CMake.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= 2
# cmake --build runs make again and again below this one; their "Entering
# directory" lines would frame every run of the demo.
MAKEFLAGS += --no-print-directory
# Where `make install` puts the files (DESTDIR, when set, is put in front).
PREFIX ?= /usr/local
# DEPS=install: install the Debian packages a goal lacks (as root) instead of
# naming them and stopping.
DEPS ?= check
# EDITOR_TESTS=OFF: leave out the editor-file checks (and their need of Vim
# and npm).
EDITOR_TESTS ?= ON

.PHONY: all build interpreter run test test-all bench sanitize stress install package package-check clean web web-test

# What each goal needs from the machine, checked before anything runs: a
# missing package stops make with one line naming it (tools/needs.sh).
EDITOR_NEEDS := $(if $(filter ON,$(EDITOR_TESTS)),editors)
NEEDS_all := run test $(EDITOR_NEEDS)
NEEDS_build := $(NEEDS_all)
NEEDS_test := $(NEEDS_all)
NEEDS_test-all := $(NEEDS_all) slow
NEEDS_bench := run test
NEEDS_interpreter := run
NEEDS_run := run
NEEDS_install := run
NEEDS_package := run package
NEEDS_package-check := run package lint
NEEDS_web := web
NEEDS_web-test := run web browser
GOAL_NEEDS := $(sort $(foreach goal,$(or $(MAKECMDGOALS),all),$(NEEDS_$(goal))))
ifneq ($(GOAL_NEEDS),)
NEEDS_REPORT := $(shell KESTRIVO_NEEDS_GOAL="make $(or $(MAKECMDGOALS),all)" $(SHELL) tools/needs.sh --deps=$(DEPS) $(GOAL_NEEDS))
ifneq ($(.SHELLSTATUS),0)
$(error $(or $(NEEDS_REPORT),tools/needs.sh failed))
endif
endif

all: build

build:
	cmake -S . -B $(BUILD) -DKESTRIVO_TESTS=ON -DKESTRIVO_EDITOR_TESTS=$(EDITOR_TESTS) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# The interpreter alone, build/kestrivo: no test is built, and a fresh build
# directory is configured without the tests, so GoogleTest is not needed.
interpreter:
	@if [ -f $(BUILD)/CMakeCache.txt ]; then \
	  cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null; \
	else \
	  cmake -S . -B $(BUILD) -DKESTRIVO_TESTS=OFF $(CMAKE_FLAGS) >/dev/null; \
	fi
	cmake --build $(BUILD) -j $(JOBS) --target kestrivo

# make run builds what make test needs as well, on a machine that has what
# the tests need (tools/needs.sh), so that the test loop after it only runs
# the tests; elsewhere it builds the interpreter alone.
RUN_BUILDS := $(if $(filter run,$(MAKECMDGOALS)),$(shell $(SHELL) tools/needs.sh test $(EDITOR_NEEDS) >/dev/null 2>&1 && echo build),)
run: $(or $(RUN_BUILDS),interpreter)
	./$(BUILD)/kestrivo examples/demo.lam

# The quick loop, about a minute on two processors: every test but the slow
# suites (ctest label "slow": every golden's pictures rendered by Graphviz).
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE slow

# Every test, the slow suites included (every golden's pictures, the Jupyter
# kernel, LaTeX compiled), and the benchmarks built (not run): what .ci/run
# runs.
test-all: build
	cmake --build $(BUILD) -j $(JOBS) --target kestrivo_bench
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: build
	cmake --build $(BUILD) -j $(JOBS) --target kestrivo_bench
	./$(BUILD)/kestrivo_bench

# The tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	$(MAKE) test BUILD=build-sanitize EDITOR_TESTS=OFF CMAKE_FLAGS="$(CMAKE_FLAGS) -DKESTRIVO_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"

# The golden suite with a collection before every allocation.
stress:
	$(MAKE) test BUILD=build-stress EDITOR_TESTS=OFF CMAKE_FLAGS="$(CMAKE_FLAGS) -DKESTRIVO_STRESS_GC=ON"

# The binary, man page, guide, examples and editor files under PREFIX.
install: interpreter
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# A Debian package of the same files, installed under /usr.  It is built in
# a folder of its own, with libedit and the C++ runtime linked as the
# system's shared libraries, as a package must use them.
PACKAGE_BUILD ?= $(BUILD)-package
package:
	cmake -S . -B $(PACKAGE_BUILD) -DKESTRIVO_TESTS=OFF -DKESTRIVO_LINK_STATIC=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build $(PACKAGE_BUILD) -j $(JOBS) --target kestrivo
	cd $(PACKAGE_BUILD) && cpack -G DEB

# Checks what `make install` lays out and what the package holds, and runs
# lintian on the package: any error fails.
package-check:
	sh tools/check-install.sh $(BUILD) $(PACKAGE_BUILD)

# The playground: the interpreter compiled to WebAssembly with Emscripten,
# and the page around it, in the static folder web/dist.  Emscripten's
# optimizer looks for its acorn module through NODE_PATH when node is not
# Debian's own.
WEB_BUILD ?= build-web
web:
	emcmake cmake -S . -B $(WEB_BUILD) -DKESTRIVO_TESTS=OFF -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	NODE_PATH=/usr/share/nodejs cmake --build $(WEB_BUILD) -j $(JOBS) --target kestrivo_web
	test -d web/node_modules || (cd web && npm ci --no-audit --no-fund)
	node web/build.mjs $(WEB_BUILD)/web web/dist

# The playground in a real browser, against the console binary's transcript.
web-test: interpreter web
	cd web && KESTRIVO=../$(BUILD)/kestrivo node --test test/

clean:
	rm -rf build build-package build-sanitize build-stress build-fuzz $(WEB_BUILD) web/dist
