#!/bin/sh
# Remakes the RAR 5 samples with RAR 7.01 (Debian non-free's `rar`), as WinRAR writes them
# today. Tests and CI never run rar: they read the committed archives. Encrypted archives
# differ from run to run (fresh salts and IVs); their contents and passwords do not.
#
#   tests/data/archives/make-rar5.sh        (from anywhere; rar and python3 on the PATH)
# The files archived are rar5_files.py's.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export LC_ALL=C.UTF-8 TZ=UTC

python3 "$here/rar5_files.py"
find . -exec touch -h -d '2024-05-12 10:20:30' {} +

rar5() { (cd "$1" && shift && rar a -ma5 -r -idq "$@" .); }
rm -f "$here"/names.rar "$here"/solid.rar "$here"/solid.r0* "$here"/locked.rar "$here"/locked-stored.rar "$here"/locked-blake2.rar "$here"/plain-stored.rar "$here"/plain-blake2.rar "$here"/hidden.rar "$here"/vault.rar "$here"/vault.r0*
rar5 names "$here/names.rar"
rar5 solid -s -v8k "$here/solid.rar"
rar5 secret -pright "$here/locked.rar"
rar5 secret -m0 -pright "$here/locked-stored.rar"  # stored: only the MAC tells damaged data
rar5 secret -m0 -htb -pright "$here/locked-blake2.rar"  # the same with BLAKE2sp hashes for CRCs
rar5 secret -m0 "$here/plain-stored.rar"  # libarchive checks no stored file's CRC...
rar5 secret -m0 -htb "$here/plain-blake2.rar"  # ...nor its BLAKE2sp hash
rar5 secret -hpright "$here/hidden.rar"
# Names and data behind the password, solid, in volumes; the password is not ASCII.
rar5 solid -s -v8k -hp秘密 "$here/vault.rar"
# RAR 7 names RAR 5 volumes name.partN.rar whatever -vn says; the samples keep the older
# names (name.rar, name.r00), which the set finder reads as well.
for set in solid vault; do
  mv "$here/$set.part1.rar" "$here/$set.rar" && mv "$here/$set.part2.rar" "$here/$set.r00"
done
