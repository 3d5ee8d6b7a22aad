#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR and runs the installed tool from "/" with no
# LD_LIBRARY_PATH: help and a scan against the scripted controller (the black-box tests,
# pointed at it). Its manual page must render without warnings and hold every usage entry
# with its description word for word. Where dpkg-deb exists, the .deb's files and Depends.
# Usage: install_check.sh BUILD_DIR BLACKBOX_TESTS
set -euo pipefail
build=$1 blackbox=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
unset LD_LIBRARY_PATH

DESTDIR=$work/root cmake --install "$build" --prefix /opt/oi >/dev/null
files=$(cd "$work/root" && find . -type f | sort)
[ "$files" = $'./opt/oi/bin/orvalinquist\n./opt/oi/share/man/man1/orvalinquist.1' ] ||
  fail "installed files: $files"
tool=$work/root/opt/oi/bin/orvalinquist page=$work/root/opt/oi/share/man/man1/orvalinquist.1

cd /
ORVALINQUIST_UNDER_TEST=$tool "$blackbox" --gtest_brief=1 \
  --gtest_filter='CommandLineTest.*:Sessions/*/ReportAndResultsFile' >"$work/blackbox.log" ||
  fail "$(cat "$work/blackbox.log")"
grep -q 'PASSED.* 2 tests' "$work/blackbox.log" || fail "not both tests ran: $(cat "$work/blackbox.log")"
# The harness really runs the binary it is given.
! ORVALINQUIST_UNDER_TEST=/nonexistent "$blackbox" --gtest_filter='CommandLineTest.*' \
  >/dev/null 2>&1 || fail "blackbox_tests ran another binary than ORVALINQUIST_UNDER_TEST"

man --warnings=w -l "$page" 2>"$work/warnings" >/dev/null
[ ! -s "$work/warnings" ] || fail "man page warnings: $(cat "$work/warnings")"
# One line per paragraph, single spaces: an entry reads "TERM DESCRIPTION. More...".
rendered=$(LC_ALL=C MANWIDTH=1000 man -l "$page" | tr -s ' \n' '  ')
"$tool" help 2>"$work/help.log" >/dev/null
checked=0
while IFS= read -r line; do
  read -r term <<<"${line:0:22}"  # the usage text's description column
  [[ "$rendered" == *" $term ${line:22}"* ]] || fail "man page lacks \"$term ${line:22}\""
  checked=$((checked + 1))
done < <(sed -n 's/^orvalinquist I [0-9-]* [0-9:]*  *[0-9]*  *[0-9]* \(  .*\)/\1/p' "$work/help.log")
[ "$checked" -ge 8 ] || fail "only $checked usage entries in: $(cat "$work/help.log")"

command -v dpkg-deb >/dev/null || { echo "no dpkg-deb: package not checked"; exit 0; }
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null
deb=$(echo "$work"/deb/orvalinquist_*.deb)
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
[ "$files" = $'./usr/bin/orvalinquist\n./usr/share/man/man1/orvalinquist.1' ] ||
  fail "package files: $files"
dpkg-deb -x "$deb" "$work/deb/root"
"$work/deb/root/usr/bin/orvalinquist" help 2>/dev/null || fail "the packaged binary does not run"
# Every library the binary names must come from a package that Depends names.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in $(readelf -d "$tool" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
  path=$(ldd "$tool" | awk -v lib="$lib" '$1 == lib {print $3}')
  owner=$( (dpkg -S "$path" || dpkg -S "/usr$path") 2>/dev/null | head -1 | cut -d: -f1)
  [ -n "$owner" ] || fail "no package owns $lib ($path)"
  [[ ", $depends," == *", $owner "* || ", $depends," == *", $owner,"* ]] ||
    fail "Depends \"$depends\" lacks $owner ($lib)"
done
