#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when missing.
# Quick when everything is present: it asks dpkg first and touches apt only then.
set -euo pipefail

packages=(g++ cmake make clang libclang-rt-14-dev libgtest-dev libbenchmark-dev libpng-dev pkg-config python3
          g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 xvfb xauth
          libsdl2-dev libsndfile1-dev libfftw3-dev)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ] || [ -n "${need_update:-}" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages ${missing[*]}; run as root to install them" >&2
    exit 2
  fi
  echo "install-deps: installing ${missing[*]}" >&2
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
