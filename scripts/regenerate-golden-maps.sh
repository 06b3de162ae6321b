#!/usr/bin/env bash
# Rewrites the golden label maps in tests/data/golden from the engine as it is
# now. Only for a change of the results that is intended and explained in the
# commit: after this, the golden test no longer guards the old maps.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}

if [ "${1:-}" != "--intended" ]; then
  cat >&2 <<'TEXT'
This rewrites every golden label map from the current engine, so the golden
test will accept whatever the engine does now. Run it only when the change of
the label maps is intended, then review the diff and say why in the commit:

    scripts/regenerate-golden-maps.sh --intended
TEXT
  exit 2
fi

cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" -j2 --target golden_map_writer >/dev/null
echo "################################################################" >&2
echo "#  REWRITING THE GOLDEN LABEL MAPS in tests/data/golden          #" >&2
echo "#  (wanted 0 floor 255, then 2, 10, 40 and 300 with floor 0)    #" >&2
echo "################################################################" >&2
"$BUILD_DIR/tests/engine/golden_map_writer" tests/data
if git diff --quiet -- tests/data/golden; then
  echo "Golden label maps unchanged." >&2
else
  echo "GOLDEN LABEL MAPS CHANGED:" >&2
  git diff --stat -- tests/data/golden >&2
  echo "Review these changes and explain them in the commit message." >&2
fi
