#!/usr/bin/env python3
# dexalo.exe end to end under Wine with our archiver DLLs. Archives are made here with
# Debian's tools (lha, zip, gcab, tar, 7z, jlha's Java library) or Python's; no tool writes BGA,
# so a BGA writer of the test's own makes those. Each case gets a sandbox: a program
# folder (dexalo.exe, the DLLs, a stand-in explorer.exe, the settings file), the archive's
# folder 書庫 and the destination 出力; afterwards the sandbox must hold exactly the expected
# tree, explorer.log the expected folder window, and the watcher's log the expected windows.
#
#   end_to_end.py WINE-RUN PREFIX BIN-DIR DOUBLES-DIR WATCHER-EXE WORK-DIR
import argparse
import binascii
import glob
import gzip
import io
import os
import shutil
import struct
import subprocess
import sys
import tarfile
import time
import unicodedata
import zipfile

ARC, OUT = '書庫', '出力'
STAMP = time.mktime((2021, 3, 4, 5, 6, 8, 0, 0, -1))  # even seconds: DOS times keep it
BIG = b''.join(b'%d entry header stream\n' % (i * 7919 % 100003) for i in range(20000))
ONE = {'資料/a.txt': b'alpha\r\n', '資料/sub/b.txt': BIG[:20000]}
# Info-ZIP and arj on Linux store UTF-8 names without a flag, so these keep to ASCII.
MULTI = {'doc/a.txt': b'one\n', 'docs/b.txt': b'two\n', 'readme.txt': BIG[:5000]}
# Enough entries and data for the ZIP library's workers to share (each file checked).
MANY = {f'many/f{i:02}.txt': BIG[i * 5000:] + b'%d\n' % i for i in range(24)}
# One per format and per settings value: (archive, files, lha header level, OptionFlags,
# where the entries land, folder window or None)
ROWS = [('one.lzh', ONE, 2, 0, f'{OUT}/', None),
        ('複数.zip', MULTI, 0, 3, f'{ARC}/複数/', [f'{ARC}\\複数']),
        ('one.cab', ONE, 0, 2, f'{OUT}/', [f'{OUT}\\']),
        ('複数.tar.gz', MULTI, 0, 1, f'{ARC}/複数.tar/', None),
        ('複数.arj', MULTI, 0, 2, f'{OUT}/複数/', [f'{OUT}\\複数']),
        ('one.7z', ONE, 0, 0, f'{OUT}/', None),
        ('old-lh1.lzh', ONE, 1, 0, f'{OUT}/', None),
        ('one-d64.zip', ONE, 0, 0, f'{OUT}/', None),
        ('many.zip', MANY, 0, 0, f'{OUT}/', None),
        # The front end's own BGA check counts past the last entry: a BGA goes into a sub-folder.
        ('one.gza', ONE, 0, 0, f'{OUT}/one/', None)]


DLLS = ['dexalo.exe', 'unlha32.dll', 'unzip32.dll', 'cab32.dll', 'tar32.dll', 'unarj32j.dll', 'Ish32.dll', 'bga32.dll',
        'Jack32.dll', 'unrar32.dll']
# libarchive's own tests, in its source package in the dependency cache.
LIBARCHIVE_TESTS = os.path.join(os.environ.get('DEXALO_DEPS_CACHE', '/var/cache/dexalo-deps'),
                                'src', 'libarchive_*', 'libarchive-*', 'libarchive', 'test')
HERE = os.path.dirname(os.path.abspath(__file__))


def win(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def sh(command, cwd):
    subprocess.run(command, shell=True, cwd=cwd, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, env=dict(os.environ, LC_ALL='C.UTF-8'))


def bga(target, files):
    # One GZIP member per file: the header under its signed byte sum, the Shift-JIS names.
    t = time.localtime(STAMP)
    date, clock = (t.tm_year - 1980) << 9 | t.tm_mon << 5 | t.tm_mday, t.tm_hour << 11 | t.tm_min << 5 | t.tm_sec // 2
    with open(target, 'wb') as out:
        for name, data in files.items():
            folder, _, file = name.replace('/', '\\').rpartition('\\')
            folder, file = (folder + '\\' if folder else '').encode('cp932'), file.encode('cp932')
            packed = gzip.compress(data, mtime=0)
            header = (b'GZIP' + struct.pack('<IIHHBBHHH', len(packed), len(data), date, clock, 0x20, 0, 1, len(folder), len(file))
                      + folder + file)
            out.write(struct.pack('<I', sum(b - 256 if b > 127 else b for b in header) & 0xFFFFFFFF) + header + packed)


def old_lzh(target, files, src):
    # jlha writes LHarc 1.x's -lh1-, which no other tool here does.
    tools = os.path.join(os.path.dirname(target), 'java')
    os.makedirs(tools, exist_ok=True)
    plan = f'archive {target} 1 {int(STAMP)}\n' + ''.join(f'-lh1- {n} {os.path.join(src, n)}\n' for n in files)
    sh(f"javac -d '{tools}' -cp /usr/share/java/jlha.jar '{HERE}/../../archivers/tools/MakeLzh.java'", src)
    subprocess.run(['java', '-cp', f'/usr/share/java/jlha.jar:{tools}', 'MakeLzh'], input=plan.encode(), check=True)


def make_archive(target, files, src, level=0):
    shutil.rmtree(src, ignore_errors=True)
    for name, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(src, name)), exist_ok=True)
        with open(os.path.join(src, name), 'wb') as f:
            f.write(data)
    for folder, dirs, names in os.walk(src):
        for n in dirs + names:
            os.utime(os.path.join(folder, n), (STAMP, STAMP))
    if target.endswith('.gza'):
        return bga(target, files)
    if target.endswith('-lh1.lzh'):
        return old_lzh(target, files, src)
    tops = ' '.join(f"'{t}'" for t in sorted({n.split('/')[0] for n in files}))
    if target.endswith('-d64.zip'):
        return sh(f"7z a -bd -tzip -mm=Deflate64 '{target}' {tops}", src)
    names = ' '.join(f"'{n}'" for n in sorted(files))
    command = {'lzh': f"lha c{level}o{5 + level}y '{target}' {tops}", 'zip': f"zip -q -r -X '{target}' {tops}",
               'cab': f"gcab -c -z '{target}' {names}", 'gz': f"tar -czf '{target}' {tops}",
               'arj': f"arj a -r -a1 -y '{target}' '*'",  # arj takes a first folder named as its base folder
               '7z': f"7z a -bd -mx=9 '{target}' {tops}"}
    sh(command[target.rsplit('.', 1)[1]], src)


def tree(root):
    # The files under root (the program folder apart) and their contents; folders show by their files.
    found = {}
    for folder, dirs, names in os.walk(root):
        dirs[:] = [d for d in dirs if os.path.join(folder, d) != os.path.join(root, 'prog')]
        for n in names:
            with open(os.path.join(folder, n), 'rb') as f:
                found[os.path.relpath(os.path.join(folder, n), root)] = f.read()
    return found


class Suite:
    def __init__(self, args):
        self.args, self.work = args, os.path.abspath(args.work)
        self.failures, self.pending = [], []
        self.messages = os.path.join(self.work, 'messages.log')
        self.answers = os.path.join(self.work, 'answers.txt')  # the watcher's replies to our windows
        self.stop = os.path.join(self.work, 'watcher.stop')

    def fail(self, case, why):
        self.failures.append(case)
        print(f'FAIL {case}: {why}', flush=True)

    def check(self, case, ok, why):
        if not ok:
            self.fail(case, why)

    def run(self, case, archive, flags, answers='', window=None, libraries=None, names=None):
        # dexalo.exe run on the archive (or the files, given `names`, the arguments) in a fresh
        # sandbox: the sandbox, the windows shown apart from progress windows (a slow machine may
        # show one for any archive), and whether one was.
        root = os.path.join(self.work, 'cases', case)
        prog = os.path.join(root, 'prog')
        os.makedirs(os.path.join(prog, '設定フォルダ'))
        for name in libraries or [os.path.join(self.args.bin, n) for n in DLLS]:
            shutil.copy(name, prog)
        shutil.copy(self.args.watcher, os.path.join(prog, 'explorer.exe'))  # it logs as explorer.exe
        for d in (ARC, OUT):
            os.makedirs(os.path.join(root, d))
        with open(os.path.join(prog, '設定フォルダ', '設定.ini'), 'wb') as f:
            f.write(b'%d\r\n"' % flags + (win(os.path.join(root, OUT)) + '\\').encode('cp932') + b'"\r\n')
        for name in [archive] if names is None else archive:
            shutil.copy2(name, os.path.join(root, ARC))  # with its DOS attributes
        with open(self.answers, 'w') as f:
            f.write(answers)
        before = os.path.getsize(self.messages) if os.path.exists(self.messages) else 0
        # stdio on /dev/null: the folder window it starts would otherwise hold ctest's pipes.
        process = subprocess.Popen([self.args.wine_run, self.args.prefix, os.path.join(prog, 'dexalo.exe'),
                                    *[win(os.path.join(root, ARC, n)) for n in names or [os.path.basename(archive)]]], cwd=root,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            process.wait(60)
        except subprocess.TimeoutExpired:
            process.kill()
            self.fail(case, 'dexalo.exe did not end within 60 s')
        # The folder window starts detached: wait for its line, compare all at the end.
        log = os.path.join(prog, 'explorer.log')
        for _ in range(150 if window else 0):
            if os.path.exists(log):
                break
            time.sleep(0.1)
        self.pending.append((case, log, [f'explorer /n,{win(os.path.join(root, w))}\tshow=1' for w in window or []]))
        with open(self.messages, 'ab+') as f:
            f.seek(before)
            shown = f.read().decode('utf-8', 'replace').splitlines()
        boxes = [m for m in shown if not m.endswith('\tprogress')]
        return root, boxes, len(boxes) < len(shown)

    def whole_run(self, doubles, made):
        # The libraries only the test doubles stand for (ISH's two-argument call, JAK's join), both
        # messages, the real lz32 (sample.tx_ is sample.txt compressed) and the folder windows.
        data = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'data')
        files = [os.path.join(data, 'sample.tx_')]
        for name, behaviour in [('a.lzh', 'Unlha.count=2\nUnlha.entry=foo/a.txt\nUnlha.entry=foo/b.txt\n'),
                                ('b.zip', 'UnZip.count=2\nUnZip.entry=a.txt\nUnZip.entry=b.txt\nUnZip.run=0x8001\n'),
                                ('mail.ish', 'Ish.check=1\n'), ('big.001', 'Jack.check=1\n'), ('plain.txt', ''),
                                ('system.lzh', 'Unlha.count=1\nUnlha.entry=a.txt\n')]:
            files += [os.path.join(made, name), os.path.join(made, name + '.dbl')]
            for path, text in zip(files[-2:], ('archive bytes', behaviour)):
                with open(path, 'w') as f:
                    f.write(text)
        files.append(os.path.join(made, 'sample.tx#'))  # there already: the LZ output must not replace it
        with open(files[-1], 'w') as f:
            f.write('kept')
        # Wine keeps DOS attributes in user xattrs: a hidden archive is extracted like any
        # other, a system file is not looked up.
        try:
            for name, attribute in (('a.lzh', b'0x2'), ('system.lzh', b'0x4')):
                os.setxattr(os.path.join(made, name), 'user.DOSATTRIB', attribute)
            system = ['system.lzh']
        except OSError as e:
            print(f'NOTE: no DOS attributes here ({e}); hidden and system files are not checked', flush=True)
            system = []
        root, boxes, _ = self.run('whole-run', files, 3, window=[f'{ARC}\\'] * 3 + [f'{ARC}\\mail'],
                                  libraries=[os.path.join(self.args.bin, 'dexalo.exe')] + [
                                      os.path.join(doubles, n) for n in os.listdir(doubles) if n.endswith('.dll')],
                                  names=['a.lzh', 'b.zip', 'missing.lzh', *system, 'plain.txt', 'mail.ish', 'sample.tx_', 'big.001'])
        self.check('whole-run', boxes == ['エラー発生\t解凍不可能なファイルです｡\ticon=1'] * (1 + len(system)) +
                   ['Dexalo\t解凍可能なファイルではありません。\ticon=1'], f'message boxes {boxes}')
        a = win(os.path.join(root, ARC)) + '\\'
        with open(os.path.join(root, 'prog', 'calls.log'), encoding='cp932') as f:
            calls = f.read().splitlines()
        if [c for c in calls if '.Run(' in c] + [c for c in calls if '.Combine(' in c] != [
                f'Unlha.Run(0,x -a1 -gq1 -m1 "{a}a.lzh" "{a}",0)', f'UnZip.Run(0,-u -qq "{a}b.zip" "{a}b\\",0)',
                f'Ish.Run(0,{a}mail.ish /f={a}mail\\)', f'Jack.Combine({a}big.001,{a})']:
            self.fail('whole-run', f'library calls {calls}')
        found = tree(os.path.join(root, ARC))
        with open(os.path.join(data, 'sample.txt'), 'rb') as f:
            self.check('whole-run', found.get('sample.tx##') == f.read() and found.get('sample.tx#') == b'kept' and
                       'plain.tx#' not in found and os.path.isdir(os.path.join(root, ARC, 'mail')), f'the folder holds {sorted(found)}')

    def expect_report(self, case, boxes, name, *words):
        # The library's one error message, naming the archive and what went wrong.
        self.check(case, len(boxes) == 1 and boxes[0].endswith('\ticon=1') and all(w in boxes[0] for w in (f'「{name}」',) + words),
                   f'expected one error message naming {name} and {words}, got {boxes}')

    def row(self, archive, files, flags, into, window, stamps=None):
        case = f'{os.path.basename(archive)}-flags{flags}'
        root, boxes, _ = self.run(case, archive, flags, window=window)
        self.check(case, not boxes, f'message boxes {boxes}')
        with open(archive, 'rb') as f:
            expected = {f'{ARC}/{os.path.basename(archive)}': f.read(), **{into + n: d for n, d in files.items()}}
        actual = tree(root)
        self.check(case, actual == expected, f'files that differ: {sorted(set(actual) ^ set(expected))}')
        if actual == expected and any(abs(os.path.getmtime(os.path.join(root, into + n)) - (stamps or {}).get(n, STAMP)) > 2
                                      for n in files):
            self.fail(case, 'the entries did not keep their times')

    def damaged(self, archive, allowed, required=(), said='big.txt'):
        # Extraction fails: inside 書庫/ only `allowed` may stand (complete where its contents
        # are given) and `required` must; nothing named escape anywhere; one message saying `said`.
        case = os.path.basename(archive)
        root, boxes, _ = self.run(case, archive, 3)
        self.expect_report(case, boxes, case, said)
        found = {k.removeprefix(ARC + '/'): v for k, v in tree(root).items() if k != f'{ARC}/{case}'}
        left = [k for k, v in found.items() if allowed.get(k) != v]
        self.check(case, not left and set(required) <= set(found), f'left behind or incomplete: {left}')
        strays = [os.path.join(d, n) for d, _, names in os.walk(self.work) for n in names if 'escape' in n]
        self.check(case, not strays, f'escaped entries: {strays}')

    def talk(self, case, archive, answers, kinds, files, progress=False):
        # The libraries' own windows, answered by the watcher: `kinds` are the windows expected
        # besides progress windows (which `progress` requires), `files` the destination after.
        root, boxes, shown = self.run(case, archive, 0, answers)
        if [m.rsplit('\t', 1)[-1] for m in boxes] != kinds or (progress and not shown):
            self.fail(case, f'windows {boxes}, expected {kinds}' + (' and a progress window' if progress else ''))
        elif kinds[1:2] == ['prompt'] and 'パスワードが違います' not in boxes[1]:
            self.fail(case, f'the second prompt does not say the password was wrong: {boxes[1]}')
        elif kinds[-1:] == ['icon=1']:
            self.expect_report(case, boxes[-1:], os.path.basename(archive), 'secret.txt')
        self.check(case, tree(os.path.join(root, OUT)) == files, f'destination holds {sorted(tree(os.path.join(root, OUT)))}')


def set_cases(suite, made, src):
    # Pieces given together, or a later one alone, extract the set once, whole. The RAR set is
    # libarchive's own test set of six volumes, its expectation what 7z makes of it.
    rar = os.path.join(made, 'rarset')
    os.makedirs(rar)
    for uu in glob.glob(os.path.join(LIBARCHIVE_TESTS, 'test_rar_multivolume_multiple_files.part*.rar.uu')):
        with open(uu) as f, open(os.path.join(rar, 'set.' + uu.split('.')[-3] + '.rar'), 'wb') as out:
            out.write(b''.join(binascii.a2b_uu(l) for l in f.read().split('\nend')[0].splitlines()[1:]))
    sh(f"7z x -bd -y -o'{made}/rarset-7z' set.part1.rar", rar)
    expected = {f'{OUT}/set.part3/' + os.path.relpath(os.path.join(d, n), f'{made}/rarset-7z'):
                open(os.path.join(d, n), 'rb').read() for d, _, names in os.walk(f'{made}/rarset-7z') for n in names}
    root, boxes, _ = suite.run('rar-set', [os.path.join(rar, n) for n in sorted(os.listdir(rar))], 0,
                               names=['set.part3.rar', 'set.part5.rar'])
    found = {k: v for k, v in tree(root).items() if not k.startswith(ARC)}
    suite.check('rar-set', len(expected) == 2 and found == expected and not boxes, f'{sorted(found)} {boxes}')
    # Plain pieces: of a ZIP, through the ZIP library from its second piece; of anything else,
    # joined by the split-file library.
    make_archive(os.path.join(made, 'photos.zip'), MULTI, src)
    with open(os.path.join(made, 'movie.bin'), 'wb') as f:
        f.write(BIG)
    pieces = []
    for whole in ('photos.zip', 'movie.bin'):
        sh(f"split -n 3 -d -a 3 --numeric-suffixes=1 '{whole}' '{whole}.'", made)
        pieces += sorted(glob.glob(os.path.join(made, whole + '.0*')))
    root, boxes, _ = suite.run('plain-pieces', pieces, 0, names=['photos.zip.002', 'movie.bin.002'])
    found = {k: v for k, v in tree(root).items() if not k.startswith(ARC)}
    expected = {**{f'{OUT}/photos.zip/' + n: d for n, d in MULTI.items()}, f'{OUT}/movie.bin': BIG}
    suite.check('plain-pieces', found == expected and not boxes, f'{sorted(found)} {boxes}')


def talk_cases(suite, made, src):
    secret = {'secret.txt': b'behind a password\n'}
    zipcrypto, aes = os.path.join(made, 'zipcrypto.zip'), os.path.join(made, 'aes.zip')
    os.makedirs(src, exist_ok=True)
    with open(os.path.join(src, 'secret.txt'), 'wb') as f:
        f.write(secret['secret.txt'])
    sh(f"zip -q -P right '{zipcrypto}' secret.txt && 7z a -tzip -mem=AES256 -pright '{aes}' secret.txt", src)
    suite.talk('password-zipcrypto', zipcrypto, 'password right\n', ['prompt'], secret)
    suite.talk('password-aes', aes, 'password right\n', ['prompt'], secret)
    # A wrong password, then キャンセル on the second prompt: nothing written, one report.
    suite.talk('password-wrong', aes, 'password wrong\n', ['prompt', 'prompt', 'icon=1'], {})
    # 7z with its data encrypted, then with its names too: those are asked for while dexalo.exe
    # recognises the archive, and the main operation asks no more.
    seven, hidden = os.path.join(made, 'e.7z'), os.path.join(made, 'h.7z')
    sh(f"7z a -bd -pright '{seven}' secret.txt && 7z a -bd -pright -mhe=on '{hidden}' secret.txt", src)
    suite.talk('password-7z', seven, 'password wrong\npassword right\n', ['prompt', 'prompt'], secret)
    suite.talk('password-7z-names', hidden, 'password right\n', ['prompt'], secret)
    # Long enough to show the progress window; closing it keeps only the complete file.
    big = os.path.join(made, 'big.tar.bz2')
    with tarfile.open(big, 'w:bz2') as t:
        for name, size in (('a.txt', 6), ('big.bin', 300 << 20)):
            info = tarfile.TarInfo(name)
            info.size, info.mtime = size, STAMP
            t.addfile(info, io.BytesIO(b'first\n' if size == 6 else bytes(size)))
    suite.talk('progress-cancel', big, 'close\n', [], {'big.tar/a.txt': b'first\n'}, True)


# Names Linux and macOS hold and Windows cannot, and where each lands: renamed, never lost.
RENAMED = {'Q&A: what?.txt': 'Q&A\uff1a what\uff1f.txt', 'a<b>c.txt': 'a\uff1cb\uff1ec.txt',
           'pipe|star*.txt': 'pipe\uff5cstar\uff0a.txt', 'quote"d.txt': 'quote\uff02d.txt', 'CON.txt': '_CON.txt',
           'aux': '_aux', 'trailing.': 'trailing_', 'space ': 'space_', 'a.txt:stream': 'a.txt\uff1astream',
           'tab\there': 'tab_here', 'ok.txt': 'ok.txt', 'Readme.txt': 'Readme.txt', 'README.txt': 'README (2).txt'}


def renamed_tar(made):
    # Python's tarfile, the names in two folders named alike but for case: the program's
    # single-folder check sees the one folder they land in, so they go straight in.
    tar = os.path.join(made, 'names.tar')
    with tarfile.open(tar, 'w', format=tarfile.GNU_FORMAT) as t:
        for i, name in enumerate(RENAMED):
            info = tarfile.TarInfo(('Docs/', 'docs/')[i % 2] + name)
            info.size, info.mtime = len(name) + 1, STAMP
            t.addfile(info, io.BytesIO(name.encode() + b'\n'))
    return tar, {'Docs/' + w: n.encode() + b'\n' for n, w in RENAMED.items()}


def rar5_cases(suite):
    # RAR 7.01's archives (tests/data/archives/make-rar5.sh, holding rar5_files.py's files):
    # names in any script, a solid set in volumes opened at its second piece, and passwords,
    # asked by the main operation for -p and while dexalo.exe recognises the archive for -hp.
    fixtures = os.path.join(HERE, '..', '..', 'data', 'archives')
    sys.path.insert(0, fixtures)
    sys.dont_write_bytecode = True  # nothing written into the source tree
    import rar5_files
    names = {unicodedata.normalize('NFC', n): d for n, d in rar5_files.NAMES.items()}
    suite.talk('rar-names', os.path.join(fixtures, 'names.rar'), '', [], {f'names/{n}': d for n, d in names.items()})
    suite.talk('password-rar', os.path.join(fixtures, 'locked.rar'), 'password wrong\npassword right\n',
               ['prompt', 'prompt'], {f'locked/{n}': d for n, d in rar5_files.SECRET.items()})
    suite.talk('password-rar-names', os.path.join(fixtures, 'hidden.rar'), 'password right\n', ['prompt'],
               {f'hidden/{n}': d for n, d in rar5_files.SECRET.items()})
    root, boxes, _ = suite.run('rar-solid-set', [os.path.join(fixtures, n) for n in ('solid.rar', 'solid.r00')], 0,
                               names=['solid.r00'])
    found = {k: v for k, v in tree(root).items() if not k.startswith(ARC)}
    suite.check('rar-solid-set', found == {f'{OUT}/solid/{n}': d for n, d in rar5_files.SOLID.items()} and not boxes,
                f'{sorted(found)} {boxes}')


def hostile(made, cases):
    # Python's zipfile. Names only Windows reads as a way out: a climb with either separator,
    # drive and root paths; they alone are refused. The rest land renamed inside the destination.
    # Links and Unix absolute paths are the native safety tests'.
    zipped = os.path.join(made, 'mixed.zip')
    with zipfile.ZipFile(zipped, 'w') as z:
        for n in ['../escape-zip.txt', '..\\escape-zip2.txt', win(os.path.join(cases, 'mixed.zip', 'escape-drive.txt')),
                  win(os.path.join(cases, 'mixed.zip', 'escape-root.txt'))[2:], *('good/' + n for n in RENAMED)]:
            z.writestr(zipfile.ZipInfo(n, (2021, 3, 4, 5, 6, 8)), n.removeprefix('good/').encode() + b'\n')
    return zipped, {'mixed/good/' + w: n.encode() + b'\n' for n, w in RENAMED.items()}


def main():
    args = argparse.Namespace(**dict(zip(('wine_run', 'prefix', 'bin', 'doubles', 'watcher', 'work'), sys.argv[1:])))
    shutil.rmtree(args.work, ignore_errors=True)
    suite = Suite(args)
    made, src = os.path.join(suite.work, 'archives'), os.path.join(suite.work, 'src')
    os.makedirs(made)
    # The watcher answers any message box, so no run can hang on one.
    suite.watcher = subprocess.Popen([args.wine_run, args.prefix, args.watcher, win(suite.messages), win(suite.stop),
                                      win(suite.answers)], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
    try:
        for name, files, level, flags, into, window in ROWS:
            make_archive(os.path.join(made, name), files, src, level)
            suite.row(os.path.join(made, name), files, flags, into, window)
        # As macOS writes a ZIP: decomposed UTF-8 names without the UTF-8 flag.
        mac = {'写真/パンダ.txt': b'panda\n', '写真/ダム.txt': b'dam\n'}
        make_archive(os.path.join(made, 'mac.zip'), {unicodedata.normalize('NFD', n): d for n, d in mac.items()}, src)
        suite.row(os.path.join(made, 'mac.zip'), mac, 0, f'{OUT}/', None)
        corrupt = {'top/a.txt': b'complete before the damage\n', 'top/big.txt': BIG}
        # Cut in the big second entry's data (a zip then loses its directory and is read from
        # its local headers).
        for kind in ('lzh', 'zip', 'cab', 'tar.gz', 'arj'):
            broken = os.path.join(made, f'broken.{kind}')
            make_archive(broken, corrupt, src)
            os.truncate(broken, os.path.getsize(broken) * 6 // 10)
            suite.damaged(broken, {'top/a.txt': corrupt['top/a.txt']})
        # Downloads cut off: a 7z loses its header (at its end); RAR 7.01's names.rar stops
        # inside its third header. Each is reported as damaged, not passed over as no archive.
        cut7z, cutrar = os.path.join(made, 'cut.7z'), os.path.join(made, 'cut.rar')
        make_archive(cut7z, corrupt, src)
        os.truncate(cut7z, os.path.getsize(cut7z) * 6 // 10)
        suite.damaged(cut7z, {}, (), '書庫が壊れています')
        with open(os.path.join(HERE, '..', '..', 'data', 'archives', 'names.rar'), 'rb') as f, open(cutrar, 'wb') as out:
            out.write(f.read()[:140])
        first = {'cut/readme.txt': b'read me\n', 'cut/パンダ.txt': b'panda\n'}
        suite.damaged(cutrar, first, first, '書庫が壊れています')
        # ISH always goes into a folder named after the text: a real text of two files
        # (tests/data/ish), saved from a mail with CR LF; the mail around it is skipped.
        ish, sent = os.path.join(HERE, '..', '..', 'data', 'ish'), {}
        for name in ('two-files.ish', 'rand20k.bin', 'notes.txt'):
            with open(os.path.join(ish, name), 'rb') as f:
                sent[name] = f.read()
        with open(os.path.join(made, 'letter.ish'), 'wb') as f:
            f.write(b'From: someone\r\nSubject: files\r\n\r\nHere they are.\r\n' +
                    sent.pop('two-files.ish').replace(b'\n', b'\r\n') + b'-- \r\nbye\r\n')
        # Their times are the writer's: 2024-05-06 07:08:10 and 07:09:30 in Tokyo.
        suite.row(os.path.join(made, 'letter.ish'), sent, 1, f'{ARC}/letter/', None,
                  {'rand20k.bin': 1714946890, 'notes.txt': 1714946970})
        zipped, good = hostile(made, os.path.join(suite.work, 'cases'))
        suite.damaged(zipped, good, good, '安全でない')
        tar, files = renamed_tar(made)
        suite.row(tar, files, 0, f'{OUT}/', None)
        set_cases(suite, made, src)
        talk_cases(suite, made, src)
        rar5_cases(suite)
        suite.whole_run(args.doubles, made)
        time.sleep(1.5)  # late starters from the negative cases would have logged by now
        for case, log, expected in suite.pending:
            lines = open(log, encoding='utf-8').read().splitlines() if os.path.exists(log) else []
            suite.check(case, sorted(lines) == sorted(expected), f'folder windows {lines}, expected {expected}')
    finally:
        open(suite.stop, 'w').close()
        suite.watcher.wait(30)
    print(f'{len(suite.pending)} runs, {len(suite.failures)} failures')
    return 1 if suite.failures else 0


if __name__ == '__main__':
    sys.exit(main())
