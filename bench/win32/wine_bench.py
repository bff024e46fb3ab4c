#!/usr/bin/env python3
"""dexalo.exe end to end against the archiver DLL's main operation alone, under Wine.

Both extract the same archive of about 256 MiB (ZIP, then .tar.gz, about 1 GiB of text-like
data) into a fresh folder, with the same command line: dexalo.exe builds it from its
settings (OptionFlags 0, one top folder, so straight into DestFolder); engine_main.exe is
given it. Runs alternate between the two so both see the same caches; the best run of each
counts. Each time includes starting the Wine process.

  bench/win32/wine_bench.py [--build build/win32] [--runs 3] [--mib 1024] [--work DIR]

Without --build it measures the shipped 32-bit build, or the 64-bit one where this machine
cannot run 32-bit programs (scripts/wine-loader decides, and the run says so).

It builds dexalo, the DLLs and engine_main, and starts and stops the build's Wine session.
Targets: ZIP ratio <= 1.10, .tar.gz <= 2.10 (dexalo lists a .tar.gz before extracting it,
so the stream is decompressed twice).
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WINE_RUN = os.path.join(SOURCE, 'scripts', 'wine-run')
WINE_SESSION = os.path.join(SOURCE, 'scripts', 'wine-session')
WINE_LOADER = os.path.join(SOURCE, 'scripts', 'wine-loader')
DLLS = ('unlha32.dll', 'unzip32.dll', 'cab32.dll', 'tar32.dll', 'unrar32.dll', 'unarj32j.dll')
FILE_SIZE = 4 << 20
FORMATS = [  # archive, DLL, main operation, option text
    ('big.zip', 'unzip32.dll', 'UnZip', '-u -qq'),
    ('big.tar.gz', 'tar32.dll', 'Tar', 'x -f'),
]


def win(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def text_pool(size):
    """Word-like text with numbers that deflate shrinks about 4:1, as the native benchmark's."""
    rnd = random.Random(7)
    words = ['archive', 'folder', 'extract', 'entry', 'header', 'stream', 'block', 'data', 'name', 'value',
             'table', 'index', 'record', 'window']
    pieces = []
    length = 0
    while length < size:
        r = rnd.getrandbits(64)
        piece = words[r % 14] + ('\n' if (r >> 8) % 11 == 0 else ' ')
        if (r >> 16) % 5 == 0:
            piece += '%06u ' % ((r >> 24) % 1000000)
        pieces.append(piece)
        length += len(piece)
    return ''.join(pieces).encode()[:size]


def make_archives(work, mib):
    """data/dN/sN/fN.dat, 4 MiB each, then big.zip and big.tar.gz; kept for later runs."""
    stamp = os.path.join(work, 'archives.done')
    if os.path.exists(stamp) and open(stamp).read() == str(mib):
        return
    src = os.path.join(work, 'src')
    shutil.rmtree(src, ignore_errors=True)
    pool = text_pool(32 << 20)
    rnd = random.Random(11)
    for f in range(max(1, mib // 4)):
        folder = os.path.join(src, 'data', f'd{f % 8}', f's{f % 3}')
        os.makedirs(folder, exist_ok=True)
        at = rnd.randrange(len(pool) - FILE_SIZE)
        with open(os.path.join(folder, f'f{f}.dat'), 'wb') as out:
            out.write(pool[at:at + FILE_SIZE])
    for name in ('big.zip', 'big.tar.gz'):
        path = os.path.join(work, name)
        if os.path.exists(path):
            os.remove(path)
    subprocess.run('zip -q -r ../big.zip data && tar -czf ../big.tar.gz data', shell=True, cwd=src, check=True)
    shutil.rmtree(src)
    with open(stamp, 'w') as f:
        f.write(str(mib))


def timed(command, cwd):
    start = time.perf_counter()
    result = subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    return time.perf_counter() - start, result.returncode


def fresh(folder):
    shutil.rmtree(folder, ignore_errors=True)
    subprocess.run(['sync'])


def count_files(folder):
    return sum(len(names) for _, _, names in os.walk(folder))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build')
    parser.add_argument('--runs', type=int, default=3)
    parser.add_argument('--mib', type=int, default=1024)
    parser.add_argument('--work')
    args = parser.parse_args()
    if not args.build:
        bits = subprocess.run([WINE_LOADER, '--bits'], capture_output=True, text=True).stdout.strip()
        if bits != '32':
            print('this machine cannot run 32-bit programs: measuring the 64-bit build', flush=True)
        args.build = os.path.join(SOURCE, 'build', 'win32' if bits == '32' else 'win64')
    build = os.path.abspath(args.build)
    work = os.path.abspath(args.work or os.path.join(build, 'bench', 'win32', 'work'))
    prefix = os.path.join(build, 'wineprefix')

    subprocess.run(['cmake', '--build', build, '-j2', '--target', 'dexalo', 'archiver_dlls', 'engine_main'],
                   check=True, stdout=subprocess.DEVNULL)
    os.makedirs(work, exist_ok=True)
    print(f'archives from {args.mib} MiB of text-like data in {work} (made once, then reused)', flush=True)
    make_archives(work, args.mib)

    # A program folder of its own: dexalo.exe, the DLLs, engine_main.exe, the settings file.
    prog = os.path.join(work, 'prog')
    shutil.rmtree(prog, ignore_errors=True)
    os.makedirs(os.path.join(prog, '設定フォルダ'))
    for name in ('dexalo.exe',) + DLLS:
        shutil.copy(os.path.join(build, 'bin', name), prog)
    shutil.copy(os.path.join(build, 'bench', 'win32', 'engine_main.exe'), prog)
    dest = {who: os.path.join(work, f'out-{who}') for who in ('dexalo', 'engine')}
    with open(os.path.join(prog, '設定フォルダ', '設定.ini'), 'wb') as f:
        f.write(b'0\r\n"' + (win(dest['dexalo']) + '\\').encode('cp932') + b'"\r\n')

    subprocess.run([WINE_SESSION, 'start', prefix], check=True)
    failed = False
    try:
        for archive, dll, export, options in FORMATS:
            path = os.path.join(work, archive)
            commands = {
                'dexalo': [WINE_RUN, prefix, os.path.join(prog, 'dexalo.exe'), win(path)],
                'engine': [WINE_RUN, prefix, os.path.join(prog, 'engine_main.exe'), dll, export, options, win(path),
                           win(dest['engine']) + '\\'],
            }
            times = {'dexalo': [], 'engine': []}
            for run in range(args.runs + 1):  # the first round warms the caches and is not counted
                order = ('engine', 'dexalo') if run % 2 == 0 else ('dexalo', 'engine')
                for who in order:
                    fresh(dest[who])
                    seconds, code = timed(commands[who], work)
                    if who == 'engine' and code != 0:
                        print(f'{archive}: engine_main returned 0x{code:X}')
                        return 1
                    if run > 0:
                        times[who].append(seconds)
                if run == 0:
                    got = {who: count_files(dest[who]) for who in dest}
                    same = subprocess.run(['diff', '-rq', dest['dexalo'], dest['engine']],
                                          stdout=subprocess.DEVNULL).returncode == 0
                    if not same or got['dexalo'] == 0:
                        print(f'{archive}: the two extractions differ ({got})')
                        return 1
            best = {who: min(t) for who, t in times.items()}
            median = {who: statistics.median(t) for who, t in times.items()}
            ratio = best['dexalo'] / best['engine']
            target = 1.10 if archive.endswith('.zip') else 2.10
            failed |= ratio > target
            print(f'{archive:<11} {os.path.getsize(path) / 1048576:6.1f} MiB, {count_files(dest["engine"])} files  '
                  f'dexalo.exe {best["dexalo"]:6.2f} s  main operation {best["engine"]:6.2f} s  '
                  f'ratio {ratio:.3f} (target <= {target:.2f})  '
                  f'[medians {median["dexalo"]:.2f} / {median["engine"]:.2f} s = '
                  f'{median["dexalo"] / median["engine"]:.3f}]', flush=True)
    finally:
        for folder in dest.values():
            shutil.rmtree(folder, ignore_errors=True)
        subprocess.run([WINE_SESSION, 'stop', prefix])
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
