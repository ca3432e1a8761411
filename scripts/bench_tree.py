#!/usr/bin/env python3
"""Times whole runs of quillmet on a large real tree, against the md5sum floor.

The floor is md5sum over exactly the files a default run reads (known extensions,
no symbolic links, nothing under .git): every byte read and hashed once, what a
plain duplicate check over the same files costs. Runs are repeated with the page
cache warm, the commands taking turns so that a change in the machine's load hits
each of them alike. For each command it reports the median wall time and its spread
(min..max), the median CPU time (user + system, steadier than wall time on a busy
machine), files per second, MB per second and the peak resident memory of the
largest run.

Peak memory is taken by GNU time (/usr/bin/time) when it is installed: a child
forked by this script inherits the script's own high-water mark, so without GNU time
the peak shown is only an upper bound (marked "<=").

Usage: scripts/bench_tree.py [--tree DIR] [--runs N] [--binary PATH] [--compare PATH]
                             [--compare-args ARGS] [--jobs LIST] [--archive [gz|xz|bz2|zst]] [--own-group]
                             [-- extra quillmet args]
Without --tree it uses the Linux source unpacked into ~/.cache/quillmet-bench
(from Debian's linux-source-6.1 package), falling back to /usr/include. --compare
times a second quillmet binary in the same session (before/after a change);
--compare-args "-html /tmp/page.html" times the same binary with these arguments
added (a report format against the table); either prints the median and range of
the per-turn ratios of wall and CPU time to the first quillmet run. --jobs 1,2,0
times one quillmet run per thread count (0: the default, one per CPU). --archive
counts a .tar.gz of the tree instead (made once beside it, read with -sa); its floor is
md5sum of the archive. --archive xz, bz2 or zst counts a .tar.xz, .tar.bz2 or .tar.zst
(for the Linux tree /usr/src/linux-source-6.1.tar.xz itself, and the others made once
from its tar), against the floor of decoding it alone: xz -dc, bzip2 -dc or zstd -dc
to /dev/null.

On a shared machine the kernel's automatic scheduling groups give every login session
one share of the processors, however many threads its processes run, so a run that
counts on one core while it decodes on the other gets no more processor time than a
one-thread floor and shows only its CPU ratio. --own-group starts every run in a
session (and group) of its own whose weight is raised as `nice -10` would (needs
root), so that each run gets the cores an idle machine would give it.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tarfile
import tempfile
import time

EXTENSIONS = {".d", ".cpp", ".cc", ".cxx", ".c++", ".c", ".mm", ".m", ".h", ".hpp", ".hxx", ".h++",
              ".hh", ".inl", ".ipp", ".cs", ".java", ".js", ".ts", ".lua", ".py", ".pas", ".dpr",
              ".php", ".go", ".rs"}
CACHE = os.path.expanduser("~/.cache/quillmet-bench")
GNU_TIME = "/usr/bin/time"


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


def compressed_tar(tree, kind):
    """The tree as a .tar.<kind>, made once beside it (the Linux .tar.xz is Debian's own)."""
    tree = tree.rstrip("/")
    shipped = os.path.join("/usr/src", os.path.basename(tree) + ".tar.xz")
    if kind == "xz" and os.path.exists(shipped):
        return shipped
    target = tree + ".tar." + kind
    if os.path.exists(target):
        return target
    print(f"making {target} (once)", file=sys.stderr)
    compressor = {"gz": "gzip", "xz": "xz -T0", "bz2": "bzip2", "zst": "zstd -q -T0"}[kind]
    source = (f"xz -dc {shipped}" if os.path.exists(shipped)
              else f"tar cf - -C {os.path.dirname(tree)} {os.path.basename(tree)}")
    subprocess.run(f"{source} | {compressor} > {target}.part", shell=True, check=True)
    os.rename(target + ".part", target)
    return target


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


def has_gnu_time():
    try:
        return subprocess.run([GNU_TIME, "-f", "%M", "true"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


class Command:
    def __init__(self, label, argv, stdin_path=None):
        self.label, self.argv, self.stdin_path = label, argv, stdin_path
        self.runs = []  # (wall s, cpu s, peak MiB)

    def run(self, use_gnu_time):
        with tempfile.NamedTemporaryFile("r", suffix=".time") as report, \
                open(self.stdin_path or os.devnull, "rb") as stdin:
            argv = [GNU_TIME, "-q", "-f", "%M", "-o", report.name, *self.argv] if use_gnu_time else self.argv
            start = time.perf_counter()
            child = subprocess.Popen(argv, stdin=stdin, stdout=subprocess.DEVNULL)
            _, status, usage = os.wait4(child.pid, 0)
            wall = time.perf_counter() - start
            if status != 0:
                sys.exit(f"{self.label} ({self.argv[0]}) failed with status {status}")
            peak = int(report.read().split()[-1]) / 1024.0 if use_gnu_time else usage.ru_maxrss / 1024.0
        # The CPU time of GNU time itself is negligible next to the command's.
        return wall, usage.ru_utime + usage.ru_stime, peak

    def report(self, files, size, use_gnu_time):
        walls = sorted(w for w, _, _ in self.runs)
        median = statistics.median(walls)
        cpu = statistics.median(c for _, c, _ in self.runs)
        peak = max(p for _, _, p in self.runs)
        bound = "" if use_gnu_time else "<="
        print(f"{self.label:10s} median {median:7.3f} s  spread {walls[0]:.3f}..{walls[-1]:.3f} s  "
              f"cpu {cpu:6.3f} s  {len(files) / median:7.0f} files/s  {size / median / 1e6:6.1f} MB/s  "
              f"peak {bound}{peak:.1f} MiB")
        return median, cpu


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tree")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--binary", default=os.path.join(os.path.dirname(__file__), "..", "build",
                                                         "release", "quillmet"))
    parser.add_argument("--compare", help="a second quillmet binary to time in the same session")
    parser.add_argument("--compare-args", help="arguments a second run of the same binary adds, timed in turn")
    parser.add_argument("--jobs", help="comma-separated thread counts to time (0: the default)")
    parser.add_argument("--archive", nargs="?", const="gz", choices=["gz", "xz", "bz2", "zst"],
                        help="count a compressed tar of the tree (default gz)")
    parser.add_argument("--own-group", action="store_true",
                        help="run each command in a scheduling group of its own, raised (root)")
    parser.add_argument("extra", nargs="*")
    args = parser.parse_args()
    tree = args.tree or linux_tree() or "/usr/include"
    files, size = counted_files(tree)
    print(f"tree {tree}: {len(files)} files of known types, {size / 1e6:.1f} MB")
    listing = os.path.join(CACHE, "files.list")
    os.makedirs(CACHE, exist_ok=True)
    with open(listing, "wb") as out:
        out.write(b"\0".join(os.fsencode(f) for f in files) + b"\0")
    use_gnu_time = has_gnu_time()
    if not use_gnu_time:
        print(f"{GNU_TIME} not found: peak memory is an upper bound", file=sys.stderr)

    target = tree
    commands = [Command("md5sum", ["xargs", "-0", "md5sum"], stdin_path=listing)]
    if args.archive:
        target = compressed_tar(tree, args.archive)
        print(f"archive {target}: {os.path.getsize(target) / 1e6:.1f} MB")
        decoder = {"gz": None, "xz": "xz", "bz2": "bzip2", "zst": "zstd"}[args.archive]
        commands = [Command("md5sum", ["md5sum", target]) if decoder is None
                    else Command(decoder + " -dc", [decoder, "-dc", target])]
        args.extra = ["-sa", *args.extra]
    if args.jobs:
        for jobs in args.jobs.split(","):
            option = [] if jobs.strip() == "0" else ["-j", jobs.strip()]
            label = "default" if not option else "-j " + jobs.strip()
            commands.append(Command(label, [args.binary, *option, *args.extra, target]))
    else:
        commands.append(Command("quillmet", [args.binary, *args.extra, target]))
    if args.compare:
        commands.append(Command("compared", [args.compare, *args.extra, target]))
    if args.compare_args:
        commands.append(Command("with args", [args.binary, *args.compare_args.split(), *args.extra, target]))
    if args.own_group:
        for command in commands:
            command.argv = ["setsid", "-w", "sh", "-c", 'echo -10 > /proc/self/autogroup && exec "$@"', "sh",
                            *command.argv]
    for command in commands:
        command.run(use_gnu_time)  # warms the page cache
    for _ in range(args.runs):
        for command in commands:
            command.runs.append(command.run(use_gnu_time))

    results = [command.report(files, size, use_gnu_time) for command in commands]
    floor = results[0]
    for command, (median, cpu) in zip(commands[1:], results[1:]):
        print(f"{command.label} / md5sum floor: {median / floor[0]:.2f} wall, {cpu / floor[1]:.2f} cpu")
    if args.compare or args.compare_args:
        # Runs taken in turn share the machine's load: their ratios are steadier than the medians'.
        base, other = commands[1], commands[-1]
        for index, kind in ((0, "wall"), (1, "cpu")):
            ratios = sorted(o[index] / b[index] for b, o in zip(base.runs, other.runs))
            print(f"{other.label} / {base.label} per turn, {kind}: median {statistics.median(ratios):.3f}, "
                  f"range {ratios[0]:.3f}..{ratios[-1]:.3f}")


if __name__ == "__main__":
    main()
