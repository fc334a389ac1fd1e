"""The release record's reader refuses every text the release would not write, naming its line and field."""

import os
import subprocess
import sys
import tempfile
import unittest

from hypothesis import HealthCheck, given, settings, strategies as st

import release_record as rr

SCRIPT = os.path.join(os.path.dirname(rr.__file__), "release_record.py")
HEX = "0123456789abcdef" * 4
PACKAGES = tuple((f"lib{i:03d}-dev", f"{i % 3}:2.{i}-{i % 7}+deb12u1" if i % 2 else f"1.{i}~rc1") for i in range(100))


def fields(setup=False, signed=True, adopted=False):
    """The fields of a record shaped like a real release's (adopted: signed elsewhere, with the later fields)."""
    head = [("Format", "2"), ("Source", "Quillmart-Setup")]
    if setup:
        head += [("Build", rr.SETUP_BUILD), ("Signing-Time", "1765000000")]
    else:
        head += [("Source-Commit", HEX[:40]), ("Source-Tree", "clean"),
                 ("Build", "scripts/release-build.sh of the commit (Release, zopfli), env -i: TZ=UTC umask 022"),
                 ("Build-Architecture", "amd64"), ("Debian-Release", "12.11 (bookworm)"),
                 ("Source-Date-Epoch", "1765000000"), ("Installed-Build-Depends", PACKAGES)]
    head += [("Payload", "demo stand-ins"), ("Payload-File", f"WebView2Loader.dll 13312 {HEX}"),
             ("Payload-File", f"Quillmart.exe 223744 {HEX[::-1]}")]
    if adopted:
        head += [("Payload-Signature", "WebView2Loader.dll RSA CN=Loader Vendor,O=Example"),
                 ("Payload-Signature", "Quillmart.exe none (--allow-unsigned-payload)")]
    head += [("Unsigned-SHA256", HEX)]
    if adopted:
        return tuple(head + [("Signed-SHA256", HEX[1:] + "0"), ("Signer", "CN=signer,O=Farrowind"),
                             ("Signer-Certificate-SHA256", HEX[2:] + "00"), ("Signature-Key", "RSA"),
                             ("Signature-SHA256", HEX[3:] + "000"), ("Signed", rr.ADOPTED),
                             ("Timestamp-Authority", "in the signature (signed elsewhere)"),
                             ("Reproducible", "signed elsewhere; unsigned bytes reproducible")])
    if signed:
        head += [("Signed-SHA256", HEX[1:] + "0"), ("Signer", "CN=signer,O=Farrowind"),
                 ("Signer-Certificate-SHA256", HEX[2:] + "00"), ("Signature-Key", "RSA")]
    else:
        head += [("Signed-SHA256", "none (unsigned)"), ("Signer", "none"), ("Signer-Certificate-SHA256", "none")]
    return tuple(head + [("Timestamp-Authority", "none"), ("Reproducible", "unsigned bytes reproducible")])


BASES = {"signed": rr.write_record(fields()), "unsigned": rr.write_record(fields(signed=False)),
         "setup": rr.write_record(fields(setup=True))}


def line_of(base, prefix):
    """The whole line of the base record that starts with prefix, with its line end."""
    return next(line + b"\n" for line in BASES[base].split(b"\n") if line.startswith(prefix))


S, U, T = "signed", "unsigned", "setup"
LAST = line_of(S, b" lib099-dev")
# (base, text replaced, replacement, line expected (None: the whole record), field expected)
MALFORMED = [
    (S, b"Format: 2", b"Format: 3", 1, "Format"),
    (S, b"Format: 2", b"Format:2", 1, "Format"),
    (S, b"Build: scripts", b"Build: scripts\r", 5, "Build"),
    (S, b"Source: Quillmart-Setup", b"Source: Other", 2, "Source"),
    (S, b"Commit: 0123", b"Commit: 0123456789ABCDEF", 3, "Source-Commit"),
    (S, b"Commit: 0123", b"Commit: 123", 3, "Source-Commit"),
    (S, b"Tree: clean", b"Tree: dirty", 4, "Source-Tree"),
    (S, b"Build: scripts", b"Build: given with --setup: trust me; scripts", 5, "Build"),
    (S, b"Build: scripts", b"Build: " + b"x" * 4100, 5, "Build"),
    (S, b"Architecture: amd64", b"Architecture: i386", 6, "Build-Architecture"),
    (S, b"12.11 (bookworm)", b"12.11 (trixie)", 7, "Debian-Release"),
    (S, b"12.11 (bookworm)", b"11.9 (bullseye)", 7, "Debian-Release"),
    (S, b"Epoch: 1765000000", b"Epoch: 1765000000; rm -rf /", 8, "Source-Date-Epoch"),
    (S, b"Epoch: 1765000000", b"Epoch: 01765000000", 8, "Source-Date-Epoch"),
    (S, b"Epoch: 1765000000", b"Epoch: 315532799", 8, "Source-Date-Epoch"),
    (S, b"Epoch: 1765000000", b"Epoch: 4102444801", 8, "Source-Date-Epoch"),
    (S, b"Depends:\n", b"Depends: make (= 4.3-4.1)\n", 9, "Installed-Build-Depends"),
    (S, b"Depends:\n", b"Depends:\n --force-yes (= 1.0),\n", 10, "Installed-Build-Depends"),
    (S, b" lib000-dev (= 1.0~rc1)", b" Lib000 (= 1.0~rc1)", 10, "Installed-Build-Depends"),
    (S, b" lib000-dev (= 1.0~rc1)", b" lib000-dev (= 1.0:2)", 10, "Installed-Build-Depends"),
    (S, b" lib000-dev (= 1.0~rc1)", b" lib000-dev (= v1.0)", 10, "Installed-Build-Depends"),
    (S, b" lib000-dev (= 1.0~rc1)", b" lib000-dev (= 1.0-)", 10, "Installed-Build-Depends"),
    (S, b" lib000-dev (= 1.0~rc1)", b" lib000-dev (= a:1.0)", 10, "Installed-Build-Depends"),
    (S, b" lib000-dev (= 1.0~rc1)", b" lib000-dev (=  1.0)", 10, "Installed-Build-Depends"),
    (S, b" lib000-dev (= 1.0~rc1),", b" lib000-dev (= 1.0~rc1)", 10, "Installed-Build-Depends"),
    (S, b" lib001-dev", b" lib000-dev", 11, "Installed-Build-Depends"),
    (S, LAST, LAST[:-1] + b",\n", 109, "Installed-Build-Depends"),
    (S, BASES[S][BASES[S].index(b"Depends:"):BASES[S].index(b"Payload:")], b"Depends:\n", 9,
     "Installed-Build-Depends"),
    (S, b"Payload: demo stand-ins", b"Payload: demo", 110, "Payload"),
    (S, b"Payload: demo stand-ins\n", b"Payload: demo stand-ins\n  more\n", 111, "Payload"),
    (S, b"File: WebView2Loader.dll", b"File: evil.dll", 111, "Payload-File"),
    (S, b"File: Quillmart.exe", b"File: WebView2Loader.dll", 112, "Payload-File"),
    (S, b"WebView2Loader.dll 13312", b"WebView2Loader.dll 013312", 111, "Payload-File"),
    (S, b"WebView2Loader.dll 13312 0123", b"WebView2Loader.dll 13312 ABCD", 111, "Payload-File"),
    (S, line_of(S, b"Unsigned-SHA256"), b"Unsigned-SHA256: none\n", 113, "Unsigned-SHA256"),
    (S, b"Signed-SHA256: 1234", b"Signed-SHA256: 12", 114, "Signed-SHA256"),
    (S, b"Signer: CN=signer,O=Farrowind", b"Signer: none", 115, "Signer"),
    (S, b"Signer: CN=signer", b"Signer: CN=signer\x1b[2K\x1b[1G\x1b[32mOK\x1b[0m", 115, "Signer"),
    (S, b"Signer: CN=signer", b"Signer: CN=signer\x00", 115, "Signer"),
    (S, b"Signer: CN=signer", b"Signer: CN=signer\x7f", 115, "Signer"),
    (S, b"Signer: CN=signer", b"Signer: CN=signer\xc2\x9b32m", 115, "Signer"),
    (S, b"Signer: CN=signer", b"Signer: CN=\xe2\x80\xaerengis", 115, "Signer"),
    (S, b"Signer: CN=signer", b"Signer: CN=sig\xe2\x80\x8bner", 115, "Signer"),
    (S, b"Signer: CN=signer", b"Signer: CN=sig\tner", 115, "Signer"),
    (S, b"Signer: CN=signer", b"Signer: CN=sig\xffner", 115, "Signer"),
    (S, b"Signer: CN=signer,O=Farrowind\n", b"Signer: CN=signer,O=Farrowind\n" * 2, 116, "Signer"),
    (S, line_of(S, b"Signer-Certificate"), b"Signer-Certificate-SHA256: none\n", 116, "Signer-Certificate-SHA256"),
    (S, b"Signature-Key: RSA", b"Signature-Key: -rsa", 117, "Signature-Key"),
    (S, b"Timestamp-Authority: none", b"Timestamp-Authority: ftp://tsa.invalid/", 118, "Timestamp-Authority"),
    (S, b"Timestamp-Authority: none", b"Timestamp-Authority: http://a b", 118, "Timestamp-Authority"),
    (S, b"Reproducible: unsigned", b"Reproducible: fully", 119, "Reproducible"),
    (S, b"Reproducible: unsigned bytes reproducible\n", b"Reproducible: unsigned bytes reproducible", 119,
     "Reproducible"),
    (S, b"Farrowind\n", b"Farrowind \n", 115, "Signer"),
    (S, b"Payload: demo", b"\nPayload: demo", 110, "record"),
    (S, b"Payload: demo", b"X-Note: hi\nPayload: demo", 110, "X-Note"),
    (S, b"Payload: demo", b"Signing-Time: 1765000000\nPayload: demo", 110, "Signing-Time"),
    (S, b"Source-Tree: clean\n", b"", None, "Source-Tree"),
    (S, b"Signature-Key: RSA\n", b"", None, "Signature-Key"),
    (S, line_of(S, b"Payload-File: Quillmart.exe"), b"", None, "Payload-File"),
    (S, b"Payload: demo", b"X-Pad: y\n" * 30000 + b"Payload: demo", None, "record"),
    (U, b"Signer: none", b"Signer: CN=signer", 115, "Signer"),
    (U, b"Timestamp-Authority", b"Signature-Key: RSA\nTimestamp-Authority", 117, "Signature-Key"),
    (T, b"Signing-Time:", b"Source-Commit: " + HEX[:40].encode() + b"\nSigning-Time:", 4, "Source-Commit"),
    (T, b"Signing-Time: 1765000000\n", b"", None, "Signing-Time"),
    (S, b"Unsigned-SHA256", b"Payload-Signature: Quillmart.exe RSA CN=x\nUnsigned-SHA256", None, "Payload-Signature"),
    (S, b"Unsigned-SHA256", b"Payload-Signature: evil.dll RSA CN=x\nUnsigned-SHA256", 113, "Payload-Signature"),
    (S, b"Unsigned-SHA256", b"Payload-Signature: Quillmart.exe none unsigned\nUnsigned-SHA256", 113,
     "Payload-Signature"),
    (U, b"Timestamp-Authority", b"Signature-SHA256: " + HEX.encode() + b"\nTimestamp-Authority", 117,
     "Signature-SHA256"),
    (S, b"Timestamp-Authority", b"Signed: " + rr.ADOPTED.encode() + b"\nTimestamp-Authority", 120, "Reproducible"),
    (T, b"Build: given with --setup: built elsewhere", b"Build: given with --setup: built here", 3, "Build"),
]


def mutated(base, old, new):
    assert old in BASES[base], old
    return BASES[base].replace(old, new, 1)


@st.composite
def debian_versions(draw):
    """Debian's version syntax by construction: ':' only after an epoch, '-' only before a revision."""
    epoch, revision = draw(st.sampled_from(["", "0:", "12:"])), draw(st.sampled_from(["", "-1", "-0+b2", "-3~x.y"]))
    alphabet = "aZ09.+~" + (":" if epoch else "") + ("-" if revision else "")
    return epoch + draw(st.sampled_from("0123456789")) + draw(st.text(alphabet, max_size=10)) + revision


VERSIONS = debian_versions()
NAMES = st.builds(str.__add__, st.sampled_from("az09"), st.text("az09+.-", min_size=1, max_size=12))


def mutate(data, operation, first, second, insert):
    """data with one byte flipped, a control text inserted, or a line duplicated, deleted or swapped."""
    if operation == "flip":
        at = first % len(data)
        return data[:at] + bytes([data[at] ^ (1 << second % 8)]) + data[at + 1:]
    if operation == "insert":
        at = first % (len(data) + 1)
        return data[:at] + insert + data[at:]
    lines = data.split(b"\n")
    one, other = first % len(lines), second % len(lines)
    if operation == "duplicate":
        lines.insert(one, lines[one])
    elif operation == "delete":
        del lines[one]
    else:
        lines[one], lines[other] = lines[other], lines[one]
    return b"\n".join(lines)


class ReaderTest(unittest.TestCase):
    def test_malformed_records_name_their_line_and_field(self):
        for base, old, new, line, field in MALFORMED:
            with self.subTest(new=new[:60]):
                with self.assertRaises(rr.RecordError) as caught:
                    rr.read_record(mutated(base, old, new))
                self.assertEqual((caught.exception.line, caught.exception.field), (line, field), caught.exception)
                self.assert_safe(str(caught.exception))

    def assert_safe(self, message):
        self.assertTrue(message.isascii() and message.isprintable(), message)

    def test_genuine_records_read_back_equal(self):
        for setup, signed, adopted in ((False, True, False), (False, False, False), (True, True, False),
                                       (False, True, True)):
            with self.subTest(setup=setup, signed=signed, adopted=adopted):
                record = rr.read_record(rr.write_record(fields(setup, signed, adopted)))
                self.assertEqual(record.fields, fields(setup, signed, adopted))
        self.assertEqual(rr.read_record(BASES[S]).payload_files["Quillmart.exe"], (223744, HEX[::-1]))

    @settings(max_examples=200, deadline=None, database=None, suppress_health_check=[HealthCheck.too_slow])
    @given(st.lists(st.tuples(st.sampled_from("flip insert duplicate delete swap".split()), st.integers(0, 10 ** 6),
                              st.integers(0, 10 ** 6), st.sampled_from(["\r", "\x1b[2K", "\x00", "\x7f", "\x85",
                                                                        "\u202e", "\t", "\n", "\n\n", " "])),
                    min_size=1, max_size=3))
    def test_mutations_give_a_record_or_one_error(self, operations):
        data = BASES[S]
        for operation, first, second, insert in operations:
            data = mutate(data, operation, first, second, insert.encode())
        try:
            record = rr.read_record(data)
        except rr.RecordError as error:
            self.assertTrue(error.line is None or 1 <= error.line <= data.count(b"\n") + 1, error)
            self.assertTrue(error.field and error.reason, error)
            self.assert_safe(str(error))
            return
        # What the reader accepts is exactly the text the writer makes of it.
        self.assertEqual(rr.write_record(record.fields), data)

    @settings(max_examples=60, deadline=None, database=None)
    @given(st.data())
    def test_generated_records_round_trip(self, data):
        setup, signed = data.draw(st.booleans()), data.draw(st.booleans())
        values = dict(fields(setup, signed))
        if not setup:
            values["Installed-Build-Depends"] = tuple(data.draw(st.lists(st.tuples(NAMES, VERSIONS), min_size=1,
                                                                         max_size=20, unique_by=lambda p: p[0])))
            values["Debian-Release"] = data.draw(st.sampled_from(["12.1 (bookworm)", "13.0 (trixie)",
                                                                  "12.11.2 (bookworm)"]))
        epoch = str(data.draw(st.integers(*rr.EPOCH_RANGE)))
        values["Signing-Time" if setup else "Source-Date-Epoch"] = epoch
        if signed:
            values["Signer"] = data.draw(st.text(st.characters(blacklist_categories=("C", "Z")), min_size=1)
                                         .filter(lambda s: s != "none"))
        record = tuple((name, values[name]) if name != "Payload-File" else (name, value)
                       for name, value in fields(setup, signed))
        self.assertEqual(rr.read_record(rr.write_record(record)).fields, record)


class CommandTest(unittest.TestCase):
    def run_cli(self, *arguments, stdin=""):
        done = subprocess.run([sys.executable, SCRIPT, *arguments], input=stdin, capture_output=True, text=True,
                              check=False)
        return done.returncode, done.stdout.splitlines(), done.stderr

    def test_write_read_and_refusals(self):
        with tempfile.TemporaryDirectory() as folder:
            good, bad = os.path.join(folder, "good"), os.path.join(folder, "bad")
            arguments = []
            for name, value in fields():
                arguments += (["--packages-from", "-"] if name == "Installed-Build-Depends"
                              else ["--field", f"{name}={value}"])
            packages = "".join(f"{name} {version}\n" for name, version in PACKAGES)
            self.assertEqual(self.run_cli("write", *arguments, "--", good, stdin=packages), (0, [], ""))
            status, lines, _ = self.run_cli("read", "--", good)
            self.assertEqual((status, lines[8], lines[-1]), (0, "Installed-Build-Depends\tlib000-dev 1.0~rc1",
                                                             "Reproducible\tunsigned bytes reproducible"))
            self.assertEqual(len(lines), len(fields()) - 1 + len(PACKAGES))
            status, lines, _ = self.run_cli("write", *arguments[:-2], "--field", "Reproducible=\x1b[32mOK", "--",
                                            bad, stdin=packages)
            self.assertEqual((status, len(lines), os.path.exists(bad)), (1, 1, False), lines)
            with open(bad, "wb") as stream:
                stream.write(mutated(S, b"Format: 2", b"Format: 2\x1b[2K"))
            self.assertEqual(self.run_cli("read", bad), (2, [
                "the record is malformed: line 1, Format: holds the control character \\x1b: 'Format: 2\\x1b[2K'"], ""))
            status, lines, errors = self.run_cli("read", folder)
            self.assertEqual((status, len(lines), errors), (2, 1, ""), lines)


if __name__ == "__main__":
    unittest.main()
