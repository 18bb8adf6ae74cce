#!/usr/bin/env bash
# Builds what a board needs on a real machine and installs it.
#
#   scripts/install.sh [PREFIX]      (default /opt/kivo; as root)
#
# PREFIX/bin: the programs (kvhubd, kivo, kvline, the sysop's tools and
# kvsample, which builds a board); PREFIX/scripts: the board's scripts;
# PREFIX/sample: the sources a board is built from.  No tests.  The build
# goes to build-install/ of this tree, apart from the tests' build/.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${1:-/opt/kivo}

echo "Setting up: scripts/setup.sh installs the packages the build needs, when any is missing."
bash scripts/setup.sh
echo "Building the programs in build-install/ (the first build takes some minutes)."
cmake -S . -B build-install -DKV_TESTS=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build build-install -j"$(nproc)" --target board-programs
echo "Installing into $prefix."
# The tree is root's and open to read for the board's user, whatever
# root's umask: the board's user must be able to run it, never change it.
umask 022
cmake --install build-install
