#!/usr/bin/env bash
# Entry point for a fresh machine: installs what is missing (make included), then runs a make target.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
exec make "${1:-demo}"
