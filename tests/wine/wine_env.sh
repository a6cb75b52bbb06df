#!/usr/bin/env bash
# The Wine test environment, made and taken down around the scenarios by
# ctest's fixture:
#   wine_env.sh setup BUILD_DIR    a fresh 32-bit prefix under BUILD_DIR/wine,
#                                  an Xvfb display on a free number, a
#                                  persistent wineserver
#   wine_env.sh cleanup BUILD_DIR  stop the server and the display
# setup writes BUILD_DIR/wine/env (NAME=VALUE lines) for the scenarios.
#
# Everything started here runs on after this script ends, so none of it may
# keep this script's output open: ctest reads that output until its end and
# would otherwise wait for the processes instead of the script.
set -euo pipefail

action=${1:-}
build=$(cd "${2:?usage: wine_env.sh setup|cleanup BUILD_DIR}" && pwd)
home=$build/wine
env_file=$home/env

export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=$home/prefix

quietly() { "$@" </dev/null >/dev/null 2>&1; }

# A new prefix each run, so that no run sees what an earlier one left behind
# (per-program settings, files the stub wrote).
make_prefix() {
  quietly wineserver -k || true
  rm -rf "$WINEPREFIX"
  mkdir -p "$home"
  quietly wineboot -i
  # Wine draws window captions itself: a closed window then does not wait
  # for a window manager that is not there.
  quietly wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
  quietly wineserver -w
  # Debian's Wine ships without fonts; dialogs are laid out with fonts-wine's.
  local font
  for font in $(dpkg -L fonts-wine 2>/dev/null | grep -iE '\.(ttf|ttc|fon)$'); do
    cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
  done
}

# Starts Xvfb on a display it chooses itself (-displayfd), which is free by
# construction, and prints that display's number.
start_display() {
  rm -f "$home/display"
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
    3>"$home/display" </dev/null >/dev/null 2>&1 &
  echo $! >"$home/xvfb.pid"
  local tries
  for tries in $(seq 100); do
    [ -s "$home/display" ] && break
    sleep 0.05
  done
  [ -s "$home/display" ] || { echo "wine_env: Xvfb did not start" >&2; exit 1; }
  tr -d '[:space:]' <"$home/display"
}

stop_everything() {
  quietly wineserver -k || true
  if [ -f "$home/xvfb.pid" ]; then
    kill "$(cat "$home/xvfb.pid")" 2>/dev/null || true
    rm -f "$home/xvfb.pid"
  fi
  rm -f "$env_file" "$home/display"
}

case $action in
  setup)
    stop_everything
    make_prefix
    export DISPLAY=":$(start_display)"
    # Debian's wineserver wrapper would stop the server after each program;
    # -p keeps it (and the Wine desktop) for the whole run.
    quietly wineserver -p
    # The first program starts Wine's helper processes; afterwards a
    # program's output ends with the program.
    quietly wine cmd /c exit || true
    {
      echo "WINEARCH=$WINEARCH"
      echo "WINEDEBUG=$WINEDEBUG"
      echo "WINEDLLOVERRIDES=$WINEDLLOVERRIDES"
      echo "WINEPREFIX=$WINEPREFIX"
      echo "DISPLAY=$DISPLAY"
    } >"$env_file"
    echo "wine_env: prefix $WINEPREFIX, display $DISPLAY"
    ;;
  cleanup)
    stop_everything
    echo "wine_env: stopped"
    ;;
  *)
    echo "usage: wine_env.sh setup|cleanup BUILD_DIR" >&2
    exit 64
    ;;
esac
