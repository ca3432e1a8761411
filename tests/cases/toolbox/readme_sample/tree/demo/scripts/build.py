"""Builds the word counter with the system's C compiler."""
import subprocess
import sys


def build(output="wc"):
    # One translation unit: no build system needed.
    command = ["cc", "-O2", "-o", output, "src/main.c"]
    return subprocess.call(command)


if __name__ == "__main__":
    sys.exit(build(*sys.argv[1:]))
