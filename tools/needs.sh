#!/bin/sh
# Checks that this machine has what a make goal needs, before CMake runs, so a
# bare machine gets one line naming the Debian packages to install instead of
# a CMake error trace.
#
#   tools/needs.sh [--deps=check|install] NEED...
#
# NEED is one of:
#   run      CMake, a C++ compiler, libedit and nlohmann-json: enough to build
#            the interpreter
#   test     GoogleTest, Python 3 and groff as well: the unit tests, the golden
#            runner, the manual page's check
#   editors  Vim and npm: the checks of the editor files
#   package  dpkg-shlibdeps, which computes the Debian package's dependencies
#   lint     lintian, which checks the package against Debian's rules
#   web      Emscripten, node and npm: the playground
#   browser  Debian's Chromium, which the playground's test drives
#   slow     what the slow tests (make test-all) drive: Debian's Python with
#            ipykernel, jupyter-kernel-test, nbclient and nbformat; dot2tex,
#            and pdflatex with TikZ
#
# Nothing is printed when everything is there.  Otherwise one line goes to
# standard output and the status is 1.  With --deps=install, run as root, the
# missing packages are installed with apt-get (its own output on standard
# error) and the check is made again.
#
# KESTRIVO_NEEDS_INCLUDE lists the directories searched for headers (default
# "/usr/include /usr/local/include").
set -u

deps=check
case "${1:-}" in
  --deps=*) deps=${1#--deps=}; shift ;;
esac
goal="${KESTRIVO_NEEDS_GOAL:-make}"
includes="${KESTRIVO_NEEDS_INCLUDE:-/usr/include /usr/local/include}"

has() { command -v "$1" >/dev/null 2>&1; }
hasheader() {
  for dir in $includes; do
    [ -f "$dir/$1" ] && return 0
  done
  return 1
}

missing() {
  out=
  for need in "$@"; do
    case "$need" in
      run)
        has cmake || out="$out cmake"
        has c++ || has g++ || out="$out g++"
        hasheader editline/readline.h || out="$out libedit-dev"
        hasheader nlohmann/json.hpp || out="$out nlohmann-json3-dev"
        ;;
      test)
        hasheader gtest/gtest.h || out="$out libgtest-dev"
        has python3 || out="$out python3"
        has groff || out="$out groff-base"
        has dot || out="$out graphviz"
        ;;
      editors)
        has vim || out="$out vim"
        has node || out="$out nodejs"
        has npm || out="$out npm"
        ;;
      package)
        has dpkg-shlibdeps || out="$out dpkg-dev"
        ;;
      lint)
        has lintian || out="$out lintian"
        ;;
      web)
        has emcc || out="$out emscripten"
        hasheader nlohmann/json.hpp || out="$out nlohmann-json3-dev"
        has node || out="$out nodejs"
        has npm || out="$out npm"
        ;;
      browser)
        [ -x /usr/bin/chromium ] || out="$out chromium"
        ;;
      slow)
        for module in ipykernel:python3-ipykernel jupyter_kernel_test:python3-jupyter-kernel-test \
                      nbclient:python3-nbclient nbformat:python3-nbformat jupyter_client:jupyter-client; do
          "${KESTRIVO_NEEDS_PYTHON:-/usr/bin/python3}" -c "import ${module%%:*}" 2>/dev/null || out="$out ${module#*:}"
        done
        has dot2tex || out="$out dot2tex"
        has pdflatex || out="$out texlive-latex-base"
        { has kpsewhich && kpsewhich tikz.sty >/dev/null 2>&1; } || out="$out texlive-pictures"
        ;;
      *)
        echo "tools/needs.sh: unknown need '$need'" >&2
        exit 2
        ;;
    esac
  done
  echo "${out# }"
}

packages=$(missing "$@")
[ -z "$packages" ] && exit 0

if [ "$deps" = install ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "$goal needs the Debian packages $packages; DEPS=install installs them only as root: sudo apt-get install $packages"
    exit 1
  fi
  # shellcheck disable=SC2086  # one word per package
  { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $packages; } >&2
  still=$(missing "$@")
  [ -z "$still" ] && exit 0
  echo "$goal still needs the Debian packages $still after apt-get install $packages"
  exit 1
fi

echo "$goal needs the Debian packages $packages: apt-get install $packages (or, as root: $goal DEPS=install)"
exit 1
