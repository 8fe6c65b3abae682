# Sourced by the scripts that run Windows programs: sets $wine to the Wine
# loader (wine64 where Debian puts it, else the one on the PATH) and
# $wineserver to its server; both are empty when Wine is missing.
wine="" wineserver=""
for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
  if [[ -n "$candidate" && -x "$candidate" ]]; then wine=$candidate; break; fi
done
if [[ -n "$wine" ]]; then
  wineserver=$(dirname "$wine")/wineserver
  [[ -x "$wineserver" ]] || wineserver=$(command -v wineserver || true)
fi
