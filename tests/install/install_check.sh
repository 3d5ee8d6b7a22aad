#!/usr/bin/env bash
# Installs into a scratch DESTDIR and runs the installed tool from / without LD_LIBRARY_PATH
# (black-box tests: help, a scan); its man page renders without warnings and holds every usage
# entry word for word. Where dpkg-deb exists: the .deb's files, Depends, and that it runs; where
# lintian exists, what it says of the .deb.
set -euo pipefail
build=$1 blackbox=$2 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
files() { [ "$1" = "$(printf './%s\n' "${@:2}" | sort)" ] || fail "files: $1"; }
unset LD_LIBRARY_PATH
DESTDIR=$work/root cmake --install "$build" --prefix /opt/oi >/dev/null
files "$(cd "$work/root" && find . -type f | sort)" opt/oi/{bin/orvalinquist,share/man/man1/orvalinquist.1.gz}
tool=$work/root/opt/oi/bin/orvalinquist page=$work/root/opt/oi/share/man/man1/orvalinquist.1.gz

cd /
ORVALINQUIST_UNDER_TEST=$tool "$blackbox" --gtest_filter='CommandLineTest.*:Sessions/*/ReportAndResultsFile_hidl' \
  >"$work/log" && grep -q 'OK \] Sessions/SessionTest.SendsLogsAndWrites/ReportAndResultsFile_hidl' \
  "$work/log" || fail "$(cat "$work/log")"
! ORVALINQUIST_UNDER_TEST=/nonexistent "$blackbox" --gtest_filter='CommandLineTest.*' &>/dev/null ||
  fail "blackbox_tests ran another binary than ORVALINQUIST_UNDER_TEST"

[ "$(MANPATH=$work/root/opt/oi/share/man man -w orvalinquist)" = "$page" ] || fail "man finds no page"
warnings=$(man --warnings=w -l "$page" 2>&1 >/dev/null) && [ -z "$warnings" ] || fail "$warnings"
rendered=$(LC_ALL=C MANWIDTH=1000 man -l "$page" | tr -s ' \n' '  ')  # a paragraph a line
checked=0 && "$tool" help 2>"$work/help"
while IFS= read -r line; do  # the usage text's descriptions start in column 22
  read -r term <<<"${line:0:22}" && checked=$((checked + 1))
  [[ "$rendered" == *" $term ${line:22}"* ]] || fail "man page lacks \"$term ${line:22}\""
done < <(sed -n 's/^orvalinquist I [0-9-]* [0-9:]*  *[0-9][0-9]*  *[0-9][0-9]* \(  .*\)/\1/p' "$work/help")
[ "$checked" -ge 8 ] || fail "$checked usage entries in $(cat "$work/help")"

command -v dpkg-deb >/dev/null || exit 0
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >/dev/null
deb=$(echo "$work"/deb/orvalinquist_*.deb) && dpkg-deb -x "$deb" "$work/deb/root"
files "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)" usr/bin/orvalinquist \
  usr/share/{man/man1/orvalinquist.1.gz,doc/orvalinquist/{changelog.gz,copyright},lintian/overrides/orvalinquist}
"$work/deb/root/usr/bin/orvalinquist" help 2>/dev/null || fail "the packaged binary does not run"
depends=", $(dpkg-deb -f "$deb" Depends),"
for lib in $(readelf -d "$tool" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do  # from whose package?
  path=$(ldd "$tool" | awk -v lib="$lib" '$1 == lib {print $3}')
  owner=$( (dpkg -S "$path" || dpkg -S "/usr$path") 2>/dev/null | cut -d: -f1 | head -1)
  [[ -n "$owner" && ( "$depends" == *", $owner "* || "$depends" == *", $owner,"* ) ]] ||
    fail "Depends$depends lacks the package of $lib ($owner)"
done

# Debian's checker: no error or warning, the RUNPATH's override (which gives its reason) aside,
# and no hint of a binary built without the hardening flags or stripped short of dh_strip.
command -v lintian >/dev/null || exit 0
lintian --no-cfg --ignore-lintian-env --pedantic --display-info --fail-on error,warning "$deb" \
  >"$work/lintian" 2>&1 || fail "lintian: $(cat "$work/lintian")"
! grep -qE 'hardening-|binary-has-unneeded-section' "$work/lintian" ||
  fail "lintian: $(cat "$work/lintian")"
