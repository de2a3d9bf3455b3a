"""The set-up script's decisions, with the package tools replaced by stand-ins that record
every call: which architectures a host gets, what a package index that cannot be fetched
means, and that a ready machine asks no index at all."""
import os
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SECURITY_INDEX = "http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz"

# Each stand-in appends its arguments to $STANDIN/calls and keeps its state in $STANDIN.
APT_GET = r"""#!/bin/bash
echo "apt-get $*" >>"$STANDIN/calls"
case " $* " in
  *" update "*)
    n=$(cat "$STANDIN/update-failures" 2>/dev/null || echo 0)
    if [ "$n" -gt 0 ]; then
      echo $((n - 1)) >"$STANDIN/update-failures"
      echo "E: Failed to fetch %s  File has unexpected size (375112 != 374921). Mirror sync in progress? [IP: 151.101.2.132 80]"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi ;;
  *" install "*)
    if [ -f "$STANDIN/install-fails" ]; then
      echo "E: Unable to locate package wine32:i386" >&2
      exit 100
    fi
    for p in "$@"; do case $p in -*|install) ;; *) echo "$p" >>"$STANDIN/installed" ;; esac; done ;;
esac
""" % SECURITY_INDEX

DPKG = r"""#!/bin/bash
echo "dpkg $*" >>"$STANDIN/calls"
touch "$STANDIN/archs"
case $1 in
  --print-foreign-architectures) cat "$STANDIN/archs" ;;
  --add-architecture) echo "$2" >>"$STANDIN/archs" ;;
  --remove-architecture) grep -vx "$2" "$STANDIN/archs" >"$STANDIN/archs.new"; mv "$STANDIN/archs.new" "$STANDIN/archs" ;;
esac
"""

DPKG_QUERY = r"""#!/bin/bash
touch "$STANDIN/installed"
if [ "$#" = 2 ]; then   # -W -f=FORMAT: every known package
  while read -r p; do echo "$p installed"; done <"$STANDIN/installed"
else                    # -W -f=${Status} PACKAGE
  grep -qx "$3" "$STANDIN/installed" && echo "install ok installed"
fi
exit 0
"""

SOURCES_PLAIN = "Types: deb\nURIs: http://deb.debian.org/debian\nSuites: bookworm\n"
SOURCES_READY = "Types: deb deb-src\nURIs: http://deb.debian.org/debian\nSuites: bookworm\n"


def package_list():
    """The packages the script installs on every host, read from the script itself."""
    with open(os.path.join(ROOT, "scripts", "deps.sh"), encoding="utf-8") as handle:
        text = handle.read()
    block = text.split("PACKAGES=(", 1)[1].split(")", 1)[0]
    return block.split()


class SetUpDecisions(unittest.TestCase):
    def run_deps(self, host32, archs=(), installed=(), update_failures=0, install_fails=False,
                 sources=SOURCES_PLAIN):
        standin = tempfile.mkdtemp(prefix="norlo-deps-")
        self.addCleanup(subprocess.run, ["rm", "-rf", standin])
        for name, text in (("apt-get", APT_GET), ("dpkg", DPKG), ("dpkg-query", DPKG_QUERY)):
            path = os.path.join(standin, name)
            with open(path, "w", encoding="utf-8") as handle:
                handle.write(text)
            os.chmod(path, 0o755)
        with open(os.path.join(standin, "archs"), "w", encoding="utf-8") as handle:
            handle.write("".join(a + "\n" for a in archs))
        with open(os.path.join(standin, "installed"), "w", encoding="utf-8") as handle:
            handle.write("".join(p + "\n" for p in installed))
        with open(os.path.join(standin, "update-failures"), "w", encoding="utf-8") as handle:
            handle.write(str(update_failures))
        if install_fails:
            open(os.path.join(standin, "install-fails"), "w").close()
        with open(os.path.join(standin, "debian.sources"), "w", encoding="utf-8") as handle:
            handle.write(sources)
        env = dict(os.environ, STANDIN=standin, NORLO_TARGETS="", NORLO_HOST32=host32,
                   NORLO_APT_GET=os.path.join(standin, "apt-get"), NORLO_DPKG=os.path.join(standin, "dpkg"),
                   NORLO_DPKG_QUERY=os.path.join(standin, "dpkg-query"),
                   NORLO_APT_SOURCES=os.path.join(standin, "debian.sources"), NORLO_APT_RETRY_WAITS="0 0")
        env.pop("NORLO_HOST32_ANSWER", None)
        result = subprocess.run(["bash", os.path.join(ROOT, "scripts", "deps.sh")], env=env,
                                capture_output=True, text=True, timeout=60)
        calls_path = os.path.join(standin, "calls")
        calls = []
        if os.path.exists(calls_path):
            with open(calls_path, encoding="utf-8") as handle:
                calls = handle.read().splitlines()
        with open(os.path.join(standin, "archs"), encoding="utf-8") as handle:
            final_archs = handle.read().split()
        return result, calls, final_archs

    def install_call(self, calls):
        installs = [c for c in calls if c.startswith("apt-get install")]
        self.assertEqual(1, len(installs), calls)
        return installs[0].split()

    def test_architectures_follow_the_host(self):
        cases = [
            # host32, archs before, installed before, the line said, archs after
            ("yes", (), (), "adding the i386 architecture", ["i386"]),
            ("no", (), (), None, []),
            ("no", ("i386",), (), "removing the i386 architecture an earlier run added", []),
            ("no", ("i386",), ("libc6:i386",), "i386 packages are installed (libc6:i386): keeping", ["i386"]),
        ]
        for host32, archs, installed, line, after in cases:
            with self.subTest(host32=host32, archs=archs, installed=installed):
                result, calls, final_archs = self.run_deps(host32, archs, installed)
                self.assertEqual(0, result.returncode, result.stderr)
                self.assertEqual(after, final_archs)
                install = self.install_call(calls)
                self.assertEqual(host32 == "yes", "wine32:i386" in install)
                self.assertIn("wine64", install)
                if line:
                    self.assertIn(line, result.stdout)
                else:
                    self.assertNotIn("i386 architecture", result.stdout)
                # The architecture changes come before the indexes are read.
                first_update = next(i for i, c in enumerate(calls) if c.startswith("apt-get update"))
                self.assertFalse([c for c in calls[first_update:] if "-architecture" in c])

    def test_an_index_that_cannot_be_fetched_does_not_end_the_set_up(self):
        for failures, updates, said in ((1, 2, False), (2, 3, False), (3, 3, True), (9, 3, True)):
            with self.subTest(failures=failures):
                result, calls, _ = self.run_deps("no", update_failures=failures)
                self.assertEqual(0, result.returncode, result.stderr)
                self.assertEqual(updates, len([c for c in calls if c.startswith("apt-get update")]))
                self.install_call(calls)
                line = ("[deps] package indexes not fetched after 3 tries, going on with those at hand: "
                        + SECURITY_INDEX)
                self.assertEqual(said, line in result.stdout.splitlines(), result.stdout)

    def test_a_package_that_cannot_be_installed_fails_with_apts_message(self):
        result, calls, _ = self.run_deps("yes", update_failures=3, install_fails=True)
        self.assertNotEqual(0, result.returncode)
        self.assertEqual(3, len([c for c in calls if c.startswith("apt-get install")]))
        self.assertIn("E: Unable to locate package wine32:i386", result.stderr)
        self.assertNotIn("[deps] done", result.stdout)

    def test_a_ready_machine_asks_no_index(self):
        for host32, archs in (("yes", ("i386",)), ("no", ())):
            with self.subTest(host32=host32):
                packages = package_list() + (["wine32:i386"] if host32 == "yes" else [])
                result, calls, _ = self.run_deps(host32, archs, packages, sources=SOURCES_READY)
                self.assertEqual(0, result.returncode, result.stderr)
                self.assertEqual([], [c for c in calls if c.startswith("apt-get")])
                self.assertEqual(["dpkg --print-foreign-architectures"], calls)
                self.assertIn("[deps] Debian packages present", result.stdout)

    def test_the_probe_answers_and_the_override_wins(self):
        probe = os.path.join(ROOT, "scripts", "host-probe.sh")
        # Without the answer an enclosing script (scripts/test.sh) already passed down.
        clean = {k: v for k, v in os.environ.items() if k not in ("NORLO_HOST32", "NORLO_HOST32_ANSWER")}
        for override, expected in (("yes", 0), ("no", 1)):
            result = subprocess.run(["bash", "-c", '. "$0"; host_executes_i386', probe],
                                    env=dict(clean, NORLO_HOST32=override), timeout=30)
            self.assertEqual(expected, result.returncode)
        # The answer passed down is used as it is: the scripts a run starts decide alike.
        for answer, expected in (("yes", 0), ("no", 1)):
            result = subprocess.run(["bash", "-c", '. "$0"; host_executes_i386', probe],
                                    env=dict(clean, NORLO_HOST32_ANSWER=answer), timeout=30)
            self.assertEqual(expected, result.returncode)
        # The probe itself: it runs here, and answers yes or no without a word on any stream.
        env = clean
        result = subprocess.run(["bash", "-c", '. "$0"; host_executes_i386; echo "answer $?"', probe],
                                env=env, capture_output=True, text=True, timeout=30)
        self.assertIn(result.stdout, ("answer 0\n", "answer 1\n"))
        self.assertEqual("", result.stderr)


if __name__ == "__main__":
    unittest.main()
