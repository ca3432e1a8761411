#!/usr/bin/env python3
"""Makes README's picture of the HTML page: counts a real tree with -html and
photographs the top of the page in headless Chromium (scripts/headless_chromium.py).

    scripts/make_page_screenshot.py --bundle lua.bundle [--tool build/release/quillmet]
                                    [--output docs/html_page.png]

--bundle clones a git bundle (README's picture: Lua's repository) into a temporary
directory named after it; --tree DIR counts a directory instead. The page's date is the
last commit's (SOURCE_DATE_EPOCH), so the same bundle gives the same page. The picture
is the page's top 1130 CSS pixels at 1280 wide, shrunk to three quarters (960 x 848).
"""
import argparse
import os
import subprocess
import sys
import tempfile

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(SOURCE, 'scripts'))
from headless_chromium import Browser  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    source = parser.add_mutually_exclusive_group(required=True)
    source.add_argument('--bundle', help='a git bundle to clone and count')
    source.add_argument('--tree', help='a directory to count')
    parser.add_argument('--tool', default=os.path.join(SOURCE, 'build', 'release', 'quillmet'))
    parser.add_argument('--output', default=os.path.join(SOURCE, 'docs', 'html_page.png'))
    parser.add_argument('--height', type=int, default=1130, help='CSS pixels of the page to show')
    parser.add_argument('--scale', type=float, default=0.75)
    options = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix='qm_screenshot_') as directory:
        environment = dict(os.environ)
        if options.bundle:
            name = os.path.splitext(os.path.basename(options.bundle))[0]
            subprocess.run(['git', 'clone', '--quiet', os.path.abspath(options.bundle), name], cwd=directory,
                           check=True)
            tree = os.path.join(directory, name)
            environment['SOURCE_DATE_EPOCH'] = subprocess.run(['git', 'log', '-1', '--format=%ct'], cwd=tree,
                                                              capture_output=True, text=True,
                                                              check=True).stdout.strip()
            where, argument = directory, name
        else:
            where, argument = os.path.dirname(os.path.abspath(options.tree)), os.path.basename(
                os.path.abspath(options.tree))
        # Named relative to where the tool runs, as the page shows its options.
        page = os.path.join(directory, argument + '.html')
        page_argument = os.path.relpath(page, where) if where == directory else page
        subprocess.run([os.path.abspath(options.tool), '-html', page_argument, argument], cwd=where,
                       env=environment, check=True)
        with Browser() as browser:
            png = browser.open('file://' + page, 1280, 800).screenshot(height=options.height, scale=options.scale)
    os.makedirs(os.path.dirname(os.path.abspath(options.output)), exist_ok=True)
    with open(options.output, 'wb') as out:
        out.write(png)
    print('%s: %d bytes' % (options.output, len(png)))


if __name__ == '__main__':
    main()
