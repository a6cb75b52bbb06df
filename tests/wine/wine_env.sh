#!/usr/bin/env bash
# The Wine test environment, made and taken down around the scenarios by
# ctest's fixture:
#   wine_env.sh setup BUILD_DIR    for each stub architecture this machine can
#                                  run, a fresh prefix of its kind under
#                                  BUILD_DIR/wine/ARCH and a persistent
#                                  wineserver; one Xvfb display on a free
#                                  number for both
#   wine_env.sh cleanup BUILD_DIR  stop the servers and the display
# setup writes BUILD_DIR/wine/ARCH/env (NAME=VALUE lines) for the scenarios
# of each architecture it made ready, BUILD_DIR/wine/ARCH/unavailable (the
# reason) for each it could not, and BUILD_DIR/wine/stubs, the one line that
# says which stubs the tier runs.
#
# Whether this machine runs 32-bit programs is found out by trying: some
# kernels refuse them, and 32-bit Wine then cannot start. The x64 stub runs
# under 64-bit Wine everywhere; a machine where it cannot run fails the tier.
#
# Everything started here runs on after this script ends, so none of it may
# keep this script's output open: ctest reads that output until its end and
# would otherwise wait for the processes instead of the script.
set -euo pipefail

action=${1:-}
build=$(cd "${2:?usage: wine_env.sh setup|cleanup BUILD_DIR}" && pwd)
home=$build/wine
summary=$home/stubs

# A step that takes longer than this is reported as too slow by name, rather
# than left to ctest's limit for the whole fixture.
readonly STEP_LIMIT_S=240

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

quietly() { "$@" </dev/null >/dev/null 2>&1; }

loader_of() { case $1 in x86) echo /usr/lib/wine/wine ;; x64) echo /usr/lib/wine/wine64 ;; esac; }
winearch_of() { case $1 in x86) echo win32 ;; x64) echo win64 ;; esac; }

use_arch() {
  export WINEARCH WINEPREFIX
  WINEARCH=$(winearch_of "$1")
  WINEPREFIX=$home/$1/prefix
}

# Prints why this machine cannot run ARCH's Wine, or nothing when it can:
# the architecture's own loader is started and must answer.
why_not_runnable() {
  local loader output
  loader=$(loader_of "$1")
  [ -x "$loader" ] || { echo "$loader is not installed"; return; }
  if ! output=$("$loader" --version 2>&1 </dev/null); then
    output=$(echo "$output" | tail -1)
    output=${output##*: }  # the system's reason, without the shell's "script: line N: program: "
    if [ "$1" = x86 ]; then
      echo "this machine does not run 32-bit programs ($loader: $output)"
    else
      echo "64-bit Wine does not start ($loader: $output)"
    fi
  fi
}

# Runs a step of the set-up within STEP_LIMIT_S; a step that fails or is too
# slow ends the set-up with a message naming it.
step() {
  local what=$1 started status
  shift
  started=$(date +%s)
  status=0
  timeout "$STEP_LIMIT_S" "$@" </dev/null >/dev/null 2>&1 || status=$?
  if [ "$status" = 124 ]; then
    echo "wine_env: $what took over $STEP_LIMIT_S s: this machine is too slow for the Wine tier" \
      "(is Wine emulated?)" >&2
    exit 1
  elif [ "$status" != 0 ]; then
    echo "wine_env: $what failed (status $status)" >&2
    exit 1
  fi
  echo "wine_env: $what took $(($(date +%s) - started)) s"
}

# A new prefix each run, so that no run sees what an earlier one left behind
# (per-program settings, files the stub wrote).
make_prefix() {
  local arch=$1 loader font
  loader=$(loader_of "$arch")
  use_arch "$arch"
  quietly wineserver -k || true
  rm -rf "$home/$arch"
  mkdir -p "$home/$arch"
  step "making the $arch prefix (wineboot)" "$loader" wineboot -i
  # Wine draws window captions itself: a closed window then does not wait
  # for a window manager that is not there.
  step "a registry setting in the $arch prefix" \
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
  step "writing the $arch prefix (wineserver -w)" wineserver -w
  # Debian's Wine ships without fonts; dialogs are laid out with fonts-wine's.
  for font in $(dpkg -L fonts-wine 2>/dev/null | grep -iE '\.(ttf|ttc|fon)$'); do
    cp "$font" "$WINEPREFIX/drive_c/windows/Fonts/"
  done
}

# Keeps a server and the Wine desktop for the whole run, and writes the
# architecture's environment for the scenarios.
start_server() {
  local arch=$1 loader
  loader=$(loader_of "$arch")
  use_arch "$arch"
  # Debian's wineserver wrapper would stop the server after each program;
  # -p keeps it (and the Wine desktop) for the whole run.
  quietly wineserver -p
  # The first program starts Wine's helper processes; afterwards a
  # program's output ends with the program.
  step "the first $arch program (cmd /c exit)" "$loader" cmd /c exit
  {
    echo "WINE=$loader"
    echo "WINEARCH=$WINEARCH"
    echo "WINEDEBUG=$WINEDEBUG"
    echo "WINEDLLOVERRIDES=$WINEDLLOVERRIDES"
    echo "WINEPREFIX=$WINEPREFIX"
    echo "DISPLAY=$DISPLAY"
  } >"$home/$arch/env"
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
  local arch
  for arch in x86 x64; do
    if [ -f "$home/$arch/env" ]; then
      use_arch "$arch"
      quietly wineserver -k || true
    fi
    rm -f "$home/$arch/env"
  done
  if [ -f "$home/xvfb.pid" ]; then
    kill "$(cat "$home/xvfb.pid")" 2>/dev/null || true
    rm -f "$home/xvfb.pid"
  fi
  rm -f "$home/display"
}

case $action in
  setup)
    stop_everything
    rm -f "$summary"
    mkdir -p "$home"
    export DISPLAY=":$(start_display)"
    x86_reason=$(why_not_runnable x86)
    x64_reason=$(why_not_runnable x64)
    if [ -n "$x64_reason" ]; then
      echo "wine_env: no usable Wine for the x64 stub: $x64_reason" >&2
      exit 1
    fi
    for arch in x86 x64; do
      reason=${x86_reason}
      [ "$arch" = x64 ] && reason=
      if [ -n "$reason" ]; then
        rm -rf "${home:?}/$arch"
        mkdir -p "$home/$arch"
        echo "$reason" >"$home/$arch/unavailable"
        continue
      fi
      make_prefix "$arch"
      start_server "$arch"
    done
    if [ -z "$x86_reason" ]; then
      echo "Wine tier: every scenario against the x86 and the x64 stub" >"$summary"
    else
      echo "Wine tier: every scenario against the x64 stub only; x86 not run: $x86_reason" >"$summary"
    fi
    echo "wine_env: display $DISPLAY"
    cat "$summary"
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
