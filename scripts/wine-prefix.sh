# Sourced by the Wine scripts: a fresh, throw-away Wine prefix for one run.
#   wine_prefix_start DIR [gui]   creates the prefix in DIR and starts its server
#   wine_prefix_restart           restarts the server (it reads the port mappings at start)
#   wine_prefix_stop              stops the server
# Without "gui" the prefix uses Wine's null display driver: windows exist and
# take messages, nothing needs an X server. With "gui" it draws on $DISPLAY
# and has Wine's own fonts installed, as a Windows machine has its fonts.
# COM1 to COM4 are mapped to /dev/null, so that nothing run in the prefix can
# reach the machine's own serial ports (Wine maps /dev/ttyS* otherwise).

wine_prefix_start() {
  local dir=$1 mode=${2:-}
  export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1
  wine wineboot -i >/dev/null 2>&1
  if [ "$mode" != gui ]; then
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
  else
    cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  local n
  for n in 1 2 3 4; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d /dev/null /f >/dev/null
  done
  wine_prefix_restart
}

wine_prefix_restart() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  wineserver -p >/dev/null 2>&1
  wine wineboot >/dev/null 2>&1
}

wine_prefix_stop() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
}

# The Windows path of a file of this machine (Wine's drive Z: is /).
wine_path() {
  printf 'Z:%s' "$(realpath "$1" | tr / '\\')"
}
