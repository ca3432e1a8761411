#!/usr/bin/env python3
"""Holds `quillmet -cmp OLD NEW -f` to `git diff --no-index --numstat --minimal` on real
releases, file pair by file pair:

- for a pair under one path (status same or modified), modified + added lines of every
  kind equal git's added lines, and modified + removed equal git's deleted lines (git's
  "-\t-" for a binary pair is skipped and counted);
- for every file of any status, same + modified + added equal the lines of the NEW file
  and same + modified + removed those of the OLD file, lines counted as the tool splits
  them (LF, CR LF or a lone CR ends a line; a last line without a break is a line);
- the revision form, `-git=OLD..NEW CLONE`, gives the same files and totals as the two
  checked-out directories.

The pairs are lua v5.3.0 -> v5.4.0 (from lua.bundle) and git v2.30.0 -> v2.40.0 (from
its two .tar.xz), the latter also with -al when asked. git's --minimal is not always
minimal, so every pair is also held to the least possible counts (an exact longest common
subsequence of its lines), which git may exceed but the tool may not. Without those
inputs it says "skipped" and passes.

    check_against_git_diff.py --tool build/release/quillmet [--data DIR] [--all-languages] [-v]
"""
import argparse
import concurrent.futures
import json
import os
import re
import subprocess
import sys
import tempfile

KINDS = ('blank', 'comment', 'punctuation', 'code')


def lines_of(name, counts):
    return sum(counts[name].get(kind, 0) for kind in KINDS)


def line_count(data):
    """Lines as the tool splits them: LF, CR LF or a lone CR ends a line; a last line
    without a break is a line; an empty file has none."""
    if not data:
        return 0
    crlf = data.count(b'\r\n')
    ends = data.count(b'\n') + data.count(b'\r') - crlf
    return ends + (0 if data.endswith((b'\n', b'\r')) else 1)


def split_lines(data):
    """The lines as the tool splits them, each with its break bytes."""
    return re.findall(rb'[^\r\n]*(?:\r\n|\r|\n)|[^\r\n]+$', data)


def least_changes(old_lines, new_lines):
    """(added, deleted) of a minimal line diff: the lines of each side outside a longest
    common subsequence. The common start and end are cut first, and lines that occur
    on one side only are dropped (they are changes in any diff); the rest is a
    bit-parallel LCS (Allison and Dix) over Python integers, O(n * m / word)."""
    start = 0
    while start < min(len(old_lines), len(new_lines)) and old_lines[start] == new_lines[start]:
        start += 1
    end = 0
    while (end < min(len(old_lines), len(new_lines)) - start and
           old_lines[len(old_lines) - 1 - end] == new_lines[len(new_lines) - 1 - end]):
        end += 1
    old_rest = old_lines[start:len(old_lines) - end]
    new_rest = new_lines[start:len(new_lines) - end]
    old_set, new_set = set(old_rest), set(new_rest)
    old_rest = [line for line in old_rest if line in new_set]
    new_rest = [line for line in new_rest if line in old_set]
    masks = {}
    for position, line in enumerate(new_rest):
        masks[line] = masks.get(line, 0) | (1 << position)
    row = 0
    for line in old_rest:
        x = masks[line] | row
        row = x & ((x - ((row << 1) | 1)) ^ x)
    common = start + end + bin(row).count('1')
    return len(new_lines) - common, len(old_lines) - common


def looks_utf16(data):
    """The tool's UTF-16 test, loosely: an even length and zero bytes among the first
    1024. Such a file's lines are counted after conversion, so its raw bytes say
    nothing about them."""
    return len(data) % 2 == 0 and b'\0' in data[:1024]


def git_env(home):
    # No user or system configuration: a diff.algorithm or whitespace setting there would
    # change the counts.
    env = dict(os.environ, GIT_CONFIG_NOSYSTEM='1', GIT_CONFIG_GLOBAL=os.devnull, HOME=home, LC_ALL='C')
    env.pop('GIT_DIR', None)
    env.pop('GIT_WORK_TREE', None)
    return env


def git_numstat(old, new, env, cwd):
    """(added, deleted) of git's minimal diff of two files, or None for a binary pair."""
    result = subprocess.run(['git', 'diff', '--no-index', '--numstat', '--minimal', '--', old, new],
                            capture_output=True, env=env, cwd=cwd)
    if result.returncode not in (0, 1):
        raise RuntimeError('git diff %s %s: %s' % (old, new, result.stderr.decode(errors='replace')))
    out = result.stdout.split(b'\n', 1)[0]
    if not out:
        return 0, 0
    added, deleted = out.split(b'\t')[:2]
    if added == b'-':
        return None
    return int(added), int(deleted)


class Checker:
    def __init__(self, tool, scratch, verbose):
        self.tool = tool
        self.scratch = scratch
        self.env = git_env(scratch)
        self.failures = []
        self.verbose = verbose
        self.git_cache = {}
        self.least_cache = {}

    def fail(self, message):
        self.failures.append(message)
        print('  MISMATCH ' + message)

    def report(self, args, cwd=None):
        result = subprocess.run([self.tool, '-f', '-json', 'stdout'] + args, capture_output=True, cwd=cwd)
        if result.returncode != 0:
            raise RuntimeError('%s %s: status %d: %s' % (self.tool, ' '.join(args), result.returncode,
                                                         result.stderr.decode(errors='replace')[:2000]))
        return json.loads(result.stdout)

    def check_pairs(self, label, old_root, new_root, options):
        report = self.report(options + ['-cmp', old_root, new_root])
        files = report.get('files', [])
        pairs = []
        counted = {'files': len(files), 'pairs': 0, 'binary': 0, 'utf16': 0}
        for entry in files:
            status = entry['status']
            path, old_path = entry['path'], entry['old_path']
            if status == 'removed':
                old_file, new_file = os.path.join(old_root, old_path or path), None
            elif status == 'added':
                old_file, new_file = None, os.path.join(new_root, path)
            else:
                old_file, new_file = os.path.join(old_root, old_path), os.path.join(new_root, path)
            self.check_status(label, entry)
            old_data = open(old_file, 'rb').read() if old_file else b''
            new_data = open(new_file, 'rb').read() if new_file else b''
            if looks_utf16(old_data) or looks_utf16(new_data):
                counted['utf16'] += 1
            else:
                ours = lines_of('same', entry) + lines_of('modified', entry)
                for side, data, extra in (('new', new_data, 'added'), ('old', old_data, 'removed')):
                    theirs = line_count(data)
                    if ours + lines_of(extra, entry) != theirs:
                        self.fail('%s %s: same+modified+%s = %d, the %s file has %d lines' %
                                  (label, path, extra, ours + lines_of(extra, entry), side, theirs))
            if status in ('same', 'modified'):
                if old_path != path:
                    self.fail('%s %s: status %s but old path %s' % (label, path, status, old_path))
                pairs.append((entry, old_file, new_file, old_data == new_data))

        def numstat(pair):
            _, old_file, new_file, identical = pair
            key = (old_file, new_file)
            if key not in self.git_cache:
                self.git_cache[key] = (0, 0) if identical else git_numstat(old_file, new_file, self.env,
                                                                            self.scratch)
            return self.git_cache[key]

        with concurrent.futures.ThreadPoolExecutor(max_workers=max(2, os.cpu_count() or 2)) as pool:
            results = list(pool.map(numstat, pairs))
        excess = []
        for (entry, old_file, new_file, identical), theirs in zip(pairs, results):
            if theirs is None:
                counted['binary'] += 1
                continue
            counted['pairs'] += 1
            modified = lines_of('modified', entry)
            ours = (modified + lines_of('added', entry), modified + lines_of('removed', entry))
            # git's --minimal is not always minimal: its xdiff drops lines that recur
            # often on the other side when they sit among changed lines. So every pair is
            # also held to the least possible counts, and git may only exceed them.
            key = (old_file, new_file)
            if key not in self.least_cache:
                self.least_cache[key] = (0, 0) if identical else least_changes(
                    split_lines(open(old_file, 'rb').read()), split_lines(open(new_file, 'rb').read()))
            least = self.least_cache[key]
            if ours == least == theirs:
                continue
            if ours != least or sum(theirs) < sum(least):
                self.fail('%s %s: ours added %d deleted %d (modified %d), git added %d deleted %d, '
                          'least possible added %d deleted %d' %
                          (label, entry['path'], ours[0], ours[1], modified, theirs[0], theirs[1], least[0],
                           least[1]))
            else:
                excess.append('%s: git %d/%d, least possible %d/%d' %
                              (entry['path'], theirs[0], theirs[1], least[0], least[1]))
        print('%-24s %5d files, %5d pairs held to git diff, %d binary to git skipped, %d UTF-16 not '
              'line-counted' % (label, counted['files'], counted['pairs'], counted['binary'], counted['utf16']))
        if excess:
            print('%24s %5d pairs where git\'s diff is not minimal and ours is the least possible%s' %
                  ('', len(excess), ':' if self.verbose else ' (-v lists them)'))
            if self.verbose:
                for line in excess:
                    print(' ' * 26 + line)
        return report

    def check_status(self, label, entry):
        """A status allows only some of the four counts."""
        allowed = {'same': ('same',), 'moved': ('same',), 'modified': ('same', 'modified', 'added', 'removed'),
                   'added': ('added',), 'removed': ('removed',)}.get(entry['status'])
        if allowed is None:
            self.fail('%s %s: unknown status %r' % (label, entry['path'], entry['status']))
            return
        for name in ('same', 'modified', 'added', 'removed'):
            if name not in allowed and lines_of(name, entry) != 0:
                self.fail('%s %s: status %s with %d %s lines' %
                          (label, entry['path'], entry['status'], lines_of(name, entry), name))

    def check_revisions(self, label, clone, old_rev, new_rev, directory_report):
        report = self.report(['-git=%s..%s' % (old_rev, new_rev), clone])
        ours = {f['path']: f for f in report.get('files', [])}
        theirs = {f['path']: f for f in directory_report.get('files', [])}
        differing = [path for path in sorted(set(ours) | set(theirs)) if ours.get(path) != theirs.get(path)]
        for path in differing:
            self.fail('%s %s: -git form %s, directories %s' % (label, path, ours.get(path), theirs.get(path)))
        if [f['path'] for f in report.get('files', [])] != [f['path'] for f in directory_report.get('files', [])]:
            self.fail('%s: the files are in another order than with directories' % label)
        if report.get('total') != directory_report.get('total'):
            self.fail('%s: totals %s, directories %s' % (label, report.get('total'), directory_report.get('total')))
        print('%-24s %5d files, %d differ from the directories' % (label, len(ours), len(differing)))


def run(command, **kwargs):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, **kwargs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--tool', required=True)
    parser.add_argument('--data', default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                       '..', '..', '..', 'shared', 'data'))
    parser.add_argument('--all-languages', action='store_true', help='also check git with -al')
    parser.add_argument('-v', '--verbose', action='store_true', help='list the pairs where git is not minimal')
    args = parser.parse_args()
    tool = os.path.abspath(args.tool)
    bundle = os.path.join(args.data, 'lua.bundle')
    tarballs = [os.path.join(args.data, 'git-v%s.tar.xz' % v) for v in ('2.30.0', '2.40.0')]
    missing = [p for p in [bundle] + tarballs if not os.path.isfile(p)]
    if missing:
        print('skipped: %s absent' % ', '.join(missing))
        return 0
    with tempfile.TemporaryDirectory(prefix='qm_cmp_git_') as scratch:
        checker = Checker(tool, scratch, args.verbose)
        env = checker.env
        clone = os.path.join(scratch, 'lua')
        run(['git', 'clone', '-q', bundle, clone], env=env, cwd=scratch)
        tags = subprocess.run(['git', '-C', clone, 'tag'], capture_output=True, check=True, env=env).stdout.split()
        for tag in (b'v5.3.0', b'v5.4.0'):
            if tag not in tags:
                print('skipped: lua.bundle has no tag %s' % tag.decode())
                return 0
        lua = {}
        for tag in ('v5.3.0', 'v5.4.0'):
            lua[tag] = os.path.join(scratch, 'lua-' + tag)
            os.mkdir(lua[tag])
            archive = subprocess.run(['git', '-C', clone, 'archive', '--format=tar', tag], capture_output=True,
                                     check=True, env=env).stdout
            subprocess.run(['tar', '-x', '-C', lua[tag]], input=archive, check=True)
        gits = []
        for tarball, version in zip(tarballs, ('2.30.0', '2.40.0')):
            run(['tar', '-xJf', tarball, '-C', scratch])
            gits.append(os.path.join(scratch, 'git-v' + version))

        lua_report = checker.check_pairs('lua 5.3.0->5.4.0', lua['v5.3.0'], lua['v5.4.0'], [])
        checker.check_revisions('lua -git=v5.3.0..v5.4.0', clone, 'v5.3.0', 'v5.4.0', lua_report)
        checker.check_pairs('git 2.30.0->2.40.0', gits[0], gits[1], [])
        if args.all_languages:
            checker.check_pairs('git 2.30.0->2.40.0 -al', gits[0], gits[1], ['-al'])
    if checker.failures:
        print('%d mismatches' % len(checker.failures))
        return 1
    print('no mismatches')
    return 0


if __name__ == '__main__':
    sys.exit(main())
