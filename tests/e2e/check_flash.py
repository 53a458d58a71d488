#!/usr/bin/env python3
"""Checks a simulator flash dump against the images of a published release.

    check_flash.py FLASH_DUMP RELEASE_DIR NAME...

For each named record of RELEASE_DIR/manifest.txt, the flash must hold its
firmware from its first block on, the rest of its last page 0xFF (the padding
of the package). Prints one line per image; exits 1 on any difference.
"""
import sys

PAGE = 256
BLOCK = 4096


def records(release):
    found = {}
    with open(f"{release}/manifest.txt", encoding="utf-8-sig") as manifest:
        for line in manifest:
            words = line.split()
            if len(words) >= 4 and words[0] == "image":
                found[words[1]] = (int(words[2]), words[3])
    return found


def main():
    dump, release, names = sys.argv[1], sys.argv[2], sys.argv[3:]
    flash = open(dump, "rb").read()
    known = records(release)
    ok = True
    for name in names:
        first, firmware = known[name]
        data = open(f"{release}/{firmware}", "rb").read()
        padded = data + b"\xff" * (-len(data) % PAGE)
        start = first * BLOCK
        held = flash[start : start + len(padded)]
        if held == padded:
            print(f"{name}: {len(data)} bytes at block {first}: same")
        else:
            at = next(i for i in range(len(padded)) if i >= len(held) or held[i] != padded[i])
            print(f"{name}: differs at flash offset {start + at}")
            ok = False
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
