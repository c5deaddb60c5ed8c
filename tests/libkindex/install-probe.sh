#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds and runs a small GNUstep program
# against the installed library, the way a user of the library would. The library must export
# its public API and nothing else: a client that linked against an internal symbol would break
# when the internals change.
# Usage: install-probe.sh BUILD_DIR PROBE_SOURCE
set -euo pipefail
build=$1
probe=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/kindex-install-XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in lib/libKindex.so.0 lib/libKindex.so include/Kindex/Kindex.h lib/pkgconfig/kindex.pc; do
  [ -e "$work/prefix/$f" ] || { echo "missing after install: $f" >&2; exit 1; }
done
[ -L "$work/prefix/lib/libKindex.so" ] || { echo "lib/libKindex.so is not a link" >&2; exit 1; }
soname=$(objdump -p "$work/prefix/lib/libKindex.so.0" | awk '/SONAME/ {print $2}')
[ "$soname" = libKindex.so.0 ] || { echo "soname is '$soname'" >&2; exit 1; }
# Public means the classes (__objc_class_name_KX...) and the C symbols of include/Kindex (KX...).
leaked=$(nm -D --defined-only "$work/prefix/lib/libKindex.so.0" | awk '{print $3}' |
  grep -v -e '^__objc_class_name_KX' -e '^KX' || true)
[ -z "$leaked" ] || { echo "libKindex exports internal symbols:" >&2; echo "$leaked" | head -20 >&2; exit 1; }
for public in __objc_class_name_KXLocalAddressBook KXFirstNameProperty KXTurnOffNagleOnConnection; do
  nm -D --defined-only "$work/prefix/lib/libKindex.so.0" | grep -q " $public\$" ||
    { echo "libKindex does not export $public" >&2; exit 1; }
done

# Moved after installing: the package must not remember where it was installed first.
mv "$work/prefix" "$work/moved"
export PKG_CONFIG_PATH="$work/moved/lib/pkgconfig"
# shellcheck disable=SC2046
g++ -x objective-c++ $(gnustep-config --objc-flags) $(pkg-config --cflags kindex) "$probe" \
  -o "$work/probe" $(pkg-config --libs kindex) $(gnustep-config --base-libs) 2>"$work/build.log" || {
  cat "$work/build.log" >&2; exit 1; }
mkdir "$work/book"
"$work/probe" "$work/book"
