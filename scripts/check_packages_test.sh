#!/usr/bin/env bash
# scripts/check_packages.sh must catch each fault a package can have: every case below copies
# the good packages of a build folder, breaks one of them in one way, and expects the check to
# fail with its words for that fault.
#   scripts/check_packages_test.sh <build folder>   (after cpack; check_packages.sh passes there)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
version="$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")"
runtime="libkavrel${version%%.*}"

# repack <package> <command...>: the command runs in the unpacked package (DEBIAN/ holds the
# control files), which is then built again in place.
repack() {
  local file=("$work/case/$1_"*.deb) dir="$work/unpacked"
  shift
  rm -rf "$dir"
  dpkg-deb -R "${file[0]}" "$dir"
  (cd "$dir" && "$@")
  dpkg-deb --root-owner-group -b "$dir" "${file[0]}" >/dev/null
}

# The build's own file, stripped as cpack strips it, keeping its build id and RUNPATH.
stripped_copy() {
  objcopy --strip-unneeded "$build/$1" "$2"
}

no_shlibs() { rm DEBIAN/shlibs; }
joined_description() { sed -i 's/^\( .*\) \(.*\)$/\1 ;\2/' DEBIAN/control; }
empty_folder() { mkdir -p usr/include/kavrel/inet/idl; }
unstripped_program() { cp "$build/bin/registry-client" usr/bin/registry-client; }
library_runpath() { stripped_copy "lib/libkavrelicfg.so.$version" "usr/lib/libkavrelicfg.so.$version"; }
simulator_without_runpath() {
  echo "file(RPATH_REMOVE FILE \"$PWD/usr/lib/kavrel/libkavrelsimboards.so.$version\")" >"$work/remove.cmake"
  cmake -P "$work/remove.cmake" >/dev/null
}
no_debug_package() { rm "$work/case/kavrel-examples-dbgsym_"*.ddeb; }

# case <what> <package or -> <mutation> <expected text (extended regular expression)>...
cases=0
failed=0
case_of() {
  local what="$1" package="$2" mutation="$3" out rc=0
  shift 3
  cases=$((cases + 1))
  rm -rf "$work/case" && mkdir "$work/case"
  cp "$build"/*.deb "$build"/*.ddeb "$work/case/"
  if [ "$package" = - ]; then
    "$mutation"
  else
    repack "$package" "$mutation"
  fi
  out="$("$here/check_packages.sh" "$build" "$work/case" 2>&1)" || rc=$?
  if [ "$rc" -eq 0 ]; then
    echo "check_packages_test: $what: the check passed" >&2
    failed=1
    return
  fi
  for expected in "$@"; do
    grep -qE "$expected" <<<"$out" || {
      echo "check_packages_test: $what: no '$expected' in:" >&2
      echo "$out" >&2
      failed=1
    }
  done
}

case_of "no shlibs file" "$runtime" no_shlibs "$runtime has no shlibs line for libkavreliapp.so" \
  "dpkg-shlibdeps fails on instrument-app: .*no dependency information"
case_of "a \";\" where Description lines were joined" "$runtime" joined_description \
  "$runtime has a \";\" in its Description"
case_of "an empty folder" libkavrel-dev empty_folder "libkavrel-dev has empty folders: usr/include/kavrel/inet/idl/"
case_of "a program not stripped" kavrel-examples unstripped_program "usr/bin/registry-client in kavrel-examples is not stripped"
case_of "no debug package" - no_debug_package "usr/bin/instrument-app in kavrel-examples has no debug file"
case_of "a RUNPATH on a library in usr/lib" "$runtime" library_runpath \
  "usr/lib/libkavrelicfg.so.$version in $runtime has RUNPATH"
case_of "a simulator that no longer finds its neighbours" kavrel-examples simulator_without_runpath \
  "libkavrelsimboards.so.$version in kavrel-examples does not find .*libkavrelsimchips"

[ "$failed" -eq 0 ] || exit 1
echo "check_packages_test: each of $cases faults fails the check"
