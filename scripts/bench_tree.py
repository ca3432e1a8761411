#!/usr/bin/env python3
"""Times whole runs of quillmet on a large real tree, against the md5sum floor.

The floor is md5sum over exactly the files a default run reads (known extensions,
no symbolic links, nothing under .git): every byte read and hashed once, the least
work a default run must do. Runs are repeated with the page cache warm; the median,
the spread (min..max), files per second, MB per second and the peak resident memory
of each command are reported.

Usage: scripts/bench_tree.py [--tree DIR] [--runs N] [--binary PATH] [-- extra quillmet args]
Without --tree it uses the Linux source unpacked into ~/.cache/quillmet-bench
(from Debian's linux-source-6.1 package), falling back to /usr/include.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tarfile
import time

EXTENSIONS = {".d", ".cpp", ".cc", ".cxx", ".c++", ".c", ".mm", ".m", ".h", ".hpp", ".hxx", ".h++",
              ".hh", ".inl", ".ipp", ".cs", ".java", ".js", ".ts", ".lua", ".py", ".pas", ".dpr",
              ".php", ".go", ".rs"}
CACHE = os.path.expanduser("~/.cache/quillmet-bench")


def linux_tree():
    tree = os.path.join(CACHE, "linux-source-6.1")
    if os.path.isdir(tree):
        return tree
    archives = [os.path.join("/usr/src", name) for name in os.listdir("/usr/src")
                if name.startswith("linux-source-6.1") and name.endswith((".tar.xz", ".tar.bz2", ".tar.gz"))] \
        if os.path.isdir("/usr/src") else []
    if not archives:
        return None
    os.makedirs(CACHE, exist_ok=True)
    print(f"unpacking {archives[0]} into {CACHE} (once)", file=sys.stderr)
    with tarfile.open(archives[0]) as archive:
        archive.extractall(CACHE)
    return tree if os.path.isdir(tree) else None


def counted_files(tree):
    files, size = [], 0
    for root, dirs, names in os.walk(tree):
        dirs[:] = [d for d in dirs if d != ".git" and not os.path.islink(os.path.join(root, d))]
        for name in names:
            path = os.path.join(root, name)
            dot = name.rfind(".")
            if dot < 0 or name[dot:].lower() not in EXTENSIONS or os.path.islink(path):
                continue
            if os.path.isfile(path):
                files.append(path)
                size += os.path.getsize(path)
    return files, size


def timed(command, stdin_path=None):
    start = time.perf_counter()
    with open(stdin_path or os.devnull, "rb") as stdin:
        child = subprocess.Popen(command, stdin=stdin, stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
    elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit(f"{command[0]} failed with status {status}")
    return elapsed, usage.ru_maxrss / 1024.0


def measure(label, command, runs, files, size, stdin_path=None):
    timed(command, stdin_path)  # warm the page cache
    results = [timed(command, stdin_path) for _ in range(runs)]
    times = sorted(t for t, _ in results)
    median = statistics.median(times)
    peak = max(m for _, m in results)
    print(f"{label:10s} median {median:7.3f} s  spread {times[0]:.3f}..{times[-1]:.3f} s  "
          f"{len(files) / median:9.0f} files/s  {size / median / 1e6:7.1f} MB/s  peak {peak:6.1f} MiB")
    return median


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tree")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--binary", default=os.path.join(os.path.dirname(__file__), "..", "build",
                                                         "release", "quillmet"))
    parser.add_argument("extra", nargs="*")
    args = parser.parse_args()
    tree = args.tree or linux_tree() or "/usr/include"
    files, size = counted_files(tree)
    print(f"tree {tree}: {len(files)} files of known types, {size / 1e6:.1f} MB")
    listing = os.path.join(CACHE, "files.list")
    os.makedirs(CACHE, exist_ok=True)
    with open(listing, "wb") as out:
        out.write(b"\0".join(os.fsencode(f) for f in files) + b"\0")
    floor = measure("md5sum", ["xargs", "-0", "md5sum"], args.runs, files, size, stdin_path=listing)
    ours = measure("quillmet", [args.binary, *args.extra, tree], args.runs, files, size)
    print(f"quillmet / md5sum floor: {ours / floor:.2f}")


if __name__ == "__main__":
    main()
