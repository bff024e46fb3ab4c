#!/usr/bin/env bash
# The loader decision, both ways, with stand-in loaders: one that exists and is executable
# but cannot be executed (an ELF file for another machine, as Wine's 32-bit loader is on a
# kernel without 32-bit support), and ones that run. wine-run must follow the decision.
set -u
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
passes=0 failures=0
expect() {  # expect WHAT ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then passes=$((passes + 1)); else echo "FAIL: $1: got '$2', want '$3'"; failures=$((failures + 1)); fi
}

# ELF magic, 32-bit, little-endian, machine 0x9026: the kernel refuses it with ENOEXEC.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\046\220\001\000\000\000' >"$tmp/foreign"
chmod +x "$tmp/foreign"
"$tmp/foreign" --version >/dev/null 2>&1
expect "the foreign stand-in cannot be executed" "$?" 126
for bits in 32 64; do
  printf '#!/bin/sh\n[ "$1" = --version ] && { echo wine-8.0; exit 0; }\necho "%s:$*"\n' "$bits" >"$tmp/wine$bits"
  chmod +x "$tmp/wine$bits"
done

export DEXALO_WINE64_LOADER=$tmp/wine64
DEXALO_WINE32_LOADER=$tmp/foreign "$scripts/wine-loader" --bits >"$tmp/out"
expect "no 32-bit: exit code" "$?" 3
expect "no 32-bit: the 64-bit loader stands in" "$(cat "$tmp/out")" 64
expect "no 32-bit: wine-run starts wine64" \
  "$(DEXALO_WINE32_LOADER=$tmp/foreign "$scripts/wine-run" "$tmp/pfx/prefix" prog.exe a b)" "64:prog.exe a b"

DEXALO_WINE32_LOADER=$tmp/wine32 "$scripts/wine-loader" >"$tmp/out"
expect "32-bit: exit code" "$?" 0
expect "32-bit: the 32-bit loader" "$(cat "$tmp/out")" "$tmp/wine32"
expect "32-bit: wine-run starts it" \
  "$(DEXALO_WINE32_LOADER=$tmp/wine32 "$scripts/wine-run" "$tmp/pfx/prefix" prog.exe a b)" "32:prog.exe a b"

DEXALO_WINE32_LOADER=$tmp/foreign DEXALO_WINE64_LOADER=$tmp/foreign "$scripts/wine-loader" >/dev/null 2>&1
expect "neither starts" "$?" 1

echo "wine loader: $passes passed, $failures failed"
[ "$failures" = 0 ]
