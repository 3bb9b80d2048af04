# The demo itself: a settings file, the program in the tray, screenshots.
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/e2e/lib.sh"
e2e_setup demo
E2E_SHOTS="$KIVVET_SHOTS"
mkdir -p "$E2E_SHOTS"

python3 "$KIVVET_ROOT/tests/e2e/kivvetcfg.py" write "$E2E_DIR/KivvetLE.cfg" \
  checkAtStartup=0 accountName=デモ
start_program demo -TOFF "-W$(winpath "$E2E_DIR")"
wait_for 60 tray_shows 1 && echo "The cat is in the tray."
screenshot 01-tray >/dev/null

wine taskkill /im KivvetLE.exe >/dev/null 2>&1 || true
wait_for 30 program_exited demo || true
echo "Screenshots: $E2E_SHOTS"
ls "$E2E_SHOTS"
