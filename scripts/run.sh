#!/usr/bin/env bash
# Installs what is needed, builds Lumatra and starts it; arguments pass through
# (for example --cli song.flac --to mp3).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build" -j"$(nproc)" --target lumatra
exec "$top/build/lumatra" "$@"
