"""Tests of the release tool and its version-resource reader.

Synthetic PE images exercise the reader's edge cases; the cross-built executables of the
build tree (NORLO_BUILD_DIR, set by CTest) check it against what the resource compiler
really produces.
"""

import contextlib
import datetime
import hashlib
import io
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import docsign  # noqa: E402
import peversion  # noqa: E402
import pesignature  # noqa: E402
import release  # noqa: E402

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "release.py")
SAMPLE_LAYOUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "layout-sample.json")


# --- building synthetic version blocks and PE images ---------------------------------

def _pad4(data):
    return data + b"\0" * (-len(data) % 4)


def block(key, value=b"", value_type=0, children=(), value_length=None):
    key_bytes = _pad4(b"\0" * 6 + (key + "\0").encode("utf-16-le"))[6:]
    body = key_bytes + _pad4(value) + b"".join(_pad4(child) for child in children)
    if value_length is None:
        value_length = len(value) // 2 if value_type == 1 else len(value)
    return struct.pack("<HHH", 6 + len(body), value_length, value_type) + body


def text_value(text):
    return (text + "\0").encode("utf-16-le")


def fixed_info(ms, ls, signature=peversion.FIXED_INFO_SIGNATURE):
    return struct.pack("<IIIIII", signature, 0x10000, ms, ls, ms, ls) + b"\0" * 28


def version_block(strings, translations=((0x409, 1200),), table="040904B0", fixed=None):
    string_children = [block(name, text_value(text), 1) for name, text in strings.items()]
    children = [block("StringFileInfo", children=[block(table, value_type=1, children=string_children)])]
    if translations is not None:
        pairs = b"".join(struct.pack("<HH", lang, cp) for lang, cp in translations)
        children.append(block("VarFileInfo", value_type=1,
                              children=[block("Translation", pairs, 0)]))
    return block("VS_VERSION_INFO", fixed if fixed is not None else b"", 0, children)


def pe_image(resource_data=None, pe32_plus=False):
    """A minimal PE image with one section holding a resource tree for RT_VERSION/1/1033."""
    section_rva, file_alignment = 0x1000, 0x200
    resources = b""
    if resource_data is not None:
        def directory(entries):
            return struct.pack("<IIHHHH", 0, 0, 0, 0, 0, len(entries)) + b"".join(
                struct.pack("<II", ident, target) for ident, target in entries)
        root = directory([(peversion.RT_VERSION, 0x80000000 | 24)])
        names = directory([(1, 0x80000000 | 48)])
        languages = directory([(1033, 72)])
        data_entry = struct.pack("<IIII", section_rva + 88, len(resource_data), 0, 0)
        resources = root + names + languages + data_entry + resource_data
    optional_size = 240 if pe32_plus else 224
    pe_offset = 0x80
    headers = bytearray(file_alignment)
    headers[0:2] = b"MZ"
    struct.pack_into("<I", headers, 0x3C, pe_offset)
    headers[pe_offset:pe_offset + 4] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", headers, pe_offset + 4, 0x14C, 1, 0, 0, 0, optional_size, 0x102)
    optional = pe_offset + 24
    struct.pack_into("<H", headers, optional, 0x20B if pe32_plus else 0x10B)
    count_offset = optional + (108 if pe32_plus else 92)
    struct.pack_into("<I", headers, count_offset, 16)
    if resource_data is not None:
        struct.pack_into("<II", headers, count_offset + 4 + 16, section_rva, len(resources))
    raw_size = max(file_alignment, len(resources) + (-len(resources) % file_alignment))
    section = optional + optional_size
    headers[section:section + 8] = b".rsrc\0\0\0"
    struct.pack_into("<IIII", headers, section + 8, len(resources), section_rva, raw_size, file_alignment)
    return bytes(headers) + resources + b"\0" * (raw_size - len(resources))


class VersionReaderTest(unittest.TestCase):
    def info(self, block_bytes, pe32_plus=False):
        return peversion.VersionInfo(peversion.version_block(pe_image(block_bytes, pe32_plus)))

    def test_file_version_string_of_the_first_translation_wins(self):
        info = self.info(version_block({"FileVersion": "1, 2, 3, 4"}, fixed=fixed_info(0x50000, 0x40E0000)))
        self.assertEqual("1, 2, 3, 4", info.file_version())

    def test_fixed_info_numbers_when_the_string_is_missing(self):
        info = self.info(version_block({"ProductName": "Norlo 5"}, fixed=fixed_info(0x50000, 0x40E2A4C)))
        self.assertEqual("5.0.1038.10828", info.file_version())
        self.assertEqual("Norlo 5", info.string("productname", 0x409, 1200))

    def test_us_english_string_when_the_first_translation_has_none(self):
        block_bytes = version_block({"FileVersion": "7.1"}, translations=((0x407, 1252), (0x409, 1200)))
        self.assertEqual("7.1", self.info(block_bytes).file_version())

    def test_no_translation_means_no_version_like_the_bootstrapper(self):
        info = self.info(version_block({"FileVersion": "7.1"}, translations=None,
                                       fixed=fixed_info(0x10000, 0)))
        self.assertEqual([], info.translations())
        self.assertIsNone(info.file_version())

    def test_bad_fixed_info_signature_is_ignored(self):
        info = self.info(version_block({}, fixed=fixed_info(0x10000, 0, signature=0x12345678)))
        self.assertIsNone(info.fixed_info())
        self.assertIsNone(info.file_version())

    def test_pe32_plus_images_are_read(self):
        info = self.info(version_block({"FileVersion": "9.0.30729.4148"}), pe32_plus=True)
        self.assertEqual("9.0.30729.4148", info.file_version())

    def test_image_without_resources_has_no_version_block(self):
        self.assertIsNone(peversion.version_block(pe_image(None)))

    def test_non_executables_and_damaged_images_raise_pe_error(self):
        with self.assertRaisesRegex(peversion.PeError, "no MZ header"):
            peversion.version_block(b"<html>404 Not Found</html>")
        image = bytearray(pe_image(version_block({"FileVersion": "1"})))
        with self.assertRaisesRegex(peversion.PeError, "truncated|outside the file"):
            peversion.version_block(bytes(image[:0x210]))
        struct.pack_into("<I", image, 0x3C, 0x7FFFFFF0)
        with self.assertRaisesRegex(peversion.PeError, "truncated|outside"):
            peversion.version_block(bytes(image))

    def test_block_length_beyond_its_parent_is_rejected(self):
        good = version_block({"FileVersion": "1"})
        broken = struct.pack("<H", len(good) + 400) + good[2:]
        with self.assertRaisesRegex(peversion.PeError, "length"):
            peversion.VersionInfo(broken)

    def test_wrong_root_key_is_rejected(self):
        with self.assertRaisesRegex(peversion.PeError, "key"):
            peversion.VersionInfo(block("NOT_VERSION_INFO", fixed_info(1, 1)))


class BuiltExecutablesTest(unittest.TestCase):
    """The reader against the resource compiler's real output."""

    def setUp(self):
        self.build = os.environ.get("NORLO_BUILD_DIR")
        if not self.build:
            self.skipTest("NORLO_BUILD_DIR is not set (run through ctest)")

    def test_setup_exe_reports_the_configured_version(self):
        with open(os.path.join(self.build, "CMakeCache.txt"), encoding="utf-8") as stream:
            cache = stream.read()
        configured = [line.split("=", 1)[1] for line in cache.splitlines()
                      if line.startswith("NORLO_VERSION:")][0]
        info = peversion.read_version_info(os.path.join(self.build, "bin", "Setup.exe"))
        self.assertEqual(configured, info.file_version())
        self.assertEqual(configured, info.fixed_file_version())
        self.assertEqual([(0x409, 1200)], info.translations())
        self.assertEqual("Norlo", info.string("CompanyName", 0x409, 1200))
        self.assertEqual("Norlo 5", info.string("ProductName", 0x409, 1200))

    def test_sample_release_files_carry_their_versions(self):
        if os.environ.get("NORLO_SAMPLE_RELEASE", "ON").upper() in ("OFF", "0", "FALSE", "NO"):
            self.skipTest("this build has no sample release")
        files = os.path.join(self.build, "release", "files")
        names = os.listdir(files)
        bootstrappers = [name for name in names if name.startswith("norlo5-Setup-")]
        self.assertEqual(1, len(bootstrappers), names)
        newer = bootstrappers[0][len("norlo5-Setup-"):-len(".exe")]
        self.assertEqual(newer, peversion.file_version(os.path.join(files, bootstrappers[0])))
        self.assertEqual("9.0.30729.4148", peversion.file_version(os.path.join(files, "vcredist_x64.exe")))
        self.assertEqual(newer, peversion.file_version(os.path.join(files, "appliance.exe")))


# --- the tool ------------------------------------------------------------------------

SERVER = "http://127.0.0.1:9999"


def small_layout():
    return {
        "baseUrl": "{server}/5.0/{release}/",
        "bootstrapper": {"file": "norlo5-Setup-{release}.exe", "version": "{release}"},
        "appliance": {"file": "appliance.exe"},
        "x64": [
            {"file": "b-x64.msi", "order": 7, "viewer": False, "services": True,
             "installCmd": "msiexec /qn /i [APP] /log [LOG] /norestart"},
            {"file": "a-x64.msi", "order": 3, "viewer": True, "services": True,
             "installCmd": "msiexec /i [APP] & echo <done>"},
        ],
        "x86": [
            {"file": "vcredist_x86.exe", "url": "{server}/vcredist/vcredist_x86.exe",
             "viewer": True, "services": True, "installCmd": "[APP] /q"},
        ],
    }


class ToolTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="release-test-")
        self.addCleanup(shutil.rmtree, self.root)
        self.files = os.path.join(self.root, "files")
        os.mkdir(self.files)
        self.write_exe("norlo5-Setup-5.0.1038.10828.exe", "5.0.1038.10828")
        self.write_exe("appliance.exe", "5.0.1038.10828")
        self.write_exe("vcredist_x86.exe", "9.0.30729.4148")
        self.write("a-x64.msi", b"package a")
        self.write("b-x64.msi", b"")
        self.layout = small_layout()

    def write(self, name, data):
        with open(os.path.join(self.files, name), "wb") as stream:
            stream.write(data)

    def write_exe(self, name, version):
        self.write(name, pe_image(version_block({"FileVersion": version})))

    def run_tool(self, *extra, layout=None):
        layout_path = os.path.join(self.root, "layout.json")
        with open(layout_path, "w", encoding="utf-8") as stream:
            json.dump(self.layout if layout is None else layout, stream)
        arguments = ["--layout", layout_path, "--release-dir", self.files, "--server", SERVER + "/",
                     "--define", "release=5.0.1038.10828"] + list(extra)
        stderr = io.StringIO()
        with contextlib.redirect_stderr(stderr):
            code = release.main(arguments)
        return code, stderr.getvalue()

    def document(self, *extra):
        target = os.path.join(self.root, "out", "Sequence.xml")
        code, errors = self.run_tool("--embedded", target, *extra)
        self.assertEqual(0, code, errors)
        with open(target, "rb") as stream:
            return stream.read()

    def update_document(self, *extra):
        target = os.path.join(self.root, "out", "update.xml")
        code, errors = self.run_tool("--update", target, *extra)
        self.assertEqual(0, code, errors)
        with open(target, "rb") as stream:
            return stream.read()

    def items(self, data, section):
        root = ElementTree.fromstring(data)
        return [{child.tag: child.text or "" for child in item} | {"Order": item.get("Order")}
                for item in root.find(section).findall("Item")]

    def md5(self, name):
        with open(os.path.join(self.files, name), "rb") as stream:
            return hashlib.md5(stream.read()).hexdigest()

    def digests(self, name):
        with open(os.path.join(self.files, name), "rb") as stream:
            data = stream.read()
        return {"Hash": hashlib.md5(data).hexdigest(), "Sha256": hashlib.sha256(data).hexdigest(),
                "Size": str(len(data))}

    def assert_digests(self, name, item):
        self.assertEqual(self.digests(name), {key: item.get(key) for key in ("Hash", "Sha256", "Size")})

    def test_document_is_one_ascii_line_with_the_declaration_and_root(self):
        data = self.document()
        self.assertTrue(data.startswith(b'<?xml version="1.0" encoding="us-ascii"?><Installer><bootstrapper>'))
        self.assertTrue(data.endswith(b"</x86></Installer>"))
        self.assertNotIn(b"\n", data)
        self.assertNotIn(b"\r", data)
        data.decode("ascii")

    def test_every_item_carries_the_md5_of_its_file_and_executables_their_version(self):
        data = self.update_document()
        boot = self.items(data, "bootstrapper")[0]
        self.assertEqual(self.md5("norlo5-Setup-5.0.1038.10828.exe"), boot["Hash"])
        self.assertEqual("5.0.1038.10828", boot["version"])
        self.assertEqual(SERVER + "/5.0/5.0.1038.10828/norlo5-Setup-5.0.1038.10828.exe", boot["url"])
        self.assertEqual("yes", boot["universal"])
        appliance = self.items(data, "appliance")[0]
        self.assertEqual(self.md5("appliance.exe"), appliance["Hash"])
        self.assertEqual("0", appliance["Order"])
        empty, package = self.items(data, "x64")[1], self.items(data, "x64")[0]
        self.assertEqual("d41d8cd98f00b204e9800998ecf8427e", empty["Hash"])
        self.assertEqual(hashlib.md5(b"package a").hexdigest(), package["Hash"])
        self.assertNotIn("version", package)
        vcredist = self.items(data, "x86")[0]
        self.assertEqual("9.0.30729.4148", vcredist["version"])
        self.assertEqual(SERVER + "/vcredist/vcredist_x86.exe", vcredist["url"])

    def test_platform_items_sorted_by_order_with_flags_and_escaped_commands(self):
        data = self.document()
        x64 = self.items(data, "x64")
        self.assertEqual(["a-x64.msi", "b-x64.msi"], [item["filename"] for item in x64])
        self.assertEqual(["3", "7"], [item["Order"] for item in x64])
        self.assertEqual(("yes", "yes"), (x64[0]["viewer"], x64[0]["services"]))
        self.assertEqual(("no", "yes"), (x64[1]["viewer"], x64[1]["services"]))
        self.assertEqual("msiexec /i [APP] & echo <done>", x64[0]["installCmd"])
        self.assertIn(b"msiexec /i [APP] &amp; echo &lt;done&gt;", data)
        self.assertEqual("0", self.items(data, "x86")[0]["Order"])

    def test_every_item_carries_sha256_and_size_beside_md5_in_the_document_order(self):
        data = self.update_document()
        for section, name in (("bootstrapper", "norlo5-Setup-5.0.1038.10828.exe"),
                              ("appliance", "appliance.exe"), ("x86", "vcredist_x86.exe")):
            self.assert_digests(name, self.items(data, section)[0])
        empty = self.items(data, "x64")[1]
        self.assertEqual("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", empty["Sha256"])
        self.assertEqual("0", empty["Size"])
        self.assert_digests("a-x64.msi", self.items(data, "x64")[0])
        # The loader takes them in any order, but a person reading the file finds them together.
        self.assertIn(b"<Hash>%s</Hash><Sha256>" % self.md5("a-x64.msi").encode(), data)

    def test_digests_of_a_file_larger_than_one_read(self):
        data = bytes((i * 31 + 7) % 251 for i in range(3 * 1024 * 1024 + 17))
        self.write("a-x64.msi", data)
        item = self.items(self.update_document(), "x64")[0]
        self.assertEqual("fd1d49162755d499d59a23ff5e4a0627", item["Hash"])
        self.assertEqual(hashlib.sha256(data).hexdigest(), item["Sha256"])
        self.assertEqual(str(len(data)), item["Size"])

    def test_embedded_document_names_the_bootstrapper_without_digests_update_xml_with(self):
        update = os.path.join(self.root, "update.xml")
        embedded = self.document("--update", update)
        with open(update, "rb") as stream:
            published = stream.read()
        inner, outer = self.items(embedded, "bootstrapper")[0], self.items(published, "bootstrapper")[0]
        self.assertEqual({"url", "filename", "version", "universal", "Order"}, set(inner))
        self.assert_digests("norlo5-Setup-5.0.1038.10828.exe", outer)
        self.assertEqual({key: outer[key] for key in inner}, inner)
        for section in ("appliance", "x64", "x86"):
            self.assertEqual(self.items(published, section), self.items(embedded, section), section)

    def test_embedded_document_ignores_an_older_bootstrapper_in_the_release_folder(self):
        # A vendor build writes it before the new bootstrapper exists; whatever lies there is old.
        self.write_exe("norlo5-Setup-5.0.1038.10828.exe", "5.0.1037.1")
        boot = self.items(self.document(), "bootstrapper")[0]
        self.assertEqual("5.0.1038.10828", boot["version"])
        self.assertNotIn("Hash", boot)
        os.remove(os.path.join(self.files, "norlo5-Setup-5.0.1038.10828.exe"))
        self.assertEqual(boot, self.items(self.document(), "bootstrapper")[0])

    def test_layout_bootstrapper_version_must_be_the_version_being_built(self):
        boot = self.items(self.document("--bootstrapper-version", "5.0.1038.10828"), "bootstrapper")[0]
        self.assertEqual("5.0.1038.10828", boot["version"])
        self.expect_error("bootstrapper: the layout's version 5.0.1038.10828 is not the version being "
                          "built, 5.0.1039.0", "--bootstrapper-version", "5.0.1039.0")
        del self.layout["bootstrapper"]["version"]
        self.expect_error("bootstrapper: \"version\" is missing")

    def test_without_bootstrapper_hash_names_it_by_layout_version_only(self):
        os.remove(os.path.join(self.files, "norlo5-Setup-5.0.1038.10828.exe"))
        boot = self.items(self.document("--without-bootstrapper-hash"), "bootstrapper")[0]
        self.assertNotIn("Hash", boot)
        self.assertEqual("5.0.1038.10828", boot["version"])
        data = self.document("--without-bootstrapper-hash")
        self.assertEqual(self.md5("appliance.exe"), self.items(data, "appliance")[0]["Hash"])

    def test_publish_places_files_under_their_url_paths(self):
        www = os.path.join(self.root, "www")
        code, errors = self.run_tool("--publish", www)
        self.assertEqual(0, code, errors)
        for relative, name in (("5.0/5.0.1038.10828/a-x64.msi", "a-x64.msi"),
                               ("vcredist/vcredist_x86.exe", "vcredist_x86.exe"),
                               ("5.0/5.0.1038.10828/norlo5-Setup-5.0.1038.10828.exe",
                                "norlo5-Setup-5.0.1038.10828.exe")):
            with open(os.path.join(www, *relative.split("/")), "rb") as stream:
                self.assertEqual(self.md5(name), hashlib.md5(stream.read()).hexdigest())
        with open(os.path.join(www, "update.xml"), "rb") as stream:
            self.assertTrue(stream.read().startswith(b"<?xml"))

    def test_publish_refuses_urls_outside_the_server(self):
        self.layout["x86"][0]["url"] = "http://elsewhere.example/vcredist_x86.exe"
        code, errors = self.run_tool("--publish", os.path.join(self.root, "www"))
        self.assertEqual(1, code)
        self.assertIn("not below the server address " + SERVER, errors)

    def expect_error(self, text, *extra, outputs=("--embedded",)):
        """Fails with text on stderr and writes none of the outputs."""
        targets = {"--embedded": os.path.join(self.root, "x.xml"),
                   "--update": os.path.join(self.root, "update.xml"),
                   "--publish": os.path.join(self.root, "www")}
        arguments = []
        for option in outputs:
            arguments += [option, targets[option]]
        code, errors = self.run_tool(*arguments, *extra)
        self.assertEqual(1, code, errors)
        self.assertIn(text, errors)
        for option in outputs:
            self.assertFalse(os.path.exists(targets[option]), option)

    def test_missing_file_is_named(self):
        os.remove(os.path.join(self.files, "b-x64.msi"))
        self.expect_error("x64 item 0: file b-x64.msi not found in the release folder " + self.files)

    def test_bootstrapper_version_must_match_the_layout(self):
        self.write_exe("norlo5-Setup-5.0.1038.10828.exe", "5.0.1037.1")
        self.expect_error("has file version 5.0.1037.1, the layout says 5.0.1038.10828",
                          outputs=("--embedded", "--update"))

    def test_executable_without_version_is_refused(self):
        self.write("appliance.exe", pe_image(None))
        self.expect_error("appliance: ")
        self.write("appliance.exe", b"<html>500</html>")
        self.expect_error("no MZ header")

    def test_layout_mistakes_are_reported(self):
        self.layout["x64"][1]["order"] = 7
        self.expect_error("gives one order to two items")
        self.layout = small_layout()
        self.layout["x86"] = []
        self.expect_error("section \"x86\" must list at least one item")
        self.layout = small_layout()
        self.layout["x64"][0]["viewer"] = "yes"
        self.expect_error("\"viewer\" must be true or false")
        self.layout = small_layout()
        self.layout["x64"][0]["file"] = "../b-x64.msi"
        self.expect_error("must not contain a folder")
        self.layout = small_layout()
        self.layout["x64"][0]["installCmd"] = "msiexec /i [APP] {target}"
        self.expect_error("unknown variable {target}")
        self.layout = small_layout()
        self.layout["x64"][0]["installCmd"] = "setup \u00e9"
        self.expect_error("must be ASCII")
        self.layout = small_layout()
        del self.layout["appliance"]
        self.expect_error("section \"appliance\" is missing")

    def run_with_server(self, server):
        stderr = io.StringIO()
        layout_path = os.path.join(self.root, "layout.json")
        with open(layout_path, "w", encoding="utf-8") as stream:
            json.dump(self.layout, stream)
        target = os.path.join(self.root, "x.xml")
        with contextlib.redirect_stderr(stderr):
            code = release.main(["--layout", layout_path, "--release-dir", self.files, "--server", server,
                                 "--define", "release=5.0.1038.10828", "--embedded", target])
        self.assertFalse(os.path.exists(target), server)
        return code, stderr.getvalue()

    def test_empty_or_malformed_server_is_refused(self):
        for server, reason in (("", "names no scheme"),
                               ("updates.example.com", "names no scheme"),
                               ("ftp://updates.example.com", "has the scheme ftp; only http and https"),
                               ("file:///srv/www", "has the scheme file"),
                               ("https://", "names no host"),
                               ("https:///5.0", "names no host"),
                               (" https://updates.example.com", "holds blanks"),
                               ("https://updates.example.com/a b", "holds blanks")):
            code, errors = self.run_with_server(server)
            self.assertEqual(1, code, server)
            self.assertIn("--server %r %s" % (server, reason), errors)

    def test_item_addresses_must_be_web_addresses(self):
        self.layout["x86"][0]["url"] = "file://server/share/vcredist_x86.exe"
        self.expect_error("x86 item 0: address 'file://server/share/vcredist_x86.exe' has the scheme file")
        self.layout = small_layout()
        self.layout["baseUrl"] = "\\\\server\\share\\"
        self.expect_error("bootstrapper: address")

    def test_unknown_layout_keys_are_refused(self):
        self.layout["x64"][0]["instalCmd"] = self.layout["x64"][0].pop("installCmd")
        self.expect_error("x64 item 0: unknown key \"instalCmd\" (known: file, url, version, order, "
                          "viewer, services, installCmd)")
        self.layout = small_layout()
        self.layout["appliance"]["order"] = 1
        self.expect_error("appliance: unknown key \"order\"")
        self.layout = small_layout()
        self.layout["x32"] = []
        self.expect_error("layout: unknown key \"x32\"")

    def test_versions_are_four_numbers_up_to_65535(self):
        for version in ("5.0.1038", "5.0.1038.10828.1", "5.0.1038.65536", "5.0.01038.1", "5,0,1038,1", "v5.0.1.2"):
            self.layout = small_layout()
            self.layout["x86"][0]["version"] = version
            self.expect_error("x86 item 0: \"version\" %r is not four numbers from 0 to 65535" % version)
        self.layout = small_layout()
        self.layout["x86"][0]["version"] = "9.0.30729.4148"
        self.assertEqual("9.0.30729.4148", self.items(self.document(), "x86")[0]["version"])

    def sign(self, name, timestamped):
        """Signs a file of the release folder with a throw-away certificate, timestamped by
        osslsigncode's own time-stamping authority when asked."""
        if shutil.which("osslsigncode") is None or shutil.which("openssl") is None:
            self.skipTest("osslsigncode and openssl sign the files here")
        def certificate(stem, usage):
            key, cert = os.path.join(self.root, stem + ".key"), os.path.join(self.root, stem + ".crt")
            if not os.path.exists(cert):
                subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                                "-keyout", key, "-out", cert, "-subj", "/CN=Release test " + stem,
                                "-addext", "extendedKeyUsage=critical," + usage], check=True, capture_output=True)
            return key, cert
        key, cert = certificate("signing", "codeSigning")
        tsa_key, tsa_cert = certificate("stamping", "timeStamping")
        path = os.path.join(self.files, name)
        stamp = ["-TSA-certs", tsa_cert, "-TSA-key", tsa_key] if timestamped else []
        subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256"] + stamp +
                       ["-in", path, "-out", path + ".signed"], check=True, capture_output=True)
        os.replace(path + ".signed", path)

    def test_signed_bootstrapper_needs_a_timestamp(self):
        bootstrapper = "norlo5-Setup-5.0.1038.10828.exe"
        target = os.path.join(self.root, "out", "update.xml")
        self.assertEqual("unsigned", pesignature.signature_state(os.path.join(self.files, bootstrapper)))
        self.sign(bootstrapper, timestamped=False)
        self.assertEqual("not timestamped", pesignature.signature_state(os.path.join(self.files, bootstrapper)))
        code, errors = self.run_tool("--update", target)
        self.assertEqual(1, code)
        self.assertIn("bootstrapper: %s is signed without an RFC 3161 timestamp" % bootstrapper, errors)
        self.assertFalse(os.path.exists(target))
        # The embedded document is written before signing and names no digests: no check.
        self.assertEqual(0, self.run_tool("--embedded", target)[0])
        os.remove(target)

        self.write_exe(bootstrapper, "5.0.1038.10828")
        self.sign(bootstrapper, timestamped=True)
        self.assertEqual("timestamped", pesignature.signature_state(os.path.join(self.files, bootstrapper)))
        code, errors = self.run_tool("--update", target)
        self.assertEqual(0, code, errors)

    def test_a_failure_found_while_publishing_writes_nothing(self):
        self.layout["x86"][0]["url"] = "http://elsewhere.example/vcredist_x86.exe"
        self.expect_error("not below the server address", outputs=("--embedded", "--update", "--publish"))
        self.layout = small_layout()
        self.layout["x86"][0]["url"] = "{server}/a/../../vcredist_x86.exe"
        self.expect_error("its path has an empty, . or .. part", outputs=("--update", "--publish"))

    def test_command_line_errors(self):
        stderr = io.StringIO()
        with contextlib.redirect_stderr(stderr), self.assertRaises(SystemExit) as exit_status:
            release.main(["--layout", SAMPLE_LAYOUT, "--release-dir", self.files, "--server", SERVER])
        self.assertEqual(2, exit_status.exception.code)
        self.assertIn("nothing to write", stderr.getvalue())
        stderr = io.StringIO()
        with contextlib.redirect_stderr(stderr), self.assertRaises(SystemExit):
            release.main(["--layout", SAMPLE_LAYOUT, "--release-dir", self.files, "--server", SERVER,
                          "--update", os.path.join(self.root, "u.xml"), "--without-bootstrapper-hash"])
        self.assertIn("update.xml needs the bootstrapper's digests", stderr.getvalue())
        self.assertEqual(1, self.run_tool("--embedded", os.path.join(self.root, "x.xml"),
                                          "--define", "no-equals")[0])
        missing = os.path.join(self.root, "absent.json")
        stderr = io.StringIO()
        with contextlib.redirect_stderr(stderr):
            code = release.main(["--layout", missing, "--release-dir", self.files,
                                 "--server", SERVER, "--embedded", os.path.join(self.root, "x.xml")])
        self.assertEqual(1, code)
        self.assertIn("cannot read layout " + missing, stderr.getvalue())

    def test_several_servers_give_each_item_below_the_first_its_mirrors_in_order(self):
        self.layout["x64"][0]["url"] = "https://elsewhere.example/b-x64.msi"
        data = self.document("--server", "https://mirror-a.example/", "--server", SERVER,
                             "--server", "https://mirror-b.example")
        path = "/5.0/5.0.1038.10828/a-x64.msi"
        # Right after the url, in the order given; the first server is no mirror of itself.
        self.assertIn(("<url>%s%s</url><mirror>https://mirror-a.example%s</mirror>"
                       "<mirror>https://mirror-b.example%s</mirror><filename>" % (SERVER, path, path, path)).encode(),
                      data)
        self.assertIn(b"<mirror>https://mirror-b.example/vcredist/vcredist_x86.exe</mirror>", data)
        self.assertIn(b"<mirror>https://mirror-a.example/5.0/5.0.1038.10828/norlo5-Setup-5.0.1038.10828.exe"
                      b"</mirror>", data)
        # An address outside the first server has no path to repeat elsewhere.
        self.assertIn(b"<url>https://elsewhere.example/b-x64.msi</url><filename>", data)
        self.assertEqual(8, data.count(b"<mirror>"))  # four items, two mirrors each
        self.assertNotIn(b"<mirror>", self.document())
        self.expect_error("--server 'ftp://mirror.example' has the scheme ftp", "--server", "ftp://mirror.example")

    def kit(self, *extra):
        folder = os.path.join(self.root, "kit")
        code, errors = self.run_tool("--update", os.path.join(self.root, "update.xml"), "--kit", folder, *extra)
        self.assertEqual(0, code, errors)
        manifests = {}
        for name in sorted(os.listdir(os.path.join(folder, "winget"))):
            with open(os.path.join(folder, "winget", name), encoding="utf-8") as stream:
                manifests[name] = stream.read()
        return folder, manifests

    def test_kit_holds_the_msi_wrapper_and_the_three_winget_manifests(self):
        folder, manifests = self.kit()
        with open(os.path.join(folder, "Norlo5-Deployment-5.0.1038.10828.msi"), "rb") as stream:
            self.assertEqual(b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", stream.read(8), "no MSI (compound file)")
        self.assertEqual(["Norlo.Norlo5.installer.yaml", "Norlo.Norlo5.locale.en-US.yaml", "Norlo.Norlo5.yaml"],
                         sorted(manifests))
        for name, kind in (("Norlo.Norlo5.yaml", "version"), ("Norlo.Norlo5.installer.yaml", "installer"),
                           ("Norlo.Norlo5.locale.en-US.yaml", "defaultLocale")):
            text = manifests[name]
            self.assertIn("winget-manifest.%s.1.6.0.schema.json" % kind, text.splitlines()[0])
            for line in ("PackageIdentifier: Norlo.Norlo5", "PackageVersion: 5.0.1038.10828",
                         "ManifestType: %s" % kind, "ManifestVersion: 1.6.0"):
                self.assertIn(line, text.splitlines(), name)
        installer = manifests["Norlo.Norlo5.installer.yaml"]
        boot = self.digests("norlo5-Setup-5.0.1038.10828.exe")
        self.assertIn("  InstallerUrl: %s/5.0/5.0.1038.10828/norlo5-Setup-5.0.1038.10828.exe\n" % SERVER, installer)
        self.assertIn("  InstallerSha256: %s\n" % boot["Sha256"].upper(), installer)
        self.assertIn("  Silent: '/silent /norestart'\n", installer)

    def test_kit_exit_codes_are_those_of_the_readme_table(self):
        readme = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "README.md")
        with open(readme, encoding="utf-8") as stream:
            rows = [line for line in stream if line.startswith(("| 0 |", "| 1 |", "| -1 "))]
        self.assertEqual(3, len(rows), "the README's exit code table changed")
        self.assertIn("| 1 | success", rows[1])
        self.assertIn("failure", rows[2])
        installer = self.kit()[1]["Norlo.Norlo5.installer.yaml"]
        # 0 is winget's own success code; 1 is success too; -1 is the one failure code.
        self.assertIn("InstallerSuccessCodes:\n- 1\nExpectedReturnCodes:\n- InstallerReturnCode: -1\n"
                      "  ReturnResponse: contactSupport\n", installer)
        self.assertEqual(1, installer.count("InstallerReturnCode:"))

    def test_kit_failures_write_nothing(self):
        update = os.path.join(self.root, "update.xml")
        folder = os.path.join(self.root, "kit")
        with mock_environment(WIXL="false"):
            code, errors = self.run_tool("--update", update, "--kit", folder)
        self.assertEqual(1, code)
        self.assertIn("kit: false failed (exit code 1)", errors)
        self.assertFalse(os.path.exists(update))
        self.assertFalse(os.path.exists(folder))
        for version, problem in (("5.0.1038.10828", None), ("255.255.65535.65535", None),
                                 ("256.0.1.2", "its first two numbers must be at most 255"),
                                 ("5.300.1.2", "its first two numbers must be at most 255")):
            found = release.msi_version_problem(version)
            self.assertEqual(problem is None, found is None, version)
            if problem:
                self.assertIn(problem, found)

    def test_usage_text_describes_the_layout(self):
        result = subprocess.run([sys.executable, TOOL, "--help"], capture_output=True, text=True)
        self.assertEqual(0, result.returncode)
        self.assertIn("--release-dir", result.stdout)
        self.assertIn("baseUrl", result.stdout)
        self.assertIn("--without-bootstrapper-hash", result.stdout)
        for text in ("Required sections: baseUrl, bootstrapper, appliance, x64 and x86",
                     "four numbers from 0 to 65535", "version resource", "installCmd  install command",
                     "viewer      true when", "order       place in its sequence", "--bootstrapper-version",
                     "Nothing is written when any check fails"):
            self.assertIn(text, result.stdout)

    def test_sample_layout_names_the_sequences_the_loader_asks_for(self):
        with open(SAMPLE_LAYOUT, encoding="utf-8") as stream:
            layout = json.load(stream)
        for platform in ("x64", "x86"):
            names = [item["file"] for item in layout[platform]]
            self.assertEqual(5, len(names))
            self.assertEqual("norlo5-custom-{release}__PRE.msi", names[0])
            self.assertEqual("vcredist_%s.exe" % platform, names[1])
            self.assertEqual(["no"], ["no" for item in layout[platform] if not item["viewer"]])


@contextlib.contextmanager
def mock_environment(**values):
    saved = {name: os.environ.get(name) for name in values}
    os.environ.update(values)
    try:
        yield
    finally:
        for name, value in saved.items():
            if value is None:
                os.environ.pop(name, None)
            else:
                os.environ[name] = value


RULES = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "cmake", "ReleaseRules.cmake")


class DocumentSigningTest(unittest.TestCase):
    """update.xml's claims and signature: serial continuation, expiry, no way back, and the
    publisher rotation rules, with throw-away keys made by openssl."""

    @classmethod
    def setUpClass(cls):
        cls.keys = tempfile.mkdtemp(prefix="release-keys-")
        cls.password = os.path.join(cls.keys, "pass.txt")
        with open(cls.password, "w") as stream:
            stream.write("secret\n")
        cls.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Test authority",
                    "-addext", "basicConstraints=critical,CA:TRUE", "-keyout", cls.path("ca.key"),
                    "-out", cls.path("ca.crt"))
        for name, subject in (("a", "Publisher A"), ("b", "Publisher B")):
            cls.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=" + subject,
                        "-keyout", cls.path(name + ".key"), "-out", cls.path(name + ".crt"))
            cls.pkcs12(name, name)
        # Issued by the authority, then renewed (new key, same name and authority).
        for name in ("c1", "c2"):
            cls.openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=Publisher C",
                        "-keyout", cls.path(name + ".key"), "-out", cls.path(name + ".csr"))
            cls.openssl("x509", "-req", "-in", cls.path(name + ".csr"), "-CA", cls.path("ca.crt"),
                        "-CAkey", cls.path("ca.key"), "-set_serial", str(len(name) + ord(name[1])), "-days", "2",
                        "-out", cls.path(name + ".crt"))
            cls.pkcs12(name, name, "ca.crt")
        with open(cls.path("c1.chain"), "wb") as stream:
            for name in ("c1.crt", "ca.crt"):
                with open(cls.path(name), "rb") as part:
                    stream.write(part.read())

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys)

    @classmethod
    def path(cls, name):
        return os.path.join(cls.keys, name)

    @staticmethod
    def openssl(*arguments):
        subprocess.run(["openssl"] + list(arguments), check=True, capture_output=True)

    @classmethod
    def pkcs12(cls, name, key, chain=None):
        extra = ["-certfile", cls.path(chain)] if chain else []
        cls.openssl("pkcs12", "-export", "-inkey", cls.path(key + ".key"), "-in", cls.path(key + ".crt"),
                    "-out", cls.path(name + ".p12"), "-passout", "file:" + cls.password, *extra)

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="release-documents-")
        self.addCleanup(shutil.rmtree, self.root)
        self.count = 0

    def unsigned(self):
        self.count += 1
        path = os.path.join(self.root, "update-%d.xml" % self.count)
        with open(path, "wb") as stream:
            stream.write(b'<?xml version="1.0" encoding="us-ascii"?><Installer><bootstrapper><Item Order="0">'
                         b'<version>5.0.1038.10828</version></Item></bootstrapper></Installer>')
        return path

    def tool(self, *arguments):
        stderr = io.StringIO()
        with contextlib.redirect_stderr(stderr):
            code = release.main([str(argument) for argument in arguments])
        return code, stderr.getvalue()

    def sign(self, key, *extra):
        """Signs a new unsigned document; (code, errors, path)."""
        path = self.unsigned()
        code, errors = self.tool("--sign", path, "--sign-key", self.path(key + ".p12"),
                                 "--sign-password-file", self.password, *extra)
        return code, errors, path

    def claims(self, path):
        with open(path, "rb") as stream:
            return docsign.read_claims(stream.read())

    def verified_signer(self, path):
        with open(path, "rb") as stream, open(path + ".p7s", "rb") as signature:
            return docsign.verified_publisher(stream.read(), signature.read())

    def test_first_release_and_serial_continuation(self):
        code, errors, first = self.sign("a", "--first-release")
        self.assertEqual(0, code, errors)
        claims = self.claims(first)
        self.assertEqual("1", claims["serial"])
        self.assertEqual("Norlo 5", claims["product"])
        self.assertEqual("Publisher A", self.verified_signer(first).text.split("=", 1)[1])
        cases = [((), "2"), (("--serial", 7), "7")]
        for extra, serial in cases:
            code, errors, path = self.sign("a", "--previous", first, *extra)
            self.assertEqual(0, code, errors)
            self.assertEqual(serial, self.claims(path)["serial"], extra)
        # Openssl verifies exactly the bytes written, and nothing else.
        with open(first, "rb") as stream:
            document = stream.read()
        with open(first + ".p7s", "rb") as stream:
            signature = stream.read()
        with self.assertRaises(docsign.DocumentError):
            docsign.verified_publisher(document.replace(b'serial="1"', b'serial="9"'), signature)

    def test_serials_never_go_back_and_a_source_is_required(self):
        code, errors, first = self.sign("a", "--first-release", "--serial", 42)
        self.assertEqual(0, code, errors)
        cases = [
            (("--previous", first, "--serial", 42), "serial 42 is not above 42 of the previous document"),
            (("--previous", first, "--serial", 41), "serial 41 is not above 42 of the previous document"),
            ((), "needs the previously published document (--previous FILE or URL), or --first-release"),
            (("--previous", first, "--first-release"), "--previous and --first-release exclude each other"),
            (("--previous", first, "--product", "Norlo 6"), "is for the product \"Norlo 5\", not \"Norlo 6\""),
            (("--previous", os.path.join(self.root, "missing.xml")), "cannot read the previous document"),
        ]
        for extra, message in cases:
            code, errors, path = self.sign("a", *extra)
            self.assertEqual(1, code, extra)
            self.assertIn(message, errors, extra)
            self.assertFalse(os.path.exists(path + ".p7s"), extra)
            self.assertEqual({}, self.claims(path), extra)
        # A previous document changed after signing is no base to continue from.
        with open(first, "r+b") as stream:
            text = stream.read().replace(b'serial="42"', b'serial="99"')
            stream.seek(0)
            stream.write(text)
        code, errors, _ = self.sign("a", "--previous", first)
        self.assertEqual(1, code)
        self.assertIn("the signature does not match the document", errors)

    def test_expiry(self):
        now = datetime.datetime(2027, 1, 15, 8, 0, tzinfo=datetime.timezone.utc)
        self.assertEqual("2027-04-15T08:00:00Z", docsign.expiry(now, docsign.DEFAULT_VALID_DAYS))
        self.assertEqual("2027-01-16T08:00:00Z", docsign.expiry(now, 1))
        with self.assertRaises(docsign.DocumentError):
            docsign.expiry(now, 0)
        code, errors, path = self.sign("a", "--first-release", "--valid-days", 30)
        self.assertEqual(0, code, errors)
        expires = datetime.datetime.strptime(self.claims(path)["expires"], docsign.TIME_FORMAT).replace(
            tzinfo=datetime.timezone.utc)
        left = expires - datetime.datetime.now(datetime.timezone.utc)
        self.assertTrue(datetime.timedelta(days=29, hours=23) < left <= datetime.timedelta(days=30), left)

    def test_resign_changes_serial_and_expiry_only(self):
        code, errors, first = self.sign("a", "--first-release", "--valid-days", 1, "--announce-next",
                                        self.path("b.crt"))
        self.assertEqual(0, code, errors)
        target = os.path.join(self.root, "resigned.xml")
        code, errors = self.tool("--resign", "--previous", first, "--sign-key", self.path("a.p12"),
                                 "--sign-password-file", self.password, "--update", target)
        self.assertEqual(0, code, errors)
        before, after = self.claims(first), self.claims(target)
        self.assertEqual("2", after["serial"])
        self.assertGreater(after["expires"], before["expires"])
        for name in ("product", "nextPublisherSubject", "nextPublisherIssuerKey"):
            self.assertEqual(before[name], after[name], name)
        with open(first, "rb") as old, open(target, "rb") as new:
            strip = re.compile(rb"<Installer[^>]*>")
            self.assertEqual(strip.sub(b"", old.read()), strip.sub(b"", new.read()))
        self.assertEqual(self.verified_signer(first), self.verified_signer(target))

    def test_publisher_rotation(self):
        code, errors, by_a = self.sign("a", "--first-release")
        self.assertEqual(0, code, errors)
        code, errors, announcing = self.sign("a", "--previous", by_a, "--announce-next", self.path("b.crt"))
        self.assertEqual(0, code, errors)
        code, errors, by_c = self.sign("c1", "--first-release")
        self.assertEqual(0, code, errors)
        cases = [
            ("same publisher", "a", by_a, True),
            ("unannounced switch", "b", by_a, False),
            ("announced switch", "b", announcing, True),
            ("the old publisher may still sign after announcing", "a", announcing, True),
            ("renewed by the same authority", "c2", by_c, True),
            ("another publisher after an issued one", "a", by_c, False),
        ]
        for name, key, previous, accepted in cases:
            code, errors, path = self.sign(key, "--previous", previous)
            self.assertEqual(0 if accepted else 1, code, name + ": " + errors)
            if not accepted:
                self.assertIn("is neither the previous release's publisher", errors, name)
                self.assertIn("Change publishers in two steps: 1. publish (or re-sign) with the current key and "
                              "--announce-next", errors, name)
                self.assertFalse(os.path.exists(path + ".p7s"), name)
        # The announcement names the certificate's issuer key: an issued chain names the authority's.
        chain = docsign.announced_publisher(self.path("c1.chain"))
        with open(by_c, "rb") as stream, open(by_c + ".p7s", "rb") as signature:
            self.assertEqual(chain, docsign.verified_publisher(stream.read(), signature.read()))
        with self.assertRaises(docsign.DocumentError):
            docsign.announced_publisher(self.path("c1.crt"))  # without its issuer

    def test_the_embedded_document_can_announce_the_next_publisher(self):
        tool = ToolTest("run")
        tool.setUp()
        self.addCleanup(tool.doCleanups)
        target = os.path.join(tool.root, "Sequence.xml")
        code, errors = tool.run_tool("--embedded", target, "--announce-next", self.path("c1.chain"))
        self.assertEqual(0, code, errors)
        announced = docsign.announced_in(self.claims(target))
        self.assertEqual(docsign.announced_publisher(self.path("c1.chain")), announced)
        self.assertNotIn("serial", self.claims(target))

    def test_signed_publish_writes_the_signature_beside_both_documents(self):
        tool = ToolTest("run")
        tool.setUp()
        self.addCleanup(tool.doCleanups)
        update = os.path.join(tool.root, "out", "update.xml")
        www = os.path.join(tool.root, "www")
        code, errors = tool.run_tool("--update", update, "--publish", www, "--sign-key", self.path("a.p12"),
                                     "--sign-password-file", self.password, "--first-release")
        self.assertEqual(0, code, errors)
        for document in (update, os.path.join(www, "update.xml")):
            self.assertEqual("1", self.claims(document)["serial"])
            self.assertEqual("Publisher A", self.verified_signer(document).text.split("=", 1)[1])


class VendorBuildRulesTest(unittest.TestCase):
    """The configure-time checks of cmake/ReleaseRules.cmake, run as a CMake script."""

    def check(self, **values):
        if shutil.which("cmake") is None:
            self.skipTest("cmake is not installed")
        arguments = ["cmake"] + ["-D%s=%s" % (name, value) for name, value in values.items()] + ["-P", RULES]
        result = subprocess.run(arguments, capture_output=True, text=True)
        return result.returncode, " ".join(result.stderr.split())

    def address(self, url, vendor, allow="OFF"):
        return self.check(NORLO_CHECK_ADDRESS=url, NORLO_CHECK_NAME="NORLO_RECOVERY_MEDIA_URL",
                          NORLO_CHECK_VENDOR=vendor, NORLO_CHECK_ALLOW=allow)

    def test_vendor_build_refuses_loopback_and_plain_http_unless_allowed(self):
        for url, reason in (("http://127.0.0.1:8642/recovery/", "is a loopback address"),
                            ("https://localhost/recovery/", "is a loopback address"),
                            ("https://[::1]:8443/", "is a loopback address"),
                            ("http://updates.example.com", "is plain http: give an https address")):
            code, errors = self.address(url, "ON")
            self.assertNotEqual(0, code, url)
            self.assertIn("NORLO_RECOVERY_MEDIA_URL '%s' %s" % (url, reason), errors)
            self.assertIn("NORLO_ALLOW_TEST_SERVERS=ON", errors)
            self.assertEqual(0, self.address(url, "ON", allow="ON")[0], url)
            self.assertEqual(0, self.address(url, "OFF")[0], "a test build keeps its loopback server")
        self.assertEqual(0, self.address("https://user@updates.example.com:8443/recovery/", "ON")[0])

    def test_every_build_refuses_addresses_that_are_no_web_address(self):
        for url, reason in (("updates.example.com", "names no scheme"),
                            ("", "names no scheme"),
                            ("ftp://updates.example.com", "has the scheme ftp"),
                            ("file:///srv/recovery", "has the scheme file"),
                            ("https://", "names no host")):
            for vendor, allow in (("ON", "ON"), ("OFF", "OFF")):
                code, errors = self.address(url, vendor, allow)
                self.assertNotEqual(0, code, url)
                self.assertIn(reason, errors)

    def test_version_is_four_numbers_up_to_65535(self):
        self.assertEqual(0, self.check(NORLO_CHECK_VERSION="5.0.1038.10828")[0])
        self.assertEqual(0, self.check(NORLO_CHECK_VERSION="0.0.0.65535")[0])
        for version in ("5.0.1038", "5.0.x.1", "5.0.65536.1", "5.0.1038.10828.1", "05.0.1.1", "5.0.1.2-beta"):
            code, errors = self.check(NORLO_CHECK_VERSION=version)
            self.assertNotEqual(0, code, version)
            self.assertIn("NORLO_VERSION must be four numbers from 0 to 65535 separated by full stops, got '%s'"
                          % version, errors)


if __name__ == "__main__":
    unittest.main()
