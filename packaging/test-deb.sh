#!/usr/bin/env bash
# Makes the Debian package from a built tree, checks it with lintian, installs it, drives the
# installed /usr/bin/auralon and /usr/bin/auralon-cli through the install tests, then removes
# and purges it and checks that no file of it is left. Needs root; the package is removed
# however the test ends.
# usage: packaging/test-deb.sh <build folder>
set -euo pipefail
build=$(readlink -f "${1:?usage: $0 <build folder>}")
export DEBIAN_FRONTEND=noninteractive

if [ "$(id -u)" -ne 0 ]; then
  echo "test-deb: installing the package needs root" >&2
  exit 1
fi
installed() { dpkg-query -W -f='${Status}' auralon 2>/dev/null | grep -qv "not-installed"; }
if installed; then
  echo "test-deb: auralon is installed on this machine already; remove it first" >&2
  exit 1
fi

cleanup() {
  if installed; then
    echo "test-deb: removing the package left by a failed run" >&2
    apt-get purge -y -qq auralon >/dev/null || dpkg --purge auralon >/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

echo "Making the Debian package:"
rm -f "$build"/auralon_*.deb
(cd "$build" && cpack -G DEB) > "$build/cpack.log" || { cat "$build/cpack.log"; exit 1; }
debs=("$build"/auralon_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "test-deb: expected one package, found: ${debs[*]}" >&2; exit 1; }
deb=${debs[0]}
dpkg-deb --field "$deb" Package Version Section Depends

echo "lintian (errors fail; warnings and notes are listed):"
lintian --fail-on error --display-info "$deb"

apt-get install -y -qq "$deb" >/dev/null
version=$(dpkg-query -W -f='${Version}' auralon)
/usr/lib/auralon/qvx/client --version | grep -qF "$version" \
  || { echo "test-deb: the program's version is not the package's $version" >&2; exit 1; }
# The command line needs no display; the install tests also run a job through it.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM auralon-cli --version | grep -qF "$version" \
  || { echo "test-deb: auralon-cli does not run without a display, or is not version $version" >&2; exit 1; }
auralon-slurm-submit --help | grep -qF -- --shards= \
  || { echo "test-deb: auralon-slurm-submit is not on the PATH" >&2; exit 1; }

# The scratch-folder case first: a job run by root afterwards would make /usr/lib/auralon/tmp.
tests=$build/tests/test_install/test_install
AURALON_INSTALLED_PREFIX=/usr "$tests" --gtest_brief=1 --gtest_filter='Installed.UserWho*'
# The package's manual pages are compressed; lintian has checked them.
AURALON_INSTALLED_PREFIX=/usr "$tests" --gtest_brief=1 --gtest_filter='Installed.*:-Installed.UserWho*:Installed.Manual*'

apt-get remove -y -qq auralon >/dev/null
dpkg --purge auralon >/dev/null 2>&1  # nothing is left to purge unless it keeps configuration
# A folder of the package may stay only while another package still owns it.
left=0
while IFS= read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then
    if [ -d "$path" ] && [ ! -L "$path" ] && dpkg-query -S "$path" >/dev/null 2>&1; then
      continue
    fi
    echo "test-deb: left behind after removal: $path" >&2
    left=1
  fi
done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' | grep '^/usr/.')
[ $left -eq 0 ]
echo "test-deb: the package installs, runs and removes cleanly"
