#!/usr/bin/env bash
# Takes docs/main-window.png from the real program under Xvfb: the main
# window with one SMTP client in the middle of its dialogue, and the tray
# menu opened by a right click on the window.
# Needs xvfb, xdotool, x11-apps (xwd) and netpbm; run from the repository
# top after building (build/bin/dorvane).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x600x24" "$0" "$@"
fi
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir "$work/home"
printf 'ListenPort\t2525\r\n' > "$work/home/Dorvane.ini"
"$top/build/bin/dorvane" --home "$work/home" 2>/dev/null & pid=$!
main=$(timeout 10 xdotool search --sync --name "Dorvane - Version" | head -1)

# One client stopped after two recipients (loopback only).
exec 3<>/dev/tcp/127.0.0.1/2525
for line in "HELO client.example" "MAIL FROM:<alice@client.example>" \
            "RCPT TO:<bob@example.org>" "RCPT TO:<carol@example.org>"; do
  printf '%s\r\n' "$line" >&3
  sleep 0.3
done

xdotool mousemove --window "$main" 420 190 click 3
sleep 2
menu=$(xdotool search --onlyvisible --class dorvane | grep -v "^$main$" | tail -1)

# Windows are grabbed one by one (the root window of Xvfb shows no pop-up)
# and laid out where they are on the screen.
grab() {  # window -> file.pnm; prints "x y w h"
  xwd -id "$1" -silent | xwdtopnm 2>/dev/null > "$2"
  eval "$(xdotool getwindowgeometry --shell "$1")"
  echo "$X $Y $WIDTH $HEIGHT"
}
read -r mx my mw mh < <(grab "$main" "$work/main.pnm")
read -r px py pw ph < <(grab "$menu" "$work/menu.pnm")
width=$(( mx + mw > px + pw ? mx + mw : px + pw ))
height=$(( my + mh > py + ph ? my + mh : py + ph ))
ppmmake rgb:ff/ff/ff "$width" "$height" > "$work/canvas.pnm"
pnmpaste "$work/main.pnm" "$mx" "$my" "$work/canvas.pnm" > "$work/step.pnm"
pnmpaste "$work/menu.pnm" "$px" "$py" "$work/step.pnm" | pnmtopng > "$top/docs/main-window.png"
exec 3>&-
echo "wrote docs/main-window.png"
