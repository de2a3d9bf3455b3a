#!/usr/bin/env python3
"""Linker scripts that let the executable's link drop functions nothing calls.

The PE linker's default script keeps every .eh_frame input section, and an object's
.eh_frame refers to each function of that object, so --gc-sections keeps every function
of every object it links at all. Two links fix that:

  probe-script LD OUT           the default script with .eh_frame no longer a root (the
                                personality pointers the frames name are kept instead);
                                a probe link with it finds what is really reachable.
  discard-script LD MAP OUT
                                the default script with the code sections the probe link
                                dropped discarded first. Only sections whose name nothing
                                in the probe kept are listed, so a function of the same
                                name in another object is never taken away.

The frame sections of their own that inline and template functions carry go with them; a
frame left behind in an object's shared .eh_frame for a discarded function has a zero
start, which the unwinder skips.
LD is the linker program, whose default script both start from. Each command fails when
that script lacks what it edits, so a new linker is noticed.
"""
import re
import subprocess
import sys

EH_FRAME_ROOT = "KEEP(*(.eh_frame*))"
DATA_RULE = "*(.data)"
# The data sections through which frames name their personality routine.
PERSONALITY_POINTERS = "KEEP(*(.data$LDFCM*))"
SECTION_LINE = re.compile(r"^ (\.\S+)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*))?$")
CONTINUATION = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
CODE_SECTION = re.compile(r"^\.text[$.]\S+$")


def read(path):
    with open(path, encoding="utf-8", errors="replace") as handle:
        return handle.read()


def default_script(linker):
    """The script between the two rules of "=" that `ld --verbose` prints."""
    output = subprocess.run([linker, "--verbose"], check=True, capture_output=True, text=True).stdout
    parts = re.split(r"^=+\n", output, flags=re.MULTILINE)
    if len(parts) != 3:
        sys.exit("dead_code.py: %s --verbose printed no default linker script" % linker)
    return parts[1]


def write(path, text):
    with open(path, "w", encoding="utf-8") as handle:
        handle.write(text)


def replace_once(text, old, new):
    if text.count(old) != 1:
        sys.exit("dead_code.py: the default linker script has %d of %r, expected 1" % (text.count(old), old))
    return text.replace(old, new)


def probe_script(default):
    script = replace_once(default, EH_FRAME_ROOT, "*(.eh_frame*)")
    return replace_once(script, DATA_RULE, PERSONALITY_POINTERS + "\n    " + DATA_RULE)


def map_sections(map_text):
    """Yields (region, section name, size) for every input section the map lists;
    region is "discarded" or "kept"."""
    region = None
    pending = None
    for line in map_text.splitlines():
        if line.startswith("Discarded input sections"):
            region = "discarded"
            continue
        if line.startswith("Memory Configuration"):
            region = None
            continue
        if line.startswith("Linker script and memory map"):
            region = "kept"
            continue
        if region is None:
            continue
        match = SECTION_LINE.match(line)
        if match and match.group(2) is None:
            pending = match.group(1)  # a long name; address, size and file follow below
            continue
        if match:
            name, size = match.group(1), int(match.group(3), 16)
        else:
            rest = CONTINUATION.match(line)
            if not (rest and pending):
                pending = None
                continue
            name, size = pending, int(rest.group(2), 16)
        pending = None
        yield region, name, size


def dead_code_sections(map_text):
    kept, discarded = set(), set()
    for region, name, size in map_sections(map_text):
        if not CODE_SECTION.match(name):
            continue
        if region == "kept":
            kept.add(name)
        elif region == "discarded":
            discarded.add(name)
    if not kept:
        sys.exit("dead_code.py: the probe map lists no kept code; is it a link map?")
    return sorted(discarded - kept)


def with_own_frames(code_sections):
    """The code sections and the frame sections of their own that inline and template
    functions carry (".eh_frame$NAME", a whole frame for ".text$NAME")."""
    sections = []
    for name in code_sections:
        sections.append(name)
        if name.startswith(".text$"):
            sections.append(".eh_frame$" + name[len(".text$"):])
    return sections


def discard_script(default, map_text):
    names = with_own_frames(dead_code_sections(map_text))
    block = "  /DISCARD/ :\n  {\n" + "".join("    *(%s)\n" % name for name in names) + "  }\n"
    return replace_once(default, "SECTIONS\n{\n", "SECTIONS\n{\n" + block)


def main(argv):
    if len(argv) == 4 and argv[1] == "probe-script":
        write(argv[3], probe_script(default_script(argv[2])))
    elif len(argv) == 5 and argv[1] == "discard-script":
        write(argv[4], discard_script(default_script(argv[2]), read(argv[3])))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
