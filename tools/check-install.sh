#!/bin/sh
# Checks the two ways of installing: `make install` (into a fresh DESTDIR,
# with the default prefix and with PREFIX given) and the Debian package from
# `make package`.  Both must hold exactly the files listed below, which are
# derived from the source tree as the install rules find them.
#   tools/check-install.sh [BUILD]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# The files an installation holds, relative to its prefix, sorted.
expected() {
  {
    echo bin/kestrivo
    for f in docs/*.1; do [ -f "$f" ] && echo "share/man/man1/${f#docs/}"; done
    echo share/doc/kestrivo/README.md
    for f in docs/*.md; do [ -f "$f" ] && echo "share/doc/kestrivo/${f#docs/}"; done
    find examples -type f | sed 's|^|share/kestrivo/|'
    (cd editors/vim && find syntax ftdetect -type f) | sed 's|^|share/vim/vimfiles/|'
    (cd editors && find vscode -type f) | sed 's|^|share/kestrivo/editors/|'
  } | sort
}
expected >"$work/expected"

# compare WHAT LISTFILE: the list must equal the expected one.
compare() {
  sort "$2" >"$2.sorted"
  if ! diff -u "$work/expected" "$2.sorted" >"$work/diff"; then
    echo "FAIL: $1 differs from the expected files (- missing, + unexpected):"
    cat "$work/diff"
    failures=$((failures + 1))
  fi
}

# runs PROGRAM: the installed interpreter runs a program to its end.
runs() {
  out=$(echo "exit;" | "$1") || { echo "FAIL: $1 ended with status $?"; failures=$((failures + 1)); return; }
  case "$out" in
    *"THE END"*) ;;
    *) echo "FAIL: $1 did not run the program:"; echo "$out"; failures=$((failures + 1)) ;;
  esac
}

make -s install BUILD="$build" DESTDIR="$work/default" >/dev/null
(cd "$work/default/usr/local" && find . -type f | sed 's|^\./||') >"$work/default.list"
[ "$(cd "$work/default" && ls)" = usr ] || { echo "FAIL: make install wrote outside DESTDIR/usr"; failures=$((failures + 1)); }
compare "make install DESTDIR=..." "$work/default.list"
runs "$work/default/usr/local/bin/kestrivo"

make -s install BUILD="$build" DESTDIR="$work/opt" PREFIX=/opt/kestrivo >/dev/null
(cd "$work/opt/opt/kestrivo" && find . -type f | sed 's|^\./||') >"$work/opt.list"
compare "make install PREFIX=/opt/kestrivo" "$work/opt.list"

rm -f "$build"/kestrivo_*.deb
make -s package BUILD="$build" >/dev/null
deb=$(ls "$build"/kestrivo_*.deb)
dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { print $NF }' | sed 's|^\./usr/||' >"$work/deb.list"
compare "dpkg-deb -c $deb" "$work/deb.list"
for field in Package Version Maintainer Depends Description; do
  value=$(dpkg-deb -f "$deb" "$field")
  [ -n "$value" ] || { echo "FAIL: the package has no $field"; failures=$((failures + 1)); }
done
[ "$(dpkg-deb -f "$deb" Version)" = 1.0.0 ] || { echo "FAIL: package version $(dpkg-deb -f "$deb" Version)"; failures=$((failures + 1)); }
dpkg-deb -f "$deb" Depends | grep -q libc6 || { echo "FAIL: Depends lacks the C library: $(dpkg-deb -f "$deb" Depends)"; failures=$((failures + 1)); }
dpkg-deb -x "$deb" "$work/deb"
runs "$work/deb/usr/bin/kestrivo"

if [ "$failures" = 0 ]; then
  echo "install and package: $(wc -l <"$work/expected") files each, as expected ($deb: $(dpkg-deb -f "$deb" Depends))"
  exit 0
fi
exit 1
