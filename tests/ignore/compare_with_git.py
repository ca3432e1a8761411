#!/usr/bin/env python3
"""Holds `quillmet -gi` to git: the files it counts must be exactly those that
`git add -A --dry-run` adds in a fresh repository made of the same tree.

Generated trees (seeded, reproducible) hold nested .gitignore files with negations,
wildcards, "**", character classes, escapes, CRLF lines and .git/info/exclude; each
source file has unique content, so none is a duplicate. A real tree can be checked
too: its files (without .git) are copied into a temporary directory first.

    compare_with_git.py --tool build/debug/quillmet --seeds 1-40 --hostile
    compare_with_git.py --tool build/debug/quillmet --tree /path/to/checkout
"""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

# Names quillmet reads and classifies (its extension table, ASCII case folded), less the
# generated-code suffixes it always excludes.
SOURCE_SUFFIXES = tuple('.' + e for e in 'd cpp cc cxx c++ c mm m h hpp hxx h++ hh inl ipp cs java js ts lua py '
                        'pas dpr php go rs'.split())
EXCLUDED_SUFFIXES = ('.designer.cs', '.g.cs', '.g.i.cs')


def is_source(path):
    lowered = os.path.basename(path).strip().lower()
    return lowered.endswith(SOURCE_SUFFIXES) and not lowered.endswith(EXCLUDED_SUFFIXES)

DIR_NAMES = ['src', 'lib', 'build', 'out', 'a', 'b', 'deep', 'node_modules', 'gen', 'Docs', 'x.d', 'dist']
FILE_NAMES = ['main.c', 'util.h', 'a.c', 'b.c', 'test_a.py', 'Foo.c', 'foo.c', 'x1.c', 'y2.h', 'app.min.js',
              'app.js', '!bang.c', '#hash.c', '[ab].c', 'q.py', 'sp ace.c', 'trail.c', 'Z.h', 'd.c']

# Patterns as git reads them; some are meant to match nothing.
BASE_PATTERNS = ['*.h', '*.py', 'foo.*', '?.c', '[ab].c', '[!a-m]*.c', '[[:upper:]]*.c', 'x[0-9].c',
                 '\\!bang.c', '\\#hash.c', '#hash.c', '*.min.js', 'main.c', 'sp ace.c', 'trail.c   ',
                 'trail.c\\ ', '[]ab].c', '[a-]*.py', '*[[:digit:]]*', 'dist', 'a', 'src', '\\[ab].c',
                 '**', '*', '[[:alpha:]].c', '[^f]oo.c', 'Z.*']
DIR_PATTERNS = ['build/', 'node_modules/', 'gen/', '*/', 'deep/', 'a/', '*.d/', '[ab]/', 'out']
PATH_PATTERNS = ['/a', '/src/*.c', 'a/**/b.c', '**/deep', '**/lib/*.c', 'src/**', 'deep/**/*.h', '*/main.c',
                 'a/b/', '/build/', '**/a.c', 'lib/**/', '/*.c', '**/*.py', 'b/**', 'src/*/*.c', 'a/*',
                 '**/x.d/**', 'deep/**/deep/', '/**/a.c', 'a**/b.c', '**/', '/']


def random_pattern(rng):
    kind = rng.random()
    if kind < 0.4:
        pattern = rng.choice(BASE_PATTERNS)
    elif kind < 0.6:
        pattern = rng.choice(DIR_PATTERNS)
    else:
        pattern = rng.choice(PATH_PATTERNS)
    if rng.random() < 0.3:
        pattern = '!' + pattern.lstrip()
    return pattern


def ignore_text(rng, lines):
    extras = ['', '# a comment', '   ']
    chosen = [random_pattern(rng) for _ in range(lines)]
    if rng.random() < 0.3:
        chosen.insert(rng.randrange(len(chosen) + 1), rng.choice(extras))
    ending = '\r\n' if rng.random() < 0.15 else '\n'
    return ending.join(chosen) + (ending if rng.random() < 0.8 else '')


def build_tree(root, seed):
    rng = random.Random(seed)
    directories = ['']

    def fill(relative, depth):
        for name in rng.sample(FILE_NAMES, rng.randint(2, 6)):
            path = os.path.join(relative, name)
            with open(os.path.join(root, path), 'w') as out:
                out.write('// %s\nint x;\n' % path if not name.endswith('.py') else '# %s\nx = 1\n' % path)
        if depth < 4:
            for name in rng.sample(DIR_NAMES, rng.randint(0, 3 if depth < 2 else 2)):
                path = os.path.join(relative, name)
                os.mkdir(os.path.join(root, path))
                directories.append(path)
                fill(path, depth + 1)

    fill('', 0)
    for relative in directories:
        if relative == '' or rng.random() < 0.45:
            text = ignore_text(rng, rng.randint(1, 6))
            name = '.gitignore'
            if relative == '':
                # The anchor file keeps the shown paths relative to the tree's root.
                text = text + '\n!/zz_anchor.c\n'
            with open(os.path.join(root, relative, name), 'w', newline='') as out:
                out.write(text)
    with open(os.path.join(root, 'zz_anchor.c'), 'w') as out:
        out.write('int anchor;\n')
    return rng


def write(root, relative, data):
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as out:
        out.write(data if isinstance(data, bytes) else data.encode())


def build_hostile_tree(root):
    """Ignore files that once went wrong or took exponential time: a CR ending the last
    line without a LF, "**" right behind a literal prefix (git matches the part after
    the prefix on its own, so there it spans directories), patterns of any length, and
    nested "**/a/" against a deep chain of a/ directories."""
    for index, path in enumerate(['cr/kept.c', 'cr/gone.c', 'cr/sub/gone.c', 'cr/last.c',
                                  'pre/x/y.c', 'pre/xa/y.c', 'pre/xa/b/y.c', 'pre/ax/y.c', 'pre/d/qa/r/s.c',
                                  'pre/d/q.c', 'pre/d/aq/t.c', 'pre/z/ab.c', 'pre/z/a/b.c',
                                  'long/a.c', 'long/b.h', 'long/keep.py', 'long/in/deep.c', 'long/in/other.c']):
        write(root, path, '// %s\nint v%d;\n' % (path, index))
    write(root, 'cr/.gitignore', 'gone.c\r\nlast.c\r')
    write(root, 'pre/.gitignore', 'x**/y.c\nd/q**\nz/a**b.c\n')
    write(root, 'long/.gitignore', '*' * 5000 + '.h\n' + '**/' * 1400 + 'deep.c\n' + 'a' * 4100 + '.c\n'
          + '!' + '?' * 4097 + '*\n' + '[' + 'a' * 4096 + ']*.py\n')
    lines = []
    rng = random.Random(7)
    for _ in range(60):
        lines.append('**/a/' * rng.randint(4, 7) + rng.choice(['b.c', '*.py', 'c*', 'z.c', '**/e.c']))
    write(root, 'chain/.gitignore', '\n'.join(lines) + '\n')
    chain = 'chain'
    for depth in range(14):
        chain = os.path.join(chain, 'a')
        for name in ['b.c', 'x.py', 'c.c', 'd.c', 'z.c', 'e.c']:
            write(root, os.path.join(chain, name), '// %s\nint v;\n' % os.path.join(chain, name))
    write(root, 'zz_anchor.c', 'int anchor;\n')


def git_environment(home):
    environment = dict(os.environ)
    environment.update(HOME=home, XDG_CONFIG_HOME=home, GIT_CONFIG_NOSYSTEM='1', LC_ALL='C')
    return environment


def git_files(root, home, rng=None):
    environment = git_environment(home)
    subprocess.run(['git', 'init', '-q', root], check=True, env=environment)
    if rng is not None and rng.random() < 0.5:
        with open(os.path.join(root, '.git', 'info', 'exclude'), 'a') as out:
            out.write(ignore_text(rng, rng.randint(1, 3)) + '\n')
    output = subprocess.run(['git', '-c', 'core.quotepath=off', 'add', '-A', '--dry-run'], cwd=root,
                            check=True, env=environment, capture_output=True, text=True).stdout
    files = set()
    for line in output.splitlines():
        if not line.startswith("add '") or not line.endswith("'"):
            raise SystemExit('unexpected git output: %r' % line)
        path = line[5:-1]
        if is_source(path):
            files.add(path)
    return files


def quillmet_files(tool, root):
    result = subprocess.run([tool, '-gi', '-f', '-json', 'stdout', '.'], cwd=root, capture_output=True)
    if result.returncode != 0:
        raise SystemExit('quillmet failed: %r' % result.stderr)
    report = json.loads(result.stdout.decode('utf-8'))
    return {row['path'] for row in report['files']}


def describe(root):
    lines = []
    for directory, subdirectories, files in sorted(os.walk(root)):
        subdirectories[:] = sorted(d for d in subdirectories if d != '.git')
        for name in sorted(files):
            path = os.path.relpath(os.path.join(directory, name), root)
            lines.append('  ' + path)
            if name == '.gitignore':
                with open(os.path.join(directory, name), 'rb') as source:
                    text = repr(source.read())
                    lines.append('    ' + (text if len(text) <= 400 else text[:400] + '... (%d)' % len(text)))
    exclude = os.path.join(root, '.git', 'info', 'exclude')
    if os.path.exists(exclude):
        with open(exclude, 'rb') as source:
            lines.append('  .git/info/exclude: ' + repr(source.read()))
    return '\n'.join(lines)


def compare(tool, root, home, label, rng=None):
    expected = git_files(root, home, rng)
    counted = quillmet_files(tool, root)
    if expected == counted:
        return True
    print('MISMATCH in %s' % label)
    print(describe(root))
    for path in sorted(expected - counted):
        print('  git adds, quillmet skips: %s' % path)
    for path in sorted(counted - expected):
        print('  quillmet counts, git ignores: %s' % path)
    return False


def seed_range(text):
    first, _, last = text.partition('-')
    return range(int(first), int(last or first) + 1)


def copy_tree(source, target):
    """The tree's directories and regular files (not .git, not links), each file
    holding one unique line in place of its content: which files are counted then
    depends on the ignore rules alone, never on emptiness, duplicates or encodings."""
    written = []
    for directory, subdirectories, files in os.walk(source):
        subdirectories[:] = [d for d in subdirectories
                             if d != '.git' and not os.path.islink(os.path.join(directory, d))]
        relative = os.path.relpath(directory, source)
        os.makedirs(os.path.join(target, relative), exist_ok=True)
        for name in files:
            if name == '.git' or os.path.islink(os.path.join(directory, name)) or not os.path.isfile(os.path.join(directory, name)):
                continue
            path = os.path.normpath(os.path.join(relative, name))
            if name in ('.gitignore', '.ignore'):
                shutil.copyfile(os.path.join(directory, name), os.path.join(target, path))
                continue
            with open(os.path.join(target, path), 'w', encoding='utf-8', errors='surrogateescape') as out:
                out.write('x = %d\n' % len(written))
            written.append(path)
    with open(os.path.join(target, 'zz_anchor.c'), 'w') as out:
        out.write('int anchor;\n')


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--tool', required=True)
    parser.add_argument('--seeds', type=seed_range)
    parser.add_argument('--tree', action='append', default=[])
    parser.add_argument('--hostile', action='store_true', help='also the ignore files that once went wrong')
    options = parser.parse_args()
    tool = os.path.abspath(options.tool)
    failures = 0
    checked = 0
    with tempfile.TemporaryDirectory(prefix='qm_gitignore_') as work:
        home = os.path.join(work, 'home')
        os.mkdir(home)
        for seed in options.seeds or []:
            root = os.path.join(work, 'seed%d' % seed)
            os.mkdir(root)
            rng = build_tree(root, seed)
            failures += not compare(tool, root, home, 'seed %d' % seed, rng)
            checked += 1
        if options.hostile:
            root = os.path.join(work, 'hostile')
            os.mkdir(root)
            build_hostile_tree(root)
            failures += not compare(tool, root, home, 'hostile ignore files')
            checked += 1
        for index, tree in enumerate(options.tree):
            root = os.path.join(work, 'tree%d' % index)
            copy_tree(tree, root)
            failures += not compare(tool, root, home, tree)
            checked += 1
    print('%d of %d trees match git' % (checked - failures, checked))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
