#!/usr/bin/env python3
"""dexalo.exe end to end under Wine with our archiver DLLs.

Archives are made here with Debian's tools (lha, zip, gcab, tar); RAR with a small stored
RAR 4 writer, since no tool here writes RAR. Each case gets its own sandbox: a program
folder (dexalo.exe, the DLLs, a stand-in explorer.exe, the settings file), the archive's
folder 書庫 and the destination folder 出力. After the run the sandbox must hold exactly
the expected tree, and explorer.log exactly the expected folder-window starts.

  end_to_end.py --wine-run W --prefix P --bin DIR --explorer EXE --watcher EXE --work DIR
"""
import argparse
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tarfile
import time
import zipfile
import zlib

ARC, OUT = '書庫', '出力'
STAMP = time.mktime((2021, 3, 4, 5, 6, 8, 0, 0, -1))  # even seconds: DOS times keep it
DLLS = ('unlha32.dll', 'unzip32.dll', 'cab32.dll', 'tar32.dll', 'unrar32.dll', 'unarj32j.dll')


def win(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def sh(command, cwd):
    subprocess.run(command, shell=True, cwd=cwd, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, env=dict(os.environ, LC_ALL='C.UTF-8'))


def text(seed, size):
    rnd = random.Random(seed)
    words = [b'archive', b'folder', b'entry', b'header', b'stream', b'block', b'\n']
    out = bytearray()
    while len(out) < size:
        out += rnd.choice(words) + b' ' + b'%x' % rnd.getrandbits(32)
    return bytes(out[:size])


# Layouts: file path -> contents. Folders follow from the paths.
def layout_one(top):
    return {f'{top}/a.txt': b'alpha\r\n', f'{top}/sub/b.txt': text(1, 20000)}


LAYOUT_MULTI = {'doc/a.txt': b'one\n', 'docs/b.txt': b'two\n', 'readme.txt': text(2, 5000)}
LAYOUT_SOLO = {'solo.txt': b'only entry\n'}
LAYOUT_CORRUPT = {'top/a.txt': b'complete before the damage\n', 'top/big.txt': text(3, 400000)}


def write_tree(root, files):
    shutil.rmtree(root, ignore_errors=True)
    for name, data in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
    for folder, dirs, names in os.walk(root):
        for n in dirs + names:
            os.utime(os.path.join(folder, n), (STAMP, STAMP))


def folders_first(files):
    """Archive order for tools given explicit names: each folder before its contents."""
    order = []
    for name in sorted(files):
        parts = name.split('/')
        for i in range(1, len(parts)):
            if '/'.join(parts[:i]) + '/' not in order:
                order.append('/'.join(parts[:i]) + '/')
        order.append(name)
    return order


def rar4_stored(members):
    """A RAR 4 archive of stored members (folders end in '/'), written with CP932 names and '\\'."""
    def block(body):
        return (zlib.crc32(body) & 0xFFFF).to_bytes(2, 'little') + body
    lt = time.localtime(STAMP)
    dos = ((lt.tm_year - 1980) << 25 | lt.tm_mon << 21 | lt.tm_mday << 16 |
           lt.tm_hour << 11 | lt.tm_min << 5 | lt.tm_sec // 2)
    out = b'Rar!\x1a\x07\x00' + block(b'\x73' + (0).to_bytes(2, 'little') + (13).to_bytes(2, 'little') + bytes(6))
    for name, data in members:
        folder = name.endswith('/')
        raw = name.rstrip('/').replace('/', '\\').encode('cp932')
        data = data or b''
        head = (b'\x74' + (0x8000 | (0xE0 if folder else 0)).to_bytes(2, 'little') +
                (32 + len(raw)).to_bytes(2, 'little') + len(data).to_bytes(4, 'little') * 2 + b'\x02' +
                zlib.crc32(data).to_bytes(4, 'little') + dos.to_bytes(4, 'little') + b'\x14\x30' +
                len(raw).to_bytes(2, 'little') + (0x10 if folder else 0x20).to_bytes(4, 'little') + raw)
        out += block(head) + data
    return out + block(b'\x7b' + (0x4000).to_bytes(2, 'little') + (7).to_bytes(2, 'little'))


def make_archive(kind, files, src, target, variant=0, by_name=False):
    """Writes `files` as archive `target` of `kind`, made from the tree in `src`."""
    write_tree(src, files)
    target = os.path.abspath(target)
    tops = sorted({n.split('/')[0] for n in files})
    names = ' '.join(f"'{n}'" for n in sorted(files))
    if kind == 'lzh':
        level, method = [('2', '5'), ('1', '6'), ('0', '7')][variant % 3]
        sh(f"lha c{level}o{method}y '{target}' " + (names if by_name else ' '.join(f"'{t}'" for t in tops)), src)
    elif kind == 'zip':
        sh(f"zip -q -r -X '{target}' " + ' '.join(f"'{t}'" for t in tops), src)
    elif kind == 'cab':
        sh(f"gcab -c -z '{target}' {names}", src)
    elif kind == 'tar.gz':
        sh(f"tar -czf '{target}' " + ' '.join(f"'{t}'" for t in tops), src)
    elif kind == 'arj':
        sh(f"arj a -r -a1 -y '{target}' '*'", src)  # arj would take a first folder named for its base folder
    elif kind == 'rar':
        with open(target, 'wb') as f:
            f.write(rar4_stored([(n, files.get(n)) for n in folders_first(files)]))


def tree(root, skip=()):
    """Every folder (ending in '/') and file under root, relative, mapped to its bytes."""
    found = {}
    for folder, dirs, names in os.walk(root):
        rel = os.path.relpath(folder, root)
        rel = '' if rel == '.' else rel + '/'
        dirs[:] = [d for d in dirs if rel + d not in skip]
        for d in dirs:
            found[rel + d + '/'] = None
        for n in names:
            with open(os.path.join(folder, n), 'rb') as f:
                found[rel + n] = f.read()
    return found


def with_folders(prefix, files):
    out = {}
    for name, data in files.items():
        parts = (prefix + name).split('/')
        for i in range(1, len(parts)):
            out['/'.join(parts[:i]) + '/'] = None
        out[prefix + name] = data
    return out


class Suite:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        self.failures = []
        self.pending = []  # (case, sandbox, expected explorer.log lines)
        self.watcher = None
        self.messages = os.path.join(self.work, 'messages.log')
        self.answers = os.path.join(self.work, 'answers.txt')  # the watcher's replies to our windows
        self.stop = os.path.join(self.work, 'watcher.stop')

    def fail(self, case, why):
        self.failures.append(f'{case}: {why}')
        print(f'FAIL {case}: {why}', flush=True)

    # The message-box watcher answers any box, so a run can never hang on one; it ends by
    # itself after two minutes, so it is restarted when gone.
    def ensure_watcher(self):
        if self.watcher is not None and self.watcher.poll() is None:
            return
        if os.path.exists(self.stop):
            os.remove(self.stop)
        self.watcher = subprocess.Popen(
            [self.args.wine_run, self.args.prefix, self.args.watcher, win(self.messages), win(self.stop),
             win(self.answers)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.5)

    def stop_watcher(self):
        if self.watcher is not None:
            open(self.stop, 'w').close()
            try:
                self.watcher.wait(30)
            except subprocess.TimeoutExpired:
                self.watcher.kill()

    def sandbox(self, case, flags, archive):
        root = os.path.join(self.work, 'cases', case)
        shutil.rmtree(root, ignore_errors=True)
        prog = os.path.join(root, 'prog')
        os.makedirs(os.path.join(prog, '設定フォルダ'))
        for name in ('dexalo.exe',) + DLLS:
            source = os.path.join(self.args.bin, name)
            try:
                os.link(source, os.path.join(prog, name))
            except OSError:
                shutil.copy(source, prog)
        shutil.copy(self.args.explorer, os.path.join(prog, 'explorer.exe'))
        for d in (ARC, OUT):
            os.makedirs(os.path.join(root, d))
        with open(os.path.join(prog, '設定フォルダ', '設定.ini'), 'wb') as f:
            f.write(b'%d\r\n"' % flags + (win(os.path.join(root, OUT)) + '\\').encode('cp932') + b'"\r\n')
        shutil.copy(archive, os.path.join(root, ARC))
        return root

    def run(self, case, root, argument, answers='', progress=False):
        """Runs dexalo.exe on one archive; returns the windows it showed (progress windows,
        which a slow machine may show for any archive, only when asked)."""
        with open(self.answers, 'w') as f:
            f.write(answers)
        self.ensure_watcher()
        before = os.path.getsize(self.messages) if os.path.exists(self.messages) else 0
        # stdio on /dev/null: the folder window it starts would otherwise hold ctest's pipes.
        process = subprocess.Popen([self.args.wine_run, self.args.prefix, os.path.join(root, 'prog', 'dexalo.exe'),
                                    argument], cwd=root, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        try:
            process.wait(60)
        except subprocess.TimeoutExpired:
            process.kill()
            self.fail(case, 'dexalo.exe did not end within 60 s')
        if not os.path.exists(self.messages):
            return []
        with open(self.messages, 'rb') as f:
            f.seek(before)
            lines = f.read().decode('utf-8', 'replace').splitlines()
        return [m for m in lines if progress or not m.endswith('\tprogress')]

    def explorer_lines(self, root):
        path = os.path.join(root, 'prog', 'explorer.log')
        if not os.path.exists(path):
            return []
        with open(path, encoding='utf-8') as f:
            return f.read().splitlines()

    def expect_explorer(self, case, root, folder):
        """The folder window is started detached: wait for its line, check the rest at the end."""
        if folder is not None:
            deadline = time.time() + 15
            while not self.explorer_lines(root) and time.time() < deadline:
                time.sleep(0.1)
        self.pending.append((case, root, [] if folder is None else [f'explorer /n,{folder}\tshow=1']))

    def check_explorer(self):
        time.sleep(1.5)  # late starters from the negative cases would have logged by now
        for case, root, expected in self.pending:
            lines = self.explorer_lines(root)
            if lines != expected:
                self.fail(case, f'folder windows {lines}, expected {expected}')

    # One archive, one OptionFlags value: the whole sandbox against the single-folder rule.
    def extraction(self, kind, layout, files, flags, archive, direct):
        case = f'{kind}-{layout}-flags{flags}'
        root = self.sandbox(case, flags, archive)
        name = os.path.basename(archive)
        messages = self.run(case, root, win(os.path.join(root, ARC, name)))

        dest_root = ARC if flags in (1, 3) else OUT
        base = name[:name.rfind('.')]
        into = f'{dest_root}/' if direct else f'{dest_root}/{base}/'
        expected = {f'{ARC}/': None, f'{OUT}/': None}
        with open(archive, 'rb') as f:
            expected[f'{ARC}/{name}'] = f.read()
        expected.update(with_folders(into, files))
        actual = tree(root, skip={'prog'})
        if actual != expected:
            missing = sorted(set(expected) - set(actual))
            extra = sorted(set(actual) - set(expected))
            wrong = sorted(k for k in set(actual) & set(expected) if actual[k] != expected[k])
            self.fail(case, f'tree differs: missing {missing}, unexpected {extra}, wrong contents {wrong}')
        else:
            for rel in files:
                mtime = os.path.getmtime(os.path.join(root, into + rel))
                if abs(mtime - STAMP) > 2:
                    self.fail(case, f'{rel} has time {time.ctime(mtime)}, expected {time.ctime(STAMP)}')
                    break
        if messages:
            self.fail(case, f'message boxes {messages}')
        folder = win(os.path.join(root, dest_root)) + ('\\' if direct else '\\' + base)
        self.expect_explorer(case, root, folder if flags >= 2 else None)

    # Damaged data: extraction starts and fails; whatever stands under a real name is
    # complete, no temporary file is left, and no folder window opens.
    def corrupt(self, kind, archive):
        case = f'{kind}-corrupt'
        root = self.sandbox(case, 3, archive)
        name = os.path.basename(archive)
        messages = self.run(case, root, win(os.path.join(root, ARC, name)))
        with open(archive, 'rb') as f:
            allowed = {f'{ARC}/': None, f'{OUT}/': None, f'{ARC}/{name}': f.read(), f'{ARC}/top/': None,
                       f'{ARC}/top/a.txt': LAYOUT_CORRUPT['top/a.txt']}
        for rel, data in tree(root, skip={'prog'}).items():
            if rel not in allowed or allowed[rel] != data:
                self.fail(case, f'{rel} is left behind ({"folder" if data is None else len(data)} bytes)')
        self.expect_report(case, messages, name, 'big.txt')
        self.expect_explorer(case, root, None)

    def expect_report(self, case, messages, name, *words):
        """The library's one error message, naming the archive and what went wrong."""
        if len(messages) != 1 or not messages[0].endswith('\ticon=1') or \
                not all(w in messages[0] for w in (f'「{name}」',) + words):
            self.fail(case, f'expected one error message naming {name} and {words}, got {messages}')

    # Entries that climb out, absolute, drive and root paths, links that escape: only the
    # good entries land, all inside the destination; refusal is an error, so no folder
    # window opens.
    def hostile(self, case, archive, direct, good, allowed):
        root = self.sandbox(case, 3, archive)
        name = os.path.basename(archive)
        messages = self.run(case, root, win(os.path.join(root, ARC, name)))
        self.expect_report(case, messages, name, '安全でない')
        into = f'{ARC}/' if direct else f'{ARC}/{name[:name.rfind(".")]}/'
        for rel, data in tree(root, skip={'prog'}).items():
            if rel in (f'{ARC}/', f'{OUT}/', f'{ARC}/{name}', into):
                continue
            if not rel.startswith(into):
                self.fail(case, f'written outside the destination: {rel}')
            elif rel[len(into):] not in good and rel[len(into):] not in allowed:
                self.fail(case, f'written although refused: {rel}')
        strays = [os.path.join(d, n) for d, _, names in os.walk(self.work) for n in names if 'escape' in n]
        if strays:
            self.fail(case, f'escaped entries: {strays}')
        for rel, data in good.items():
            path = os.path.join(root, into + rel)
            if data is None:
                continue
            if not os.path.isfile(path) or open(path, 'rb').read() != data:
                self.fail(case, f'the good entry {rel} was not extracted')
        self.expect_explorer(case, root, None)

    # The libraries' own windows, answered by the watcher: `kinds` are the windows expected
    # (besides progress windows, which `progress` requires), `files` the destination after.
    def talk(self, case, archive, answers, kinds, files, progress=False):
        root = self.sandbox(case, 0, archive)
        name = os.path.basename(archive)
        messages = self.run(case, root, win(os.path.join(root, ARC, name)), answers, progress=True)
        shown = [m.rsplit('\t', 1)[-1] for m in messages]
        if [k for k in shown if k != 'progress'] != kinds or progress != ('progress' in shown):
            self.fail(case, f'windows {messages}, expected {kinds}' + (' and a progress window' if progress else ''))
        if kinds[1:2] == ['prompt'] and 'パスワードが違います' not in messages[1]:
            self.fail(case, f'the second prompt does not say the password was wrong: {messages[1]}')
        if kinds[-1:] == ['icon=1']:
            self.expect_report(case, messages[-1:], name, 'secret.txt')
        actual = tree(os.path.join(root, OUT))
        if actual != files:
            self.fail(case, f'destination holds {sorted(actual)}, expected {sorted(files)}')
        self.expect_explorer(case, root, None)


def talk_cases(suite, archives, src):
    secret = {'secret.txt': b'behind a password\n'}
    write_tree(src, secret)
    zipcrypto, aes = os.path.join(archives, 'zipcrypto.zip'), os.path.join(archives, 'aes.zip')
    sh(f"zip -q -P right '{zipcrypto}' secret.txt", src)
    sh(f"7z a -tzip -mem=AES256 -pright '{aes}' secret.txt", src)
    suite.talk('password-zipcrypto', zipcrypto, 'password right\n', ['prompt'], secret)
    suite.talk('password-aes', aes, 'password right\n', ['prompt'], secret)
    # A wrong password, then キャンセル on the second prompt: nothing written, one report.
    suite.talk('password-wrong', aes, 'password wrong\n', ['prompt', 'prompt', 'icon=1'], {})
    # Long enough to show the progress window; closing it keeps only the complete file.
    big = os.path.join(archives, 'big.tar.bz2')
    with tarfile.open(big, 'w:bz2') as t:
        for name, size in (('a.txt', 6), ('big.bin', 300 << 20)):
            info = tarfile.TarInfo(name)
            info.size, info.mtime = size, STAMP
            t.addfile(info, io.BytesIO(b'first\n') if size == 6 else Zeros())
    suite.talk('progress-cancel', big, 'close\n', [], {'big.tar/': None, 'big.tar/a.txt': b'first\n'}, True)


class Zeros:
    def read(self, n=-1):
        return bytes(n if n >= 0 else 0)


def hostile_archives(work):
    """(case, archive, direct, good entries, entries that may also land inside the destination)"""
    made = os.path.join(work, 'archives', 'hostile')
    os.makedirs(made, exist_ok=True)
    cases = os.path.join(work, 'cases')
    good = {'good/': None, 'good/a.txt': b'good\n'}

    def tar(path, members):
        with tarfile.open(path, 'w:gz', format=tarfile.PAX_FORMAT) as t:
            for name, link, payload in members:
                info = tarfile.TarInfo(name)
                info.mtime = STAMP
                if link:
                    info.type, info.linkname = tarfile.SYMTYPE, link
                    t.addfile(info)
                else:
                    info.size = len(payload)
                    t.addfile(info, io.BytesIO(payload))

    # Every entry climbs, so all share the first one's top folder "../" and the archive goes
    # straight into the destination root.
    climb = os.path.join(made, 'climb.tar.gz')
    tar(climb, [('../escape-up/a.txt', None, b'x'), ('../escape-up/b.txt', None, b'x')])
    mixed = os.path.join(made, 'mixed.tar.gz')
    tar(mixed, [('good/a.txt', None, b'good\n'),
                ('../../escape-tar.txt', None, b'x'),
                (os.path.join(cases, 'hostile-tar', 'escape-abs.txt'), None, b'x'),
                ('good/up', '../../..', b''),
                ('good/up/through-link.txt', None, b'x'),
                ('good/abs', os.path.join(cases, 'hostile-tar'), b''),
                ('good/abs/through-abs-link.txt', None, b'x')])
    zipped = os.path.join(made, 'mixed.zip')
    with zipfile.ZipFile(zipped, 'w') as z:
        for n, data in [('good/a.txt', b'good\n'), ('../escape-zip.txt', b'x'), ('..\\escape-zip2.txt', b'x'),
                        (win(os.path.join(cases, 'hostile-zip', 'escape-drive.txt')), b'x'),
                        (win(os.path.join(cases, 'hostile-zip', 'escape-root.txt'))[2:], b'x'),
                        ('good/CON', b'x'), ('good/aux.txt', b'x'), ('good/a.txt:stream', b'x')]:
            z.writestr(zipfile.ZipInfo(n, (2021, 3, 4, 5, 6, 8)), data)
    rar = os.path.join(made, 'mixed.rar')
    with open(rar, 'wb') as f:
        f.write(rar4_stored([('good/', None), ('good/a.txt', b'good\n'), ('../../escape-rar.txt', b'x')]))
    # Links are skipped on Windows; a later entry under the link's name is then an ordinary
    # folder inside the destination.
    through = {'good/up/', 'good/abs/', 'good/up/through-link.txt', 'good/abs/through-abs-link.txt'}
    return [('hostile-climb', climb, True, {}, set()), ('hostile-tar', mixed, False, good, through),
            ('hostile-zip', zipped, False, good, set()), ('hostile-rar', rar, False, good, set())]


def corrupt_archive(kind, path):
    """Damages the big second entry's data: flipped bytes where a checksum guards them, a cut
    elsewhere (libarchive does not check a stored RAR entry's CRC)."""
    with open(path, 'rb') as f:
        data = bytearray(f.read())
    if kind in ('tar.gz', 'cab', 'rar', 'arj'):
        data = data[:len(data) * 6 // 10]
    elif kind == 'zip':
        info = zipfile.ZipFile(path).getinfo('top/big.txt')
        header = info.header_offset
        name_length, extra_length = struct.unpack_from('<HH', data, header + 26)
        at = header + 30 + name_length + extra_length + info.compress_size // 2
        data[at:at + 16] = bytes(b ^ 0x5A for b in data[at:at + 16])
    else:  # lzh: the big entry is last, its data runs to just before the end marker
        at = len(data) - 40000
        data[at:at + 16] = bytes(b ^ 0x5A for b in data[at:at + 16])
    with open(path, 'wb') as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser()
    for option in ('wine-run', 'prefix', 'bin', 'explorer', 'watcher', 'work'):
        parser.add_argument('--' + option, required=True)
    args = parser.parse_args()
    started = time.time()
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    suite = Suite(args)
    archives = os.path.join(suite.work, 'archives')
    src = os.path.join(suite.work, 'src')
    os.makedirs(archives)

    kinds = ('lzh', 'zip', 'cab', 'tar.gz', 'rar', 'arj')
    try:
        for kind in kinds:
            # Info-ZIP and arj on Linux store the names' UTF-8 bytes, unflagged: keep their names ASCII.
            one = layout_one('top' if kind in ('zip', 'arj') else '資料')
            made = []
            for variant, (layout, files, name, direct) in enumerate([
                    ('one', one, 'one', True),
                    ('multi', LAYOUT_MULTI, '複数', False),
                    ('solo', LAYOUT_SOLO, 'solo', True)]):
                archive = os.path.join(archives, f'{name}.{kind}')
                make_archive(kind, files, src, archive, variant)
                made.append((layout, files, archive, direct))
            for layout, files, archive, direct in made:
                for flags in ((2,) if layout == 'solo' else range(4)):
                    suite.extraction(kind, layout, files, flags, archive, direct)
            broken = os.path.join(archives, f'broken.{kind}')
            make_archive(kind, LAYOUT_CORRUPT, src, broken, by_name=True)
            corrupt_archive(kind, broken)
            suite.corrupt(kind, broken)
        for case in hostile_archives(suite.work):
            suite.hostile(*case)
        talk_cases(suite, archives, src)
        suite.check_explorer()
    finally:
        suite.stop_watcher()

    print(f'{len(suite.pending)} runs in {time.time() - started:.1f} s, {len(suite.failures)} failures')
    return 1 if suite.failures else 0


if __name__ == '__main__':
    sys.exit(main())
