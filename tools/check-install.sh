#!/bin/sh
# Checks the two ways of installing: `make install` (into a fresh DESTDIR,
# with the default prefix and with PREFIX given) and the Debian package from
# `make package`.  Both must hold exactly the files listed below, which are
# derived from the source tree as the install rules find them; the paths the
# manual page and the guide name must be those of the installation; and
# lintian must find no error in the package.
#   tools/check-install.sh [BUILD [PACKAGE_BUILD]]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build}
package_build=${2:-$build-package}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# The files an installation holds, relative to its prefix, sorted.
expected() {
  {
    echo bin/kestrivo
    echo bin/kestrivo-lsp
    for f in docs/*.1; do [ -f "$f" ] && echo "share/man/man1/${f#docs/}.gz"; done
    echo share/doc/kestrivo/README.md
    echo share/doc/kestrivo/changelog.gz
    echo share/doc/kestrivo/copyright
    for f in docs/*.md; do [ -f "$f" ] && echo "share/doc/kestrivo/${f#docs/}"; done
    find docs/images -type f | sed 's|^docs/|share/doc/kestrivo/|'
    find examples -type f | sed 's|^|share/kestrivo/|'
    (cd editors/vim && find syntax ftdetect -type f) | sed 's|^|share/vim/vimfiles/|'
    (cd editors && find vscode -path '*/node_modules' -prune -o -type f -print) | sed 's|^|share/kestrivo/editors/|'
    echo share/jupyter/kernels/kestrivo/kernel.json
    echo share/jupyter/kernels/kestrivo/launch.py
    (cd jupyter && find kestrivo_kernel -name '*.py') | sed 's|^|share/jupyter/kernels/kestrivo/|'
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

# serves SERVER: the installed language server answers initialize, and ends
# with status 0 after shutdown and exit.
serves() {
  message() { printf 'Content-Length: %d\r\n\r\n%s' "${#1}" "$1"; }
  out=$({ message '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}}'
          message '{"jsonrpc":"2.0","id":2,"method":"shutdown"}'
          message '{"jsonrpc":"2.0","method":"exit"}'; } | "$1") ||
    { echo "FAIL: $1 ended with status $?"; failures=$((failures + 1)); return; }
  case "$out" in
    *'"name":"kestrivo-lsp"'*) ;;
    *) echo "FAIL: $1 did not answer initialize:"; echo "$out"; failures=$((failures + 1)) ;;
  esac
}

# names ROOT PREFIX: every path under PREFIX that the installed manual page
# and guide name is a file or folder of the installation in ROOT, and neither
# names the default prefix when PREFIX is another.
names() {
  root=$1 prefix=$2
  man=$(gzip -dc "$root$prefix/share/man/man1/kestrivo.1.gz")
  guide=$(cat "$root$prefix/share/doc/kestrivo/guide.md")
  paths=$(printf '%s\n%s\n' "$man" "$guide" | grep -o "$prefix/share/[A-Za-z0-9_./-]*[A-Za-z0-9_]" | sort -u)
  [ -n "$paths" ] || { echo "FAIL: the manual page and the guide under $prefix name no installed path"; failures=$((failures + 1)); }
  for path in $paths; do
    [ -e "$root$path" ] || { echo "FAIL: $path is named in the documentation under $prefix but not installed"; failures=$((failures + 1)); }
  done
  # Every picture and page an installed page links to by a relative path is
  # installed beside it.
  docs="$root$prefix/share/doc/kestrivo"
  for page in "$docs"/*.md; do
    for link in $(grep -o '](\([A-Za-z0-9_.-][A-Za-z0-9_./-]*\))' "$page" | sed 's/^](//; s/)$//' | grep -v '^https\?:' | sort -u); do
      [ -e "$docs/$link" ] || { echo "FAIL: ${page##*/} under $prefix links to $link, which is not installed"; failures=$((failures + 1)); }
    done
  done
  if [ "$prefix" != /usr/local ] && printf '%s\n%s\n' "$man" "$guide" | grep -q /usr/local/share; then
    echo "FAIL: the documentation installed under $prefix names /usr/local/share"
    failures=$((failures + 1))
  fi
}

make -s install BUILD="$build" DESTDIR="$work/default" >/dev/null
(cd "$work/default/usr/local" && find . -type f | sed 's|^\./||') >"$work/default.list"
[ "$(cd "$work/default" && ls)" = usr ] || { echo "FAIL: make install wrote outside DESTDIR/usr"; failures=$((failures + 1)); }
compare "make install DESTDIR=..." "$work/default.list"
runs "$work/default/usr/local/bin/kestrivo"
serves "$work/default/usr/local/bin/kestrivo-lsp"

make -s install BUILD="$build" DESTDIR="$work/opt" PREFIX=/opt/kestrivo >/dev/null
(cd "$work/opt/opt/kestrivo" && find . -type f | sed 's|^\./||') >"$work/opt.list"
compare "make install PREFIX=/opt/kestrivo" "$work/opt.list"
names "$work/default" /usr/local
# Jupyter finds the kernel where it was installed (when Jupyter is here).
if command -v jupyter >/dev/null 2>&1; then
  JUPYTER_PATH="$work/default/usr/local/share/jupyter" jupyter kernelspec list 2>/dev/null |
    grep -q "^ *kestrivo *$work/default/usr/local/share/jupyter/kernels/kestrivo$" ||
    { echo "FAIL: jupyter kernelspec list does not show the installed kernel"; failures=$((failures + 1)); }
fi
names "$work/opt" /opt/kestrivo

rm -f "$package_build"/kestrivo_*.deb
make -s package BUILD="$build" PACKAGE_BUILD="$package_build" >/dev/null
deb=$(ls "$package_build"/kestrivo_*.deb)
dpkg-deb -c "$deb" | awk '$1 ~ /^-/ { print $NF }' | sed 's|^\./usr/||' >"$work/deb.list"
compare "dpkg-deb -c $deb" "$work/deb.list"
for field in Package Version Maintainer Depends Description; do
  value=$(dpkg-deb -f "$deb" "$field")
  [ -n "$value" ] || { echo "FAIL: the package has no $field"; failures=$((failures + 1)); }
done
[ "$(dpkg-deb -f "$deb" Version)" = 1.0.0 ] || { echo "FAIL: package version $(dpkg-deb -f "$deb" Version)"; failures=$((failures + 1)); }
dpkg-deb -f "$deb" Depends | grep -q libc6 || { echo "FAIL: Depends lacks the C library: $(dpkg-deb -f "$deb" Depends)"; failures=$((failures + 1)); }
# The package uses the system's libedit rather than a copy of its own.
dpkg-deb -f "$deb" Depends | grep -q libedit || { echo "FAIL: Depends lacks libedit: $(dpkg-deb -f "$deb" Depends)"; failures=$((failures + 1)); }
# The Jupyter kernel it ships runs on ipykernel, which is offered, not required.
dpkg-deb -f "$deb" Suggests | grep -q python3-ipykernel || { echo "FAIL: Suggests lacks the kernel's ipykernel: $(dpkg-deb -f "$deb" Suggests)"; failures=$((failures + 1)); }
dpkg-deb -x "$deb" "$work/deb"
runs "$work/deb/usr/bin/kestrivo"
serves "$work/deb/usr/bin/kestrivo-lsp"
names "$work/deb" /usr
# The changelog's newest entry is this version.
top=$(gzip -dc "$work/deb/usr/share/doc/kestrivo/changelog.gz" | head -1)
case "$top" in
  "kestrivo ($(dpkg-deb -f "$deb" Version))"*) ;;
  *) echo "FAIL: the changelog begins '$top', not with version $(dpkg-deb -f "$deb" Version)"; failures=$((failures + 1)) ;;
esac
# lintian, Debian's checker of packages: every tag it gives is shown, and an
# error fails.  (It also warns that it runs as root, as CI does.)
lintian_status=0
lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || lintian_status=$?
grep -v "running with root privileges" "$work/lintian" >"$work/lintian.tags" || true
if [ "$lintian_status" != 0 ]; then
  echo "FAIL: lintian finds errors in $deb (status $lintian_status):"
  cat "$work/lintian.tags"
  failures=$((failures + 1))
elif [ -s "$work/lintian.tags" ]; then
  cat "$work/lintian.tags"
fi
if [ "$failures" = 0 ]; then
  echo "install and package: $(wc -l <"$work/expected") files each, as expected ($deb: $(dpkg-deb -f "$deb" Depends))"
  exit 0
fi
exit 1
