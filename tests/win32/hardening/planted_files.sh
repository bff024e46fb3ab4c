#!/usr/bin/env bash
# Starts dexalo.exe from a folder holding a planted unlha32.dll and explorer.exe, on an LZ
# file with "open the folder afterwards" set: neither may run. Then a library installed
# beside the program must still load.
set -u
winerun=$1 prefix=$2 dexalo=$3 dll=$4 exe=$5 sandbox=$6
fail() { echo "FAIL: $*"; exit 1; }
winpath() { local p; p=$(realpath -m -- "$1"); printf 'Z:%s' "${p//\//\\}"; }

rm -rf "$sandbox"
program=$sandbox/program downloads=$sandbox/downloads
mkdir -p "$program/設定フォルダ" "$downloads"
cp "$dexalo" "$program/"
cp "$dll" "$downloads/unlha32.dll"
cp "$exe" "$downloads/explorer.exe"
# Extract next to the archive and open the folder afterwards.
printf '3\r\n"C:\\"\r\n' > "$program/設定フォルダ/設定.ini"
printf 'hello, planted world\n%.0s' $(seq 50) > "$sandbox/plain.txt"
mscompress "$sandbox/plain.txt" >/dev/null 2>&1 || fail "mscompress"
mv "$sandbox/plain.txt_" "$downloads/readme.tx_" || fail "no LZ file"

# Wine's own explorer may open a window for the folder; it must not hold our stdio.
(cd "$downloads" && "$winerun" "$prefix" "$(winpath "$program/dexalo.exe")" "$(winpath "$downloads/readme.tx_")" \
  </dev/null >/dev/null 2>&1)
sleep 1
[ -e "$downloads/readme.tx#" ] || fail "the LZ file was not expanded, so the folder window was never asked for"
[ ! -e "$downloads/loaded.marker" ] || fail "a library planted in the current folder was loaded"
[ ! -e "$downloads/ran.marker" ] || fail "a program planted in the current folder was started"

# Installed beside the program, the same library is found.
cp "$dll" "$program/unlha32.dll"
(cd "$downloads" && "$winerun" "$prefix" "$(winpath "$program/dexalo.exe")" "$(winpath "$downloads/readme.tx_")" \
  </dev/null >/dev/null 2>&1)
[ -e "$program/loaded.marker" ] || fail "a library beside the program was not loaded"
[ ! -e "$downloads/loaded.marker" ] || fail "the planted library was loaded on the second run"
echo "planted files: 3 passed, 0 failed"
