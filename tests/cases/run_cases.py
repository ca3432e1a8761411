#!/usr/bin/env python3
"""Runs end-to-end cases: each case is a folder holding a bash script `cmd` and the
expected `stdout`, `stderr` and `status` (a missing file means empty output, status 0).

The script runs in a new empty working directory, into which the case's `tree/` folder
(if any) is copied first, with `quillmet` on PATH and the case's `stdin` file (if any,
else /dev/null) as standard input. Setup commands in the script (printf, mkdir, tar, zip,
...) must be quiet: everything the script writes is compared. Before comparing, the
working directory's real path is replaced by @WORK@ in both outputs.

  run_cases.py --tool PATH [--update] DIR...

Each DIR is a case or a folder of cases (searched recursively). --update rewrites the
expected files from what the tool does now, for review with git diff. A case holding a
file `plain_build_only` (resource limits, peak memory) is skipped when QM_SANITIZED or
QM_TOOL_WRAPPER is set. When
QM_TOOL_WRAPPER is set (e.g. "/usr/bin/valgrind --error-exitcode=99"), the tool runs
through it.
"""
import argparse
import difflib
import os
import shutil
import subprocess
import sys
import tempfile

TIME_LIMIT = 120
WRAPPED_TIME_FACTOR = 20


def find_cases(paths):
    for path in paths:
        if os.path.isfile(os.path.join(path, "cmd")):
            yield path
            continue
        for root, dirs, files in os.walk(path):
            dirs.sort()
            if "cmd" in files:
                dirs[:] = []
                yield root


def read_expected(case, name, default=b""):
    path = os.path.join(case, name)
    if not os.path.exists(path):
        return default
    with open(path, "rb") as f:
        return f.read()


def write_expected(case, name, data, default=b""):
    path = os.path.join(case, name)
    if data == default:
        if os.path.exists(path):
            os.remove(path)
        return
    with open(path, "wb") as f:
        f.write(data)


def tool_dir(tool, scratch):
    """A folder holding `quillmet`: the tool itself, or a script that runs it through
    QM_TOOL_WRAPPER."""
    bin_dir = os.path.join(scratch, "bin")
    os.mkdir(bin_dir)
    link = os.path.join(bin_dir, "quillmet")
    wrapper = os.environ.get("QM_TOOL_WRAPPER", "").strip()
    if wrapper:
        with open(link, "w") as f:
            f.write(f'#!/bin/sh\nexec {wrapper} "{os.path.abspath(tool)}" "$@"\n')
        os.chmod(link, 0o755)
    else:
        os.symlink(os.path.abspath(tool), link)
    return bin_dir


def run_case(case, bin_dir, scratch):
    work = tempfile.mkdtemp(prefix="case-", dir=scratch)
    tree = os.path.join(case, "tree")
    if os.path.isdir(tree):
        shutil.copytree(tree, work, dirs_exist_ok=True, symlinks=True)
    # The tool first, then this interpreter's directory, so a case's python3 starts directly.
    path = os.pathsep.join([bin_dir, os.path.dirname(sys.executable), os.environ.get("PATH", "")])
    env = dict(os.environ, PATH=path,
               LC_ALL="C", TZ="UTC", CASE_DIR=os.path.abspath(case))
    env.pop("QM_TOOL_WRAPPER", None)
    limit = TIME_LIMIT * (WRAPPED_TIME_FACTOR if os.environ.get("QM_TOOL_WRAPPER") else 1)
    stdin_path = os.path.join(case, "stdin")
    with open(stdin_path if os.path.exists(stdin_path) else os.devnull, "rb") as stdin:
        try:
            done = subprocess.run(["bash", os.path.abspath(os.path.join(case, "cmd"))], cwd=work,
                                  env=env, stdin=stdin, capture_output=True, timeout=limit)
            out, err, status = done.stdout, done.stderr, done.returncode
        except subprocess.TimeoutExpired as expired:
            out, err, status = expired.stdout or b"", (expired.stderr or b"") + b"[timed out]\n", -9
    real = os.path.realpath(work).encode()
    out, err = out.replace(real, b"@WORK@"), err.replace(real, b"@WORK@")
    subprocess.run(["rm", "-rf", work])  # GNU rm takes trees deeper than Python's recursion
    return out, err, str(status).encode() + b"\n"


def show_difference(name, expected, actual):
    lines = difflib.unified_diff(
        expected.decode("utf-8", "backslashreplace").splitlines(keepends=True),
        actual.decode("utf-8", "backslashreplace").splitlines(keepends=True),
        "expected " + name, "actual " + name)
    sys.stdout.writelines(line if line.endswith("\n") else line + "\\ (no line break)\n" for line in lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--update", action="store_true")
    parser.add_argument("dirs", nargs="+")
    args = parser.parse_args()

    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="qm-cases-") as scratch:
        bin_dir = tool_dir(args.tool, scratch)
        for case in find_cases(args.dirs):
            if os.path.exists(os.path.join(case, "plain_build_only")) and (
                    os.environ.get("QM_SANITIZED") or os.environ.get("QM_TOOL_WRAPPER")):
                print(f"skipped {case}: it needs a build without sanitizer or wrapper")
                continue
            out, err, status = run_case(case, bin_dir, scratch)
            if args.update:
                write_expected(case, "stdout", out)
                write_expected(case, "stderr", err)
                write_expected(case, "status", status, b"0\n")
                continue
            expected = [("stdout", read_expected(case, "stdout"), out),
                        ("stderr", read_expected(case, "stderr"), err),
                        ("status", read_expected(case, "status", b"0\n"), status)]
            wrong = [(name, want, got) for name, want, got in expected if want != got]
            if wrong:
                failed += 1
                print(f"FAILED {case}")
                for name, want, got in wrong:
                    show_difference(name, want, got)
            else:
                passed += 1
    if not args.update:
        print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
