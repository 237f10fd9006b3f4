# Sourced by the scripts that run Windows programs: the project's Wine settings.
# QRV_ARCH picks the architecture: x64 (default, wine64 in a win64 prefix) or x86 (32-bit Wine in a
# win32 prefix). QRV_WINEPREFIX names the private prefix (default: build/<arch>/wineprefix of this
# checkout).
QRV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QRV_ARCH=${QRV_ARCH:-x64}
export WINEPREFIX=${QRV_WINEPREFIX:-$QRV_ROOT/build/$QRV_ARCH/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# The device search tool refuses every address outside 127.0.0.0/8 under this variable, so that a
# mistake in a test or a demo fails instead of sending a packet to another network.
export QRV_SEARCH_LOOPBACK_ONLY=1
case "$QRV_ARCH" in
  x64)
    export WINEARCH=win64
    export WINEDLLOVERRIDES="mscoree,mshtml="
    QRV_WINE=/usr/lib/wine/wine64
    ;;
  x86)
    export WINEARCH=win32
    # Wine has a TWAIN_32.DLL of its own; the project's manager beside the application is the one
    # the tests and the demo mean.
    export WINEDLLOVERRIDES="mscoree,mshtml=;twain_32=n,b"
    QRV_WINE=/usr/lib/wine/wine
    ;;
  *)
    echo "QRV_ARCH must be x64 or x86, not '$QRV_ARCH'" >&2
    return 2 2>/dev/null || exit 2
    ;;
esac
# One server serves both kinds of prefix; Debian's wine64 package brings the 64-bit one.
QRV_WINESERVER=/usr/lib/wine/wineserver64
[ -x "$QRV_WINESERVER" ] || QRV_WINESERVER=/usr/lib/wine/wineserver

# Whether this machine runs 32-bit x86 programs at all: some kernels are built without that.
qrv_can_run_x86() {
  /lib/ld-linux.so.2 --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine ]
}
QRV_X86_UNAVAILABLE="this machine cannot run 32-bit x86 programs (/lib/ld-linux.so.2 --version fails, or 32-bit Wine is missing)"
# The exit status of a Windows test that was skipped for that reason (CTest's SKIP_RETURN_CODE).
QRV_SKIP_STATUS=77
