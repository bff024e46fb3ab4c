#!/usr/bin/env bash
# dexalo.exe where real machines differ from the build folder. Each run extracts next to the
# archive without opening a folder window.
set -u
winerun=$1 prefix=$2 dexalo=$3 bin=$4 marker=$5 sandbox=$6
fail() { echo "FAIL: $*"; exit 1; }
winpath() { local p; p=$(realpath -s -m -- "$1"); printf 'Z:%s' "${p//\//\\}"; }
# run FOLDER FILE: dexalo.exe on FILE, started from FOLDER.
run() { (cd "$1" && timeout 60 "$winerun" "$prefix" "$(winpath "$program/dexalo.exe")" "$(winpath "$2")" </dev/null >/dev/null 2>&1); }
lz() { printf 'compressible text, %.0s' $(seq 80) > "$1.src" && mscompress "$1.src" >/dev/null 2>&1 && mv "$1.src_" "$1"; }

rm -rf "$sandbox"
program=$sandbox/program
mkdir -p "$program/設定フォルダ" "$sandbox/onpath" "$sandbox/cwd/relative"
cp "$dexalo" "$program/"
printf '1\r\n"C:\\"\r\n' > "$program/設定フォルダ/設定.ini"

# Libraries only in the Windows folder or in an absolute PATH folder are found; a relative PATH
# entry is never searched. An LZ file makes every library be asked.
windows=$prefix/drive_c/windows
trap 'rm -f "$windows/bga32.dll" "$windows/loaded.marker"' EXIT
cp "$marker" "$windows/bga32.dll"
cp "$marker" "$sandbox/onpath/Yz1.dll"
cp "$marker" "$sandbox/cwd/relative/Jack32.dll"
lz "$sandbox/cwd/plain.tx_" || fail "mscompress"
WINEPATH="$(winpath "$sandbox/onpath");relative" run "$sandbox/cwd" "$sandbox/cwd/plain.tx_"
[ -e "$windows/loaded.marker" ] || fail "a library in the Windows folder was not loaded"
[ -e "$sandbox/onpath/loaded.marker" ] || fail "a library in a PATH folder was not loaded"
[ ! -e "$sandbox/cwd/relative/loaded.marker" ] || fail "a relative PATH entry was searched"
# Libraries without the calls, or not there at all, answer "no" to every question.
cmp -s "$sandbox/cwd/plain.tx#" "$sandbox/cwd/plain.tx_.src" || fail "missing libraries and calls did not fall through to LZ"

# An archive in a linked folder (a reparse point, like a junction) is extracted beside itself.
cp "$bin"/*.dll "$program/"
mkdir -p "$sandbox/real" "$sandbox/tree/top"
ln -s real "$sandbox/linked"
echo alpha > "$sandbox/tree/top/a.txt"
tar cf "$sandbox/real/data.tar" -C "$sandbox/tree" top
run "$sandbox" "$sandbox/linked/data.tar"
[ "$(cat "$sandbox/real/top/a.txt" 2>/dev/null)" = alpha ] || fail "the archive in a linked folder was not extracted"

# An LZ file whose path is longer than lz32 takes is still expanded.
long=$sandbox/$(printf 'a-folder-name-of-some-length-%.0s' 1 2 3 4 5)
mkdir -p "$long" && lz "$long/notes.tx_"
run "$sandbox" "$long/notes.tx_"
cmp -s "$long/notes.tx#" "$long/notes.tx_.src" || fail "an LZ file on a long path was not expanded"
echo "windows setups: 4 passed, 0 failed"
