# Sourced by wine-session.sh: the drive letters the dialog tests need, set up
# before the Wine server starts (Wine reads drive types only when it starts).
#   r: a CD-ROM drive          s: a removable (floppy) drive
#   n: a network drive         t: a fixed drive of 5 MiB (tmpfs, needs root)
#   q: no drive at all
# The test programs check these types themselves and say so when one is wrong.
# A script may ask for more fixed drives (the demo's G:) before it starts the
# session; their links go when the session ends.
UPD_DRIVES_DIR=${UPD_DRIVES_DIR:-$UPD_BUILD_DIR/drives}
UPD_SMALL_DRIVE_MIB=5
UPD_FIXED_DRIVES=() # letter, folder, letter, folder...

upd_want_fixed_drive() { # letter, folder
  UPD_FIXED_DRIVES+=("$1" "$2")
}

upd_link_drive() { # letter, folder
  mkdir -p "$2"
  ln -sfn "$2" "$WINEPREFIX/dosdevices/$1:"
}

upd_setup_drives() {
  local dev=$WINEPREFIX/dosdevices
  upd_link_drive r "$UPD_DRIVES_DIR/cdrom"
  upd_link_drive s "$UPD_DRIVES_DIR/floppy"
  upd_link_drive n "$UPD_DRIVES_DIR/network"
  upd_link_drive t "$UPD_DRIVES_DIR/small"
  rm -f "$dev/q:" "$dev/q::"
  if ! mountpoint -q "$UPD_DRIVES_DIR/small"; then
    mount -t tmpfs -o "size=${UPD_SMALL_DRIVE_MIB}m,mode=0777" upd-small "$UPD_DRIVES_DIR/small" ||
      echo "wine-drives: could not mount the small drive t: (not root?)" >&2
  fi
  local key='HKLM\Software\Wine\Drives'
  wine reg add "$key" /v r: /d cdrom /f >/dev/null 2>&1
  wine reg add "$key" /v s: /d floppy /f >/dev/null 2>&1
  wine reg add "$key" /v n: /d network /f >/dev/null 2>&1
  wine reg add "$key" /v t: /d hd /f >/dev/null 2>&1
  wine reg delete "$key" /v q: /f >/dev/null 2>&1 || true
  local i
  for ((i = 0; i < ${#UPD_FIXED_DRIVES[@]}; i += 2)); do
    upd_link_drive "${UPD_FIXED_DRIVES[i]}" "${UPD_FIXED_DRIVES[i + 1]}"
    wine reg add "$key" /v "${UPD_FIXED_DRIVES[i]}:" /d hd /f >/dev/null 2>&1
  done
  wineserver -w
}

upd_teardown_drives() {
  local i
  for ((i = 0; i < ${#UPD_FIXED_DRIVES[@]}; i += 2)); do
    rm -f "$WINEPREFIX/dosdevices/${UPD_FIXED_DRIVES[i]}:"
  done
  if mountpoint -q "$UPD_DRIVES_DIR/small" 2>/dev/null; then
    umount "$UPD_DRIVES_DIR/small" || true
  fi
}
