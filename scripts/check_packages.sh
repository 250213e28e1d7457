#!/usr/bin/env bash
# Checks the Debian packages that cpack wrote into a build folder against what the source tree
# says they must hold, file by file, and their dependencies against the Debian packages the
# libraries link:
#   libkavrel<major>   every library of the package (SONAME link and file) and the schemas
#                      (core/.../*.xsd) where generated schemas name them
#   libkavrel-dev      every header of the libraries' folders (but tests/ and a library's
#                      PRIVATE_HEADERS), the generated i_net.hh, the IDL, the development
#                      links, the CMake package and one pkg-config file per library
#   kavrel-examples    the example programs (every add_executable of examples/*/) and the
#                      preloadable chassis simulator
# Nothing of tests, simulators otherwise, benchmarks or fuzz targets may be in any of them.
#   scripts/check_packages.sh <build folder>
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "$1" && pwd)"
failed=0

fail() {
  echo "check_packages: $*" >&2
  failed=1
}

only_deb() {
  local found=("$build"/$1_*.deb)
  [ -f "${found[0]}" ] || { echo "check_packages: no $1 package in $build" >&2; exit 1; }
  [ "${#found[@]}" -eq 1 ] || { echo "check_packages: several $1 packages in $build" >&2; exit 1; }
  echo "${found[0]}"
}

# The files and links of a package, without the leading "./" and without folders.
contents() {
  dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./||' | grep -v '/$' | sort
}

# compare <name> <deb> <expected list>
compare() {
  local missing extra
  missing="$(comm -23 <(sort -u "$3") <(contents "$2"))"
  extra="$(comm -13 <(sort -u "$3") <(contents "$2"))"
  [ -z "$missing" ] || fail "$1 lacks: $(echo $missing)"
  [ -z "$extra" ] || fail "$1 holds what it should not: $(echo $extra)"
}

# requires <name> <deb> <dependency>...: each dependency is named in Depends.
requires() {
  local name="$1" deb="$2" depends
  shift 2
  depends="$(dpkg-deb -f "$deb" Depends)"
  for dep in "$@"; do
    grep -qE "(^|, )$dep( |,|$)" <<<"$depends" || fail "$name does not depend on $dep: $depends"
  done
}

version="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")"
major="${version%%.*}"
minor="$(cut -d. -f2 <<<"$version")"
libraries=($(sed -n 's/^set(_kavrel_components \(.*\))$/\1/p' "$build/cmake/kavrelConfig.cmake" | tr ';' ' '))
[ "${#libraries[@]}" -gt 0 ] || { echo "check_packages: no libraries in $build/cmake/kavrelConfig.cmake" >&2; exit 1; }
libdir=usr/lib
xsddir="$(sed -n 's/^set(KAVREL_TYPES_SCHEMA "\/\(.*\)\/types.xsd")$/\1/p' "$build/cmake/kavrelConfig.cmake")"

runtime="$(only_deb "libkavrel$major")"
dev="$(only_deb libkavrel-dev)"
examples="$(only_deb kavrel-examples)"
expected="$(mktemp -d)"
trap 'rm -rf "$expected"' EXIT

cd "$root"
# The folders of a library: core/platform/<lib> and core/shared/<lib>, where they exist.
folders() {
  for base in core/platform core/shared; do
    [ -d "$base/$1" ] && echo "$base/$1"
  done
  return 0
}

for lib in "${libraries[@]}"; do
  echo "$libdir/libkavrel$lib.so.$version" >>"$expected/runtime"
  echo "$libdir/libkavrel$lib.so.$major" >>"$expected/runtime"
  echo "$libdir/libkavrel$lib.so" >>"$expected/dev"
  echo "$libdir/pkgconfig/kavrel-$lib.pc" >>"$expected/dev"
  for folder in $(folders "$lib"); do
    private="$(sed -n 's/.*PRIVATE_HEADERS \([^)]*\).*/\1/p' "$folder/CMakeLists.txt" 2>/dev/null || true)"
    find "$folder" -name tests -prune -o -name '*.h' -print | sed "s|^$folder/||" | while read -r header; do
      [[ " $private " == *" $header "* ]] || echo "usr/include/kavrel/$lib/$header"
    done >>"$expected/dev"
    find "$folder" -name tests -prune -o -name '*.xsd' -print | sed "s|^.*/|$xsddir/|" >>"$expected/runtime"
  done
done
cat >>"$expected/dev" <<EOF
usr/include/kavrel/inet/i_net.hh
usr/share/idl/kavrel/i_net.idl
$libdir/cmake/kavrel/kavrelConfig.cmake
$libdir/cmake/kavrel/kavrelConfigVersion.cmake
$libdir/cmake/kavrel/kavrel-targets.cmake
$libdir/cmake/kavrel/kavrel-targets-release.cmake
EOF
sed -n 's/^add_executable(\([^ )]*\).*/usr\/bin\/\1/p' examples/*/CMakeLists.txt >"$expected/examples"
cat >>"$expected/examples" <<EOF
$libdir/kavrel/libkavrelsimcmc.so
$libdir/kavrel/libkavrelsimcmc.so.$major
$libdir/kavrel/libkavrelsimcmc.so.$version
EOF

compare "libkavrel$major" "$runtime" "$expected/runtime"
compare libkavrel-dev "$dev" "$expected/dev"
compare kavrel-examples "$examples" "$expected/examples"

# The Debian packages of what the libraries link (dpkg-shlibdeps), the development packages of
# what the headers include, and the runtime package at the same version.
requires "libkavrel$major" "$runtime" libc6 'libstdc\+\+6' libxml2 libomniorb4-2 libomnithread4 'libusb-1\.0-0' \
  libstatgrab10 libsensors5 libssl3 libopenhpi3 'libkissfft-float[0-9]+'
requires libkavrel-dev "$dev" "libkavrel$major \(= $version\)" libboost-dev libomniorb4-dev libstatgrab-dev \
  libsensors-dev libopenhpi-dev libkissfft-dev
requires kavrel-examples "$examples" "libkavrel$major \(= $version\)" 'libboost-program-options[0-9.]+' libomniorb4-2

if [ "$failed" -ne 0 ]; then
  exit 1
fi
for deb in "$runtime" "$dev" "$examples"; do
  echo "$(basename "$deb"): $(contents "$deb" | wc -l) files; Depends: $(dpkg-deb -f "$deb" Depends)"
done
