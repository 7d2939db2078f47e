#!/usr/bin/env bash
# Builds sorvik and the benchmark's analyzer (instant_dns_sorvik) for use,
# optimized by profile feedback: a first build counts which way the code's
# branches go while it analyses the bundled example's logs, and the second
# build, from the same sources in the same folder, lays the code out by
# those counts. Code the example never reached is optimized as usual.
#
# Usage: scripts/build_optimized.sh [BUILD_DIR]   (default: build-release)
# The two programs are BUILD_DIR/sorvik and BUILD_DIR/instant_dns_sorvik.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-build-release}"
[[ $build == /* ]] || build="$PWD/$build"
jobs=$(nproc 2>/dev/null || echo 2)
profile="$build/profile"
training="$build/training"

configure() {
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSORVIK_TESTS=OFF \
        -DCMAKE_CXX_FLAGS="$1" -DCMAKE_EXE_LINKER_FLAGS="$2" >/dev/null
  cmake --build "$build" -j"$jobs" --target sorvik instant_dns_sorvik >/dev/null
}

# The counting build. The threads of a run update the counts atomically;
# the counting children, which end without the exit handlers, write theirs
# through __gcov_dump, linked in by name since the program only refers to
# it weakly.
rm -rf "$profile" "$training"
configure "-fprofile-generate -fprofile-update=atomic -fprofile-dir=$profile" \
          "-fprofile-generate -Wl,-u,__gcov_dump"

# The training run: the example's logs, configuration, language file and
# pattern lists, with the resolver that answers at once (no name server is
# asked), all run modes. sorvik itself only starts and finds no
# configuration, so that its own main has counts as well.
# shellcheck source=../bench/run_folder.sh
source "$repo/bench/run_folder.sh"
prepare_run_folder "$training" "$repo/examples/logs/access.*" yes
(cd "$training" && "$build/instant_dns_sorvik" sorvik.conf </dev/null >console.txt 2>&1)
(cd "$training" && "$build/sorvik" no-such.conf </dev/null >>console.txt 2>&1) || true

# The build for use, from the counts.
configure "-fprofile-use -fprofile-partial-training -fprofile-dir=$profile" ""
rm -rf "$training"
