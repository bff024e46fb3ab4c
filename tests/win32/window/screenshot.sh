#!/usr/bin/env bash
# screenshot.sh HELPER.exe PREFIX OUTDIR [HELPER-ARG]: shows Form1 under Wine and saves the
# screen and the window as PNG files in OUTDIR; fails when the window does not open, paint
# or end.
set -eu
helper=$1 prefix=$2 out=$3 variant=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
wine_run=$here/../../../scripts/wine-run
mkdir -p "$out"
cd "$out"
rm -f form1.ready form1.done
DISPLAY=$(cat "$prefix.display")
export DISPLAY
# No window manager runs on the test display: Wine then draws the title bar and border itself.
"$wine_run" "$prefix" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1 || true
"$wine_run" "$prefix" "$helper" $variant &
pid=$!
for _ in $(seq 300); do [ -f form1.ready ] && break; sleep 0.1; done
if [ ! -f form1.ready ]; then echo "the window did not open" >&2; kill $pid 2>/dev/null; exit 1; fi
sleep 1
read -r left top width height < form1.ready
xwd -root -silent | xwdtopnm 2>/dev/null > screen.pnm
touch form1.done
wait $pid || { echo "the window did not end on キャンセル" >&2; exit 1; }
pnmtopng screen.pnm > form1-screen.png
pnmcut -left "$left" -top "$top" -width "$width" -height "$height" screen.pnm > form1.pnm
pnmtopng form1.pnm > form1.png
# A window that drew its text, boxes and icons has many colours; an unpainted one a few.
colours=$(ppmhist -noheader form1.pnm | wc -l)
rm -f form1.pnm
[ "$colours" -ge 16 ] || { echo "the window looks unpainted: $colours colours" >&2; exit 1; }
rm -f screen.pnm form1.ready form1.done
echo "screenshot: $out/form1.png ($width x $height at $left,$top), whole screen: $out/form1-screen.png"
