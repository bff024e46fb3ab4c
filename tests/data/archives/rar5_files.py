#!/usr/bin/env python3
# The files the RAR 5 samples hold: make-rar5.sh archives them (this, run, writes them into
# names/, solid/ and secret/ under the current folder), the Wine tests expect them back.
import os


def noise(size, seed):  # the native tests' Noise(size, seed)
    out = bytearray()
    for _ in range(size):
        seed = (seed * 1103515245 + 12345) & 0xFFFFFFFF
        out.append(seed >> 16 & 0xFF)
    return bytes(out)


# Japanese, Korean and emoji names, and パンダ stored decomposed as macOS writes it.
NAMES = {
    '写真/旅行/メモ.txt': '旅行のメモ\n'.encode(),
    '写真/data.bin': bytes(range(256)) * 4,
    'readme.txt': b'read me\n',
    '한국어/안녕.txt': '안녕하세요\n'.encode(),
    '😀.txt': b'smile\n',
    '\u30cf\u309a\u30f3\u30bf\u3099.txt': b'panda\n',
}
# A solid set: b.txt repeats a.bin's start, so that whichever comes second decodes only after
# the first; the noise does not compress, so the set spans volumes, a file cut between two.
SOLID = {'a.bin': noise(9000, 28), '資料/b.txt': noise(9000, 28)[:4000] + b'tail\n' * 50, 'c.bin': noise(5000, 29)}
SECRET = {'secret.txt': b'behind a password\n', '写真/メモ.txt': '旅行のメモ\n'.encode() * 200}

if __name__ == '__main__':
    for folder, content in (('names', NAMES), ('solid', SOLID), ('secret', SECRET)):
        for name, data in content.items():
            path = os.path.join(folder, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, 'wb') as f:
                f.write(data)
