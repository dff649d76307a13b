# Sourced by the entry points that run the power-cut test (test.sh, the
# power-cut sweep): mounts the simulator of tests/powercut on
# $UPD_BUILD_DIR/powercut/mnt, to be drive P: of the Wine session that
# follows, and exports UPD_POWERCUT_DRIVE for the test. Needs root,
# /dev/fuse and the built simulator; says why and returns 1 otherwise.
UPD_POWERCUT_DIR=$UPD_BUILD_DIR/powercut

upd_mount_powercut() { # [simulator options]
  local simulator=$UPD_BUILD_DIR/native/tests/powercut/powercut_fs
  if [ ! -x "$simulator" ] || [ ! -e /dev/fuse ] || [ "$(id -u)" != 0 ]; then
    echo "powercut: no simulator (needs root, /dev/fuse and libfuse3-dev)" >&2
    return 1
  fi
  local work=$UPD_POWERCUT_DIR
  mountpoint -q "$work/mnt" 2>/dev/null && fusermount3 -u "$work/mnt"
  rm -rf "$work/disk" "$work/store"
  mkdir -p "$work/disk" "$work/mnt"
  "$simulator" "$@" "$work/disk" "$work/store" "$work/mnt" -f >"$work/simulator.log" 2>&1 &
  UPD_POWERCUT_PID=$!
  for _ in $(seq 200); do
    mountpoint -q "$work/mnt" && break
    sleep 0.1
  done
  if ! mountpoint -q "$work/mnt"; then
    echo "powercut: the simulator did not mount" >&2
    cat "$work/simulator.log" >&2
    return 1
  fi
  upd_want_fixed_drive p "$work/mnt"
  export UPD_POWERCUT_DRIVE='p:'
}

# Wine's processes first: the simulator ends once nothing holds a file open
# on it.
upd_unmount_powercut() {
  [ -n "${UPD_POWERCUT_PID:-}" ] || return 0
  wineserver -k >/dev/null 2>&1 || true
  fusermount3 -u "$UPD_POWERCUT_DIR/mnt" 2>/dev/null || true
  wait "$UPD_POWERCUT_PID" 2>/dev/null || true
  UPD_POWERCUT_PID=""
}
