# Sourced by the scripts that run Windows programs: a private, quiet Wine
# prefix below build/, created on first use, with a wineserver kept alive so
# that each program start does not pay for a server start.
_kestrun_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${KESTRUN_WINEPREFIX:-$_kestrun_root/build/wineprefix}"
export WINEARCH=win64
export WINEDEBUG=-all
# Skip the Mono, Gecko and menu set-up: none of the programs needs them.
# Overrides already in the environment (a test's own) are kept after ours.
_kestrun_overrides="winemenubuilder.exe,mscoree,mshtml="
case ";${WINEDLLOVERRIDES:-};" in
  *";$_kestrun_overrides;"*) ;;
  *) export WINEDLLOVERRIDES="$_kestrun_overrides${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}" ;;
esac
unset DISPLAY

kestrun_wine_ready() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i </dev/null >/dev/null 2>&1 || true
      wineserver -w
    fi
    # A second drive letter for the C: drive, as a subst drive would give:
    # the tests reach one installation through both.
    [ -L "$WINEPREFIX/dosdevices/t:" ] || ln -s ../drive_c "$WINEPREFIX/dosdevices/t:"
  ) 9>"$(dirname "$WINEPREFIX")/.wineprefix.lock"
  # -p: stay alive after the last program ends; a second one just exits.
  wineserver -p </dev/null >/dev/null 2>&1 || true
}
