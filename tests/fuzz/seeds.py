#!/usr/bin/env python3
"""Writes the seed corpora under corpus/<target>/ (committed; run again after changing a
target's input layout). Targets that use FuzzedDataProvider take numbers from the end of
the input and strings from the front; Provider below builds inputs the same way."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


class Provider:
    def __init__(self):
        self.front = b""
        self.back = b""  # in consumption order; reversed onto the end of the input

    def byte(self, value):
        self.back += bytes([value & 0xFF])

    def boolean(self, value):
        self.byte(1 if value else 0)

    def int32(self, value):
        # ConsumeIntegral<int32_t>: INT32_MIN + the bytes read, most significant first.
        self.back += struct.pack(">I", (value + 2**31) & 0xFFFFFFFF)

    def string(self, data):
        # ConsumeRandomLengthString: a backslash is doubled; backslash + other ends it.
        self.front += data.replace(b"\\", b"\\\\") + b"\\\x01"

    def data(self):
        return self.front + self.back[::-1]


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def settings():
    seeds = {
        "flags2-temp": b'2\r\n"C:\\Temp\\"\r\n',
        "drive-root": b'3\r\n"C:\\"\r\n',
        "comma": b'0\r\n"D:\\a,b\\"\r\n',
        "shift-jis": b'1\r\n"D:\\\x89\xf0\x93\x80\\"\r\n',
        "one-line": b"1\r\n",
        "not-a-number": b'x\r\n"C:\\"\r\n',
        "unquoted": b"2,C:\\Out\r\n",
        "empty": b"",
    }
    for name, data in seeds.items():
        write("fuzz_settings", name, data)


def arguments():
    # First byte: bit 0 = the whole text names a file; bits 1-7 = which extractions fail.
    seeds = {
        "one-path": b"\x00C:\\Arc\\a.lzh",
        "two-paths": b"\x00C:\\Arc\\a.lzh C:\\Arc\\b.zip",
        "blank-in-existing-file": b"\x01C:\\My Files\\a.lzh",
        "blank-not-a-file": b"\x00C:\\My Files\\a.lzh",
        "quoted": b'\x00"C:\\My Files\\a.lzh" C:\\b.zip',
        "two-blanks-failing": b"\x06a  b ",
        "no-arguments": b"\x00",
    }
    for name, data in seeds.items():
        write("fuzz_arguments", name, data)


TYPES = ["LZH", "ZIP", "CAB", "TAR", "ARJ", "YZ1", "RAR", "BGA"]  # the target's kTypes order
SEPARATOR = {"LZH": b"/", "ZIP": b"/", "TAR": b"/"}


def single_folder():
    def seed(kind, n, entries, twists=(), error_at_end=False, filter_=True, missing=0):
        p = Provider()
        p.byte(TYPES.index(kind))
        p.boolean(error_at_end)
        p.boolean(False)       # n from the small range
        p.byte(n + 2)          # -2 + byte % 43
        p.boolean(filter_)
        p.boolean(True)        # entry names are raw bytes
        p.byte(0xF0 | missing if missing else 0)
        p.byte(len(twists))
        for twist in twists:   # 0 plain, 0xA1 no more entries, 0xA2 error
            p.byte(twist)
        for entry in entries:
            p.string(entry)
        return p.data()

    for kind in TYPES:
        sep = SEPARATOR.get(kind, b"\\")
        one = [b"foo" + sep + b"a.txt", b"foo" + sep + b"b.txt"]
        name = kind.lower()
        write("fuzz_single_folder", name + "-one-folder", seed(kind, 2, one))
        write("fuzz_single_folder", name + "-no-folder", seed(kind, 2, [b"a.txt", b"b.txt"]))
        write("fuzz_single_folder", name + "-prefix-of-other",
              seed(kind, 2, [b"foo" + sep + b"a.txt", b"foobar" + sep + b"b.txt"]))
        write("fuzz_single_folder", name + "-more-than-count", seed(kind, 2, one + [b"foo" + sep + b"c.txt"]))
        # Plain calls first, so that mutations move a failure to any call of the check.
        write("fuzz_single_folder", name + "-late-failure",
              seed(kind, 3, one + [b"foo" + sep + b"c.txt"], twists=[0, 0, 0, 0, 0, 0xA2]))
    write("fuzz_single_folder", "lzh-single-entry", seed("LZH", 1, [b"a.txt"]))
    # The second listing of RAR says "no more" at once while the record still holds the first.
    write("fuzz_single_folder", "rar-second-listing-empty", seed("RAR", 2, [b"a\\b"], twists=[0, 0, 0, 0xA1]))
    write("fuzz_single_folder", "zip-find-next-fails",
          seed("ZIP", 3, [b"d/a", b"d/b", b"d/c"], twists=[0, 0, 0xA2]))
    write("fuzz_single_folder", "bga-error-at-end", seed("BGA", 3, [b"d\\a", b"d\\b"], error_at_end=True))
    write("fuzz_single_folder", "cab-no-find-next-export", seed("CAB", 2, [b"d\\a", b"d\\b"], missing=4))


def archiver_command_line():
    # First byte even: the rest is a command line as it stands.
    lines = {
        "lzh": b'x -a1 -gq1 -m1 "C:\\Arc\\data.lzh" "C:\\Users\\me\\Desktop\\data\\"',
        "zip": b'-u -qq "C:\\Arc\\a.zip" "C:\\Out\\"',
        "cab": b'-x -n "C:\\Arc\\a.cab" "C:\\Out\\a\\"',
        "tar": b'x -f "C:\\Arc\\a.tar.gz" "C:\\Out\\"',
        "rar": b'x -u "C:\\Arc\\a.rar" "C:\\Out\\"',
        "yz1-direct": b'x "C:\\Arc\\a.yz1" D:\\My Files\\\\',
        "patterns": b'x "a.zip" "out\\" *.txt "doc\\*"',
        "list-command": b'l "a.lzh" "out\\"',
        "no-archive": b"x -a1 -m1",
    }
    for name, line in lines.items():
        write("fuzz_archiver_command_line", "line-" + name, b"\x00" + line)

    # First byte odd: Dexalo builds the line from a type, a placement and two paths.
    def built(kind, direct, archive, destination):
        p = Provider()
        p.byte(TYPES.index(kind))
        p.boolean(direct)
        p.boolean(True)  # raw path bytes
        p.string(archive)
        p.string(destination)
        return b"\x01" + p.data()

    write("fuzz_archiver_command_line", "built-lzh-subfolder",
          built("LZH", False, b"C:\\Arc\\data.lzh", b"C:\\Users\\me\\Desktop\\data\\"))
    write("fuzz_archiver_command_line", "built-yz1-direct-blanks",
          built("YZ1", True, b"C:\\My Files\\a.yz1", b"C:\\My Files\\"))
    write("fuzz_archiver_command_line", "built-zip-drive-root", built("ZIP", True, b"C:\\a -b.zip", b"C:\\"))


def entry_path():
    def seed(stored, target=b""):
        p = Provider()
        p.boolean(True)  # raw bytes
        p.string(stored)
        p.string(target)
        return p.data()

    seeds = {
        "plain": seed(b"docs/note.txt"),
        "dot-names": seed(b"./a//b/"),
        "climb": seed(b"a/../../b"),
        "device": seed(b"sub/com1.txt"),
        "stream": seed(b"a.txt:hidden"),
        "unc": seed(b"\\\\server\\share\\x"),
        "drive": seed(b"C:x"),
        "trailing-dot": seed(b"a/.. /b."),
        "link-in-folder": seed(b"a/b/link", b"../c"),
        "link-out": seed(b"link", b"../../etc/passwd"),
    }
    for name, data in seeds.items():
        write("fuzz_entry_path", name, data)


if __name__ == "__main__":
    settings()
    arguments()
    single_folder()
    archiver_command_line()
    entry_path()
