"""scripts/bill-of-materials.py: whole-file hashes, the notices' licence texts and holders, and compare on
published bills from a download (a table of forged bills and a property over random mutations)."""
import contextlib
import copy
import hashlib
import importlib.util
import io
import json
import os
import struct
import sys
import tempfile
import unittest
from unittest import mock

WORK = tempfile.TemporaryDirectory()
# Hypothesis keeps its caches in the temporary folder, not in the folder the tests run from.
os.environ.setdefault("HYPOTHESIS_STORAGE_DIRECTORY", os.path.join(WORK.name, "hypothesis"))
try:
    from hypothesis import given, settings, strategies as st
except ImportError:  # the property test needs Debian's python3-hypothesis
    given = None


def load_module():
    """The module from the scripts folder on the path (its file name has a dash, so it is no plain import)."""
    for folder in sys.path:
        path = os.path.join(folder or ".", "bill-of-materials.py")
        if os.path.isfile(path):
            spec = importlib.util.spec_from_file_location("bill_of_materials", path)
            module = importlib.util.module_from_spec(spec)
            spec.loader.exec_module(module)
            return module
    raise ImportError("bill-of-materials.py is not on PYTHONPATH")


bom = load_module()
MIB = 1 << 20


def made_file(name, size):
    path = os.path.join(WORK.name, name)
    with open(path, "wb") as stream:
        stream.write(os.urandom(size))
    return path


def whole_file_hashes(path):
    with open(path, "rb") as stream:
        data = stream.read()
    return {"SHA-512": hashlib.sha512(data).hexdigest(), "SHA-256": hashlib.sha256(data).hexdigest()}


def genuine_bill():
    """A bill as write makes it, from the module's own functions: a setup, two libraries, the payload files."""
    setup_path = made_file("Quillmart-Setup.exe", 4096)
    setup = {"type": "application", "bom-ref": "setup/Quillmart-Setup.exe", "name": "Quillmart-Setup",
             "version": "1.0.0", "hashes": bom.file_hashes(setup_path)}
    libraries = []
    for name, package, version in (("libgcc.a", "gcc-mingw-w64", "12.2.0-14"), ("libz.a", "libz-mingw-w64-dev",
                                                                               "1.2.13+dfsg-1")):
        ref = bom.purl(package, version, "all", f"/usr/lib/{name}", "debian-12")
        libraries.append({"component": {"type": "library", "bom-ref": ref, "name": name, "version": version,
                                        "hashes": bom.file_hashes(made_file(name, 2048)), "purl": ref,
                                        "licenses": [{"expression": "Zlib"}]}})
    for name in bom.PAYLOAD_FILES:
        made_file(name, 1024)
    with mock.patch.dict(os.environ, {"SOURCE_DATE_EPOCH": "1796824784"}):
        payload = bom.payload_components(WORK.name, {})
        text = bom.serialise(bom.make_bill(setup, libraries, {}, payload))
    return text, setup_path


GENUINE, SETUP = genuine_bill()
REBUILT, PUBLISHED = (os.path.join(WORK.name, name) for name in ("rebuilt.cdx.json", "published.cdx.json"))
with open(REBUILT, "w", encoding="utf-8") as rebuilt_stream:
    rebuilt_stream.write(GENUINE)


def run_compare(published, *options):
    """compare in-process on the published bill's text or bytes: (exit status, printed lines)."""
    with open(PUBLISHED, "wb") as stream:
        stream.write(published.encode("utf-8") if isinstance(published, str) else published)
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        status = bom.main(["compare", *options, PUBLISHED, REBUILT])
    return status, out.getvalue().splitlines()


def edited(change):
    """The genuine bill with change(bill) applied, as JSON text."""
    bill = json.loads(GENUINE)
    change(bill)
    return json.dumps(bill, indent=2)


def component(bill, name):
    return next(c for c in bill["components"] if c["name"] == name)


def deep(levels):
    return "[" * levels + "]" * levels


class HashesTest(unittest.TestCase):
    def test_files_over_a_mebibyte_are_hashed_whole(self):
        folder = os.path.join(WORK.name, "big")
        os.mkdir(folder)
        for name in bom.PAYLOAD_FILES:
            made_file(os.path.join("big", name), 3 * MIB + 17)
        big = made_file(os.path.join("big", "libbig.a"), 3 * MIB)
        listed = {"file_hashes": {"libbig.a": bom.file_hashes(big)},
                  "payload_components": {c["name"]: c["hashes"] for c in bom.payload_components(folder, {})}}
        for source, files in listed.items():
            for name, hashes in files.items():
                with self.subTest(source=source, file=name):
                    self.assertEqual({h["alg"]: h["content"] for h in hashes},
                                     whole_file_hashes(os.path.join(folder, name)))


COPYRIGHT = """\
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: demo

Files: *
Copyright: 2001 Alice Example
 2005-2009 Bob Example
 2011 Carol Example
License: Demo-Permissive

Files: debian/*
Copyright: 2020 Dana Packager
License: Demo-Permissive

License: Demo-Permissive
 Permission is granted to pass this demo on.
 .
 A second paragraph of the demo licence.
"""


class NoticesTest(unittest.TestCase):
    def test_holders_and_standalone_licence_text(self):
        path = os.path.join(WORK.name, "copyright")
        with open(path, "w", encoding="utf-8") as stream:
            stream.write(COPYRIGHT)
        paragraphs, _ = bom.copyright_paragraphs("demo", path)
        stanzas = bom.covering_stanzas(paragraphs, {"inflate.o"})
        entry = {"component": {"name": "libdemo.a", "licenses": [{"expression": bom.licence_of(stanzas)}]},
                 "package": "demo", "version": "1.0", "paragraphs": paragraphs, "stanzas": stanzas,
                 "copyright": path}
        lines = bom.notice_section([entry])
        for wanted in ("Copyright: 2001 Alice Example", "2005-2009 Bob Example", "2011 Carol Example",
                       "License: Demo-Permissive", "  Permission is granted to pass this demo on.",
                       "  A second paragraph of the demo licence."):
            with self.subTest(line=wanted):
                self.assertTrue(any(line.strip() == wanted.strip() for line in lines), "\n".join(lines))

    def test_notices_name_their_setup(self):
        setup = {"name": "Quillmart-Setup", "version": "1.0.0", "hashes": bom.file_hashes(SETUP)}
        text = bom.notices(setup, [], "Quillmart-Setup-1.0.0.exe")
        sha256 = whole_file_hashes(SETUP)["SHA-256"]
        self.assertEqual(text.splitlines()[1],
                         f"These notices belong to Quillmart-Setup-1.0.0.exe, SHA-256 {sha256}.")


# GCC's own copyright file is free text: its runtime libraries are named in a list after one statement.
GCC_COPYRIGHT = """\
GCC is free software; you can redistribute it and/or modify it under the terms of the GNU General Public License.

The following runtime libraries are licensed under the terms of the
GNU General Public License (v3 or later) with version 3.1 of the GCC
Runtime Library Exception (included in this file):

 - libgcc (libgcc/, gcc/libgcc2.[ch], gcc/unwind*, gcc/gthr*,
   gcc/coretypes.h, gcc/crtstuff.c).
 - libatomic
 - libstdc++-v3

The libsupc++ library is mentioned here, but in no list.
"""
MINGW_COPYRIGHT = COPYRIGHT.replace("Demo-Permissive", "ZPL-2.1")
GCC_POSIX, GCC_VERSION = "gcc-mingw-w64-x86-64-posix", "12.2.0-14+deb12u1+25.2+b1"
# archive | package | Debian version | its copyright file | CPE (None: none) | licence | where the licence came from
LIBRARIES = [
    ("libz.a", "libz-mingw-w64-dev", "1.2.13+dfsg-1", COPYRIGHT.replace("Demo-Permissive", "Zlib"),
     "cpe:2.3:a:zlib:zlib:1.2.13:*:*:*:*:*:*:*", "Zlib", "copyright file"),
    ("libz.a", "libz-mingw-w64-dev", "1:1.3~rc1+dfsg1-1", "no copyright format",
     "cpe:2.3:a:zlib:zlib:1.3\\~rc1:*:*:*:*:*:*:*", "NOASSERTION", None),
    ("libgcc.a", GCC_POSIX, GCC_VERSION, GCC_COPYRIGHT, "cpe:2.3:a:gnu:gcc:12.2.0:*:*:*:*:*:*:*",
     "GPL-3.0-or-later WITH GCC-exception-3.1", "copyright file"),
    ("libgcc_eh.a", GCC_POSIX, GCC_VERSION, GCC_COPYRIGHT, "cpe:2.3:a:gnu:gcc:12.2.0:*:*:*:*:*:*:*",
     "GPL-3.0-or-later WITH GCC-exception-3.1", "copyright file"),
    ("libsupc++.a", "g++-mingw-w64-i686-win32", "12.2.0-14+25.2", GCC_COPYRIGHT,
     "cpe:2.3:a:gnu:gcc:12.2.0:*:*:*:*:*:*:*", "GPL-3.0-or-later WITH GCC-exception-3.1", "table"),
    ("libkernel32.a", "mingw-w64-x86-64-dev", "10.0.0-3", MINGW_COPYRIGHT,
     "cpe:2.3:a:mingw-w64:mingw-w64:10.0.0:*:*:*:*:*:*:*", "ZPL-2.1", "copyright file"),
    ("libgcc.a", "libgcc-unknown-dev", "12.2.0-14", GCC_COPYRIGHT, None,
     "GPL-3.0-or-later WITH GCC-exception-3.1", "copyright file"),
    ("libfoo.a", "libfoo-dev", "2.0-1", "no copyright format", None, "NOASSERTION", None),
]


class ScannerFieldsTest(unittest.TestCase):
    """What a vulnerability scanner matches in a library's component: the purl's release, the CPE, the licence."""

    def test_library_components(self):
        copyright_path = os.path.join(WORK.name, "library-copyright")
        real_paragraphs = bom.copyright_paragraphs
        for name, package, version, text, cpe, licence, source in LIBRARIES:
            with self.subTest(name=name, package=package, version=version):
                with open(copyright_path, "w", encoding="utf-8") as stream:
                    stream.write(text)
                with mock.patch.object(bom, "package_facts", lambda _, v=version: [v, "amd64", "Dev <d@x.invalid>"]), \
                        mock.patch.object(bom, "copyright_paragraphs",
                                          lambda package: real_paragraphs(package, copyright_path)):
                    got = bom.library(made_file(name, 64), package, {"a.o"}, "debian-12")["component"]
                properties = {p["name"]: p["value"] for p in got["properties"]}
                self.assertIn("?arch=amd64&distro=debian-12#", got["purl"])
                self.assertEqual((got.get("cpe"), got["licenses"][0]["expression"],
                                  properties.get("qmt:licence-source")), (cpe, licence, source))

    def test_debian_release(self):
        # os-release text (None: no file) | distro qualifier, or a part of the refusal
        for text, want in (('PRETTY_NAME="Debian GNU/Linux 12 (bookworm)"\nVERSION_ID="12"\nID=debian\n', "debian-12"),
                           ("ID='debian'\nVERSION_ID=13\n", "debian-13"),
                           ("ID=debian\nVERSION_CODENAME=forky\n", "names no numbered Debian release"),
                           ('ID=raspbian\nID_LIKE=debian\nVERSION_ID="12"\n', "names no numbered Debian release"),
                           ('ID=debian\nVERSION_ID="12$(reboot)"\n', "names no numbered Debian release"),
                           (None, "cannot read the Debian release")):
            with self.subTest(text=text):
                path = os.path.join(WORK.name, "os-release")
                if os.path.exists(path):
                    os.remove(path)
                if text is not None:
                    with open(path, "w", encoding="utf-8") as stream:
                        stream.write(text)
                try:
                    got = bom.debian_release(path)
                except bom.Refusal as refusal:
                    got = str(refusal)
                self.assertIn(want, got)


def rebind_libraries():
    """Two library entries as library_components gives them: libz.a (Zlib, no notice), libkernel32.a (ZPL-2.1)."""
    entries, real_paragraphs = [], bom.copyright_paragraphs
    for name, package, text in (("libz.a", "libz-mingw-w64-dev", COPYRIGHT.replace("Demo-Permissive", "Zlib")),
                                ("libkernel32.a", "mingw-w64-x86-64-dev", MINGW_COPYRIGHT)):
        path = os.path.join(WORK.name, f"{name}.copyright")
        with open(path, "w", encoding="utf-8") as stream:
            stream.write(text)
        with mock.patch.object(bom, "package_facts", lambda _: ["1.0-1", "all", "Dev <d@x.invalid>"]), \
                mock.patch.object(bom, "copyright_paragraphs", lambda _, p=path: real_paragraphs(_, p)):
            entries.append(bom.library(made_file(name, 64), package, {"a.o"}, "debian-12"))
    return entries, {entry["component"]["bom-ref"]: [] for entry in entries}


def stand_in_setup(name):
    """A file pe_type takes for a Windows executable (the DOS and PE headers, no DLL flag), then random bytes."""
    head = bytearray(128)
    head[:2], head[64:68] = b"MZ", b"PE\0\0"
    struct.pack_into("<I", head, 0x3C, 64)
    struct.pack_into("<H", head, 64 + 22, 0x0102)
    path = os.path.join(WORK.name, name)
    with open(path, "wb") as stream:
        stream.write(bytes(head) + os.urandom(512))
    return path


def run_main(*argv):
    """bom.main in-process: (exit status, lines printed to stdout and stderr)."""
    out = io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(out):
        status = bom.main(list(argv))
    return status, out.getvalue().splitlines()


class RebindTest(unittest.TestCase):
    """rebind of the unsigned setup's outputs gives the bytes write gives the signed setup, or refuses in one line."""

    def setUp(self):
        self.libraries = rebind_libraries()
        self.unsigned, self.signed = stand_in_setup("unsigned.exe"), os.path.join(WORK.name, "signed.exe")
        with open(self.unsigned, "rb") as source, open(self.signed, "wb") as target:
            target.write(source.read() + b"a signature the tool does not judge")

    def write(self, setup, file_name, prefix):
        """write's bill and notices of setup as file_name (its version resource without an InternalName)."""
        outputs = [os.path.join(WORK.name, prefix + suffix) for suffix in (".cdx.json", ".notices.txt")]
        with mock.patch.object(bom, "file_version", lambda _: ("1.0.0", {"FileDescription": "Quillmart Setup"})), \
                mock.patch.object(bom, "library_components", lambda _: self.libraries), \
                mock.patch.dict(os.environ, {"SOURCE_DATE_EPOCH": "1796824784"}):
            self.assertEqual(run_main("write", "--setup", setup, "--link-map", setup, "--payload-dir", WORK.name,
                                      "--file-name", file_name, "--bom", outputs[0], "--notices", outputs[1]),
                             (0, []))
        return outputs

    def test_rebind(self):
        name, other = "Quillmart-Setup-1.0.0.exe", "Quillmart-Setup-unsigned.exe"
        out = [os.path.join(WORK.name, "out" + suffix) for suffix in (".cdx.json", ".notices.txt")]
        reformatted = os.path.join(WORK.name, "reformatted.cdx.json")
        # the unsigned setup's file name | rebind's --file-name | its bill, its notices (u: the unsigned setup's,
        # s: the signed one's, r: the unsigned bill reformatted) | a part of the refusal (None: the signed bytes)
        for unsigned_name, file_name, inputs, refusal in (
                (name, [], "uu", None),
                (other, ["--file-name", name], "uu", None),
                (name, [], "su", "the bill was made for another setup than"),
                (name, [], "us", "the notices belong to another setup: they name sha256"),
                (name, [], "ru", "the bill is not as write made it")):
            with self.subTest(unsigned_name=unsigned_name, inputs=inputs):
                for path in out:
                    if os.path.exists(path):
                        os.remove(path)
                given = {"u": self.write(self.unsigned, unsigned_name, "unsigned"),
                         "s": self.write(self.signed, name, "signed"), "r": [reformatted, None]}
                with open(given["u"][0], encoding="utf-8") as source, open(reformatted, "w") as target:
                    target.write(json.dumps(json.load(source)))
                with mock.patch.object(bom, "file_version", lambda _: ("1.0.0", {})):
                    status, lines = run_main("rebind", "--setup", self.signed, "--from", self.unsigned,
                                             "--bom", given[inputs[0]][0], "--notices", given[inputs[1]][1],
                                             *file_name, "--out-bom", out[0], "--out-notices", out[1])
                if refusal:
                    self.assertEqual((status, len(lines), [os.path.exists(path) for path in out]),
                                     (1, 1, [False, False]), lines)
                    self.assertIn(refusal, lines[0])
                    continue
                self.assertEqual((status, lines), (0, []))
                for got, want in zip(out, given["s"]):
                    with open(got, "rb") as got_stream, open(want, "rb") as want_stream:
                        self.assertEqual(got_stream.read(), want_stream.read(), got)
                # compare, as a verifier runs it on the adopted release and a rebuild of the unsigned setup
                rebuilt = self.write(self.unsigned, name, "rebuilt")[0]
                status, lines = run_main("compare", "--setup", self.signed, out[0], rebuilt)
                self.assertEqual(status, 0, lines)


def insert_evil_twin(bill):
    twin = dict(component(bill, "libgcc.a"), version="0.0-evil", **{"bom-ref": "evil"})
    bill["components"].insert(0, twin)


def wrong_hash_first(bill):
    component(bill, "libz.a")["hashes"].insert(0, {"alg": "SHA-256", "content": "0" * 64})


def only_sha1(bill):
    component(bill, "libz.a")["hashes"] = [{"alg": "SHA-1", "content": "a" * 40}]


def another_setups_hashes(bill):
    bill["metadata"]["component"]["hashes"] = [{"alg": "SHA-512", "content": "b" * 128},
                                               {"alg": "SHA-256", "content": "c" * 64}]


def duplicate_key(text):
    return text.replace('"version": "1.2.13+dfsg-1"', '"version": "0.0-evil", "version": "1.2.13+dfsg-1"', 1)


SETUP_SHA256 = whole_file_hashes(SETUP)["SHA-256"]
# name | the published bill | compare's options | exit status | a part of the one line printed
CASES = [
    ("genuine", GENUINE, [], 0, "SAME: 4 components with the same names, versions and hashes; the setup's hashes "
                                "are the same too"),
    ("genuine, its setup", GENUINE, ["--setup", SETUP], 0, "the setup's hashes are those of Quillmart-Setup.exe"),
    ("reordered", edited(lambda b: b["components"].reverse()), [], 0, "SAME: 4 components"),
    ("duplicate name first", edited(insert_evil_twin), [], 1,
     "DIFFERENT: the component libgcc.a is listed twice in the published bill"),
    ("second wrong hash first", edited(wrong_hash_first), [], 1,
     "DIFFERENT: component libz.a: the hash algorithm SHA-256 appears twice in the published bill"),
    ("hashes removed", edited(lambda b: component(b, "libz.a").pop("hashes")), [], 1,
     "DIFFERENT: libz.a has no hashes in the published bill"),
    ("only SHA-1", edited(only_sha1), [], 1, "libz.a has the hashes SHA-1 in the published bill (only weaker"),
    ("a changed SHA-512", edited(lambda b: component(b, "libz.a")["hashes"][0].update(content="d" * 128)), [], 1,
     "DIFFERENT: libz.a's SHA-512 is dddddddddddddddd… in the published bill"),
    ("extra component", edited(lambda b: b["components"].append({"type": "file", "name": "extra.dll"})), [], 1,
     "DIFFERENT: component extra.dll is only in the published bill"),
    ("missing component", edited(lambda b: b["components"].pop(1)), [], 1,
     "DIFFERENT: component libz.a is only in the rebuild's bill"),
    ("changed version", edited(lambda b: component(b, "libz.a").update(version="0.0-evil\x1b[2K")), [], 1,
     "DIFFERENT: libz.a has version 0.0-evil\\x1b[2K in the published bill, 1.2.13+dfsg-1 in the rebuild"),
    ("another Debian release", edited(lambda b: component(b, "libz.a").update(
        purl=component(b, "libz.a")["purl"].replace("distro=debian-12", "distro=debian-13"))), [], 1,
     "DIFFERENT: libz.a has purl pkg:deb/debian/libz-mingw-w64-dev@1.2.13%2Bdfsg-1?arch=all&distro=debian-13#"),
    ("changed purl", edited(lambda b: component(b, "libz.a").update(purl="pkg:deb/debian/evil@1")), [], 1,
     "DIFFERENT: libz.a has purl pkg:deb/debian/evil@1 in the published bill"),
    ("non-object component", edited(lambda b: b["components"].insert(0, "libz.a")), [], 2,
     f"the bill is malformed: {PUBLISHED}: component 1 is not an object"),
    ("100,000-deep nesting", deep(100_000), [], 2, "nested deeper than 64 levels"),
    ("brackets, quotes and backslashes in a string", edited(lambda b: b["components"][0].update(
        licenses=[{"expression": '"\\', "name": "[" * 70}])), [], 0, "SAME: 4 components"),
    ("deep nesting inside a bill", edited(lambda b: b.update(extra=json.loads(deep(64)))), [], 2, "deeper than 64"),
    ("17 MiB file", GENUINE + " " * (17 * MIB), [], 2, "larger than 16 MiB"),
    ("duplicate key", duplicate_key(GENUINE), [], 2, "the key version appears twice in one object"),
    ("bom-ref twice", edited(lambda b: b["components"][1].update({"bom-ref": b["components"][0]["bom-ref"]})), [], 2,
     "the bom-ref pkg:deb/debian/gcc-mingw-w64@12.2.0-14?arch=all&distro=debian-12#usr/lib/libgcc.a is given twice"),
    ("a hash of the wrong length", edited(lambda b: component(b, "libz.a")["hashes"][1].update(content="e" * 128)),
     [], 2, "libz.a: its SHA-256 is not 64 lower-case hex digits"),
    ("not UTF-8", GENUINE.encode("utf-8").replace(b"libz.a", b"libz\xff.a", 1), [], 2, "not UTF-8"),
    ("NaN", GENUINE.replace('"version": 1', '"version": NaN', 1), [], 2, "NaN is not a JSON number"),
    ("a 5,000-digit number", GENUINE.replace('"version": 1', '"version": 1' + "0" * 5000, 1), [], 2,
     "a number of 5001 digits"),
    ("another setup's hashes", edited(another_setups_hashes), ["--setup", SETUP], 2,
     f"the bill was made for another setup: it names sha256 {'c' * 64}, the setup's is {SETUP_SHA256}"),
    ("another setup's hashes, no --setup", edited(another_setups_hashes), [], 0, "the setup's own hashes differ"),
]


class CompareTest(unittest.TestCase):
    def test_forged_bills(self):
        for name, published, options, status, part in CASES:
            with self.subTest(name):
                got, lines = run_compare(published, *options)
                self.assertEqual((got, len(lines)), (status, 1), lines)
                self.assertIn(part, lines[0])


# The fields compare holds equal, per component; a change to any of them is a different bill. The subject (index
# -1) is held to its name and version only: its hashes are those of a re-signed file, checked with --setup.
COMPARED = ("name", "version", "type", "purl", "hash0", "hash1")


def field_value(target, field):
    if field.startswith("hash"):
        return target["hashes"][int(field[4:])]["content"]
    return target.get(field)


def set_field(target, field, value):
    if field.startswith("hash"):
        target["hashes"][int(field[4:])]["content"] = value
    else:
        target[field] = value


if given is not None:
    OTHER_TYPES = st.one_of(st.integers(), st.none(), st.booleans(), st.lists(st.integers(), max_size=2),
                            st.dictionaries(st.text(max_size=3), st.integers(), max_size=2))
    MUTATIONS = st.one_of(
        st.tuples(st.just("delete"), st.integers(0, 3)),
        st.tuples(st.just("duplicate"), st.integers(0, 3)),
        st.tuples(st.just("replace"), st.integers(0, 3), OTHER_TYPES),
        st.tuples(st.just("change"), st.integers(-1, 3), st.sampled_from(COMPARED), st.one_of(
            st.text(max_size=8), *(st.text("0123456789abcdef", min_size=n, max_size=n) for n in (64, 128)))),
        st.tuples(st.just("retype"), st.integers(-1, 3), st.sampled_from(COMPARED), OTHER_TYPES),
        st.tuples(st.just("nest"), st.integers(-1, 3), st.sampled_from(COMPARED), st.integers(1, 80)),
        st.tuples(st.just("licence"), st.integers(0, 3), st.text(max_size=8)),
        st.tuples(st.just("bury"), st.integers(1, 80)),
    )


def mutate(bill, mutation):
    """Applies one mutation to the bill; True when it leaves a bill equivalent to the genuine one."""
    kind, components = mutation[0], bill["components"]
    if kind in ("delete", "duplicate", "replace"):
        taken = components.pop(mutation[1])
        components[mutation[1]:mutation[1]] = {"delete": [], "duplicate": [taken, copy.deepcopy(taken)],
                                               "replace": [mutation[-1]]}[kind]
        return False
    if kind == "licence":
        components[mutation[1]]["licenses"] = [{"expression": mutation[2]}]
        return True
    if kind == "bury":
        bill["extra"] = json.loads(deep(mutation[1]))
        return mutation[1] + 1 <= 64
    target = bill["metadata"]["component"] if mutation[1] < 0 else components[mutation[1]]
    field = ("name", "version")[COMPARED.index(mutation[2]) % 2] if mutation[1] < 0 else mutation[2]
    old = new = field_value(target, field)
    if kind == "nest":
        for _ in range(mutation[3]):
            new = [new]
    else:
        new = mutation[3]
    if new == old and type(new) is type(old):
        return True
    set_field(target, field, new)
    return False


class CompareProperty(unittest.TestCase):
    @unittest.skipIf(given is None, "python3-hypothesis is not installed")
    def test_random_mutations(self):
        @settings(max_examples=250, deadline=None, database=None)
        @given(st.permutations(range(4)), MUTATIONS)
        def check(order, mutation):
            bill = json.loads(GENUINE)
            bill["components"] = [bill["components"][i] for i in order]
            equivalent = mutate(bill, mutation)
            status, lines = run_compare(json.dumps(bill, ensure_ascii=bool(order[0] % 2)))
            self.assertEqual(len(lines), 1, lines)
            self.assertIn(status, (0, 1, 2))
            self.assertEqual(status == 0, equivalent, (mutation, lines))

        check()


if __name__ == "__main__":
    unittest.main()
