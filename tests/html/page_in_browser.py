#!/usr/bin/env python3
"""The HTML page in a real browser: pages of a small tree (plain, greedy, and after
-diff) are opened in headless Chromium from a file URL with the network cut off, each
checked for: nothing reported by `tidy -errors -quiet`; no console error; no request
but the page itself; a 1280x800 screenshot that is not blank; the language rows and
the total read from the DOM equal to -json of the same run; sorting by a column that
sorts; and, with scripts off, the same rows. The page of a small repository's
--history is held to -json the same way: its points, and the languages of the newest;
so is the page of a compare (lua v5.3.0..v5.4.0 when its bundle is at hand, else two
small trees): its rows by language and change, and NEW's languages.

    tests/html/page_in_browser.py --tool build/debug/quillmet

Needs chromium and tidy (Debian: chromium tidy); drives Chromium through
scripts/headless_chromium.py.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                'scripts'))
from headless_chromium import Browser, png_pixels  # noqa: E402

FAILURES = []
SHARED_DATA = os.environ.get('QUILLMET_SHARED_DATA', '/work/shared/data')
READ_ROWS = '''[...document.querySelectorAll("#language-table tr[data-language]")].map(row => {
  const numbers = {};
  for (const key of ["files", "blank", "comment", "punctuation", "code"]) {
    if (key in row.dataset) numbers[key] = Number(row.dataset[key]);
  }
  return [row.dataset.language, numbers];
})'''
READ_POINTS = '''[...document.querySelectorAll("#history-table tr[data-commit]")].map(row =>
  [row.dataset.commit, row.cells[0].textContent, Number(row.dataset.files), Number(row.dataset.code)])'''
READ_CHANGES = '''[...document.querySelectorAll("#compare-table tr[data-change]")].map(row => {
  const numbers = {};
  for (const key of ["files", "blank", "comment", "punctuation", "code"]) {
    if (key in row.dataset) numbers[key] = Number(row.dataset[key]);
  }
  return [row.dataset.language, row.dataset.change, numbers];
})'''
SORT_BY_CODE_TWICE = '''(() => {
  const head = document.querySelector("#language-table thead th[data-key=code]");
  head.click();
  head.click();
  return [head.getAttribute("aria-sort"),
          [...document.querySelectorAll("#language-table tbody tr")].map(row => Number(row.dataset.code))];
})()'''


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print('FAIL: ' + what)


def make_tree(root):
    files = {
        'src/main.c': '// entry\nint main(void) {\n  return 0;\n}\n\n',
        'src/util/strings.c': '/* strings */\nint n;\nint m;\n{\n}\n',
        'src/util/strings.h': '#pragma once\nint n;\n',
        'src/util/copy.h': '#pragma once\nint n;\n',
        'web/app.js': '// app\nconst a = 1;\nfunction f() {\n  return a;\n}\n',
        'tools/build.py': '"""Build."""\nimport os\n\nprint(os.name)\n',
        'empty.c': '',
    }
    for name, text in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'w') as out:
            out.write(text)
    # A name that tries to close the markup around it, with bytes that are not UTF-8.
    with open(os.path.join(root.encode(), b'web/<title><script>x("\xff")&amp;\x01.js'), 'w') as out:
        out.write('let b = 2;\n')
    with open(os.path.join(root, 'wide.c'), 'wb') as out:
        out.write('int w;\n'.encode('utf-16'))


def make_repository(root):
    environment = dict(os.environ, GIT_AUTHOR_NAME='q', GIT_AUTHOR_EMAIL='q@example.org', GIT_COMMITTER_NAME='q',
                       GIT_COMMITTER_EMAIL='q@example.org')
    subprocess.run(['git', 'init', '-q', '-b', 'main', root], check=True)
    for day, (name, text) in enumerate([('a.c', 'int a;\n'), ('b.py', 'x = 1\n# note\n'), ('a.c', 'int a;\n{\n}\n')]):
        with open(os.path.join(root, name), 'w') as out:
            out.write(text)
        environment['GIT_AUTHOR_DATE'] = environment['GIT_COMMITTER_DATE'] = '2021-0%d-01T12:00:00Z' % (day + 1)
        subprocess.run(['git', 'add', '-A'], cwd=root, check=True, env=environment)
        subprocess.run(['git', 'commit', '-qm', str(day)], cwd=root, check=True, env=environment)


def tool_document(tool, arguments):
    result = subprocess.run([tool, '-json', 'stdout'] + arguments, capture_output=True, check=True)
    return json.loads(result.stdout)


def tool_json(tool, arguments):
    document = tool_document(tool, arguments)
    if 'history' in document:
        document = document['history'][-1]
    if 'compare' in document:
        # The languages of NEW: its same, modified and added lines.
        def new_side(changes):
            return {key: sum(changes[change][key] for change in ('same', 'modified', 'added'))
                    for key in changes['same']}
        rows = [[language['name'], new_side(language)] for language in document['languages']]
        rows = [row for row in rows if sum(v for k, v in row[1].items() if k != 'files') > 0]
        return rows + [['Total', new_side(document['total'])]]
    rows = [[language['name'], {k: v for k, v in language.items() if k != 'name'}]
            for language in document['languages']]
    return rows + [['Total', document['total']]]


def tool_changes(tool, arguments):
    document = tool_document(tool, arguments)
    rows = []
    for language in document['languages'] + [dict(document['total'], name='Total')]:
        for change in ('same', 'modified', 'added', 'removed'):
            rows.append([language['name'], change, language[change]])
    return rows


def is_blank(png):
    width, height, rows = png_pixels(png)
    counts = {}
    for row in rows[::4]:
        for x in range(0, width * 4, 16):
            pixel = row[x:x + 4]
            counts[pixel] = counts.get(pixel, 0) + 1
    background = max(counts.values())
    return len(counts) < 16 or sum(counts.values()) - background < 0.02 * sum(counts.values())


def check_page(browser, tool, name, arguments, directory):
    page_file = os.path.join(directory, name + '.html')
    subprocess.run([tool, '-html', page_file] + arguments, check=True, cwd=directory)
    tidy = subprocess.run(['tidy', '-errors', '-quiet', page_file], capture_output=True, text=True)
    check(tidy.returncode in (0, 1) and not tidy.stderr.strip() and not tidy.stdout.strip(),
          '%s: tidy reports: %s' % (name, (tidy.stdout + tidy.stderr).strip()))
    url = 'file://' + page_file
    page = browser.open(url, 1280, 800)
    rows = page.evaluate(READ_ROWS)
    expected = tool_json(tool, arguments)
    check(rows == expected, '%s: the DOM holds %r, -json %r' % (name, rows, expected))
    check(not is_blank(page.screenshot()), '%s: the 1280x800 screenshot is blank' % name)
    state, order = page.evaluate(SORT_BY_CODE_TWICE)
    check(state == 'ascending' and order == sorted(order) and len(order) == len(expected) - 1,
          '%s: sorting by code twice gives %s %r' % (name, state, order))
    check(page.console_errors() == [], '%s: console errors %r' % (name, page.console_errors()))
    check(page.requests == [url], '%s: requests %r' % (name, page.requests))
    if any(argument.startswith('-git=') and '..' in argument or argument == '-cmp' for argument in arguments):
        changes = tool_changes(tool, arguments)
        check(page.evaluate(READ_CHANGES) == changes, '%s: the changes differ from -json %r' % (name, changes))
    if any(argument.startswith('--history') for argument in arguments):
        points = [[point['commit'], point['date'], point['total']['files'], point['total']['code']]
                  for point in tool_document(tool, arguments)['history']]
        check(page.evaluate(READ_POINTS) == points, '%s: the points differ from -json %r' % (name, points))
    quiet = browser.open(url, 1280, 800, scripts=False)
    check(quiet.evaluate(READ_ROWS) == expected, '%s: the rows differ with scripts off' % name)
    check(quiet.requests == [url], '%s: requests with scripts off %r' % (name, quiet.requests))
    print('%s: %d language rows as -json, %d bytes, %d requests' % (name, len(rows), os.path.getsize(page_file),
                                                                     len(page.requests)))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('--tool', required=True)
    options = parser.parse_args()
    tool = os.path.abspath(options.tool)
    with tempfile.TemporaryDirectory(prefix='qm_page_') as directory, Browser() as browser:
        tree = os.path.join(directory, 'tree')
        make_tree(tree)
        check_page(browser, tool, 'plain', [tree], directory)
        check_page(browser, tool, 'greedy', ['-g', tree], directory)
        subprocess.run([tool, '-csv', os.path.join(directory, 'saved.csv'), tree], check=True)
        os.remove(os.path.join(tree, 'tools/build.py'))
        with open(os.path.join(tree, 'src/main.c'), 'a') as out:
            out.write('int more;\n')
        check_page(browser, tool, 'diff', ['-diff', os.path.join(directory, 'saved.csv'), tree], directory)
        repository = os.path.join(directory, 'repository')
        make_repository(repository)
        check_page(browser, tool, 'history', ['--history=3', repository], directory)
        bundle = os.path.join(SHARED_DATA, 'lua.bundle')
        if os.path.exists(bundle):
            lua = os.path.join(directory, 'lua')
            subprocess.run(['git', 'clone', '--quiet', bundle, lua], check=True)
            check_page(browser, tool, 'compare', ['-git=v5.3.0..v5.4.0', lua], directory)
        else:
            check_page(browser, tool, 'compare', ['-cmp', repository, tree], directory)
    return 1 if FAILURES else 0


if __name__ == '__main__':
    sys.exit(main())
