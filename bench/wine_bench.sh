# The set-up the acquisition and listing benchmarks share, sourced from the repository root:
# a sanitizer-free tree (build/bench), the x64 source installed in a Wine prefix of its own
# (build/x64/benchprefix) with twacquire and the manager in <work>/app, and a device simulator
# on loopback that the source is pointed at.

# Builds the named targets without sanitizers (build/bench, Release).
bench_release_build() {
  cmake -S "$root" -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DQRV_SANITIZE=OFF >/dev/null
  cmake --build build/bench -j 2 --target "$@" >/dev/null
}

# bench_install_source <work>: a fresh <work> with storage/ and app/; sets source_name, reg_key.
bench_install_source() {
  work=$1
  export QRV_ARCH=x64
  cmake --preset x64 >/dev/null
  cmake --build --preset x64 -j 2 --target qrvkbx_ds qrvkbxr qrvxpmns twain_manager twacquire >/dev/null
  export QRV_WINEPREFIX=$root/build/x64/benchprefix
  source scripts/wine-env.sh
  if [ -z "${DISPLAY:-}" ]; then
    source scripts/xvfb.sh
    start_xvfb
  fi
  "$QRV_WINESERVER" -k 2>/dev/null || true
  scripts/wine-prefix.sh
  rm -rf "$work"
  mkdir -p "$work/storage/documents" "$work/app"
  local install="$WINEPREFIX/drive_c/windows/twain_64/qrvkbx"
  mkdir -p "$install"
  cp build/x64/bin/qrvkbx.ds build/x64/bin/qrvkbxr.dll build/x64/bin/qrvxpmns.dll build/x64/bin/qrvcofig.ini "$install/"
  cp build/x64/tools/twacquire.exe build/x64/tools/TWAINDSM.dll "$work/app/"
  source_name=$(sed -n 's/^DriverName=//p' resources/qrvcofig.ini | tr -d '\r')
  reg_key=$(sed -n 's/^RegKey=//p' resources/qrvcofig.ini | tr -d '\r')
}

# bench_start_simulator <simulator>: serves <work>/storage until the script ends, which also
# ends the wineserver and the display; the source's address and port point at it.
bench_start_simulator() {
  port_file=$work/simulator.port
  "$1" --storage "$work/storage" --port-file "$port_file" --lifetime 1200 >"$work/simulator.log" 2>&1 &
  simulator_pid=$!
  trap bench_finish EXIT
  for _ in $(seq 100); do [ -s "$port_file" ] && break; sleep 0.1; done
  local port
  port=$(tr -d '\r\n ' <"$port_file")
  "$QRV_WINE" reg add "HKCU\\SOFTWARE\\Vantrel\\$reg_key\\Common" /v "Server Address" /d 127.0.0.1 /f >/dev/null 2>&1
  "$QRV_WINE" reg add "HKLM\\SOFTWARE\\Vantrel\\$reg_key\\Common" /v HttpPort /d "$port" /f >/dev/null 2>&1
}

bench_finish() {
  rm -f "$port_file"
  kill "$simulator_pid" 2>/dev/null || true
  "$QRV_WINESERVER" -k 2>/dev/null || true
  if declare -F stop_xvfb >/dev/null; then stop_xvfb; fi
}
