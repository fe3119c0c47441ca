#!/usr/bin/env bash
# Runs the filter on the bundled example (see README). Argument: the build folder.
set -euo pipefail
build="${1:-build/release}"
echo "demo: the command-line host is not built yet; the module is at $build/lib/areafill-filter.so"
