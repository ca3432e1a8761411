#!/usr/bin/env python3
"""Holds -git=REV to a clean checkout of REV: for each revision, the tool's -f JSON of
the repository read at REV equals its -f JSON of the same tree checked out into a
temporary directory (git archive | tar), and the repository is unchanged afterwards
(git status and the files under .git are the same before and after).

    compare_with_checkout.py --tool PATH --repo DIR [--revisions R1,R2,...] [-- OPTIONS]

Without --revisions: the oldest tag, two tags between, the newest tag and HEAD.
Extra options (-al, -g, -sa, ...) are given to both runs.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile


def git(repo, *args):
    # No optional locks: reading must not refresh the index, or the check itself would
    # change the repository.
    return subprocess.run(['git', '--no-optional-locks', '-C', repo] + list(args), capture_output=True,
                          check=True).stdout


def state(repo):
    """What must not change: the work tree's status and every file under .git."""
    files = []
    git_dir = os.path.join(repo, git(repo, 'rev-parse', '--git-dir').decode().strip())
    for root, _, names in os.walk(git_dir):
        for name in names:
            path = os.path.join(root, name)
            stat = os.lstat(path)
            files.append((os.path.relpath(path, git_dir), stat.st_size, stat.st_mtime_ns))
    return git(repo, 'status', '--porcelain', '--ignored'), sorted(files)


def default_revisions(repo):
    tags = git(repo, 'tag', '--sort=creatordate').decode().split()
    picks = [tags[0], tags[len(tags) // 3], tags[2 * len(tags) // 3], tags[-1]] if tags else []
    return picks + ['HEAD']


def report(tool, options, target):
    result = subprocess.run([tool, '-f', '-json', 'stdout'] + options + [target], capture_output=True)
    return json.loads(result.stdout), result.stderr


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--tool', required=True)
    parser.add_argument('--repo', required=True)
    parser.add_argument('--revisions')
    parser.add_argument('options', nargs='*')
    args = parser.parse_args()
    repo = os.path.realpath(args.repo)
    revisions = args.revisions.split(',') if args.revisions else default_revisions(repo)
    before = state(repo)
    failures = 0
    for revision in revisions:
        with tempfile.TemporaryDirectory(prefix='qm_checkout_') as scratch:
            archive = git(repo, 'archive', '--format=tar', revision)
            subprocess.run(['tar', '-x', '-C', scratch], input=archive, check=True)
            from_checkout, _ = report(args.tool, args.options, scratch)
            from_revision, errors = report(args.tool, ['-git=' + revision] + args.options, repo)
        same = from_checkout == from_revision
        files = len(from_revision.get('files', []))
        print('%-12s %6d files  %s' % (revision, files, 'same' if same else 'DIFFERENT'))
        if not same:
            failures += 1
            old = {f['path']: f for f in from_checkout.get('files', [])}
            new = {f['path']: f for f in from_revision.get('files', [])}
            for path in sorted(set(old) | set(new)):
                if old.get(path) != new.get(path):
                    print('   ', path, old.get(path), new.get(path))
            if from_checkout.get('total') != from_revision.get('total'):
                print('    totals', from_checkout.get('total'), from_revision.get('total'))
            if errors:
                print('    ' + errors.decode(errors='replace')[:500])
    if state(repo) != before:
        print('the repository changed')
        failures += 1
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
