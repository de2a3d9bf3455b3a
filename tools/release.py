#!/usr/bin/env python3
"""Writes the install sequence documents of a product release.

From a folder holding the release's component files and a layout description (JSON,
see tools/layout-sample.json) it writes the sequence document that the bootstrapper
embeds and the "update.xml" the update server publishes, and can lay the files out
under the URL paths the documents name, ready to be served.

Every item carries the MD5 and SHA-256 digests and the size of its file: the download
function of the target system may report success for an HTTP error page or a cut-off
transfer, so these are what reject such a file. Executables also carry the file version
read from their version resource, exactly as the bootstrapper reads it back.

The bootstrapper cannot carry its own digests in the document embedded in it, so the
embedded document names the bootstrapper by version and address only; update.xml, written
after the bootstrapper is built and signed, carries its digests.

Given several servers, every item below the first one also names the same path on each of
the others as a <mirror> element after its <url>; the bootstrapper asks them in turn when
an address fails. With --kit it also writes the deployment kit: an MSI wrapper of the signed
bootstrapper and a winget manifest set.
"""

import argparse
import datetime
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import uuid

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import peversion  # noqa: E402
import pesignature  # noqa: E402
import docsign  # noqa: E402

USAGE_EPILOG = """\
layout file (JSON):
  {
    "baseUrl": "{server}/5.0/norlo5/{release}/release/",
    "bootstrapper": {"file": "norlo5-Setup-{release}.exe", "version": "{release}"},
    "appliance": {"file": "appliance.exe"},
    "x64": [{"file": "norlo5-viewer-x64-{release}.msi", "viewer": true,
             "services": true,
             "installCmd": "msiexec /qn /i [APP] /log [LOG] /norestart"}],
    "x86": [...]
  }
  Required sections: baseUrl, bootstrapper, appliance, x64 and x86 (x64 and x86 list at
  least one item each). Any other key, at the top or in an item, is refused.
  Keys of an item:
    file        file name in the release folder, and the name the bootstrapper stores it
                under (required; no folder)
    url         download address; default baseUrl + file (http or https only)
    version     expected file version (bootstrapper: required)
    order       place in its sequence, 0 to 4294967295; default its place in the list
                (x64 and x86 items only, like the following three)
    viewer      true when the item belongs to the viewer install type (default false)
    services    true when the item belongs to the services install type (default false)
    installCmd  install command; [APP] is the file, [LOG] the installer's log
  {server} is the first --server address, other {names} come from --define name=value.

several servers (--server given more than once):
  The first is where the release is published (--publish lays its files out below it).
  Every item whose address lies below it gets one <mirror> element per further server,
  the same path on that server, after its <url>; the bootstrapper asks url and then each
  mirror in this order and takes the first file that passes every check. Older
  bootstrappers read the url alone.

versions:
  A version is four numbers from 0 to 65535 separated by full stops (5.0.1038.10828).
  Every .exe and .dll must have a version resource. Its file version, read as the
  bootstrapper reads it (the FileVersion string of the first translation, else the fixed
  file version numbers, else the US-English FileVersion string), is written to the
  document as it stands and must equal the item's "version" when the layout gives one;
  so write the FileVersion string with full stops ("5.0.1038.10828", not "5, 0, 1038,
  10828"). The bootstrapper's "version" must be the version being built
  (--bootstrapper-version).

the two passes (the same command):
  1. before building the bootstrapper: --embedded writes the document it embeds; the
     bootstrapper item carries its address and version only, so its file need not exist.
  2. after building and signing it, with the signed file in the release folder:
     --update (or --publish) writes update.xml with the bootstrapper's MD5, SHA-256 and
     size. Every other item carries them in both documents. A signed bootstrapper must
     carry an RFC 3161 timestamp (an unsigned one, of a test release, passes).
  Nothing is written when any check fails.

signing update.xml (see README, Security):
  --sign-key KEY.p12 --sign-password-file PASS signs update.xml with the publisher's
  code-signing key: a detached CMS signature over its exact bytes, written beside it as
  update.xml.p7s (and into the --publish folder). The root element then carries
    serial   one above the previous published document's (--previous FILE or URL, read
             with its .p7s), or --serial N, which must be above it; --first-release
             when nothing was published before
    product  --product (default "Norlo 5"): installed copies refuse another product's
    expires  now plus --valid-days (default 90): installed copies refuse it afterwards,
             so publish a release or re-sign (--resign) before then
  and, with --announce-next CHAIN.pem (also taken by --embedded, whose document the
  program then carries with the announcement) (the next publisher's certificate, then its
  issuer's unless self-signed), the publisher that may sign the next releases. The
  signer must be the previous document's publisher or the one it announced: changing
  publishers takes two publications, one signed by the old key announcing the new one,
  then one signed by the new key.
  --sign UPDATE_XML does the same to a document written before, in place (README's
  release steps: the publish target writes it, then it is signed).
  --resign (with --previous, --sign-key and --update or --publish) signs the previous
  document again with the next serial and a new expiry, nothing else changed, for a
  period without releases.

examples:
  release.py --layout layout.json --release-dir out/ --server https://updates.example.com \\
             --define release=5.0.1036.10828 --bootstrapper-version 5.0.1036.10828 \\
             --embedded Sequence.xml
  release.py ... --update update.xml --publish www/   (after signing; also copies every
                                                       file under its URL path)
  release.py ... --update update.xml --kit kit/       (after signing; the deployment kit:
                                                       an MSI wrapper built with wixl, and
                                                       winget manifests)
"""

PLATFORMS = ("x64", "x86")
TOP_LEVEL_KEYS = ("baseUrl", "bootstrapper", "appliance") + PLATFORMS
UNIVERSAL_KEYS = ("file", "url", "version")
PLATFORM_KEYS = UNIVERSAL_KEYS + ("order", "viewer", "services", "installCmd")
VERSION_PATTERN = re.compile(r"(0|[1-9][0-9]{0,4})(\.(0|[1-9][0-9]{0,4})){3}")
READ_SIZE = 1024 * 1024
EXECUTABLE_SUFFIXES = (".exe", ".dll")
INSTALL_TYPES = ("viewer", "services")


KIT_SOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "kit")
PACKAGE_IDENTIFIER = "Norlo.Norlo5"
MANIFEST_VERSION = "1.6.0"
# One upgrade code for the wrappers of every release; product and component codes are
# derived from the release's version, so building a release twice gives the same package.
WRAPPER_UPGRADE_CODE = "{5B0E7C1A-3F2D-4E6B-9A8C-1D2E3F4A5B6C}"
WRAPPER_NAMESPACE = uuid.UUID("8f2c4e1a-6b3d-4f5e-9a7c-0d1e2f3a4b5c")
# Switches of the bootstrapper for deployment tools, and its exit codes (README, "Switches,
# exit codes and the result file"): 0 success, 1 success with a restart needed or nothing to
# do, -1 failure or held back (busy, deferred, restart pending), worth another try later.
SILENT_SWITCHES = "/silent /norestart"
UNINSTALL_SWITCHES = "/uninstall /silent /norestart"
DOWNLOAD_SWITCHES = "/download /silent /norestart"
# The wrapper's copy of Setup.exe that removes the product; it stays in the wrapper's folder.
REMOVER_NAME = "Setup-remove.exe"


class ReleaseError(Exception):
    """A problem with the layout or the release folder, reported to the engineer."""


def md5_of(path):
    return digests_of(path)[0]


def digests_of(path):
    """MD5 and SHA-256 as lower-case hexadecimal text and the size, from one pass."""
    md5, sha256, size = hashlib.md5(), hashlib.sha256(), 0
    with open(path, "rb") as stream:
        for chunk in iter(lambda: stream.read(READ_SIZE), b""):
            md5.update(chunk)
            sha256.update(chunk)
            size += len(chunk)
    return md5.hexdigest(), sha256.hexdigest(), size


def is_version(text):
    return bool(VERSION_PATTERN.fullmatch(text)) and all(int(part) <= 65535 for part in text.split("."))


def web_address_problem(url):
    """Why url is no http or https address with a host, or None."""
    if url != url.strip() or any(ord(c) < 0x21 or ord(c) > 0x7E for c in url):
        return "holds blanks or characters outside printable ASCII"
    scheme, sep, rest = url.partition("://")
    if not sep or not re.fullmatch(r"[A-Za-z][A-Za-z0-9+.-]*", scheme):
        return "names no scheme (http:// or https://)"
    if scheme.lower() not in ("http", "https"):
        return "has the scheme %s; only http and https are accepted" % scheme
    host = re.split(r"[/?#\\]", rest, maxsplit=1)[0].rpartition("@")[2]
    if not host or host.startswith(":"):
        return "names no host"
    return None


def check_keys(entry, known, where):
    for key in entry:
        if key not in known:
            raise ReleaseError("%s: unknown key \"%s\" (known: %s)" % (where, key, ", ".join(known)))


class Variables:
    PATTERN = re.compile(r"\{([A-Za-z_][A-Za-z0-9_]*)\}")

    def __init__(self, values):
        self.values = dict(values)

    def expand(self, text, where):
        def replace(match):
            name = match.group(1)
            if name not in self.values:
                raise ReleaseError("%s: unknown variable {%s} (give it with --define %s=...)"
                                   % (where, name, name))
            return self.values[name]
        return self.PATTERN.sub(replace, text)


class Item:
    """One component as it goes into a document: ordered (element, text) pairs."""

    def __init__(self, order, fields):
        self.order = order
        self.fields = fields

    def value(self, name):
        for key, text in self.fields:
            if key == name:
                return text
        return None


class Release:
    def __init__(self, layout, release_dir, server, defines, bootstrapper_version=None):
        servers = [server] if isinstance(server, str) else list(server)
        if not servers:
            raise ReleaseError("--server is missing")
        for address in servers:
            problem = web_address_problem(address)
            if problem:
                raise ReleaseError("--server %r %s" % (address, problem))
        check_keys(layout, TOP_LEVEL_KEYS, "layout")
        self.layout = layout
        self.release_dir = release_dir
        self.server = servers[0].rstrip("/")
        self.mirrors = []
        for address in servers[1:]:
            address = address.rstrip("/")
            if address != self.server and address not in self.mirrors:
                self.mirrors.append(address)
        self.variables = Variables(dict(defines, server=self.server))
        self.bootstrapper_version = bootstrapper_version
        self.files = {}  # URL -> local file, for publishing

    def _text(self, entry, key, where, required=True):
        value = entry.get(key)
        if value is None:
            if required:
                raise ReleaseError("%s: \"%s\" is missing" % (where, key))
            return None
        if not isinstance(value, str):
            raise ReleaseError("%s: \"%s\" must be a string" % (where, key))
        return self.variables.expand(value, where)

    def _local_file(self, name, where):
        if os.path.basename(name) != name or name in ("", ".", ".."):
            raise ReleaseError("%s: file name %r must not contain a folder" % (where, name))
        path = os.path.join(self.release_dir, name)
        if not os.path.isfile(path):
            raise ReleaseError("%s: file %s not found in the release folder %s"
                               % (where, name, self.release_dir))
        return path

    def _url(self, entry, name, where):
        url = self._text(entry, "url", where, required=False)
        if url is None:
            base = self._text(self.layout, "baseUrl", "layout")
            url = base if base.endswith("/") else base + "/"
            url += name
        problem = web_address_problem(url)
        if problem:
            raise ReleaseError("%s: address %r %s" % (where, url, problem))
        return url

    def mirror_urls(self, url):
        """The same path on every further server, for an address below the first one."""
        prefix = self.server + "/"
        if not url.startswith(prefix):
            return []
        return [mirror + "/" + url[len(prefix):] for mirror in self.mirrors]

    def _version(self, path, where):
        info = peversion.read_version_info(path)
        version = info.file_version() if info else None
        if version is None:
            raise ReleaseError("%s: %s has no readable file version" % (where, path))
        return version

    def _flag(self, entry, key, where):
        value = entry.get(key, False)
        if not isinstance(value, bool):
            raise ReleaseError("%s: \"%s\" must be true or false" % (where, key))
        return "yes" if value else "no"

    def _order(self, entry, default, where):
        order = entry.get("order", default)
        if not isinstance(order, int) or isinstance(order, bool) or not 0 <= order < 2**32:
            raise ReleaseError("%s: \"order\" must be a number from 0 to 4294967295" % where)
        return order

    def component(self, entry, default_order, where, known_keys, with_hash=True):
        if not isinstance(entry, dict):
            raise ReleaseError("%s: must be an object" % where)
        check_keys(entry, known_keys, where)
        name = self._text(entry, "file", where)
        url = self._url(entry, name, where)
        fields = [("url", url)] + [("mirror", mirror) for mirror in self.mirror_urls(url)] + [("filename", name)]
        expected_version = self._text(entry, "version", where, required=False)
        if expected_version is not None and not is_version(expected_version):
            raise ReleaseError("%s: \"version\" %r is not four numbers from 0 to 65535"
                               % (where, expected_version))
        if with_hash:
            path = self._local_file(name, where)
            if name.lower().endswith(EXECUTABLE_SUFFIXES):
                version = self._version(path, where)
                if expected_version is not None and version != expected_version:
                    raise ReleaseError("%s: %s has file version %s, the layout says %s"
                                       % (where, name, version, expected_version))
                fields.append(("version", version))
            md5, sha256, size = digests_of(path)
            fields += [("Hash", md5), ("Sha256", sha256), ("Size", str(size))]
            self.files[url] = path
        elif expected_version is not None:
            fields.append(("version", expected_version))
        return Item(self._order(entry, default_order, where), fields)

    def universal_item(self, section, with_hash=True):
        entry = self.layout.get(section)
        if entry is None:
            raise ReleaseError("layout: section \"%s\" is missing" % section)
        if section == "bootstrapper":
            self._check_bootstrapper_version(entry)
        item = self.component(entry, 0, section, UNIVERSAL_KEYS, with_hash)
        if section == "bootstrapper" and with_hash:
            self._check_bootstrapper_timestamp(entry)
        item.fields.append(("universal", "yes"))
        return item

    def _check_bootstrapper_timestamp(self, entry):
        # A signature without a timestamp ends with its certificate: every installed copy
        # would then refuse the bootstrapper it hands over to.
        name = self._text(entry, "file", "bootstrapper")
        if pesignature.signature_state(self._local_file(name, "bootstrapper")) == "not timestamped":
            raise ReleaseError("bootstrapper: %s is signed without an RFC 3161 timestamp; sign it again "
                               "with one (osslsigncode -ts URL, signtool /tr URL)" % name)

    def _check_bootstrapper_version(self, entry):
        # The embedded document names the bootstrapper by this version alone, so it must be
        # there and be the version being built.
        if not isinstance(entry, dict) or entry.get("version") is None:
            raise ReleaseError("bootstrapper: \"version\" is missing")
        version = self._text(entry, "version", "bootstrapper")
        if self.bootstrapper_version is not None and version != self.bootstrapper_version:
            raise ReleaseError("bootstrapper: the layout's version %s is not the version being "
                               "built, %s" % (version, self.bootstrapper_version))

    def platform_items(self, platform):
        specs = self.layout.get(platform)
        if not isinstance(specs, list) or not specs:
            raise ReleaseError("layout: section \"%s\" must list at least one item" % platform)
        items = []
        for index, entry in enumerate(specs):
            where = "%s item %d" % (platform, index)
            item = self.component(entry, index, where, PLATFORM_KEYS)
            for install_type in INSTALL_TYPES:
                item.fields.append((install_type, self._flag(entry, install_type, where)))
            command = self._text(entry, "installCmd", where, required=False)
            if command is not None:
                item.fields.append(("installCmd", command))
            items.append(item)
        orders = [item.order for item in items]
        if len(set(orders)) != len(orders):
            raise ReleaseError("layout: section \"%s\" gives one order to two items" % platform)
        return sorted(items, key=lambda item: item.order)

    def document(self, bootstrapper_digests=True):
        """The embedded document (bootstrapper_digests False) or update.xml."""
        sections = [("bootstrapper", [self.universal_item("bootstrapper", bootstrapper_digests)]),
                    ("appliance", [self.universal_item("appliance")])]
        for platform in PLATFORMS:
            sections.append((platform, self.platform_items(platform)))
        return render(sections)

    def kit(self):
        """What the deployment kit is made of: the signed bootstrapper, its address, version
        and SHA-256. Checked like update.xml's bootstrapper item."""
        item = self.universal_item("bootstrapper", with_hash=True)
        version = item.value("version")
        problem = msi_version_problem(version)
        if problem:
            raise ReleaseError("kit: the version %s %s" % (version, problem))
        return Kit(version, self._local_file(item.value("filename"), "bootstrapper"), item.value("url"),
                   [value for key, value in item.fields if key == "mirror"], item.value("Sha256"))

    def publish_plan(self, folder):
        """(local file, target) pairs; checked before anything is written."""
        prefix = self.server + "/"
        plan = []
        for url, path in sorted(self.files.items()):
            if not url.startswith(prefix):
                raise ReleaseError("cannot publish %s: it is not below the server address %s"
                                   % (url, self.server))
            relative = url[len(prefix):].split("?")[0].split("#")[0].split("/")
            if any(part in ("", ".", "..") for part in relative):
                raise ReleaseError("cannot publish %s: its path has an empty, . or .. part" % url)
            plan.append((path, os.path.join(folder, *relative)))
        return plan


class Kit:
    def __init__(self, version, bootstrapper, url, mirrors, sha256):
        self.version = version
        self.bootstrapper = bootstrapper
        self.url = url
        self.mirrors = mirrors
        self.sha256 = sha256

    def wrapper_name(self):
        return "Norlo5-Deployment-%s.msi" % self.version

    def product_code(self):
        return "{%s}" % str(uuid.uuid5(WRAPPER_NAMESPACE, "product " + self.version)).upper()

    def wrapper_variables(self):
        return {
            "Version": self.version,
            "ProductCode": self.product_code(),
            "UpgradeCode": WRAPPER_UPGRADE_CODE,
            "ComponentGuid": "{%s}" % str(uuid.uuid5(WRAPPER_NAMESPACE, "setup " + self.version)).upper(),
            "SetupSource": "Setup.exe",
            "ScriptSource": "RunSetup.js",
            "DownloadSwitches": DOWNLOAD_SWITCHES,
            "InstallSwitches": SILENT_SWITCHES,
            "UninstallSwitches": UNINSTALL_SWITCHES,
            "RemoverName": REMOVER_NAME,
        }

    def winget_manifests(self):
        """File name -> text of the winget manifest set (version, installer, default locale)."""
        head = ("PackageIdentifier: %s\nPackageVersion: %s\n" % (PACKAGE_IDENTIFIER, self.version))

        def manifest(kind, body):
            schema = "# yaml-language-server: $schema=https://aka.ms/winget-manifest.%s.%s.schema.json\n" % (
                kind, MANIFEST_VERSION)
            manifest_type = "defaultLocale" if kind == "defaultLocale" else kind
            return schema + "\n" + head + body + "ManifestType: %s\nManifestVersion: %s\n" % (
                manifest_type, MANIFEST_VERSION)

        installer = (
            "InstallerType: exe\n"
            "Scope: machine\n"
            "InstallModes:\n- silent\n- silentWithProgress\n"
            "InstallerSwitches:\n"
            "  Silent: '%s'\n"
            "  SilentWithProgress: '/norestart'\n"
            "UpgradeBehavior: install\n"
            "ElevationRequirement: elevatesSelf\n"
            "InstallerSuccessCodes:\n- 1\n"
            "ExpectedReturnCodes:\n"
            "- InstallerReturnCode: -1\n"
            "  ReturnResponse: contactSupport\n"
            "Installers:\n"
            "- Architecture: x86\n"
            "  InstallerUrl: %s\n"
            "  InstallerSha256: %s\n") % (SILENT_SWITCHES, self.url, self.sha256.upper())
        locale = (
            "PackageLocale: en-US\n"
            "Publisher: Norlo\n"
            "PackageName: Norlo 5\n"
            "License: Proprietary\n"
            "ShortDescription: Backup for Windows desktops, installed and kept up to date by its setup program.\n")
        version = "DefaultLocale: en-US\n"
        return {
            PACKAGE_IDENTIFIER + ".yaml": manifest("version", version),
            PACKAGE_IDENTIFIER + ".installer.yaml": manifest("installer", installer),
            PACKAGE_IDENTIFIER + ".locale.en-US.yaml": manifest("defaultLocale", locale),
        }


def msi_version_problem(version):
    """Why version cannot be an MSI ProductVersion (major and minor up to 255), or None."""
    parts = version.split(".")
    if int(parts[0]) > 255 or int(parts[1]) > 255:
        return "cannot be an MSI product version (its first two numbers must be at most 255)"
    return None


def build_wrapper(kit, target, staging):
    """Builds the MSI wrapper with wixl (or the program $WIXL names) into target. wixl takes
    its sources by relative names only: they are copied into staging and built there."""
    shutil.copyfile(kit.bootstrapper, os.path.join(staging, "Setup.exe"))
    shutil.copyfile(os.path.join(KIT_SOURCES, "RunSetup.js"), os.path.join(staging, "RunSetup.js"))
    command = [os.environ.get("WIXL", "wixl"), "--arch", "x86", "--output", target]
    for name, value in sorted(kit.wrapper_variables().items()):
        command += ["--define", "%s=%s" % (name, value)]
    command.append(os.path.join(KIT_SOURCES, "SetupWrapper.wxs"))
    try:
        finished = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False,
                                  cwd=staging)
    except OSError as error:
        raise ReleaseError("kit: cannot run %s: %s" % (command[0], error.strerror)) from None
    if finished.returncode != 0:
        raise ReleaseError("kit: %s failed (exit code %d): %s" % (
            command[0], finished.returncode, finished.stdout.decode("utf-8", "replace").strip()))


def stage_kit(kit, staging):
    """Writes the kit into the folder staging; relative path -> staged file."""
    files = {kit.wrapper_name(): os.path.join(staging, kit.wrapper_name())}
    build_wrapper(kit, files[kit.wrapper_name()], staging)
    for name, text in kit.winget_manifests().items():
        files["winget/" + name] = os.path.join(staging, name)
        with open(files["winget/" + name], "w", encoding="utf-8", newline="\n") as stream:
            stream.write(text)
    return files


def write_kit(staged, folder):
    for relative, path in sorted(staged.items()):
        target = os.path.join(folder, *relative.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(path, target)


def publish(plan, folder, document, signature=None):
    for path, target in plan:
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(path, target)
    write_signed(os.path.join(folder, "update.xml"), document, signature)


def write_signed(path, document, signature):
    """The document and, when signed, its signature beside it; an old signature never stays."""
    write_document(path, document)
    if signature is not None:
        write_document(path + ".p7s", signature)
    elif os.path.exists(path + ".p7s"):
        os.remove(path + ".p7s")


class DocumentSigning:
    """The claims and the signature of update.xml, from the key and the previous document."""

    def __init__(self, arguments, now=None):
        if arguments.previous is None and not arguments.first_release:
            raise ReleaseError("signing update.xml needs the previously published document "
                               "(--previous FILE or URL), or --first-release when there is none")
        if arguments.previous is not None and arguments.first_release:
            raise ReleaseError("--previous and --first-release exclude each other")
        self.key = docsign.SigningKey(arguments.sign_key, arguments.sign_password_file)
        self.previous = docsign.Previous(arguments.previous) if arguments.previous else None
        self.product = arguments.product
        if self.previous is not None and self.previous.claims.get("product") != self.product:
            raise ReleaseError("the previous document %s is for the product \"%s\", not \"%s\""
                               % (self.previous.location, self.previous.claims.get("product"), self.product))
        docsign.check_rotation(self.previous, self.key.publisher)
        now = now or datetime.datetime.now(datetime.timezone.utc)
        self.claims = {"serial": str(docsign.next_serial(self.previous, arguments.serial)),
                       "product": self.product,
                       "expires": docsign.expiry(now, arguments.valid_days)}
        if arguments.announce_next:
            self.claims.update(docsign.announcement_claims(docsign.announced_publisher(arguments.announce_next)))

    def sign(self, document, keep_claims=False):
        """(signed document, signature); keep_claims keeps the previous document's
        announcement and product (a re-signing)."""
        claims = dict(self.claims)
        if keep_claims:
            kept = {name: value for name, value in docsign.read_claims(document).items()
                    if name in docsign.CLAIM_ORDER and name not in ("serial", "expires")}
            claims = dict(kept, serial=claims["serial"], expires=claims["expires"],
                          **{name: value for name, value in self.claims.items() if name.startswith("next")})
        signed = docsign.with_claims(document, claims)
        signature = self.key.sign(signed)
        # What was written is what an installed copy verifies.
        if docsign.verified_publisher(signed, signature) != self.key.publisher:
            raise ReleaseError("the signature just made does not verify as the signing key's")
        return signed, signature


def escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def render(sections):
    parts = ['<?xml version="1.0" encoding="us-ascii"?><Installer>']
    for name, items in sections:
        parts.append("<%s>" % name)
        for item in items:
            parts.append('<Item Order="%d">' % item.order)
            for key, text in item.fields:
                parts.append("<%s>%s</%s>" % (key, escape(text), key))
            parts.append("</Item>")
        parts.append("</%s>" % name)
    parts.append("</Installer>")
    document = "".join(parts)
    if "\n" in document or "\r" in document:
        raise ReleaseError("a value of the layout holds a line break")
    try:
        return document.encode("ascii")
    except UnicodeEncodeError as error:
        raise ReleaseError("the document must be ASCII; offending text: %r"
                           % document[max(0, error.start - 20):error.end + 20]) from None


def write_document(path, document):
    folder = os.path.dirname(path)
    if folder:
        os.makedirs(folder, exist_ok=True)
    # An unchanged document keeps its time, so the build does not recompile what embeds it.
    if os.path.isfile(path):
        with open(path, "rb") as stream:
            if stream.read() == document:
                return
    with open(path, "wb") as stream:
        stream.write(document)


def load_layout(path):
    try:
        with open(path, "r", encoding="utf-8") as stream:
            layout = json.load(stream)
    except OSError as error:
        raise ReleaseError("cannot read layout %s: %s" % (path, error.strerror)) from None
    except ValueError as error:
        raise ReleaseError("layout %s is not valid JSON: %s" % (path, error)) from None
    if not isinstance(layout, dict):
        raise ReleaseError("layout %s: the top level must be an object" % path)
    return layout


def parse_defines(pairs):
    defines = {}
    for pair in pairs:
        name, sep, value = pair.partition("=")
        if not sep or not Variables.PATTERN.fullmatch("{%s}" % name):
            raise ReleaseError("--define %r: expected name=value" % pair)
        defines[name] = value
    return defines


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="release.py", description="Write the install sequence documents of a release.",
        epilog=USAGE_EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--layout", help="layout description (JSON)")
    parser.add_argument("--release-dir", help="folder holding the component files")
    parser.add_argument("--server", action="append",
                        help="address the release is published under; again for each mirror "
                             "server, asked after it in the order given")
    parser.add_argument("--define", action="append", default=[], metavar="NAME=VALUE",
                        help="value of a {NAME} variable of the layout")
    parser.add_argument("--embedded", metavar="FILE", help="write the embedded document here")
    parser.add_argument("--update", metavar="FILE", help="write update.xml here")
    parser.add_argument("--publish", metavar="FOLDER",
                        help="copy every file under its URL path, and update.xml, into FOLDER")
    parser.add_argument("--kit", metavar="FOLDER",
                        help="write the deployment kit (MSI wrapper, winget manifests) into FOLDER")
    parser.add_argument("--bootstrapper-version", metavar="VERSION",
                        help="the version being built: the layout's bootstrapper version must "
                             "equal it")
    parser.add_argument("--without-bootstrapper-hash", action="store_true",
                        help="kept for older build scripts: the embedded document never carries "
                             "the bootstrapper's digests; refused with --update and --publish")
    parser.add_argument("--sign-key", metavar="KEY.p12", help="sign update.xml with this code-signing key")
    parser.add_argument("--sign-password-file", metavar="FILE", help="file holding the key's password")
    parser.add_argument("--previous", metavar="FILE_OR_URL",
                        help="the update.xml published before (its .p7s beside it)")
    parser.add_argument("--first-release", action="store_true",
                        help="nothing was published before: the serial starts at 1 (or --serial)")
    parser.add_argument("--serial", type=int, help="serial of the document (default: the previous one's plus 1)")
    parser.add_argument("--valid-days", type=int, default=docsign.DEFAULT_VALID_DAYS,
                        help="days until the document expires (default %(default)s)")
    parser.add_argument("--product", default="Norlo 5", help="product the document is for (default %(default)s)")
    parser.add_argument("--announce-next", metavar="CHAIN.pem",
                        help="announce the publisher of this certificate (then its issuer's) as the next one")
    parser.add_argument("--resign", action="store_true",
                        help="sign the --previous document again with the next serial and a new expiry")
    parser.add_argument("--sign", metavar="UPDATE_XML",
                        help="sign this update.xml in place (its claims added, update.xml.p7s beside it)")
    arguments = parser.parse_args(argv)
    if arguments.sign:
        if not (arguments.sign_key and arguments.sign_password_file):
            parser.error("--sign needs --sign-key and --sign-password-file")
        if arguments.resign or arguments.embedded or arguments.update or arguments.publish or arguments.kit:
            parser.error("--sign signs one document: drop --resign, --embedded, --update, --publish and --kit")
        return arguments
    if arguments.resign:
        if not (arguments.previous and arguments.sign_key and (arguments.update or arguments.publish)):
            parser.error("--resign needs --previous, --sign-key and --update or --publish")
        if arguments.embedded or arguments.kit:
            parser.error("--resign writes update.xml only; drop --embedded and --kit")
        return arguments
    for required in ("layout", "release_dir", "server"):
        if getattr(arguments, required) is None:
            parser.error("the following arguments are required: --%s" % required.replace("_", "-"))
    if arguments.sign_key and not (arguments.update or arguments.publish):
        parser.error("--sign-key signs update.xml: give --update or --publish")
    if not (arguments.embedded or arguments.update or arguments.publish or arguments.kit):
        parser.error("nothing to write: give --embedded, --update, --publish or --kit")
    if (arguments.publish or arguments.update or arguments.kit) and arguments.without_bootstrapper_hash:
        parser.error("update.xml needs the bootstrapper's digests; drop --without-bootstrapper-hash")
    if arguments.sign_key and not arguments.sign_password_file:
        parser.error("--sign-key needs --sign-password-file")
    return arguments


def sign_in_place(arguments):
    """A release's update.xml, written unsigned by --update or --publish, signed."""
    signing = DocumentSigning(arguments)
    try:
        with open(arguments.sign, "rb") as stream:
            document = stream.read()
    except OSError as error:
        raise ReleaseError("cannot read %s: %s" % (arguments.sign, error.strerror)) from None
    if docsign.read_claims(document):
        raise ReleaseError("%s is signed already; sign the unsigned document of the release, or use "
                           "--resign to sign a published one again" % arguments.sign)
    write_signed(arguments.sign, *signing.sign(document))


def resign(arguments):
    """The previous document signed again: next serial, new expiry, nothing else changed."""
    signing = DocumentSigning(arguments)
    document, signature = signing.sign(signing.previous.document, keep_claims=True)
    if arguments.update:
        write_signed(arguments.update, document, signature)
    if arguments.publish:
        write_signed(os.path.join(arguments.publish, "update.xml"), document, signature)


def main(argv=None):
    arguments = parse_arguments(sys.argv[1:] if argv is None else argv)
    staging = tempfile.mkdtemp(prefix="release-kit-")
    try:
        if arguments.resign or arguments.sign:
            (resign if arguments.resign else sign_in_place)(arguments)
            return 0
        # The key and the previous document are checked before anything is computed.
        signing = DocumentSigning(arguments) if arguments.sign_key else None
        if not os.path.isdir(arguments.release_dir):
            raise ReleaseError("release folder %s not found" % arguments.release_dir)
        release = Release(load_layout(arguments.layout), arguments.release_dir,
                          arguments.server, parse_defines(arguments.define),
                          arguments.bootstrapper_version)
        # Everything is computed and checked before the first file is written.
        embedded = release.document(bootstrapper_digests=False) if arguments.embedded else None
        if embedded is not None and arguments.announce_next:
            # The program carries it signed: once it runs, the announced publisher is its own too.
            embedded = docsign.with_claims(embedded, docsign.announcement_claims(
                docsign.announced_publisher(arguments.announce_next)))
        update = None
        plan = []
        signature = None
        if arguments.update or arguments.publish:
            update = release.document(bootstrapper_digests=True)
            if signing is not None:
                update, signature = signing.sign(update)
        if arguments.publish:
            plan = release.publish_plan(arguments.publish)
        # The wrapper is built before anything is written, since wixl may refuse it.
        kit = stage_kit(release.kit(), staging) if arguments.kit else None
        if embedded is not None:
            write_document(arguments.embedded, embedded)
        if arguments.update:
            write_signed(arguments.update, update, signature)
        if arguments.publish:
            publish(plan, arguments.publish, update, signature)
        if kit is not None:
            write_kit(kit, arguments.kit)
    except OSError as error:
        print("release.py: error: %s: %s" % (error.filename or "", error.strerror), file=sys.stderr)
        return 1
    except (ReleaseError, docsign.DocumentError, peversion.PeError) as error:  # pesignature raises PeError too
        print("release.py: error: %s" % error, file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(staging, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
