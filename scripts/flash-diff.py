#!/usr/bin/env python3
"""Whether two flash files hold the same bytes, looking only where either has
data (both are sparse, and a hole reads as zeros in each).

  flash-diff.py [--skip N] FIRST SECOND   prints "same", or where they first differ
  flash-diff.py [--skip N]                the same for each line "FIRST<tab>SECOND" of its input

--skip N: the file's first N bytes are a header, not flash (the address shown
is the offset less N)."""
import os
import sys


def extents(path):
    with open(path, "rb") as f:
        fd, end, at, found = f.fileno(), os.fstat(f.fileno()).st_size, 0, []
        while at < end:
            try:
                start = os.lseek(fd, at, os.SEEK_DATA)
            except OSError:
                break
            at = os.lseek(fd, start, os.SEEK_HOLE)
            found.append((start, at))
    return found


def difference(first, second, skip):
    with open(first, "rb") as a, open(second, "rb") as b:
        for start, end in sorted(extents(first) + extents(second)):
            for offset in range(start, end, 1 << 20):
                size = min(1 << 20, end - offset)
                a.seek(offset), b.seek(offset)
                x, y = a.read(size), b.read(size)
                # A shorter file reads as zeros past its end, as a hole does.
                x, y = x.ljust(size, b"\0"), y.ljust(size, b"\0")
                if x != y:
                    at = offset + next(i for i in range(size) if x[i] != y[i]) - skip
                    return f"the flash differs first at 0x{at:x}"
    return "same"


def main(arguments):
    skip = 0
    if arguments[:1] == ["--skip"]:
        skip, arguments = int(arguments[1]), arguments[2:]
    if len(arguments) == 2:
        print(difference(*arguments, skip))
        return 0
    for line in sys.stdin:
        print(difference(*line.rstrip("\n").split("\t"), skip), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
