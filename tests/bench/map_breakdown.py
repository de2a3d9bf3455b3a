#!/usr/bin/env python3
"""Sums the input sections a link map says were placed in the executable, by where they
came from: Poco, the C++ library, our own code, resources, the MinGW/GCC run time, the rest.
Prints "<bytes> <origin>" lines, largest first."""
import collections
import re
import sys


def origin(source):
    name = re.sub(r"\(.*\)$", "", source.strip()).split("/")[-1]
    if name.startswith("libPoco"):
        return "Poco " + name[len("lib"):-len(".a")] if name.endswith(".a") else "Poco"
    if "libstdc++" in name or "libsupc++" in name:
        return "libstdc++"
    if name.startswith("libnorlo_core") or name.endswith(".obj"):
        return "our code"
    # The link-time optimiser's output: our code and Poco, compiled together at the link.
    if ".ltrans" in name:
        return "our code and Poco (optimised together at the link)"
    if name.endswith(".res"):
        return "resources"
    if any(part in name for part in ("mingw", "msvcrt", "gcc", "pthread", "crt")):
        return "MinGW/GCC run time"
    return "import stubs and other"


def main(path):
    sizes = collections.Counter()
    pending = None
    for line in open(path, errors="replace"):
        line = line.rstrip("\n")
        match = re.match(r"^ (\.\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if not match:
            alone = re.match(r"^ (\.\S+)$", line)
            if alone:  # a long section name; its address and size follow on the next line
                pending = alone.group(1)
                continue
            rest = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
            if not (rest and pending):
                pending = None
                continue
            address, size, source = rest.groups()
        else:
            _, address, size, source = match.groups()
        pending = None
        if int(size, 16) and int(address, 16):
            sizes[origin(source)] += int(size, 16)
    for what, size in sizes.most_common():
        print(size, what)


if __name__ == "__main__":
    main(sys.argv[1])
