# Sourced by the entry points that run Wine (test, demo, bench, kill sweep,
# screenshots): makes the Wine prefix when it is missing, starts Xvfb on a
# free display and a persistent wine server, and stops both when the calling
# script exits, however it exits.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
source "$(dirname "${BASH_SOURCE[0]}")/wine-drives.sh"
source "$(dirname "${BASH_SOURCE[0]}")/wine-fonts.sh"

# A 64-bit prefix is made with the 32-bit part that the host can't run left
# out: where an emulator is registered for 32-bit programs, wineboot would
# set it up at emulated speed for minutes. It runs in a user namespace whose
# own binfmt_misc (empty: kernels from 6.7 on give each user namespace one)
# hides every handler registered elsewhere, without touching them. Where no
# such namespace can be made, wineboot runs as it is.
upd_make_prefix() {
  if [ "$UPD_WIN_ARCH" = x86_64 ] &&
    unshare --user --map-root-user --mount true 2>/dev/null; then
    unshare --user --map-root-user --mount bash -c '
      mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null
      "$UPD_WINE" wineboot -i >/dev/null 2>&1
      "$UPD_WINESERVER" -w'
  else
    wine wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
}

upd_prepare_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating the prefix $WINEPREFIX (once)"
    mkdir -p "$WINEPREFIX"
    upd_make_prefix
  fi
  # Without a window manager Wine waits about 2 s whenever a window hides.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wineserver -w
}

upd_start_display() {
  local n=${UPD_DISPLAY_NUMBER:-}
  if [ -z "$n" ]; then
    for n in $(seq 90 140); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
  fi
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  UPD_XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
}

upd_stop_session() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${UPD_XVFB_PID:-}" ] && kill "$UPD_XVFB_PID" >/dev/null 2>&1 || true
  wait >/dev/null 2>&1 || true
  upd_teardown_drives
}

upd_start_session() {
  trap upd_stop_session EXIT
  upd_prepare_prefix
  upd_setup_fonts
  upd_setup_drives
  # The demo on a desktop shows its windows there; everything else uses Xvfb.
  [ -n "${UPD_USE_DESKTOP:-}" ] || upd_start_display
  wineserver -p
  # Start Wine's own background processes now, with their output going
  # nowhere: started later by a test, they would inherit its output pipe and
  # keep the test runner waiting for them.
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}
