#!/bin/sh
# tools/needs.sh on a machine that lacks things: each absence is simulated by
# a PATH holding only chosen commands, or a header directory that is empty,
# and must give one line naming the right Debian package.
#   needs-test.sh REPOSITORY
set -u
repo=$1
# The make runs below are make's first level, whatever runs this test (make
# test passes its flags and variables down otherwise).
unset MAKEFLAGS MFLAGS MAKELEVEL MAKEOVERRIDES EDITOR_TESTS DEPS BUILD
needs="$repo/tools/needs.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
# Header directories: every header looked for, those of the interpreter alone
# (libedit's and the JSON library's), libedit's alone, nothing.
mkdir -p "$work/include/gtest" "$work/include/editline" "$work/include/nlohmann" \
  "$work/edit/editline" "$work/edit/nlohmann" "$work/editonly/editline" "$work/empty"
: >"$work/include/gtest/gtest.h"
: >"$work/include/editline/readline.h"
: >"$work/include/nlohmann/json.hpp"
: >"$work/edit/editline/readline.h"
: >"$work/edit/nlohmann/json.hpp"
: >"$work/editonly/editline/readline.h"

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A directory of commands: links to the real make and id, and to stand-ins
# for every tool named.
bin() {
  dir="$work/$1"
  shift
  mkdir -p "$dir"
  ln -sf "$(command -v make)" "$dir/make"
  ln -sf "$(command -v id)" "$dir/id"
  for tool in "$@"; do
    printf '#!/bin/sh\nexit 0\n' >"$dir/$tool"
    chmod +x "$dir/$tool"
  done
  echo "$dir"
}

# expect NAME STATUS PATTERN OUTPUT GOT: GOT is the status wanted, and the
# output is one line matching PATTERN, or nothing when PATTERN is empty.
expect() {
  name=$1 want=$2 pattern=$3 file=$4 got=$5
  [ "$got" = "$want" ] || fail "$name: status $got, wanted $want"
  if [ -z "$pattern" ]; then
    [ -s "$file" ] && { fail "$name printed:"; cat "$file"; }
    return
  fi
  lines=$(wc -l <"$file")
  [ "$lines" = 1 ] || { fail "$name: $lines lines, wanted one:"; cat "$file"; }
  grep -q -- "$pattern" "$file" || { fail "$name: no '$pattern' in:"; cat "$file"; }
}

# Every tool there: nothing printed, status 0.
all=$(bin all cmake g++ python3 groff dot vim node npm dpkg-shlibdeps lintian)
PATH=$all KESTRIVO_NEEDS_INCLUDE="$work/include" /bin/sh "$needs" run test editors package lint \
  >"$work/out" 2>&1
expect "every tool there" 0 "" "$work/out" $?

# make run without CMake: make stops before configuring, with one line.
nocmake=$(bin nocmake g++ python3)
PATH=$nocmake KESTRIVO_NEEDS_INCLUDE="$work/include" make -s --no-print-directory -C "$repo" run BUILD="$work/build" >"$work/out" 2>&1
expect "make run without cmake" 2 "make run needs the Debian packages cmake:" "$work/out" $?
[ -e "$work/build" ] && fail "make run without cmake made a build directory"

# make test without a compiler and without GoogleTest's header.
nocxx=$(bin nocxx cmake python3 groff dot vim node npm)
PATH=$nocxx KESTRIVO_NEEDS_INCLUDE="$work/empty" make -s --no-print-directory -C "$repo" test BUILD="$work/build" \
  >"$work/out" 2>&1
expect "make test without g++ and gtest" 2 "make test needs the Debian packages g++ libedit-dev nlohmann-json3-dev libgtest-dev:" "$work/out" $?

# The tests render pictures with Graphviz's dot.
PATH=$(bin nodot cmake g++ python3 groff) KESTRIVO_NEEDS_INCLUDE="$work/include" /bin/sh "$needs" run test >"$work/out" 2>&1
expect "test without graphviz" 1 "packages graphviz:" "$work/out" $?

# make run needs neither GoogleTest nor Python.
PATH=$(bin runonly cmake g++) KESTRIVO_NEEDS_INCLUDE="$work/edit" /bin/sh "$needs" run >"$work/out" 2>&1
expect "run without gtest and python" 0 "" "$work/out" $?

# ... but it needs libedit for the terminal.
PATH=$(bin runonly cmake g++) KESTRIVO_NEEDS_INCLUDE="$work/empty" /bin/sh "$needs" run >"$work/out" 2>&1
expect "run without libedit" 1 "packages libedit-dev nlohmann-json3-dev:" "$work/out" $?

# ... and the JSON library for the event stream.
PATH=$(bin runonly cmake g++) KESTRIVO_NEEDS_INCLUDE="$work/editonly" /bin/sh "$needs" run >"$work/out" 2>&1
expect "run without nlohmann-json" 1 "packages nlohmann-json3-dev:" "$work/out" $?

# The editor checks name vim, nodejs and npm; turned off, they need nothing.
noedit=$(bin noedit cmake g++ python3 groff dot)
PATH=$noedit KESTRIVO_NEEDS_INCLUDE="$work/include" make -s --no-print-directory -C "$repo" test BUILD="$work/build" \
  >"$work/out" 2>&1
expect "make test without editors" 2 "packages vim nodejs npm:" "$work/out" $?
PATH=$noedit KESTRIVO_NEEDS_INCLUDE="$work/include" /bin/sh "$needs" run test >"$work/out" 2>&1
expect "editor tests off" 0 "" "$work/out" $?

# The package needs dpkg-shlibdeps, from dpkg-dev; its check needs lintian.
PATH=$(bin nodpkg cmake g++) KESTRIVO_NEEDS_INCLUDE="$work/edit" /bin/sh "$needs" run package >"$work/out" 2>&1
expect "package without dpkg-dev" 1 "packages dpkg-dev:" "$work/out" $?
PATH=$(bin nolint cmake g++ dpkg-shlibdeps) KESTRIVO_NEEDS_INCLUDE="$work/edit" make -s --no-print-directory -C "$repo" package-check BUILD="$work/build" \
  >"$work/out" 2>&1
expect "make package-check without lintian" 2 "make package-check needs the Debian packages lintian:" "$work/out" $?

# DEPS=install hands the missing packages to apt-get, then checks again; this
# apt-get only records what it was asked.
withapt=$(bin withapt g++)
printf '#!/bin/sh\necho "$*" >>"%s/apt-calls"\n' "$work" >"$withapt/apt-get"
chmod +x "$withapt/apt-get"
PATH=$withapt KESTRIVO_NEEDS_INCLUDE="$work/edit" /bin/sh "$needs" --deps=install run >"$work/out" 2>/dev/null
status=$?
if [ "$(id -u)" = 0 ]; then
  expect "DEPS=install" 1 "still needs the Debian packages cmake after apt-get install cmake" "$work/out" $status
  grep -qx -- "install -y -qq cmake" "$work/apt-calls" 2>/dev/null ||
    fail "DEPS=install did not run apt-get install -y -qq cmake"
else
  expect "DEPS=install, not root" 1 "only as root" "$work/out" $status
fi

if [ "$failures" = 0 ]; then
  echo "tools/needs.sh: every simulated absence reported"
  exit 0
fi
exit 1
