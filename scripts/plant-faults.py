#!/usr/bin/env python3
"""Plants each fault of tests/planted-faults.txt alone, builds the tests of
its folder, runs them and puts the source back: a fault that no test of its
folder catches is a hole in the tests. Prints one row per fault.

    scripts/plant-faults.py [BUILD_DIR] [ID_PREFIX...]

BUILD_DIR is a configured build folder (default: build). Run it on a clean
tree: each planted file is restored from git afterwards."""

import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = {
    'KelUbc': ['tst_facade', 'tst_namedevents', 'tst_codedevents', 'tst_watcher',
               'tst_collectionswitch', 'tst_modeldata'],
    'RuvUbc': ['tst_ruvubc', 'tst_logrotation'],
    'faults': ['tst_logfaults', 'tst_dictfaults'],
    'RecordFormat': ['tst_recordformat'],
    'ubc-dict': ['tst_ubcdict'],
    'ubc-demo': ['tst_demo'],
    'KelUbcHost': ['tst_kelubchost'],
    'KelUbcActionTracker': ['tst_actiontracker'],
    'KelUbcUpload': ['tst_kelubcupload', 'tst_uploadschedule'],
    'KelUbcDataDialog': ['tst_datadialog'],
}


def faults(wanted):
    with open(os.path.join(ROOT, 'tests', 'planted-faults.txt'), encoding='utf-8') as f:
        for line in f:
            line = line.rstrip('\n')
            if not line or line.startswith('#'):
                continue
            fid, folder, path, old, new = line.split('\t')
            if not wanted or any(fid.startswith(w) for w in wanted):
                yield fid, folder, path, old.replace('\\n', '\n'), new.replace('\\n', '\n')


def run(args, **kw):
    return subprocess.run(args, cwd=ROOT, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, errors='replace', **kw)


def plant(build, fid, folder, path, old, new):
    full = os.path.join(ROOT, path)
    with open(full, encoding='utf-8') as f:
        text = f.read()
    if text.count(old) != 1:
        return f'{fid}\t{path}\t-\tNOT PLANTED (the text occurs {text.count(old)} times)'
    line = text[:text.index(old)].count('\n') + 1
    tests = FOLDERS[folder]
    try:
        with open(full, 'w', encoding='utf-8') as f:
            f.write(text.replace(old, new))
        built = run(['cmake', '--build', build, '--target'] + tests + ['-j2'])
        if built.returncode != 0:
            return f'{fid}\t{path}:{line}\t-\tBUILD FAILED'
        failed = []
        for test in tests:
            ran = run(['ctest', '--test-dir', build, '-R', f'^{test}$', '--timeout', '300',
                       '--output-on-failure'])
            if ran.returncode != 0:
                # The failing test functions, or the test's name when it died.
                functions = sorted({m.group(1) for m in re.finditer(r'^FAIL!  : \w+::(\w+)', ran.stdout, re.M)})
                failed.append(test + (':' + ','.join(functions) if functions else ''))
        verdict = 'caught by ' + ' '.join(failed) if failed else 'NOT CAUGHT'
        return f'{fid}\t{path}:{line}\t{folder}\t{verdict}'
    finally:
        run(['git', 'checkout', '--', path])


def main():
    args = sys.argv[1:]
    build = args.pop(0) if args and os.path.isdir(os.path.join(ROOT, args[0])) else 'build'
    if run(['git', 'diff', '--quiet', '--', 'src', 'tools', 'apps']).returncode != 0:
        sys.exit('plant-faults: src/, tools/ or apps/ has changes; commit or stash them first')
    missed = 0
    for fault in faults(args):
        row = plant(build, *fault)
        missed += 'caught by' not in row
        print(row, flush=True)
    # The last planted file is restored: build once more so the tree's own
    # code is what the build folder holds.
    run(['cmake', '--build', build, '-j2'])
    sys.exit(1 if missed else 0)


if __name__ == '__main__':
    main()
