#!/bin/sh
# Remakes the RAR 5 samples with RAR 7.01 (Debian non-free's `rar`), as WinRAR writes them
# today. Tests and CI never run rar: they read the committed archives. Encrypted archives
# differ from run to run (fresh salts and IVs); their contents and passwords do not.
#
#   tests/data/archives/make-rar5.sh        (from anywhere; rar and python3 on the PATH)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export LC_ALL=C.UTF-8 TZ=UTC

# The files: Japanese, Korean and emoji names, and パンダ stored decomposed as macOS writes it.
python3 - <<'PY'
import os
files = {
    '写真/旅行/メモ.txt': '旅行のメモ\n'.encode(),
    '写真/data.bin': bytes(range(256)) * 4,
    'readme.txt': b'read me\n',
    '한국어/안녕.txt': '안녕하세요\n'.encode(),
    '😀.txt': b'smile\n',
    '\u30cf\u309a\u30f3\u30bf\u3099.txt': b'panda\n',
}
def noise(size, seed):  # the tests' Noise(size, seed)
    out = bytearray()
    for _ in range(size):
        seed = (seed * 1103515245 + 12345) & 0xFFFFFFFF
        out.append(seed >> 16 & 0xFF)
    return bytes(out)
# A solid set: b.txt repeats a.bin's start, so that whichever comes second decodes only after
# the first; the noise does not compress, so the set spans volumes, a file cut between two.
solid = {'a.bin': noise(9000, 28), '資料/b.txt': noise(9000, 28)[:4000] + b'tail\n' * 50, 'c.bin': noise(5000, 29)}
secret = {'secret.txt': b'behind a password\n', '写真/メモ.txt': '旅行のメモ\n'.encode() * 200}
for folder, content in (('names', files), ('solid', solid), ('secret', secret)):
    for name, data in content.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
PY
find . -exec touch -h -d '2024-05-12 10:20:30' {} +

rar5() { (cd "$1" && shift && rar a -ma5 -r -idq "$@" .); }
rm -f "$here"/names.rar "$here"/solid.part*.rar "$here"/locked.rar "$here"/locked-stored.rar "$here"/hidden.rar "$here"/vault.part*.rar
rar5 names "$here/names.rar"
rar5 solid -s -v8k "$here/solid.rar"
rar5 secret -pright "$here/locked.rar"
rar5 secret -m0 -pright "$here/locked-stored.rar"  # stored: only the MAC tells damaged data
rar5 secret -hpright "$here/hidden.rar"
# Names and data behind the password, solid, in volumes; the password is not ASCII.
rar5 solid -s -v8k -hp秘密 "$here/vault.rar"
