"""Checks of the shipped i686 Setup.exe, the file users download: its format, what it
imports, its size, its relocations and mitigations, its version resource and what its link
map places. Each check returns the problems it found; an empty list is a pass.

Usage: product_checks.py CHECK BUILD_DIR   (CHECK: one of CHECKS, or "all")
"""
import os
import re
import struct
import sys

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "link"))
from test_dead_code import placed_stream_members  # noqa: E402

SIZE_LIMIT = 1_048_576

# The loader takes these from the system folder whatever lies beside the program, so they
# may be bound at start-up; every other DLL must be bound late, by the delay-load hook that
# loads it from the system folder only.
KNOWN_DLLS = {
    "advapi32.dll", "comdlg32.dll", "gdi32.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll",
    "msvcrt.dll", "normaliz.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
    "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "wldap32.dll", "ws2_32.dll",
}
# Windows system DLLs the program may bind late.
SYSTEM_DLLS = KNOWN_DLLS | {
    "comctl32.dll", "crypt32.dll", "iphlpapi.dll", "urlmon.dll", "version.dll", "wininet.dll",
    "wintrust.dll", "userenv.dll", "bcrypt.dll", "secur32.dll", "netapi32.dll", "winhttp.dll",
}

IMAGE_FILE_MACHINE_I386 = 0x014C
PE32_MAGIC = 0x10B
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_FILE_DLL = 0x2000
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100


def executable_path(build):
    return os.path.join(build, "bin", "Setup.exe")


def configured_version(build):
    """NORLO_VERSION of the build tree's cache."""
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8", errors="replace") as handle:
        match = re.search(r"^NORLO_VERSION:\w+=(\S+)$", handle.read(), re.MULTILINE)
    return match.group(1) if match else None


def check_format(pe, **_):
    problems = []
    if pe.FILE_HEADER.Machine != IMAGE_FILE_MACHINE_I386:
        problems.append("machine 0x%04x, not i386 (0x014c)" % pe.FILE_HEADER.Machine)
    if pe.OPTIONAL_HEADER.Magic != PE32_MAGIC:
        problems.append("optional header magic 0x%03x, not PE32 (0x10b)" % pe.OPTIONAL_HEADER.Magic)
    if pe.OPTIONAL_HEADER.Subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI:
        problems.append("subsystem %d, not the Windows GUI (2)" % pe.OPTIONAL_HEADER.Subsystem)
    if pe.FILE_HEADER.Characteristics & IMAGE_FILE_DLL:
        problems.append("marked as a DLL")
    return problems


DLL_NAME = re.compile(rb"([A-Za-z0-9_.-]{1,64}\.dll)\0", re.IGNORECASE)


def delay_descriptors(pe):
    """(DLL name, RVA of its address table, [its slots]) of the delay-load descriptors. GNU ld
    leaves the header's delay-import entry empty, so the descriptors are found by their
    shape: attributes 1 (addresses are RVAs), then the RVAs of the name, the module handle,
    the address table and the name table, all inside the image, the name a DLL file name.
    A slot holds the address of the stub that binds the function on its first call."""
    image = pe.get_memory_mapped_image()
    limit = pe.OPTIONAL_HEADER.SizeOfImage
    found = []
    for match in re.finditer(rb"\x01\x00\x00\x00", image):
        start = match.start()
        if start % 4 or start + 32 > len(image):
            continue
        _, name, module, table, names_table, _, _, _ = struct.unpack_from("<8I", image, start)
        if not all(0 < rva < limit for rva in (name, module, table, names_table)):
            continue
        dll = DLL_NAME.match(image, name)
        if not dll:
            continue
        slots = []
        # The name table ends with a zero entry; the address table has one slot per name.
        while struct.unpack_from("<I", image, names_table + 4 * len(slots))[0]:
            slots.append(struct.unpack_from("<I", image, table + 4 * len(slots))[0])
        found.append((dll.group(1).decode("ascii").lower(), table, slots))
    return found


def unbound_delay_slots(pe):
    """'dll: n of m' for each late-bound DLL whose slots do not all point into the code: a
    call through such a slot jumps to nowhere instead of binding the function."""
    base = pe.OPTIONAL_HEADER.ImageBase
    code = [(base + s.VirtualAddress, base + s.VirtualAddress + s.Misc_VirtualSize)
            for s in pe.sections if s.Characteristics & 0x20000000]  # IMAGE_SCN_MEM_EXECUTE
    problems = []
    for dll, _, slots in delay_descriptors(pe):
        bad = [slot for slot in slots if not any(start <= slot < end for start, end in code)]
        if bad:
            problems.append("%s: %d of %d late-bound functions have no binding stub" % (dll, len(bad), len(slots)))
    return problems


def imported_dlls(pe):
    """(static, delay-loaded) DLL names, lower case."""
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"]])
    static = [e.dll.decode("ascii", "replace").lower() for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    delayed = [e.dll.decode("ascii", "replace").lower() for e in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
    return static, sorted(set(delayed) | {dll for dll, _, _ in delay_descriptors(pe)})


def check_imports(pe, **_):
    static, delayed = imported_dlls(pe)
    problems = ["%s is bound at start-up but is not a known DLL of the system" % dll
                for dll in static if dll not in KNOWN_DLLS]
    problems += ["%s is bound late but is not a Windows system DLL" % dll
                 for dll in delayed if dll not in SYSTEM_DLLS]
    if "kernel32.dll" not in static:
        problems.append("no import table with kernel32.dll: not a linked program")
    return problems + unbound_delay_slots(pe)


def check_size(pe, path, **_):
    size = os.path.getsize(path)
    return [] if size <= SIZE_LIMIT else ["%d bytes, over the limit of %d" % (size, SIZE_LIMIT)]


def check_relocations(pe, **_):
    problems = []
    directory = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if directory.Size == 0:
        problems.append("no base relocations")
    if pe.FILE_HEADER.Characteristics & IMAGE_FILE_RELOCS_STRIPPED:
        problems.append("relocations marked stripped")
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    if not flags & DYNAMIC_BASE:
        problems.append("DYNAMIC_BASE not set")
    if not flags & NX_COMPAT:
        problems.append("NX_COMPAT not set")
    return problems


def check_version(pe, build, **_):
    expected = configured_version(build)
    if not expected:
        return ["no NORLO_VERSION in %s/CMakeCache.txt" % build]
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        return ["no version resource"]
    info = fixed[0]
    numbers = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    problems = []
    file_version = numbers(info.FileVersionMS, info.FileVersionLS)
    product_version = numbers(info.ProductVersionMS, info.ProductVersionLS)
    if file_version != expected:
        problems.append("file version %s, configured %s" % (file_version, expected))
    if product_version != expected:
        problems.append("product version %s, configured %s" % (product_version, expected))
    strings = {}
    for file_info in getattr(pe, "FileInfo", []):
        for entry in file_info:
            for table in getattr(entry, "StringTable", []):
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    for key in ("CompanyName", "ProductName", "FileVersion"):
        if not strings.get(key):
            problems.append("no %s string in the version resource" % key)
    return problems


def check_streams(pe, build, **_):
    map_path = os.path.join(build, "bin", "Setup.map")
    if not os.path.exists(map_path):
        return ["no link map %s" % map_path]
    with open(map_path, encoding="utf-8", errors="replace") as handle:
        placed = placed_stream_members(handle.read())
    return ["the map places the C++ library's %s" % member for member in sorted(placed)]


CHECKS = {
    "format": check_format,
    "imports": check_imports,
    "size": check_size,
    "relocations": check_relocations,
    "version": check_version,
    "streams": check_streams,
}


def run(check, build, path=None):
    path = path or executable_path(build)
    pe = pefile.PE(path, fast_load=True)
    try:
        return CHECKS[check](pe, path=path, build=build)
    finally:
        pe.close()


def main(argv):
    if len(argv) != 3 or (argv[1] not in CHECKS and argv[1] != "all"):
        sys.stderr.write("usage: product_checks.py {%s|all} BUILD_DIR\n" % "|".join(CHECKS))
        return 2
    build = argv[2]
    path = executable_path(build)
    if not os.path.exists(path):
        print("%s: no such file (build the product first)" % path)
        return 1
    failed = False
    for check in (CHECKS if argv[1] == "all" else [argv[1]]):
        problems = run(check, build)
        for problem in problems:
            print("%s: %s: %s" % (path, check, problem))
        if not problems:
            print("%s: %s: ok" % (path, check))
        failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
