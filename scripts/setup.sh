#!/usr/bin/env bash
# Sets up a Debian machine for Dirtvane, builds it and its data set, then
# either starts the game ("play", the default) or runs the whole test suite
# ("test"). Safe to run again: it installs only what is missing.
#
#   scripts/setup.sh play [game options...]
#   scripts/setup.sh test [ctest options...]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$here"
mode="${1:-play}"
[ $# -gt 0 ] && shift

packages=(
  build-essential cmake pkg-config git
  libode-dev libsdl2-dev libgl-dev libpng-dev zlib1g-dev nettle-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  xvfb xauth libgl1-mesa-dri sox fonts-dejavu-core libfreetype-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -eq 0 ]; then sudo_cmd=(); else sudo_cmd=(sudo); fi
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

jobs="$(nproc 2>/dev/null || echo 2)"

# build_tree <dir> <cmake options...>: configures, builds and makes the data set.
build_tree() {
  local dir="$1"; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  if [ -x "$dir/tools/dvdata" ]; then
    "$dir/tools/dvdata" --out "$dir/game"
  fi
}

case "$mode" in
  play)
    build_tree build
    exec build/game/dirtvane "$@"
    ;;
  test)
    # The suite runs on the sanitizer build, so every test is also a memory check.
    # intercept_tls_get_addr=0: up to GCC 13 the sanitizer runtime can take a
    # dynamic TLS block of a loaded library (the GL driver's) for an old glibc
    # header and read garbage from it; the leak check at exit then dies in its
    # tracer now and then, after every test in the process has passed.
    build_tree build-asan -DDV_SANITIZE=ON
    cd build-asan
    ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --output-on-failure -j "$jobs" "$@"
    ;;
  *)
    echo "usage: scripts/setup.sh play|test [options]" >&2
    exit 2
    ;;
esac
