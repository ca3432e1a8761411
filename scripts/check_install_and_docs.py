#!/usr/bin/env python3
"""Installs a build into a temporary prefix and checks what a user gets there:
bin/quillmet, the man page (linted by mandoc and rendered by groff without a
warning), the bash and zsh completions (loaded by each shell without an error), and
that every option of the usage text, and every long option of the man page, is
documented in the man page and README and offered by both completions.

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
        with open(page, encoding='utf-8') as source:
            man_text = source.read().replace('\\-', '-').replace('\\e', '\\')
        with open(os.path.join(SOURCE, 'README.md'), encoding='utf-8') as source:
            readme = source.read()
        with open(bash_completion, encoding='utf-8') as source:
            bash_text = source.read()
        with open(zsh_completion, encoding='utf-8') as source:
            zsh_text = source.read().replace('\\?', '?')
        long_options = sorted(set(re.findall(r'(?<![\w-])--[a-z][a-z-]*=?', man_text)))
        documents = {'man page': man_text, 'README.md': readme, 'bash completion': bash_text,
                     'zsh completion': zsh_text}
        for option in options + long_options:
            for name, text in documents.items():
                if not mentions(text, option):
                    fail('%s is missing from the %s' % (option, name))
        print('%d options of the usage text and %d long options checked in %s' %
              (len(options), len(long_options), ', '.join(documents)))
    return 1 if FAILURES else 0


if __name__ == '__main__':
    sys.exit(main())
