#!/usr/bin/env bash
# Set-up, build and run. Usage: ./build.sh test | demo | fuzz [SECONDS] | bench | tsan
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(cmake ninja-build g++ pkg-config ffmpeg mencoder
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  liburing-dev libaio-dev libgtest-dev libgmock-dev libdv4-dev libffms2-dev)
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

ensure_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
}

build() {
  ensure_packages "${PACKAGES[@]}"
  cmake -S . -B build -G Ninja
  cmake --build build
}

case "${1:-}" in
  test)
    build
    ctest --test-dir build --output-on-failure -j "$(nproc)"
    ;;
  demo)
    build
    build/tools/ombrix/ombrix demo
    ;;
  fuzz)
    seconds="${2:-60}"
    ensure_packages "${PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
    # Damaged real files through the reader under AddressSanitizer and UndefinedBehaviorSanitizer,
    # built with clang as the fuzz targets are; any report fails.
    CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DOMBRIX_SANITIZE=ON
    cmake --build build-asan -j2 --target ombrix_tests
    build-asan/tests/ombrix_tests --gtest_filter='AviDamaged*'
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DOMBRIX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build-fuzz -j2
    for target in build-fuzz/fuzz/fuzz_*; do
      [ -x "$target" ] || continue
      name=$(basename "$target")
      corpus=build-fuzz/corpus/$name
      mkdir -p "$corpus"
      [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
      # Inputs as long as the longest seed (a DV frame is 120,000 bytes), and at least 64 KiB.
      max_len=$(find "$corpus" -type f -printf '%s\n' | sort -n | tail -1)
      max_len=$(( ${max_len:-0} > 65536 ? max_len : 65536 ))
      echo "== $name for ${seconds}s"
      "$target" "$corpus" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix=build-fuzz/
    done
    ;;
  bench)
    build
    for b in build/bench/bench_*; do
      [ -x "$b" ] && "$b"
    done
    ;;
  tsan)
    # The readers' thread tests, the file reader, the DirectShow runtime and the writer's hand-offs
    # under ThreadSanitizer;
    # any report fails.
    ensure_packages "${PACKAGES[@]}"
    cmake -S . -B build-tsan -G Ninja -DOMBRIX_TSAN=ON
    cmake --build build-tsan -j2 --target ombrix_tests
    TSAN_OPTIONS="second_deadlock_stack=1 suppressions=tests/tsan.supp ${TSAN_OPTIONS:-}" \
      build-tsan/tests/ombrix_tests --gtest_filter='AVIReaderThreads*:FileIO*:Event*:DShow*:FilterGraph*:RendererFilter*:GraphThreads*:OmbrixReader/OmbrixReaderFiles.*/GraphFfv1Flac:GetFileInfo.TwoThreads*:PushSource*:AviMux*:OmbrixWriterNegotiation*:OmbrixWriterTimes*:*DVMux*:*AsfWriter*:*DVVideoEncoder*:*DVOutput*'
    ;;
  *)
    echo "usage: $0 test | demo | fuzz [SECONDS] | bench | tsan" >&2
    exit 2
    ;;
esac
