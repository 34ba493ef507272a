#!/usr/bin/env bash
# Installs the Debian packages Auralon needs (only those missing), builds it, then
# starts the program ("run") or runs every test ("test"): the tests, the Debian package
# made, installed, run and removed, then the tests again in a build with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")"

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev fonts-dejavu-core
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libswscale-dev
  libavfilter-dev libavdevice-dev ffmpeg
  googletest libgtest-dev
  xvfb xauth
  valgrind
  desktop-file-utils
  dpkg-dev file lintian appstream
  clang libclang-rt-14-dev
  parallel munge slurmctld slurmd slurm-client
)

install_missing() {
  local missing=()
  for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}. Run this script as root to install them." >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build() { # build <folder> [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

run_tests() { # run_tests <folder> [ctest options...]
  local dir=$1; shift
  # Used by the sanitizer build; ignored by the plain one.
  export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
  ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 600 "$@"
}

command=${1:-}
case "$command" in
  run)
    install_missing
    build build
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
      echo "Auralon needs a display; none is set. Start it under a virtual one: xvfb-run -a ./setup.sh run" >&2
      exit 1
    fi
    exec build/bin/auralon
    ;;
  test)
    install_missing
    build build
    run_tests build
    packaging/test-deb.sh build
    echo "Again with AddressSanitizer and UndefinedBehaviorSanitizer:"
    build build-asan -DAURALON_SANITIZE=ON -DAURALON_BUILD_BENCH=OFF
    # The load tests take minutes in the plain build; under the sanitizers they would take hours.
    # Valgrind and the sanitizers' runtime do not mix: the valgrind run is the plain build's.
    # The Slurm recipe tests the scheduling of the plain build's program, not the program again.
    run_tests build-asan -LE "load|valgrind|slurm"
    echo "Fuzzing every parser and rule for a few seconds each:"
    fuzz/run
    ;;
  build)
    install_missing
    build build
    ;;
  *)
    echo "usage: $0 run | test | build" >&2
    exit 2
    ;;
esac
