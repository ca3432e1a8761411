#!/usr/bin/env bash
# Installs from Debian's packages everything that building Quillmet and running all its
# tests, benchmarks and fuzzers needs, and nothing when all of it is there already
# (the packages are looked up with dpkg first, so a second run costs a fraction of
# a second and needs no network). Installing needs root: as another user it goes through
# sudo when there is one, else it names the missing packages and fails. Debian 12.
# README's quick start and CI (.ci/run) both start with it.
set -euo pipefail

packages=(
  # Build: compilers, CMake and Ninja, pkg-config, the compression libraries.
  cmake ninja-build g++ clang pkg-config liblzma-dev libbz2-dev libzstd-dev libgit2-dev
  # Tests, benchmarks and fuzzers: GoogleTest, Google Benchmark, libFuzzer's runtime.
  libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev
  # The end-to-end cases and scripts: archivers and compressors to build fixtures with,
  # GNU time for peak memory, git, the man page and completion checks, the formatter.
  python3 zip unzip gzip tar xz-utils bzip2 zstd time git mandoc groff-base zsh clang-format
  # Checks of reports in a real browser and of HTML, and valgrind for scripts/valgrind_cli.sh.
  chromium tidy valgrind
)

installed=" $(dpkg-query -W -f='${Package}=${db:Status-Abbrev} ' "${packages[@]}" 2>/dev/null || true)"
missing=()
for package in "${packages[@]}"; do
  [[ "$installed" == *" $package=ii "* ]] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  as_root=(sudo)
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
