# Sourced by wine-session.sh: the test prefix has none of the Japanese system
# fonts, and Wine's fallback for them is a fixed-pitch font too wide for the
# dialog layouts. Map them to the installed proportional Gothic instead.
upd_setup_fonts() {
  local key='HKCU\Software\Wine\Fonts\Replacements' name
  for name in 'ＭＳ Ｐゴシック' 'MS PGothic' 'MS UI Gothic' 'Tahoma'; do
    wine reg add "$key" /v "$name" /d IPAPGothic /f >/dev/null 2>&1
  done
}
