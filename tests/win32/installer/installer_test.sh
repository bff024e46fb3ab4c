#!/usr/bin/env bash
# installer_test.sh SCRIPTS BUILD WINDOW-TEST OUT PACKAGE VERSION: the NSIS installer in a fresh prefix of its
# own. Installs silently, ticks LZH and ZIP in the installed program's window over another
# program's handler for .zip, installs again over it, uninstalls silently and checks that
# Windows is as it was; then photographs the installer's first page into OUT/setup.png.
set -u
scripts=$1 build=$2 window_test=$3 out=$4 package=$5 version=$6
prefix=$out/wineprefix
fail() { echo "FAIL: $*"; exit 1; }
rm -rf "$out" && mkdir -p "$out/home"
# Wine makes menu entries for Start-menu shortcuts under $HOME: keep them in the scratch folder.
export HOME=$out/home
cd "$out" || exit 1

cpack -G NSIS --config "$build/CPackConfig.cmake" -B "$out/package" >cpack.log 2>&1 || fail "cpack: $(tail -3 cpack.log)"
setup=$out/package/$package.exe
[ -f "$setup" ] || fail "no $setup"

"$scripts/wine-session" start "$prefix" || fail "the prefix did not start"
# The prefix stays after a failure, for a look; the next run starts afresh anyway.
trap 'status=$?; "$scripts/wine-session" stop "$prefix"; [ $status = 0 ] && rm -rf "$prefix"' EXIT
w() { "$scripts/wine-run" "$prefix" "$@" </dev/null 2>/dev/null; }
# value KEY NAME: the data of one value ("" for the default), or nothing when it is missing.
# From the key's whole listing, which leaves out a default value that is not set.
value() {
  w reg query "$1" | iconv -f CP932 -t UTF-8 | tr -d '\r' | sed -n "s/^    ${2:-(既定)}    REG_[A-Z_]*    //p"
}
expect() { [ "$(value "$1" "$2")" = "$3" ] || fail "$1 [$2] is '$(value "$1" "$2")', not '$3'"; }

uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Dexalo'
user=$(id -un)
instdir=$prefix/drive_c/users/$user/AppData/Local/Programs/Dexalo
wininst="C:\\users\\$user\\AppData\\Local\\Programs\\Dexalo"
shortcut="$prefix/drive_c/users/$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Dexalo.lnk"
settings=$instdir/設定フォルダ/設定.ini

# Another program's handler for .zip, and a value of another program's on .lzh.
{ w reg add 'HKCR\.zip' /ve /d Other.zip /f && w reg add 'HKCR\Other.zip' /ve /d 'Other archive' /f &&
  w reg add 'HKCR\.lzh' /v Other.Flag /d keep /f; } >/dev/null || fail "reg add"

w "$setup" /S || fail "the silent install failed"
# Every file of the package, and the uninstaller, and nothing else.
diff <(cd "$out/package/_CPack_Packages/"*"/NSIS/$package" && find . -type f | sort) \
     <(cd "$instdir" && find . -type f ! -name uninstall.exe | sort) || fail "installed files differ from the package"
[ -f "$instdir/uninstall.exe" ] || fail "no uninstaller"
cmp -s "$instdir/dexalo.exe" "$build/bin/dexalo.exe" || fail "dexalo.exe differs from the build's"
{ strings -a "$shortcut"; strings -a -el "$shortcut"; } 2>/dev/null | grep -qF 'Programs\Dexalo\dexalo.exe' ||
  fail "no Start-menu shortcut to the program"
expect "$uninstall_key" DisplayName Dexalo
expect "$uninstall_key" DisplayVersion "$version"
expect "$uninstall_key" Publisher Vanto
expect "$uninstall_key" DisplayIcon "$wininst\\dexalo.exe,0"
expect "$uninstall_key" QuietUninstallString "\"$wininst\\uninstall.exe\" /S"
[ "$(($(value "$uninstall_key" EstimatedSize)))" -gt 1000 ] || fail "EstimatedSize is not the folder's size in KB"

# LZH and ZIP ticked and applied in the installed program's window.
DEXALO_INSTALLED_FOLDER=$wininst w "$window_test" --gtest_also_run_disabled_tests --gtest_filter='Installed.*' ||
  fail "ticking LZH and ZIP in the window"
expect 'HKCR\.zip' '' ZipFile
expect 'HKCR\.zip' Dexalo.PreviousProgID Other.zip

# Installing over it keeps the settings and the associations.
printf '3\r\n"C:\\保存\\"\r\n' | iconv -f UTF-8 -t CP932 > "$out/settings.ini"
cp "$out/settings.ini" "$settings"
w "$setup" /S || fail "the second install failed"
cmp -s "$settings" "$out/settings.ini" || fail "installing over changed the settings file"
expect 'HKCR\.lzh' '' LzhFile
expect 'HKCR\ZipFile\Shell' '' Dexaloで解凍

# The uninstaller hands over to a copy of itself and returns: its entry goes last.
w "$instdir/uninstall.exe" /S
for _ in $(seq 120); do value "$uninstall_key" DisplayName | grep -q . || break; sleep 0.5; done
value "$uninstall_key" DisplayName | grep -q . && fail "the uninstall entry is still there"
[ "$(cd "$instdir" && find . -type f)" = "./設定フォルダ/設定.ini" ] || fail "left behind: $(cd "$instdir" && find . -type f)"
cmp -s "$settings" "$out/settings.ini" || fail "the kept settings file changed"
[ ! -e "$shortcut" ] || fail "the shortcut is still there"
expect 'HKCR\.zip' '' Other.zip
expect 'HKCR\.lzh' Other.Flag keep
for gone in '.zip|Dexalo.PreviousProgID' '.zip|Content Type' '.lzh|' '.lzh|Content Type' '.lha|' '.jar|' 'LzhFile|' 'ZipFile|'; do
  [ -z "$(value "HKCR\\${gone%|*}" "${gone#*|}")" ] || fail "$gone is still there"
done
w reg query 'HKCR\ZipFile' && fail "ZipFile is still there"

# The first page, as the user sees it: Japanese text with the system's Japanese font.
DISPLAY=$(cat "$prefix.display") && export DISPLAY
w reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null
"$scripts/wine-run" "$prefix" "$setup" </dev/null >/dev/null 2>&1 &
page=$!
colours=0
for _ in $(seq 60); do
  sleep 1
  xwd -root -silent | xwdtopnm 2>/dev/null | pnmcrop 2>/dev/null > page.pnm
  colours=$(ppmhist -noheader page.pnm | wc -l)
  [ "$colours" -ge 16 ] && break
done
sleep 1
xwd -root -silent | xwdtopnm 2>/dev/null | pnmcrop 2>/dev/null | pnmtopng > setup.png
kill $page 2>/dev/null
[ "$colours" -ge 16 ] || fail "the installer's first page did not paint: $colours colours"
echo "installer: passed; first page in $out/setup.png"
