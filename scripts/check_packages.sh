#!/usr/bin/env bash
# Checks the Debian packages that cpack wrote into a build folder against what the source tree
# says they must hold, file by file, and against what Debian expects of packages:
#   libkavrel<major>   every library (SONAME link and file), the schemas (core/.../*.xsd) in
#                      share/kavrel/xsd/<major>.<minor>/ and where generated schemas name them,
#                      and a shlibs file with a line for every library
#   libkavrel-dev      every header of the libraries' folders (but tests/ and a library's
#                      PRIVATE_HEADERS), the generated i_net.hh, the IDL, the development
#                      links, the CMake package and one pkg-config file per library
#   kavrel-examples    the example programs (every add_executable of examples/*/), the
#                      simulators (every library under sim/) in lib/kavrel/ for LD_PRELOAD, and
#                      the chassis file of the demo
# Nothing of tests, benchmarks or fuzz targets may be in any of them. Each package also:
#   - has a Description of a synopsis and an extended text, without ";" (a CMake list joined);
#   - has no empty folder;
#   - holds its ELF files stripped, their debug information in <package>-dbgsym (a .ddeb) under
#     usr/lib/debug/.build-id/ by build id;
#   - puts no RUNPATH on what lies in the system's folders (usr/lib, usr/bin); the simulators
#     keep $ORIGIN, and every ELF file finds the libraries it needs with usr/lib unpacked as the
#     system's library folder;
#   - depends on the Debian packages of what its files link; dpkg-shlibdeps run on
#     instrument-app against the unpacked libkavrel<major> names that package (its shlibs file).
#   scripts/check_packages.sh <build folder> [<folder of the .deb and .ddeb files>]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "$1" && pwd)"
debs="$(cd "${2:-$1}" && pwd)"
failed=0

fail() {
  echo "check_packages: $*" >&2
  failed=1
}

only_file() {
  local found=("$debs"/$1)
  [ -f "${found[0]}" ] || { echo "check_packages: no $1 in $debs" >&2; exit 1; }
  [ "${#found[@]}" -eq 1 ] || { echo "check_packages: several $1 in $debs" >&2; exit 1; }
  echo "${found[0]}"
}

version="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")"
major="${version%%.*}"
minor="$(cut -d. -f2 <<<"$version")"
libraries=($(sed -n 's/^set(_kavrel_components \(.*\))$/\1/p' "$build/cmake/kavrelConfig.cmake" | tr ';' ' '))
[ "${#libraries[@]}" -gt 0 ] || { echo "check_packages: no libraries in $build/cmake/kavrelConfig.cmake" >&2; exit 1; }
libdir=usr/lib
simdir=$libdir/kavrel
schemadir=usr/share/kavrel/xsd/$major.$minor
xsddir="$(sed -n 's/^set(KAVREL_TYPES_SCHEMA "\/\(.*\)\/types.xsd")$/\1/p' "$build/cmake/kavrelConfig.cmake")"
runtime_name="libkavrel$major"
build_type="$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt" | tr '[:upper:]' '[:lower:]')"

declare -A deb
deb[$runtime_name]="$(only_file "${runtime_name}_*.deb")"
deb[libkavrel-dev]="$(only_file "libkavrel-dev_*.deb")"
deb[kavrel-examples]="$(only_file "kavrel-examples_*.deb")"
packages=("$runtime_name" libkavrel-dev kavrel-examples)
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/expected" "$work/listing" "$work/system" "$work/debug"

cd "$root"
# The folders of a library: core/platform/<lib> and core/shared/<lib>, where they exist.
folders() {
  for base in core/platform core/shared; do
    [ -d "$base/$1" ] && echo "$base/$1"
  done
  return 0
}

expected="$work/expected"
for lib in "${libraries[@]}"; do
  echo "$libdir/libkavrel$lib.so.$version" >>"$expected/$runtime_name"
  echo "$libdir/libkavrel$lib.so.$major" >>"$expected/$runtime_name"
  echo "$libdir/libkavrel$lib.so" >>"$expected/libkavrel-dev"
  echo "$libdir/pkgconfig/kavrel-$lib.pc" >>"$expected/libkavrel-dev"
  for folder in $(folders "$lib"); do
    private="$(sed -n 's/.*PRIVATE_HEADERS \([^)]*\).*/\1/p' "$folder/CMakeLists.txt" 2>/dev/null || true)"
    find "$folder" -name tests -prune -o -name '*.h' -print | sed "s|^$folder/||" | while read -r header; do
      [[ " $private " == *" ${header##*/} "* ]] || echo "usr/include/kavrel/$lib/$header"
    done >>"$expected/libkavrel-dev"
    find "$folder" -name tests -prune -o -name '*.xsd' -print | sed "s|^.*/||" | while read -r schema; do
      echo "$xsddir/$schema"
      echo "$schemadir/$schema"
    done >>"$expected/$runtime_name"
  done
done
cat >>"$expected/libkavrel-dev" <<EOF
usr/include/kavrel/inet/i_net.hh
usr/share/idl/kavrel/i_net.idl
$libdir/cmake/kavrel/kavrelConfig.cmake
$libdir/cmake/kavrel/kavrelConfigVersion.cmake
$libdir/cmake/kavrel/kavrel-targets.cmake
$libdir/cmake/kavrel/kavrel-targets-${build_type:-noconfig}.cmake
EOF
sed -n 's/^add_executable(\([^ )]*\).*/usr\/bin\/\1/p' examples/*/CMakeLists.txt >"$expected/kavrel-examples"
for sim in $(sed -n 's/^kavrel_library(\([^ )]*\).*/\1/p' sim/*/CMakeLists.txt); do
  printf '%s\n' "$simdir/lib$sim.so" "$simdir/lib$sim.so.$major" "$simdir/lib$sim.so.$version"
done >>"$expected/kavrel-examples"
echo usr/share/kavrel/sim/two_boards.txt >>"$expected/kavrel-examples"

# Listing of a package: every entry without the leading "./" (folders end in "/"), sorted.
list() {
  dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./||' | grep -v '^$' | LC_ALL=C sort
}

# Files and folders.
for name in "${packages[@]}"; do
  list "${deb[$name]}" >"$work/listing/$name"
  files="$(grep -v '/$' "$work/listing/$name")"
  missing="$(LC_ALL=C comm -23 <(LC_ALL=C sort -u "$expected/$name") <(echo "$files"))"
  extra="$(LC_ALL=C comm -13 <(LC_ALL=C sort -u "$expected/$name") <(echo "$files"))"
  [ -z "$missing" ] || fail "$name lacks: $(echo $missing)"
  [ -z "$extra" ] || fail "$name holds what it should not: $(echo $extra)"
  # In sorted order what a folder holds comes right after it.
  empty="$(awk 'prev ~ /\/$/ && index($0, prev) != 1 {print prev} {prev = $0} END {if (prev ~ /\/$/) print prev}' \
    "$work/listing/$name")"
  [ -z "$empty" ] || fail "$name has empty folders: $(echo $empty)"
  dpkg-deb -x "${deb[$name]}" "$work/system"
done

# Control data.
for name in "${packages[@]}"; do
  description="$(dpkg-deb -f "${deb[$name]}" Description)"
  [[ "$description" != *";"* ]] || fail "$name has a \";\" in its Description: $description"
  [ "$(wc -l <<<"$description")" -ge 2 ] || fail "$name has no extended Description: $description"
done
shlibs="$(dpkg-deb -I "${deb[$runtime_name]}" shlibs 2>/dev/null || true)"
for lib in "${libraries[@]}"; do
  grep -qx "libkavrel$lib $major $runtime_name (>= $version)" <<<"$shlibs" ||
    fail "$runtime_name has no shlibs line for libkavrel$lib.so.$major: ${shlibs:-no shlibs file}"
done

# requires <name> <dependency>...: each dependency is named in Depends.
requires() {
  local name="$1" depends
  shift
  depends="$(dpkg-deb -f "${deb[$name]}" Depends)"
  for dep in "$@"; do
    grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "$name does not depend on $dep: $depends"
  done
}
# The Debian packages of what the libraries link (dpkg-shlibdeps), the development packages of
# what the headers include, and the runtime package at the same version.
requires "$runtime_name" libc6 'libstdc\+\+6' libxml2 libomniorb4-2 libomnithread4 'libusb-1\.0-0' \
  libstatgrab10 libsensors5 libssl3 libopenhpi3 'libkissfft-float[0-9]+'
requires libkavrel-dev "$runtime_name \(= $version\)" libboost-dev libomniorb4-dev libstatgrab-dev \
  libsensors-dev libopenhpi-dev libkissfft-dev
requires kavrel-examples "$runtime_name \(= $version\)" 'libboost-program-options[0-9.]+' libomniorb4-2

# ELF files: stripped, with their debug information in the package's -dbgsym, no search path
# into the system's folders, and every library they need found.
for name in "${packages[@]}"; do
  for ddeb in "$debs/$name-dbgsym_"*.ddeb; do
    [ -f "$ddeb" ] && dpkg-deb -x "$ddeb" "$work/debug/$name"
  done
done
for name in "${packages[@]}"; do
  while read -r file; do
    path="$work/system/$file"
    [ -f "$path" ] && [ ! -L "$path" ] && [ "$(head -c 4 "$path")" = $'\x7fELF' ] || continue
    sections="$(readelf -S --wide "$path")"
    if grep -qE ' \.(symtab|debug_[a-z]+) ' <<<"$sections"; then
      fail "$file in $name is not stripped"
    fi
    id="$(readelf -n "$path" | sed -n 's/^ *Build ID: *//p')"
    debug="$work/debug/$name/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug"
    if [ -z "$id" ] || [ ! -f "$debug" ]; then
      fail "$file in $name has no debug file in $name-dbgsym (build id ${id:-none})"
    elif ! readelf -S --wide "$debug" 2>/dev/null | grep -q ' \.debug_info '; then
      fail "the debug file of $file in $name holds no debug information"
    fi
    search="$(readelf -d "$path" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]$/\1/p')"
    case "$file" in
    $simdir/*) [ "$search" = '$ORIGIN' ] || fail "$file in $name has RUNPATH '$search', not \$ORIGIN" ;;
    *) [ -z "$search" ] || fail "$file in $name has RUNPATH $search" ;;
    esac
    missing="$(LD_LIBRARY_PATH="$work/system/$libdir" ldd "$path" 2>&1 | sed -n 's/^[[:space:]]*\(.*\) => not found$/\1/p')"
    [ -z "$missing" ] || fail "$file in $name does not find $(echo $missing)"
  done < <(grep -v '/$' "$work/listing/$name")
done

# dpkg-shlibdeps on a program built against the libraries, as a package of a program would run it.
mkdir -p "$work/shlibdeps/debian"
: >"$work/shlibdeps/debian/control"
dpkg-deb -R "${deb[$runtime_name]}" "$work/shlibdeps/debian/$runtime_name"
if ! shlibdeps="$(cd "$work/shlibdeps" && dpkg-shlibdeps -O -l"debian/$runtime_name/$libdir" \
  "$work/system/usr/bin/instrument-app" 2>"$work/shlibdeps.err")"; then
  fail "dpkg-shlibdeps fails on instrument-app: $(cat "$work/shlibdeps.err")"
elif grep -q "no dependency information" "$work/shlibdeps.err"; then
  fail "dpkg-shlibdeps on instrument-app: $(cat "$work/shlibdeps.err")"
elif ! grep -qE "(=|, )$runtime_name \(>= $version\)" <<<"$shlibdeps"; then
  fail "dpkg-shlibdeps on instrument-app does not name $runtime_name: $shlibdeps"
fi

if [ "$failed" -ne 0 ]; then
  exit 1
fi
for name in "${packages[@]}"; do
  echo "$(basename "${deb[$name]}"): $(grep -vc '/$' "$work/listing/$name") files; Depends: $(dpkg-deb -f "${deb[$name]}" Depends)"
done
echo "dpkg-shlibdeps usr/bin/instrument-app: $shlibdeps"
