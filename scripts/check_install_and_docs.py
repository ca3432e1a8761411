#!/usr/bin/env python3
"""Installs a build into a temporary prefix and checks what a user gets there:
bin/quillmet, the man page (linted by mandoc and rendered by groff without a
warning), the bash and zsh completions (loaded by each shell without an error), and
that they follow the tool's option table (app/option_table.cc): every spelling of
every option is in the usage text (when listed there), the man page, README and
both completions; bash completes what the table says after each option (a file, a
list of directories, nothing) and only names after "--"; zsh offers files or
directories exactly where the table does.

    scripts/check_install_and_docs.py build/debug

Needs cmake, mandoc, groff, bash and zsh (Debian: mandoc groff-base zsh).
"""
import os
import re
import subprocess
import sys
import tempfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FAILURES = []


def fail(message):
    FAILURES.append(message)
    print('FAIL: ' + message)


def run(command, **options):
    return subprocess.run(command, capture_output=True, text=True, **options)


def check_quiet(label, command, **options):
    result = run(command, **options)
    noise = (result.stdout + result.stderr).strip()
    if result.returncode != 0 or noise:
        fail('%s (status %d): %s' % (label, result.returncode, noise[:2000]))


def usage_options(usage):
    """Option words at the start of each option line: "-h, -? help" gives -h and -?;
    "-xd=dir,..." gives -xd= (a value after '=' is not part of the option)."""
    options = []
    for line in usage.splitlines():
        if not re.match(r'^ {7}-', line):
            continue
        for word in line.split():
            if not word.startswith('-'):
                break
            word = word.rstrip(',')
            options.append(word[:word.index('=') + 1] if '=' in word else word)
    return options


FORM_BITS = {'kShortAttached': 1, 'kLongAttached': 2, 'kShortSeparate': 4, 'kLongSeparate': 8, 'kShortGlued': 16,
             'kAttached': 3, 'kAttachedOrLong': 11, 'kAnyForm': 15}


def option_table():
    """(spellings, completion kind, is listed in usage) for every entry of the table;
    a spelling ends in '=' when the value is attached."""
    with open(os.path.join(SOURCE, 'app', 'option_table.cc'), encoding='utf-8') as source:
        text = source.read()
    entries = []
    pattern = (r'\{(nullptr|"[^"]*"),\s*(nullptr|"[^"]*"),\s*([^,]+),\s*ValueCompletion::(\w+),\s*'
               r'(nullptr|")')
    for short, long, forms, completion, usage in re.findall(pattern, text):
        bits = 0
        for name in forms.split('|'):
            name = name.strip()
            bits |= FORM_BITS[name] if name in FORM_BITS else int(name)
        spellings = []
        for word, attached, separate in ((short, 1, 4), (long, 2, 8)):
            if word == 'nullptr':
                continue
            word = word.strip('"')
            if bits == 0 or bits & separate:
                spellings.append(word)
            if bits & attached:
                spellings.append(word + '=')
        entries.append((spellings, completion, usage != 'nullptr'))
    return entries


def bash_completes(completion_file, words, directory):
    """What the bash completion offers for the command line words (the last one being
    completed), run in directory."""
    script = ('source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); '
              'COMP_LINE="${COMP_WORDS[*]}"; _quillmet; printf "%s\\n" "${COMPREPLY[@]}"')
    result = run(['bash', '--norc', '--noprofile', '-c', script, 'bash', completion_file, 'quillmet'] + words,
                 cwd=directory)
    return [line for line in result.stdout.splitlines() if line]


def check_bash_behaviour(completion_file, entries):
    with tempfile.TemporaryDirectory(prefix='qm_complete_') as directory:
        os.mkdir(os.path.join(directory, 'adir'))
        for name in ('afile.c', '-dash.c'):
            with open(os.path.join(directory, name), 'w'):
                pass
        everything = sorted(bash_completes(completion_file, ['-'], directory))
        for spellings, completion, _ in entries:
            for spelling in spellings:
                if spelling not in everything:
                    fail('bash does not offer %s after -' % spelling)
                if completion == 'kNone':
                    continue
                words = [spelling[:-1], '=', ''] if spelling.endswith('=') else [spelling, '']
                offered = sorted(bash_completes(completion_file, words, directory))
                expected = {'kFile': ['-dash.c', 'adir', 'afile.c'], 'kDirectories': ['adir'], 'kText': []}[completion]
                if offered != expected:
                    fail('bash after %r offers %r, not %r' % (' '.join(words), offered, expected))
        offered = bash_completes(completion_file, ['-xd', '=', 'x,y,a'], directory)
        if offered != ['x,y,adir']:
            fail('bash keeps the items before the last of a -xd list: %r' % offered)
        offered = bash_completes(completion_file, ['-f', '--', '-'], directory)
        if offered != ['-dash.c']:
            fail('bash offers %r after --, not only names' % offered)
        offered = bash_completes(completion_file, ['-csv', '--', '-'], directory)
        if '-dash.c' in offered or '-f' not in offered:
            fail('bash takes a value "--" of -csv for the end of the options: %r' % offered)


def check_zsh_actions(zsh_text, entries):
    """Each spelling's completion lines hold _files or _directories exactly where
    the table completes a file or directories."""
    lines = zsh_text.splitlines()
    for spellings, completion, _ in entries:
        for spelling in spellings:
            found = [line for line in lines if mentions(line, spelling)]
            if not found:
                continue  # reported as missing elsewhere
            has_files = any('_files' in line for line in found)
            has_directories = any('_directories' in line for line in found)
            if has_files != (completion == 'kFile') or has_directories != (completion == 'kDirectories'):
                fail('zsh completes %s wrongly for a value of kind %s' % (spelling, completion))


def check_readme_sample(readme):
    """README's sample report is the output of the end-to-end case that counts the sample
    tree, shown after the case's command, so it cannot go stale."""
    case = os.path.join(SOURCE, 'tests', 'cases', 'toolbox', 'readme_sample')
    with open(os.path.join(case, 'cmd'), encoding='utf-8') as source:
        command = source.read().strip()
    with open(os.path.join(case, 'stdout'), encoding='utf-8') as source:
        output = source.read()
    block = '    $ ' + command + '\n' + ''.join('    ' + line + '\n' for line in output.splitlines())
    if block not in readme:
        fail("README's sample report is not the output of tests/cases/toolbox/readme_sample:\n" + block)


def mentions(text, option):
    # A whole word: "-g" is not found inside "-gi"; "-xd=" may be followed by a value.
    tail = '' if option.endswith('=') else r'(?![\w-])'
    return re.search(r'(?<![\w-])' + re.escape(option) + tail, text) is not None


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    build = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix='qm_install_') as prefix:
        result = run(['cmake', '--install', build, '--prefix', prefix])
        if result.returncode != 0:
            raise SystemExit('cmake --install failed:\n' + result.stdout + result.stderr)
        tool = os.path.join(prefix, 'bin', 'quillmet')
        page = os.path.join(prefix, 'share', 'man', 'man1', 'quillmet.1')
        bash_completion = os.path.join(prefix, 'share', 'bash-completion', 'completions', 'quillmet')
        zsh_completion = os.path.join(prefix, 'share', 'zsh', 'site-functions', '_quillmet')
        for path in (tool, page, bash_completion, zsh_completion):
            if not os.path.isfile(path):
                fail('not installed: ' + os.path.relpath(path, prefix))
        if FAILURES:
            return 1

        check_quiet('mandoc -Tlint', ['mandoc', '-Tlint', '-W', 'warning', page])
        result = run(['groff', '-ww', '-man', '-Tutf8', page])
        if result.returncode != 0 or result.stderr.strip():
            fail('groff -ww: ' + result.stderr.strip())
        check_quiet('bash loads the completion',
                    ['bash', '--norc', '--noprofile', '-c', 'source "$1" && complete -p quillmet >/dev/null', 'bash',
                     bash_completion])
        zsh_script = ('fpath=("$1" $fpath); autoload -Uz compinit && compinit -u -d "$2" && '
                      'autoload +X _quillmet && [[ ${_comps[quillmet]} == _quillmet ]]')
        check_quiet('zsh loads the completion',
                    ['zsh', '-f', '-c', zsh_script, 'zsh', os.path.dirname(zsh_completion),
                     os.path.join(prefix, 'zcompdump')])

        usage = run([tool, '--help']).stdout
        options = usage_options(usage)
        if len(options) < 10:
            fail('found only %d options in the usage text: %r' % (len(options), options))
        entries = option_table()
        if len(entries) < 20:
            fail('found only %d entries in the option table' % len(entries))
        for spellings, _, is_listed in entries:
            if is_listed and not any(mentions(usage, spelling) for spelling in spellings):
                fail('none of %r is in the usage text' % spellings)
        table_spellings = [spelling for spellings, _, _ in entries for spelling in spellings if spelling != '--']
        with open(page, encoding='utf-8') as source:
            man_text = re.sub(r'\\f[RBIP]', '', source.read().replace('\\-', '-').replace('\\e', '\\'))
        with open(os.path.join(SOURCE, 'README.md'), encoding='utf-8') as source:
            readme = source.read()
        with open(bash_completion, encoding='utf-8') as source:
            bash_text = source.read()
        with open(zsh_completion, encoding='utf-8') as source:
            zsh_text = source.read().replace('\\?', '?')
        long_options = sorted(set(re.findall(r'(?<![\w-])--[a-z][a-z-]*=?', man_text)))
        documents = {'man page': man_text, 'README.md': readme, 'bash completion': bash_text,
                     'zsh completion': zsh_text}
        for option in sorted(set(options + long_options + table_spellings)):
            for name, text in documents.items():
                if not mentions(text, option):
                    fail('%s is missing from the %s' % (option, name))
        check_bash_behaviour(bash_completion, entries)
        check_readme_sample(readme)
        check_zsh_actions(zsh_text, entries)
        print('%d options of the usage text, %d of the option table and %d long options checked in %s' %
              (len(options), len(table_spellings), len(long_options), ', '.join(documents)))
    return 1 if FAILURES else 0


if __name__ == '__main__':
    sys.exit(main())
