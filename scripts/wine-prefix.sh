#!/usr/bin/env bash
# Creates the private Wine prefix once, with the settings the tests rely on; safe to run
# concurrently (a lock serialises creation) and again (it returns at once when ready).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
mkdir -p "$(dirname "$WINEPREFIX")"
exec 9>"$WINEPREFIX.lock"
flock 9
[ -f "$WINEPREFIX/.qrv-ready" ] && exit 0

"$QRV_WINE" wineboot -i >/dev/null 2>&1 || true
"$QRV_WINESERVER" -w
# Without a window manager on Xvfb, every hide or destroy of a top-level window stalls unless
# Wine manages its windows itself.
"$QRV_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
# Caption buttons need Marlett; Japanese names in the window flows need a font with their glyphs.
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
cp /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
"$QRV_WINESERVER" -w
touch "$WINEPREFIX/.qrv-ready"
