# Sourced by the scripts that run the Windows tests under Wine.
#   start_display: a private Xvfb display when DISPLAY is not set
#   stop_wine BUILD_DIR: ends the Wine servers of the build tree's
#     prefixes, and with them every program still running in one
#   stop_wine_and_display BUILD_DIR: that, then the display start_display
#     started, if any
xvfb_pid=""
start_display() {
  [ -z "${DISPLAY:-}" ] || return 0
  local number
  number=$(mktemp)
  # Xvfb picks a free display and writes its number once it accepts clients.
  Xvfb -displayfd 9 -screen 0 1280x1024x24 -nolisten tcp 9>"$number" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s "$number" ] && break; sleep 0.1; done
  export DISPLAY=":$(tr -d '[:space:]' <"$number")"
  rm -f "$number"
}
stop_wine() {
  local prefix
  for prefix in "$1"/windows/wine/*/; do
    [ -d "$prefix" ] && WINEPREFIX="${prefix%/}" wineserver -k 2>/dev/null || true
  done
}
stop_wine_and_display() {
  stop_wine "$1"
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
}
