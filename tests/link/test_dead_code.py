"""Tests of the linker scripts that let the executable's link drop unreachable code.

Synthetic link maps exercise the reading of the probe link's map; the build tree's own
scripts and maps (NORLO_BUILD_DIR, set by CTest) check that what the shipped link
discarded was unreachable and that exceptions keep their personality routine.
"""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import dead_code  # noqa: E402
from unwind_frames import frame_starts, sections_of  # noqa: E402

DEFAULT = """OUTPUT_FORMAT(pei-i386)
SECTIONS
{
  .text BLOCK(__section_alignment__) :
  {
    *(.text)
    *(SORT(.text$*))
  }
  .data BLOCK(__section_alignment__) :
  {
    *(.data)
  }
  .eh_frame BLOCK(__section_alignment__) :
  {
    KEEP(*(.eh_frame*))
  }
}
"""

# A map in the linker's layout: a discarded and a kept region, short names with their
# address on the same line and long ones wrapped onto the next.
MAP = """Archive member included to satisfy reference by file (symbol)

Discarded input sections

 .text$_Z4deadv
                0x00000000       0x40 libcore.a(a.cpp.obj)
 .text$_Z3twov  0x00000000       0x10 libcore.a(b.cpp.obj)
 .text$_ZN4Poco9Formatter5fieldEv
                0x00000000      0x120 libPocoFoundation.a(Format.cpp.obj)
 .text.unlikely.cold
                0x00000000        0x8 libcore.a(a.cpp.obj)
 .rdata$_ZTS4Dead
                0x00000000        0x8 libcore.a(a.cpp.obj)

Memory Configuration

Name             Origin             Length             Attributes
*default*        0x00000000         0xffffffff

Linker script and memory map

 .text$_Z3twov  0x00401000       0x10 libcore.a(c.cpp.obj)
                0x00401000                two()
 .text.unlikely.cold
                0x00401010        0x0 libcore.a(c.cpp.obj)
 .text$_Z4livev
                0x00401020       0x30 libcore.a(a.cpp.obj)
"""


def discarded(script):
    block = re.search(r"/DISCARD/ :\n  \{\n(.*?)  \}", script, re.S)
    return re.findall(r"\*\((\S+)\)", block.group(1)) if block else []


class ProbeScript(unittest.TestCase):
    def test_unwind_tables_stop_being_a_root_and_personality_pointers_become_one(self):
        script = dead_code.probe_script(DEFAULT)
        self.assertNotIn("KEEP(*(.eh_frame*))", script)
        self.assertIn("    *(.eh_frame*)\n", script)
        self.assertIn("KEEP(*(.data$LDFCM*))\n    *(.data)", script)

    def test_a_script_without_the_unwind_root_is_refused(self):
        with self.assertRaises(SystemExit) as raised:
            dead_code.probe_script(DEFAULT.replace("KEEP(*(.eh_frame*))", "*(.eh_frame)"))
        self.assertIn("expected 1", str(raised.exception))


class DiscardScript(unittest.TestCase):
    def test_only_code_that_nothing_kept_by_name_is_discarded_with_its_own_frame(self):
        names = discarded(dead_code.discard_script(DEFAULT, MAP))
        self.assertEqual(
            names,
            [
                ".text$_Z4deadv",
                ".eh_frame$_Z4deadv",
                ".text$_ZN4Poco9Formatter5fieldEv",
                ".eh_frame$_ZN4Poco9Formatter5fieldEv",
            ],
        )

    def test_the_discards_come_first_so_they_win_over_the_keeping_rules(self):
        script = dead_code.discard_script(DEFAULT, MAP)
        self.assertTrue(script.startswith("OUTPUT_FORMAT(pei-i386)\nSECTIONS\n{\n  /DISCARD/ :\n"))
        self.assertIn("KEEP(*(.eh_frame*))", script)

    def test_a_map_without_kept_code_is_refused(self):
        with self.assertRaises(SystemExit) as raised:
            dead_code.discard_script(DEFAULT, MAP.split("Linker script and memory map")[0])
        self.assertIn("no kept code", str(raised.exception))


def _shipped_link_dir():
    build = os.environ.get("NORLO_BUILD_DIR")
    return os.path.join(build, "link") if build else None


@unittest.skipUnless(os.environ.get("NORLO_BUILD_DIR"), "needs the build tree (run through CTest)")
@unittest.skipUnless(_shipped_link_dir() and os.path.isdir(_shipped_link_dir()),
                     "the 64-bit test build links without the discard script")
class ShippedLink(unittest.TestCase):
    def setUp(self):
        build = os.environ["NORLO_BUILD_DIR"]
        with open(os.path.join(build, "link", "discard.ld"), encoding="utf-8") as handle:
            self.discards = set(discarded(handle.read()))
        with open(os.path.join(build, "bin", "Setup.map"), encoding="utf-8", errors="replace") as handle:
            self.map = handle.read()
        self.kept = {name for region, name, _ in dead_code.map_sections(self.map) if region == "kept"}

    def test_code_is_discarded_and_none_of_it_was_linked(self):
        self.assertGreater(len(self.discards), 1000)
        self.assertEqual(set(), self.discards & self.kept)

    def test_every_unwind_frame_starts_in_the_code_or_has_the_zero_start_the_unwinder_skips(self):
        with open(os.path.join(os.environ["NORLO_BUILD_DIR"], "bin", "Setup.exe"), "rb") as handle:
            sections = sections_of(handle.read())
        code_address, code = sections[".text"]
        frames_address, frames = sections[".eh_fram"]  # section names stop at eight bytes
        starts = frame_starts(frames)
        in_code = skipped = 0
        for raw, offset, encoding in starts:
            self.assertIn(encoding & 0x0F, (0x00, 0x0B), "a 4-byte start")
            if raw == 0:
                skipped += 1  # a discarded function's frame; the unwinder ignores a zero start
                continue
            start = (frames_address + offset + raw if encoding & 0x70 == 0x10 else raw) & 0xFFFFFFFF
            self.assertTrue(code_address <= start < code_address + len(code), hex(start))
            in_code += 1
        self.assertGreater(in_code, 1000)
        self.assertGreater(skipped, 0)

    def test_exceptions_keep_their_personality_routine_and_throw(self):
        self.assertIn(".text$__gxx_personality_v0", self.kept)
        self.assertIn(".text$__cxa_throw", self.kept)


# The C++ library's parts that any stream use brings in: the classic locale builds every
# facet for char and wchar_t in both string ABIs, about a quarter of the executable.
STREAM_MEMBERS = re.compile(
    r"libstdc\+\+\.a\(((?:cxx11-)?w?locale-inst|locale_init|ios_init|[a-z]*stream-inst)\.o\)")


def placed_stream_members(link_map):
    """The stream and locale members of the C++ library the map places code or data from."""
    placed = set()
    memory_map = link_map.split("Linker script and memory map", 1)[-1]
    for line in memory_map.splitlines():
        # " .section  0xADDRESS  0xSIZE  file", or without the name when it is long
        match = re.match(r"^ (?:\.\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+\S", line)
        member = STREAM_MEMBERS.search(line)
        if member and match and int(match.group(1), 16):
            placed.add(member.group(1))
    return placed


class StreamMembers(unittest.TestCase):
    def test_a_map_line_with_code_from_a_stream_member_is_found(self):
        link_map = ("Archive member included to satisfy reference by file (symbol)\n"
                    "/x/libstdc++.a(ios_init.o)  /x/libPocoFoundation.a(Thread.cpp.obj)\n"
                    "Linker script and memory map\n"
                    " .text          0x00401000      0x1f0 /x/libstdc++.a(locale_init.o)\n"
                    " .text$_ZNSt8ios_base4InitC2Ev\n"
                    "                0x00402000        0x0 /x/libstdc++.a(ios_init.o)\n"
                    " .text          0x00403000       0x40 /x/libstdc++.a(string-inst.o)\n")
        self.assertEqual({"locale_init"}, placed_stream_members(link_map))


@unittest.skipUnless(os.environ.get("NORLO_BUILD_DIR"), "needs the build tree (run through CTest)")
class ShippedExecutableSize(unittest.TestCase):
    def test_no_cxx_stream_or_locale_code_is_linked(self):
        with open(os.path.join(os.environ["NORLO_BUILD_DIR"], "bin", "Setup.map"), encoding="utf-8",
                  errors="replace") as handle:
            self.assertEqual(set(), placed_stream_members(handle.read()))


if __name__ == "__main__":
    unittest.main()
