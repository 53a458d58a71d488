#!/usr/bin/env python3
"""Makes the firmware files a test or demo release names, so that no binary
is kept in the repository.

    make_firmware.py FIRMWARE_LIST TARGET_DIR

FIRMWARE_LIST holds one "path size" pair a line ("#" comments). Each file
gets `size` bytes from a generator seeded with its path: the same bytes on
every machine and every run.
"""
import os
import random
import sys


def main():
    listing, target = sys.argv[1], sys.argv[2]
    with open(listing, encoding="utf-8") as lines:
        for line in lines:
            line = line.split("#", 1)[0].split()
            if not line:
                continue
            path, size = line[0], int(line[1])
            out = os.path.join(target, path)
            os.makedirs(os.path.dirname(out) or ".", exist_ok=True)
            generator = random.Random(path)
            with open(out, "wb") as f:
                f.write(generator.randbytes(size))


if __name__ == "__main__":
    main()
