#!/usr/bin/env bash
# The demo: installs what is missing, builds, makes a sample package with
# mkupdate, prepares a sample game install in the project's Wine prefix (at
# G:\Games\lumerant_qen, on a drive G: of its own, as a player would have it)
# and runs update.exe on it. With a desktop (DISPLAY set) the windows are the
# player's to answer; without one they run under Xvfb and a driver answers
# them. Ends with what changed in the sample game folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/bootstrap.sh"
bash "$root/scripts/build.sh" >/dev/null
source "$root/scripts/lib/wine-session.sh"

demo=$UPD_BUILD_DIR/demo
# Pictures of the headless run; UPD_DEMO_PICTURES=docs/screenshots renews
# the ones the README shows.
pictures=$(realpath -m "${UPD_DEMO_PICTURES:-$demo/screenshots}")
win=$UPD_WIN_TREE
rm -rf "$demo"
mkdir -p "$demo/dist" "$pictures"

# The package: the files of demo/package plus a 256 MiB music file made here,
# so that the copy takes a moment and the progress window can be seen.
cp -r "$root/demo/package" "$demo/package"
mkdir -p "$demo/package/data/bgm"
python3 -c "import sys; sys.stdout.buffer.write(bytes(range(7, 256)) * (256 * 1024 * 1024 // 249))" \
  >"$demo/package/data/bgm/title.ogg"
"$UPD_BUILD_DIR/native/tools/mkupdate/mkupdate" build "$demo/package" -o "$demo/dist/UPDATE.DAT"
cp "$win/driver/update.exe" "$demo/dist/"

# The game as installed: its files and an uninstall list naming them, in a
# folder that the session's drive G: shows as G:\Games\lumerant_qen.
drive_g=$demo/drive-g
game=$drive_g/Games/lumerant_qen
game_win='G:\Games\lumerant_qen'
mkdir -p "$(dirname "$game")"
cp -r "$root/demo/game" "$game"
python3 - "$game" "$game_win" <<'PY'
import os, sys
root, win = sys.argv[1], sys.argv[2]
entries = [b"D" + (win + "\\data").encode("cp932")]
for folder, _, files in sorted(os.walk(root)):
    for name in sorted(files):
        rel = os.path.relpath(os.path.join(folder, name), root).replace("/", "\\")
        entries.append(b"F" + (win + "\\" + rel).encode("cp932"))
with open(os.path.join(root, "uinst.dat"), "wb") as out:
    out.write(b"".join(e + b"\0" for e in entries) + b"\0")
PY
snapshot() { (cd "$game" && find . -type f -exec sha1sum {} + | sort -k2); }
snapshot >"$demo/before.txt"

if [ -n "${DISPLAY:-}" ] && [ -z "${UPD_DEMO_HEADLESS:-}" ]; then
  export UPD_USE_DESKTOP=1
fi
upd_want_fixed_drive g "$drive_g"
upd_start_session
if [ "$(realpath -m "$(winepath -u "$game_win" 2>/dev/null | tr -d '\r')")" != "$(realpath "$game")" ]; then
  echo "demo: Wine does not show $game as $game_win" >&2
  exit 1
fi
wine reg add 'HKCU\Software\TALVERA\lumerant_qen' /v DataDir /d "$game_win" /f >/dev/null 2>&1

echo "demo: running update.exe from $demo/dist on the game in $game_win ($game)"
if [ -n "${UPD_USE_DESKTOP:-}" ]; then
  (cd "$demo/dist" && wine update.exe) || true
else
  # No picture of an earlier run stays behind to pass for one of this run.
  rm -f "$pictures"/demo-*.png "$pictures"/demo-*.bmp
  wine "$win/demo/demo_driver.exe" "$(echo "Z:$demo/dist" | tr / '\\')" \
    "$(echo "Z:$pictures" | tr / '\\')" || echo "demo: the driver reported a problem"
fi

for bmp in "$pictures"/demo-*.bmp; do
  [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done

snapshot >"$demo/after.txt"
python3 - "$demo/before.txt" "$demo/after.txt" <<'PY'
import sys
def load(p):
    d = {}
    for line in open(p, encoding="utf-8", errors="replace"):
        digest, name = line.rstrip("\n").split("  ", 1)
        d[name[2:]] = digest
    return d
before, after = load(sys.argv[1]), load(sys.argv[2])
created = sorted(set(after) - set(before))
replaced = sorted(n for n in before if n in after and before[n] != after[n])
removed = sorted(set(before) - set(after))
backups = [n for n in after if n.endswith("_old")]
print("demo: what changed in the sample game folder")
for title, names in (("created", created), ("replaced", replaced), ("removed", removed), ("backups left", backups)):
    print(f"  {title}: {len(names) or 'none'}")
    for n in names:
        print(f"    {n}")
PY
