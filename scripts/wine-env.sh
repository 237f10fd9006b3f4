# Sourced by the scripts that run Windows programs: the project's Wine settings.
# QRV_WINEPREFIX names the private prefix (default: build/x64/wineprefix of this checkout).
QRV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${QRV_WINEPREFIX:-$QRV_ROOT/build/x64/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
QRV_WINE=/usr/lib/wine/wine64
QRV_WINESERVER=/usr/lib/wine/wineserver64
[ -x "$QRV_WINESERVER" ] || QRV_WINESERVER=/usr/lib/wine/wineserver
