#!/usr/bin/env bash
# The release engineer's path, end to end. Runs the steps README.md gives under "Making a
# release" (the sh block after the "release-steps" marker, taken out of the README and run
# as it stands, so the two cannot drift apart) in a fresh folder, checks the published tree
# with coreutils, and installs from it with the signed Setup.exe under Wine.
#
#   release-path.sh SOURCE_DIR BUILD_DIR TOOLCHAIN_FILE VERSION
#
# BUILD_DIR is the calling test build: its sample release supplies the component files
# (VERSION is theirs) and its harness the display. Everything else lands in
# BUILD_DIR/release-path, emptied first; the Wine prefix there is this test's own, so the
# packages it installs never meet the other tests.
set -euo pipefail
source_dir=$1
build=$2
toolchain=$3
version=$4
harness=$build/harness
# shellcheck source=../harness/env.sh
. "$source_dir/tests/harness/env.sh" "$harness"
# shellcheck source=../harness/host32.sh
. "$source_dir/tests/harness/host32.sh"
if ! host_runs_test_build; then
  host_32bit_notice
  exit 77
fi

work=$build/release-path
rel=$work/rel
www=$rel/build/release/www
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
step() { printf '\n== %s\n' "$*"; }

http_pid=""
tsa_pid=""
cleanup() {
  if [ -n "$http_pid" ]; then kill "$http_pid" 2>/dev/null || true; fi
  if [ -n "$tsa_pid" ]; then kill "$tsa_pid" 2>/dev/null || true; fi
  if [ -d "$work/prefix" ]; then WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true; fi
  if [ -d "$work/kit-prefix" ]; then WINEPREFIX=$work/kit-prefix wineserver -k 2>/dev/null || true; fi
}
trap cleanup EXIT

# A prefix left by an earlier run may still have its server up; end it before the folder goes.
if [ -d "$work/prefix" ]; then WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true; fi
if [ -d "$work/kit-prefix" ]; then WINEPREFIX=$work/kit-prefix wineserver -k 2>/dev/null || true; fi
rm -rf "$work"
mkdir -p "$work/key" "$work/components" "$work/artifacts"

step "settings of the rehearsal"
# The sample release's files as the engineers hand them over: its bootstrapper is what
# the release build replaces.
find "$build/release/files" -maxdepth 1 -type f ! -name 'norlo5-Setup-*' -exec cp {} "$work/components/" \;
ls "$work/components"
[ -n "$(ls "$work/components")" ] || { echo "no component files in $build/release/files" >&2; exit 1; }

# A throw-away test authority issues the code-signing certificate (as PKCS#12 with a password
# file, like a real one), the time-stamping authority's certificate and a short-lived signer.
authority=$work/key/authority
mkdir -p "$authority"
printf '%s\n' '[ca]' 'default_ca = test' '[test]' "database = $authority/index" "new_certs_dir = $authority" \
  "serial = $authority/serial" 'default_md = sha256' 'policy = anything' 'unique_subject = no' \
  '[anything]' 'commonName = supplied' \
  '[tsa]' 'default_tsa = local' '[local]' "serial = $authority/tsa.serial" "signer_cert = $authority/tsa.crt" \
  "certs = $authority/root.crt" "signer_key = $authority/tsa.key" 'signer_digest = sha256' \
  'default_policy = 1.2.3.4.1' 'digests = sha256, sha384, sha512, sha1' 'accuracy = secs:1' \
  'ess_cert_id_alg = sha256' >"$authority/authority.cnf"
: >"$authority/index"
echo 1000 >"$authority/serial"
echo 01 >"$authority/tsa.serial"
now=$(date -u +%s)
at() { date -u -d "@$1" +%Y%m%d%H%M%SZ; }
issue() {  # name subject issuer(- for itself) first-valid last-valid extensions
  openssl req -new -newkey rsa:2048 -nodes -keyout "$authority/$1.key" -out "$authority/$1.csr" -subj "/CN=$2" 2>/dev/null
  printf "$6" >"$authority/$1.ext"
  local issuer=(-cert "$authority/$3.crt" -keyfile "$authority/$3.key")
  [ "$3" = - ] && issuer=(-selfsign -keyfile "$authority/$1.key")
  openssl ca -batch -config "$authority/authority.cnf" "${issuer[@]}" -in "$authority/$1.csr" \
    -startdate "$(at "$4")" -enddate "$(at "$5")" -extfile "$authority/$1.ext" -out "$authority/$1.crt" -notext \
    >/dev/null 2>&1
}
signing='keyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n'
issue root "Release path test authority" - $((now - 86400)) $((now + 30 * 86400)) \
  'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n'
issue tsa "Release path test time-stamping" root $((now - 86400)) $((now + 30 * 86400)) \
  'keyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n'
issue signer "Release path test signer" root $((now - 86400)) $((now + 2 * 86400)) "$signing"
# Valid for a day: checked as of three days on, it has expired.
issue shortlived "Release path test short-lived signer" root $((now - 86400)) $((now + 86400)) "$signing"
(
  cd "$work/key"
  cp "$authority/root.crt" root.crt
  echo "rehearsal-$$" >pass.txt
  openssl pkcs12 -export -inkey "$authority/signer.key" -in "$authority/signer.crt" -certfile root.crt -out key.p12 \
    -passout file:pass.txt
)

# The time-stamping authority the signing step asks.
python3 "$source_dir/tests/release/timestamp-server.py" "$authority/authority.cnf" "$work/tsa.port" \
  "$work/artifacts/timestamps.log" >"$work/artifacts/tsa.out" 2>&1 &
tsa_pid=$!
for _ in $(seq 1 100); do [ -f "$work/tsa.port" ] && break; sleep 0.1; done
[ -f "$work/tsa.port" ] || { cat "$work/artifacts/tsa.out" >&2; echo "FAIL: no time-stamping authority" >&2; exit 1; }
tsa=http://127.0.0.1:$(cat "$work/tsa.port")

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
server=http://127.0.0.1:$port

steps=$work/steps.sh
{
  printf 'R=%q\nREL=%q\nCOMPONENTS=%q\nSERVER=%q\nKEY=%q PASS=%q\nTSA=%q\nTOOLCHAIN=%q\n' \
    "$version" "$rel" "$work/components" "$server" "$work/key/key.p12" "$work/key/pass.txt" "$tsa" "$toolchain"
  # https with a test authority is not in place yet: a plain-http loopback server.
  echo 'OPTIONS=(-DNORLO_ALLOW_TEST_SERVERS=ON)'
  # Nothing was published on this server before.
  echo 'PREVIOUS=(--first-release)'
  awk '/^<!-- release-steps/ { marked = 1; next }
       marked == 1 && /^```sh$/ { marked = 2; next }
       marked == 2 && /^```$/ { exit }
       marked == 2 { print }' "$source_dir/README.md"
} >"$steps"
grep -q norlo_publish_release "$steps" || { echo "README.md has no release-steps block" >&2; exit 1; }
cat "$steps"

step "the README's steps"
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$source_dir}
fi
(cd "$source_dir" && bash -euo pipefail "$steps") || { echo "FAIL: the README's release steps failed" >&2; exit 1; }

step "the published tree"
update=$www/update.xml
cmp -s "$update" "$rel/build/release/documents/update.xml" || fail "www/update.xml differs from documents/update.xml"
# One line per item: section, file name, address, version, MD5, SHA-256, size ("-" when absent).
items() {
  python3 - "$1" <<'PY'
import sys
import xml.etree.ElementTree as ET
for section in ET.parse(sys.argv[1]).getroot():
    for item in section.findall("Item"):
        def text(name):
            node = item.find(name)
            return node.text if node is not None and node.text else "-"
        print(section.tag, *(text(n) for n in ("filename", "url", "version", "Hash", "Sha256", "Size")))
PY
}
items "$update" >"$work/update-items.txt"
items "$rel/build/release/documents/Sequence.xml" >"$work/embedded-items.txt"
served=0
while read -r section file url item_version md5 sha256 size; do
  case $url in
    "$server"/*) path=$www/${url#"$server"/} ;;
    *) fail "$section $file: address $url is not below $server"; continue ;;
  esac
  [ -f "$path" ] || { fail "$section $file: nothing served at $url"; continue; }
  served=$((served + 1))
  [ "$(md5sum <"$path" | cut -c1-32)" = "$md5" ] || fail "$section $file: md5sum differs from update.xml ($md5)"
  [ "$(sha256sum <"$path" | cut -c1-64)" = "$sha256" ] || fail "$section $file: sha256sum differs from update.xml ($sha256)"
  [ "$(stat -c %s "$path")" = "$size" ] || fail "$section $file: size $(stat -c %s "$path") is not $size"
  cmp -s "$path" "$rel/files/$file" || fail "$section $file: the served file is not the signed one"
  case $file in
    *.exe|*.msi)
      verified=$(osslsigncode verify -CAfile "$work/key/root.crt" -TSA-CAfile "$work/key/root.crt" -in "$path" 2>&1) \
        && grep -q "Timestamp time:" <<<"$verified" || fail "$section $file: not signed with the release key and a timestamp" ;;
  esac
done <"$work/update-items.txt"
files_served=$(find "$www" -type f ! -path "$update" ! -path "$update.p7s" | wc -l)
# Platform sections name the custom package in both; it is served once.
distinct_urls=$(awk '{ print $3 }' "$work/update-items.txt" | sort -u | wc -l)
[ "$files_served" = "$distinct_urls" ] || fail "$files_served files served, update.xml names $distinct_urls addresses"
[ "$served" -ge 10 ] || fail "only $served items found in update.xml"

read -r _ boot_file _ boot_version boot_md5 _ <<<"$(grep '^bootstrapper ' "$work/update-items.txt")"
[ "$boot_file" = "norlo5-Setup-$version.exe" ] || fail "bootstrapper file $boot_file"
[ "$boot_version" = "$version" ] || fail "bootstrapper version $boot_version, released $version"
[ "$boot_md5" != - ] || fail "update.xml carries no digests for the bootstrapper"
# The embedded document: the bootstrapper by version and address only, every other item
# with the digests update.xml publishes.
grep -q "^bootstrapper $boot_file [^ ]* $version - - -$" "$work/embedded-items.txt" \
  || fail "the embedded document does not name the bootstrapper by version and address only: $(grep '^bootstrapper' "$work/embedded-items.txt")"
diff <(grep -v '^bootstrapper ' "$work/embedded-items.txt") <(grep -v '^bootstrapper ' "$work/update-items.txt") \
  || fail "the embedded document and update.xml disagree about the components"

step "the signed update document"
# Its signature verifies over the served bytes up to the test authority, and not over
# changed ones; its claims are the first release's, for the product, valid for 90 days.
openssl cms -verify -binary -inform DER -in "$update.p7s" -content "$update" -CAfile "$work/key/root.crt" \
  -purpose any -out /dev/null 2>"$work/artifacts/document-verify.txt" \
  || fail "update.xml.p7s does not verify over update.xml (see $work/artifacts/document-verify.txt)"
sed 's/serial="1"/serial="2"/' "$update" >"$work/changed-update.xml"
if openssl cms -verify -binary -inform DER -in "$update.p7s" -content "$work/changed-update.xml" \
  -CAfile "$work/key/root.crt" -purpose any -out /dev/null 2>/dev/null; then
  fail "update.xml.p7s verifies over a changed document"
fi
claims() {
  python3 - "$1" <<'PY'
import datetime
import sys
import xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
expires = datetime.datetime.strptime(root.get("expires"), "%Y-%m-%dT%H:%M:%SZ")
days = round((expires - datetime.datetime.utcnow()).total_seconds() / 86400)
print(root.get("serial"), root.get("product"), days)
PY
}
[ "$(claims "$update")" = "1 Norlo 5 90" ] || fail "update.xml claims $(claims "$update"), not serial 1 of Norlo 5 for 90 days"
# Re-signing between releases: the next serial, nothing else changed, the same signer.
(cd "$source_dir" && /usr/bin/python3 tools/release.py --resign --previous "$update" --sign-key "$work/key/key.p12" \
  --sign-password-file "$work/key/pass.txt" --valid-days 30 --update "$work/resigned/update.xml") \
  || fail "re-signing the published document failed"
[ "$(claims "$work/resigned/update.xml")" = "2 Norlo 5 30" ] || fail "the re-signed document claims $(claims "$work/resigned/update.xml")"
openssl cms -verify -binary -inform DER -in "$work/resigned/update.xml.p7s" -content "$work/resigned/update.xml" \
  -CAfile "$work/key/root.crt" -purpose any -out /dev/null 2>/dev/null || fail "the re-signed document does not verify"
cmp -s <(sed 's/<Installer[^>]*>//' "$update") <(sed 's/<Installer[^>]*>//' "$work/resigned/update.xml") \
  || fail "re-signing changed more than the root element's claims"

step "timestamps outlive the signing certificate"
# The published bootstrapper carries the authority's timestamp (the publish step refuses it
# otherwise, tools/test_release.py); a signature with a timestamp stays valid after its
# certificate expires, one without it does not. Checked as of three days on, when the
# short-lived certificate has expired.
grep -q answered "$work/artifacts/timestamps.log" || fail "the signing step asked no time-stamping authority"
later=$((now + 3 * 86400))
cat "$authority/shortlived.crt" "$authority/root.crt" >"$authority/shortlived.chain"
for stamp in with without; do
  stamping=()
  [ $stamp = with ] && stamping=(-ts "$tsa")
  osslsigncode sign -certs "$authority/shortlived.chain" -key "$authority/shortlived.key" -h sha256 "${stamping[@]}" \
    -in "$rel/build/bin/Setup.exe" -out "$work/expiring-$stamp.exe" >/dev/null
  osslsigncode verify -time "$later" -CAfile "$work/key/root.crt" -TSA-CAfile "$work/key/root.crt" \
    -in "$work/expiring-$stamp.exe" >"$work/artifacts/expiring-$stamp.txt" 2>&1 && verdict=accepted || verdict=refused
  expected=accepted
  [ $stamp = without ] && expected=refused
  [ $verdict = $expected ] || fail "an expired certificate $stamp a timestamp was $verdict (see $work/artifacts/expiring-$stamp.txt)"
done
grep -q "certificate has expired" "$work/artifacts/expiring-without.txt" \
  || fail "the signature without a timestamp was not refused for its expired certificate"
cp "$work/expiring-without.exe" "$rel/files/unstamped.exe"
python3 - "$source_dir/tools" "$rel/files/unstamped.exe" <<'PY' || fail "the publish step's check takes a signature without a timestamp"
import sys
sys.path.insert(0, sys.argv[1])
import pesignature
sys.exit(0 if pesignature.signature_state(sys.argv[2]) == "not timestamped" else 1)
PY
rm -f "$rel/files/unstamped.exe"

step "an install from the published tree"
python3 "$source_dir/tests/harness/httpserver.py" "$www" "$work/http.port" "$work/artifacts/requests.log" "$port" \
  >"$work/artifacts/http.log" 2>&1 &
http_pid=$!
for _ in $(seq 1 100); do [ -f "$work/http.port" ] && break; sleep 0.1; done
[ -f "$work/http.port" ] || { cat "$work/artifacts/http.log" >&2; echo "FAIL: could not serve on port $port" >&2; exit 1; }

export WINEPREFIX=$work/prefix
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wineboot --init >"$work/artifacts/wineboot.log" 2>&1 </dev/null
wineserver -w
drive_c=$WINEPREFIX/drive_c
mkdir -p "$drive_c/Downloads"
cp "$rel/files/$boot_file" "$drive_c/Downloads/Setup.exe"
set +e
timeout --kill-after=10 900 wine 'C:\Downloads\Setup.exe' /silent /norestart '/result=C:\Downloads\result.json' \
  >"$work/artifacts/setup.out" 2>&1 </dev/null
exit_code=$?
set -e
wineserver -w
log="$drive_c/ProgramData/Norlo 5/log/setup.log"
[ -f "$log" ] && cp "$log" "$work/artifacts/setup.log"
echo "exit code $exit_code; requests:"
cat "$work/artifacts/requests.log"
[ "$exit_code" = 0 ] || fail "Setup.exe ended with $exit_code, not 0 (log: $work/artifacts/setup.log)"

head -n 1 "$work/artifacts/setup.log" 2>/dev/null | grep -q "Setup $version started, mode INSTALL" \
  || fail "the setup log does not start with the released version's line"
grep -q "Update document accepted: serial 1, expires on " "$work/artifacts/setup.log" 2>/dev/null \
  || fail "the signed Setup.exe did not accept the signed update document"
if grep -E 'Signature check failure|comparison failure|Parse Error' "$work/artifacts/setup.log" 2>/dev/null; then
  fail "the install found a file that does not match its document"
fi
# The platform of a 64-bit prefix, in the order of its sequence.
expected=$(awk '$1 == "x64" { print $2 }' "$work/update-items.txt")
python3 - "$drive_c/Downloads/result.json" "$expected" <<'PY' || fail "the result file does not report every component installed"
import json
import sys
result = json.load(open(sys.argv[1], encoding="utf-8"))
expected = sys.argv[2].split()
components = [c for c in result["components"] if c["file"] in expected]
problems = []
if (result["mode"], result["outcome"], result["exitCode"]) != ("INSTALL", "succeeded", 0):
    problems.append("run: %s %s %s" % (result["mode"], result["outcome"], result["exitCode"]))
if [c["file"] for c in components] != expected:
    problems.append("components %s, expected %s" % ([c["file"] for c in components], expected))
problems += ["%s: %s, exit code %s" % (c["file"], c["action"], c.get("exitCode"))
             for c in components if c["action"] != "installed" or c.get("exitCode") != 0]
print("\n".join(problems) or "result: %d components installed" % len(components))
sys.exit(1 if problems else 0)
PY
for file in $expected; do
  url=$(awk -v f="$file" '$1 == "x64" && $2 == f { print $3 }' "$work/update-items.txt")
  grep -qx "${url#"$server"}" "$work/artifacts/requests.log" || fail "$file was not downloaded from $url"
done
for payload in "Program Files/Norlo 5/viewer-x64.txt" "Program Files/Norlo 5/services-x64.txt" \
               "Program Files/Norlo 5/runtimes-x64.txt" "Program Files (x86)/Norlo 5/custom.txt"; do
  grep -q " $version\$" "$drive_c/$payload" 2>/dev/null || fail "C:\\$payload was not installed from release $version"
done

step "newer bootstrappers the signed release must refuse"
# A "newer" release made from this build: the same executable with a higher version in its
# version resource (patched in place, same length), signed by another publisher, left
# unsigned, or signed by the release key and then damaged. update.xml names each in turn,
# with true digests; the signed Setup.exe must refuse it and finish with itself.
newer=$(python3 - "$rel/build/bin/Setup.exe" "$work/newer.exe" "$version" <<'PY'
import sys
source, target, version = sys.argv[1:]
parts = version.split(".")
last = str(int(parts[-1]) + 1)
if len(last) != len(parts[-1]):
    last = str(int(parts[-1]) - 1)  # keep the length; the run then sees an older version
newer = ".".join(parts[:-1] + [last])
data = open(source, "rb").read()
old_text, new_text = version.encode("utf-16-le"), newer.encode("utf-16-le")
if data.count(old_text) == 0:
    sys.exit("no version text in " + source)
open(target, "wb").write(data.replace(old_text, new_text))
print(newer)
PY
)
if [ "$(printf '%s\n%s\n' "$version" "$newer" | sort -V | tail -n 1)" != "$newer" ]; then
  fail "cannot make a newer version than $version of the same length"
fi
(
  cd "$work/key"
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -keyout other.key -out other.crt \
    -subj "/CN=Another publisher" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" 2>/dev/null
  openssl pkcs12 -export -inkey other.key -in other.crt -out other.p12 -passout file:pass.txt
)
mkdir -p "$www/pin"
osslsigncode sign -pkcs12 "$work/key/other.p12" -readpass "$work/key/pass.txt" -h sha256 \
  -in "$work/newer.exe" -out "$www/pin/other.exe" >/dev/null
cp "$work/newer.exe" "$www/pin/unsigned.exe"
osslsigncode sign -pkcs12 "$work/key/key.p12" -readpass "$work/key/pass.txt" -h sha256 \
  -in "$work/newer.exe" -out "$www/pin/tampered.exe" >/dev/null
# One byte of the code changed after signing: the signature no longer holds.
python3 - "$www/pin/tampered.exe" <<'PY'
import sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
data[0x400] ^= 0xFF
open(path, "wb").write(bytes(data))
PY
cp "$update" "$work/update.published.xml"
cp "$update.p7s" "$work/update.published.xml.p7s"
# Names $1 as the bootstrapper of update.xml, with its true digests and size, in a document
# the release key signs (the next serial), so that only the bootstrapper is in question.
announce() {
  python3 - "$work/update.published.xml" "$update" "$1" "$server/pin/$(basename "$1")" "$newer" <<'PY'
import hashlib, os, re, sys
source, target, path, url, version = sys.argv[1:]
data = open(path, "rb").read()
text = open(source, encoding="utf-8").read()
head, rest = text.split("<bootstrapper>", 1)
item, tail = rest.split("</bootstrapper>", 1)
for name, value in (("filename", os.path.basename(path)), ("url", url), ("version", version),
                    ("Hash", hashlib.md5(data).hexdigest()), ("Sha256", hashlib.sha256(data).hexdigest()),
                    ("Size", str(len(data)))):
    item, count = re.subn("<%s>[^<]*</%s>" % (name, name), "<%s>%s</%s>" % (name, value, name), item)
    if count != 1:
        sys.exit("update.xml's bootstrapper has no single <%s>" % name)
head = re.sub(r"<Installer[^>]*>", "<Installer>", head)
open(target, "w", encoding="utf-8").write(head + "<bootstrapper>" + item + "</bootstrapper>" + tail)
PY
  (cd "$source_dir" && /usr/bin/python3 tools/release.py --sign "$update" --sign-key "$work/key/key.p12" \
    --sign-password-file "$work/key/pass.txt" --previous "$work/update.published.xml")
}
# Runs the installed release's Setup.exe with $2...; the exit code is left in run_exit.
run_release() {
  local name=$1
  shift
  rm -f "$log"
  set +e
  timeout --kill-after=10 900 wine 'C:\Downloads\Setup.exe' "$@" >"$work/artifacts/$name.out" 2>&1 </dev/null
  run_exit=$?
  set -e
  wineserver -w
  cp "$log" "$work/artifacts/$name.log" 2>/dev/null || : >"$work/artifacts/$name.log"
}
for candidate in other unsigned tampered; do
  announce "$www/pin/$candidate.exe" || { fail "could not announce $candidate.exe"; continue; }
  run_release "pin-$candidate" /install /silent /norestart
  evidence=$work/artifacts/pin-$candidate.log
  [ "$run_exit" = 0 ] || fail "$candidate.exe announced: Setup.exe ended with $run_exit, not 0 (log: $evidence)"
  grep -q "Bootstrapper .* refused: " "$evidence" 2>/dev/null \
    || grep -q "Signature check failure on file .*" "$evidence" 2>/dev/null \
    || fail "$candidate.exe announced: no refusal line in $evidence"
  if grep -q "Setup $newer started" "$evidence" 2>/dev/null; then
    fail "$candidate.exe announced: the refused bootstrapper ran"
  fi
  if grep -q "Software process complete, failure detected." "$evidence" 2>/dev/null; then
    fail "$candidate.exe announced: the run failed"
  fi
done
grep -q "Bootstrapper .* refused: .*signer \"CN=Another publisher\"" "$work/artifacts/pin-other.log" 2>/dev/null \
  || fail "the refusal of another publisher's bootstrapper does not name its signer"
cp "$work/update.published.xml" "$update"
cp "$work/update.published.xml.p7s" "$update.p7s"

step "a document changed after its signing"
# A server (or a mirror) that alters the signed document: the signed Setup.exe uses nothing
# of it and installs with its own embedded sequence, signed components and all.
printf '<!-- changed -->\n' >>"$update"
run_release changed-document /install /silent /norestart
evidence=$work/artifacts/changed-document.log
[ "$run_exit" = 0 ] || fail "a changed update.xml: Setup.exe ended with $run_exit, not 0 (log: $evidence)"
grep -q "Update document refused: signature does not match its content" "$evidence" 2>/dev/null \
  || fail "a changed update.xml was not refused for its signature (log: $evidence)"
grep -q "Carrying on with the local bootstrapper and its embedded sequence" "$evidence" 2>/dev/null \
  || fail "a changed update.xml: the run did not carry on with its own sequence (log: $evidence)"
if grep -q "Software process complete, failure detected." "$evidence" 2>/dev/null; then
  fail "a changed update.xml: the install failed"
fi
cp "$work/update.published.xml" "$update"

step "the deployment kit"
# The MSI wrapper as group policy installs it, in a prefix of its own where the product is
# not installed yet: msiexec /i installs the product through the carried Setup.exe, the
# detection rule's value then holds the release, and msiexec /x removes the product again.
kit=$rel/build/release/kit
wrapper=Norlo5-Deployment-$version.msi
manifests=$kit/winget
for file in "$wrapper" winget/Norlo.Norlo5.yaml winget/Norlo.Norlo5.installer.yaml winget/Norlo.Norlo5.locale.en-US.yaml; do
  [ -f "$kit/$file" ] || fail "the kit lacks $file"
done
# The administrative templates travel with the release, as the code's own copies.
for template in Norlo.admx en-US/Norlo.adml; do
  cmp -s "$source_dir/resources/policy/$template" "$rel/build/release/policy/$template" \
    || fail "the release lacks the policy template $template"
done
boot_sha256=$(sha256sum <"$rel/files/$boot_file" | cut -c1-64)
grep -qix "  InstallerSha256: $boot_sha256" "$manifests/Norlo.Norlo5.installer.yaml" 2>/dev/null \
  || fail "the winget installer manifest does not name the signed bootstrapper's SHA-256"
boot_url=$(awk '$1 == "bootstrapper" { print $3 }' "$work/update-items.txt")
grep -qx "  InstallerUrl: $boot_url" "$manifests/Norlo.Norlo5.installer.yaml" 2>/dev/null \
  || fail "the winget installer manifest does not name the published bootstrapper $boot_url"
if [ -f "$kit/$wrapper" ]; then
  osslsigncode verify -CAfile "$work/key/root.crt" -TSA-CAfile "$work/key/root.crt" -in "$kit/$wrapper" \
    >"$work/artifacts/kit-signature.txt" 2>&1 || fail "the wrapper is not signed with the release key"
  wineserver -k 2>/dev/null || true
  export WINEPREFIX=$work/kit-prefix
  wineboot --init >"$work/artifacts/kit-wineboot.log" 2>&1 </dev/null
  wineserver -w
  kit_c=$WINEPREFIX/drive_c
  mkdir -p "$kit_c/kit"
  cp "$kit/$wrapper" "$kit_c/kit/"
  deployment="$kit_c/Program Files (x86)/Norlo 5 Deployment"
  msi() {  # msiexec with $1 (/i or /x) on the wrapper; the code is left in msi_exit
    set +e
    timeout --kill-after=10 900 wine msiexec "$1" "C:\\kit\\$wrapper" /qn /l*v "C:\\kit\\$2.log" \
      >"$work/artifacts/$2.out" 2>&1 </dev/null
    msi_exit=$?
    set -e
    wineserver -w
    cp "$kit_c/kit/$2.log" "$work/artifacts/$2.log" 2>/dev/null || true
    cp "$kit_c/ProgramData/Norlo 5/log/setup.log" "$work/artifacts/$2.setup.log" 2>/dev/null || true
  }
  result_says() {  # $1: result file of the wrapper's folder, $2: the fragment it must hold
    grep -q "$2" "$deployment/$1" 2>/dev/null
  }
  # Windows runs one installation's execution phase at a time, so the carried Setup.exe must
  # not install while the wrapper's installation runs: only the /download run is waited for
  # (a script action the installer checks), the install and the uninstall are started
  # detached (an exe action with asyncNoWait, type bits 64 + 128).
  msiinfo export "$kit/$wrapper" CustomAction >"$work/artifacts/kit-actions.txt" 2>&1 \
    || fail "cannot read the wrapper's actions (msiinfo)"
  python3 - "$work/artifacts/kit-actions.txt" <<'PY' || fail "the wrapper does not run Setup.exe as designed (actions: $work/artifacts/kit-actions.txt)"
import sys
rows = {}
for line in open(sys.argv[1], encoding="utf-8").read().splitlines()[3:]:
    cells = line.split("\t")
    rows[cells[0]] = (int(cells[1]), cells[2], cells[3])
detached = lambda kind: kind & 192 == 192
problems = []
if "/download " not in rows["SetFetchData"][2] or detached(rows["FetchRelease"][0]):
    problems.append("the release is not fetched with /download inside the installation")
if not detached(rows["StartInstall"][0]) or rows["StartInstall"][1] != "SetupExe" or "/download" in rows["StartInstall"][2]:
    problems.append("the install is not started detached")
if not detached(rows["StartUninstall"][0]) or not rows["StartUninstall"][2].startswith("/uninstall "):
    problems.append("the uninstall is not started detached")
for problem in problems:
    print(problem, file=sys.stderr)
sys.exit(1 if problems else 0)
PY
  # A release the wrapper cannot fetch (the viewer package gone from the server): Setup.exe /download
  # fails, so does the installation (1603, 67 as the shell sees it), rolled back, with
  # nothing started and nothing installed.
  read -r _ _ gone_url _ <<<"$(grep '^x64 norlo5-viewer-x64-' "$work/update-items.txt")"
  gone=$www/${gone_url#"$server"/}
  mv "$gone" "$gone.away"
  msi /i kit-unfetchable
  mv "$gone.away" "$gone"
  [ "$msi_exit" = 67 ] || fail "a wrapper that cannot fetch its release ended with $msi_exit, not 1603 (log: $work/artifacts/kit-unfetchable.log)"
  result_says download-result.json '"mode":"DOWNLOAD","outcome":"failed"' \
    || fail "the failed wrapper's download-result.json does not report the failed download"
  [ ! -e "$deployment/Setup.exe" ] && [ ! -e "$deployment/install-result.json" ] \
    || fail "the failed wrapper was not rolled back or started the install"
  [ ! -e "$kit_c/Program Files/Norlo 5/viewer-x64.txt" ] || fail "the failed wrapper installed the product"
  msi /i kit-install
  [ "$msi_exit" = 0 ] || fail "msiexec /i $wrapper ended with $msi_exit, not 0 (log: $work/artifacts/kit-install.log)"
  result_says download-result.json '"mode":"DOWNLOAD","outcome":"succeeded"' \
    || fail "the wrapper's download-result.json does not report a successful download"
  for payload in "Program Files/Norlo 5/viewer-x64.txt" "Program Files/Norlo 5/services-x64.txt"; do
    grep -q " $version\$" "$kit_c/$payload" 2>/dev/null || fail "the wrapper did not install C:\\$payload"
  done
  result_says install-result.json '"mode":"INSTALL","outcome":"succeeded","exitCode":0' \
    || fail "the wrapper's install-result.json does not report a successful install"
  detected=$(wine reg query 'HKLM\SOFTWARE\Norlo\Norlo 5\Setup' /v LastVer 2>/dev/null | tr -d '\r' \
    | awk '$1 == "LastVer" { print $3 }')
  [ "$detected" = "$version" ] || fail "the detection rule's LastVer is '$detected', not $version"
  msi /x kit-uninstall
  [ "$msi_exit" = 0 ] || fail "msiexec /x $wrapper ended with $msi_exit, not 0 (log: $work/artifacts/kit-uninstall.log)"
  [ ! -e "$kit_c/Program Files/Norlo 5/viewer-x64.txt" ] || fail "the wrapper's uninstall left the product's files"
  [ ! -e "$deployment/Setup.exe" ] || fail "the wrapper's uninstall left its Setup.exe"
  cmp -s "$rel/files/$boot_file" "$deployment/Setup-remove.exe" 2>/dev/null \
    || fail "the product was not removed by the wrapper's copy of the signed Setup.exe"
  result_says uninstall-result.json '"mode":"UNINSTALL","outcome":"succeeded"' \
    || fail "the wrapper's uninstall-result.json does not report a successful uninstall"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed; the release is in $rel, the evidence in $work/artifacts" >&2
  exit 1
fi
echo "release $version: built, signed, published and installed from $server"
