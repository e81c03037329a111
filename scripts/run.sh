#!/usr/bin/env bash
# Builds Parlox (installing what is missing) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    cat >&2 <<'MSG'
Parlox is built (build/parlox) but there is no display to show its window on.
Run it from a desktop session, set DISPLAY to an X server you can reach,
or start it under a virtual X server:  xvfb-run -a build/parlox
MSG
    exit 1
fi
exec build/parlox
