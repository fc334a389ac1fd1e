"""authenticode.py on a small PE program signed here and altered the ways an attacker would alter a genuine setup."""
import base64
import os
import shutil
import ssl
import struct
import subprocess
import sys
import tempfile
import unittest

import authenticode

try:
    from hypothesis import given, settings, strategies
except ImportError:  # the table still runs; the damage test says why it is skipped
    given = None

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(authenticode.__file__)), "authenticode.py")
TOOLS = ("x86_64-w64-mingw32-gcc", "openssl", "osslsigncode")
# The DER of the attribute types crafted here: an RFC 3161 timestamp and the legacy countersignature.
TIMESTAMP_OID = bytes.fromhex("060a2b0601040182370303 01".replace(" ", ""))
COUNTERSIGNATURE_OID = bytes.fromhex("06092a864886f70d010906")


def tool(*argv, cwd):
    subprocess.run(argv, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def der(tag, content):
    """One DER element (definite, minimal length)."""
    size = len(content)
    if size < 0x80:
        return bytes([tag, size]) + content
    octets = size.to_bytes((size.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(octets)]) + octets + content


def table_entry(data):
    """The file offset of the certificate table's data directory entry (PE32+ and PE32)."""
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    (magic,) = struct.unpack_from("<H", data, pe + 24)
    return pe + 24 + (112 if magic == 0x20B else 96) + 32


def with_table(data, table, extra=0):
    """DATA with its certificate table replaced by TABLE, the directory's size EXTRA bytes beyond it."""
    entry = table_entry(data)
    offset, _ = struct.unpack_from("<II", data, entry)
    head = bytearray(data[:offset])
    struct.pack_into("<I", head, entry + 4, len(table) + extra)
    return bytes(head) + table


def laid_out(unsigned, table, padding):
    """UNSIGNED with PADDING and then the certificate TABLE appended, its directory entry naming the table."""
    head = bytearray(unsigned + padding)
    struct.pack_into("<II", head, table_entry(unsigned), len(head), len(table))
    return bytes(head) + table


def flipped(data, offset):
    return data[:offset] + bytes([data[offset] ^ 0x01]) + data[offset + 1:]


def table_of(data):
    offset, size = struct.unpack_from("<II", data, table_entry(data))
    return data[offset:offset + size]


def with_signed_data(data, change):
    """DATA with its signature's SignedData rebuilt: CHANGE maps the genuine SignedData's elements to the new
    content."""
    offset, _ = struct.unpack_from("<II", data, table_entry(data))
    length = struct.unpack_from("<I", data, offset)[0]
    _, _, der_end = authenticode.read_header(data, offset + 8, offset + length)
    info = authenticode.parse_der(data, offset + 8, der_end)
    new = der(0x30, info.children[0].encoding + der(0xA0, der(0x30, change(info.children[1].children[0].children))))
    padded = new + bytes(-len(new) % 8)
    return with_table(data, struct.pack("<IHH", 8 + len(padded), 0x0200, 2) + padded)


def with_signers(data, signers):
    """DATA with its signer infos replaced by SIGNERS (a function of the genuine SignerInfo element)."""
    return with_signed_data(data, lambda fields: b"".join(field.encoding for field in fields[:-1]) + der(
        0x31, signers(fields[-1].children[0])))


def with_certificate(data, element):
    """DATA with ELEMENT added to its signature's certificates."""
    return with_signed_data(data, lambda fields: b"".join(
        der(0xA0, field.content + element) if field.ident == 0xA0 else field.encoding for field in fields))


def with_attribute(oid, value):
    """A signers function: the genuine signer with one unauthenticated attribute of type OID added."""
    return lambda signer: der(0x30, signer.content + der(0xA1, der(0x30, oid + der(0x31, value))))


class InspectTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = [name for name in TOOLS if shutil.which(name) is None]
        if missing:
            raise unittest.SkipTest(f"authenticode tests skipped: {', '.join(missing)} not installed")
        cls.folder = tempfile.TemporaryDirectory()
        work = cls.folder.name
        with open(os.path.join(work, "t.c"), "w", encoding="ascii") as source:
            source.write("int main(void) { return 0; }\n")
        tool("x86_64-w64-mingw32-gcc", "-s", "-o", "t.exe", "t.c", cwd=work)
        ec = ["ec", "-pkeyopt", "ec_paramgen_curve:P-256"]
        for name, key, usage in (("rsa", ["rsa:2048"], "codeSigning"), ("ec", ec, "codeSigning"),
                                 ("nested", ec, "codeSigning"), ("tsa", ["rsa:2048"], "critical,timeStamping")):
            tool("openssl", "req", "-x509", "-newkey", *key, "-nodes", "-keyout", f"{name}.key", "-out",
                 f"{name}.pem", "-days", "30", "-subj", f"/O=Test/CN={name} signer", "-addext",
                 f"extendedKeyUsage={usage}", cwd=work)
        for name, source, extra in (("rsa", "t", []), ("ec", "t", []), ("nested", "rsa-signed", ["-nest"])):
            tool("osslsigncode", "sign", "-certs", f"{name}.pem", "-key", f"{name}.key", "-h", "sha256", *extra,
                 "-in", f"{source}.exe", "-out", f"{name}-signed.exe", cwd=work)
        tool("osslsigncode", "add", "-addUnauthenticatedBlob", "-in", "rsa-signed.exe", "-out", "blob.exe", cwd=work)
        with open(os.path.join(work, "tsa.cnf"), "w", encoding="ascii") as config:
            config.write(f"[tsa]\ndefault_tsa = t\n[t]\nserial = {work}/tsa.serial\nsigner_cert = {work}/tsa.pem\n"
                         f"signer_key = {work}/tsa.key\nsigner_digest = sha256\ndefault_policy = 1.2.3.4\n"
                         "digests = sha256\ness_cert_id_alg = sha256\n")
        tool("openssl", "ts", "-query", "-data", "t.c", "-sha256", "-cert", "-out", "q.tsq", cwd=work)
        tool("openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", "q.tsq", "-token_out", "-out",
             "token.der", cwd=work)
        cls.files = {}
        for name in ("t", "rsa-signed", "ec-signed", "nested-signed", "blob"):
            with open(os.path.join(work, f"{name}.exe"), "rb") as stream:
                cls.files[name] = stream.read()
        with open(os.path.join(work, "token.der"), "rb") as stream:
            cls.token = stream.read()
        with open(os.path.join(work, "tsa.pem"), encoding="ascii") as stream:
            cls.stranger = ssl.PEM_cert_to_DER_cert(stream.read())

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def written(self, name, data):
        path = os.path.join(self.folder.name, name)
        with open(path, "wb") as stream:
            stream.write(data)
        return path

    def script(self, *argv):
        done = subprocess.run([sys.executable, SCRIPT, *argv], capture_output=True, check=False)
        return done.returncode, done.stdout.decode("utf-8"), done.stderr

    def command(self, data):
        return self.script("inspect", self.written("input.exe", data))

    def test_files(self):
        rsa = self.files["rsa-signed"]
        table = table_of(rsa)
        start, signature = len(rsa) - len(table), table[8:authenticode.read_header(table, 8, len(table))[2]]
        padding = len(table) - 8 - len(signature)
        grown = bytearray(table)
        struct.pack_into("<I", grown, 0, struct.unpack_from("<I", table)[0] + 16)
        rows = [
            ("genuine RSA", rsa, 0, "one signature by CN=rsa signer,O=Test, serial "),
            ("RSA key, no timestamp", rsa, 0, "; key RSA; timestamp no"),
            ("genuine EC", self.files["ec-signed"], 0, "key ECDSA; timestamp no"),
            ("RFC 3161 timestamp", with_signers(rsa, with_attribute(TIMESTAMP_OID, self.token)), 0,
             "key RSA; timestamp yes"),
            ("a signature posing as the timestamp", with_signers(rsa, with_attribute(TIMESTAMP_OID, signature)), 1,
             "REFUSED: a timestamp token that is not one signer's TSTInfo"),
            ("nested signature", self.files["nested-signed"], 1,
             "REFUSED: a further, nested signature by CN=nested signer\n"),
            ("unauthenticated blob", self.files["blob"], 1,
             "REFUSED: an unauthenticated attribute 1.3.6.1.4.1.42921.1.2.1 beside the signature"),
            ("legacy countersignature", with_signers(rsa, with_attribute(COUNTERSIGNATURE_OID, der(0x30, b""))),
             1, "attribute 1.2.840.113549.1.9.6 beside"),
            ("a blob among the certificates", with_certificate(rsa, der(0xA1, der(0x04, b"blob"))), 1,
             "holds an element of tag 0xa1 among its certificates"),
            ("a certificate beside the chain", with_certificate(rsa, self.stranger), 1,
             "a certificate outside its signer's chain: CN=tsa signer,O=Test"),
            ("two signers", with_signers(rsa, lambda signer: signer.encoding * 2), 1, "REFUSED: 2 signers"),
            ("16 zero bytes in the table", with_table(rsa, bytes(grown) + bytes(16)), 1,
             f"REFUSED: {16 + padding} bytes beyond the signature in the certificate table"),
            ("data after the table", rsa + bytes(8), 1, "REFUSED: 8 bytes of data after the certificate table"),
            ("second WIN_CERTIFICATE", with_table(rsa, table + table), 1, "a second WIN_CERTIFICATE"),
            ("control characters in a name", rsa.replace(b"rsa signer", b"rsa\nsi\x1bner"), 0,
             "by CN=rsa\\x0asi\\x1bner,O=Test"),
            ("truncated", rsa[:-100], 2, "MALFORMED: truncated"),
            ("table size beyond the file", with_table(rsa, table, extra=8), 2, "MALFORMED: truncated"),
            ("not a PE", b"\x7fELF" + bytes(200), 2, "MALFORMED: not a PE file"),
            ("indefinite length", rsa[:start + 9] + b"\x80" + rsa[start + 10:], 2,
             f"MALFORMED: bad DER at offset {start + 8}: indefinite length"),
            ("length not minimal", with_table(rsa, struct.pack("<IHH", len(table) + 8, 0x0200, 2) + b"\x30\x84\x00\x00"
                                               + table[10:] + bytes(6)), 2, "length not minimally encoded"),
            ("unsigned", self.files["t"], 3, "UNSIGNED: no certificate table"),
        ]
        for name, data, status, fragment in rows:
            with self.subTest(name):
                code, out, err = self.command(data)
                self.assertEqual((code, err), (status, b""), out)
                self.assertIn(fragment, out)
                self.assertEqual(out.count("\n"), 1, out)

    def test_detach(self):
        work = self.folder.name
        rows = [("signed", "rsa-signed", 0), ("unsigned", "t", 3), ("refused", "blob", 1), ("link", "rsa-signed", 2)]
        for name, source, status in rows:
            with self.subTest(name):
                der_path, pem_path = (os.path.join(work, f"{name}.{ext}") for ext in ("der", "pem"))
                if name == "link":
                    os.symlink(os.path.join(work, "elsewhere"), der_path)
                code, out, err = self.script("detach", os.path.join(work, f"{source}.exe"), der_path, pem_path)
                self.assertEqual((code, err), (status, b""), out)
                if name == "link":
                    self.assertIn(f"MALFORMED: cannot write {der_path}: ", out)
                    self.assertFalse(os.path.lexists(os.path.join(work, "elsewhere")))
                    continue
                self.assertEqual((code, out), self.command(self.files[source])[:2])
                if status:
                    self.assertEqual((os.path.lexists(der_path), os.path.lexists(pem_path)), (False, False))
                    continue
                with open(der_path, "rb") as stream:
                    detached = stream.read()
                start, end = authenticode.signature_blob(self.files[source])
                self.assertEqual(detached, self.files[source][start:end])
                with open(pem_path, encoding="ascii") as stream:
                    lines = stream.read().split("\n")
                self.assertEqual((lines[0], lines[-2:]), ("-----BEGIN PKCS7-----", ["-----END PKCS7-----", ""]))
                self.assertEqual({len(line) for line in lines[1:-3]}, {64})
                self.assertEqual(base64.b64decode("".join(lines[1:-2]), validate=True), detached)
                tool("osslsigncode", "attach-signature", "-sigin", pem_path, "-CAfile", "rsa.pem", "-in", "t.exe",
                     "-out", "attached.exe", cwd=work)
                with open(os.path.join(work, "attached.exe"), "rb") as stream:
                    self.assertEqual(stream.read(), self.files[source])

    def test_compare(self):
        unsigned, rsa = self.files["t"], self.files["rsa-signed"]
        table = table_of(rsa)
        start = len(rsa) - len(table)
        padding = len(table) - authenticode.read_header(table, 8, len(table))[2]
        checksum = struct.unpack_from("<I", rsa, 0x3C)[0] + 24 + 64
        entry = table_entry(rsa)
        overlay = [unsigned + b"\xaa" * (8 - size) for size in range(9)]
        same = "SAME: SIGNED is UNSIGNED with one signature added ("
        rows = [
            ("genuine", unsigned, rsa, 0, f"{same}{len(table)} bytes of certificate table)\n"),
            ("checksum changed", unsigned, flipped(flipped(rsa, checksum), checksum + 3), 0, same),
            *((f"{size} bytes of alignment", overlay[size], laid_out(overlay[size], table, bytes(size)), 0, same)
              for size in range(1, 8)),
            ("8 bytes of alignment", overlay[0], laid_out(overlay[0], table, bytes(8)), 1,
             f"DIFFERENT: SIGNED has {len(overlay[0]) + 8} bytes before its certificate table, UNSIGNED "
             f"{len(overlay[0])} "),
            ("UNSIGNED longer", overlay[0], rsa, 1, f"SIGNED has {start} bytes before its certificate table"),
            ("alignment not zero", overlay[5], laid_out(overlay[5], table, b"\0\0\1\0\0"), 1,
             f"DIFFERENT: SIGNED's byte at offset {len(overlay[5]) + 2}, after UNSIGNED's end, is not zero"),
            *((f"byte {offset} changed", unsigned, flipped(rsa, offset), 1,
               f"DIFFERENT: the byte at offset {offset} differs\n")
              for offset in (checksum - 1, checksum + 4, entry - 1, entry + 8, start // 2, start - 1)),
            ("zeros after the signature", unsigned, with_table(rsa, table + bytes(8)), 1,
             f"DIFFERENT: SIGNED: {8 + padding} bytes beyond the signature"),
            ("data after the table", unsigned, rsa + bytes(8), 1, "DIFFERENT: SIGNED: 8 bytes of data after"),
            ("second WIN_CERTIFICATE", unsigned, with_table(rsa, table + table), 1, "SIGNED: a second WIN_CERT"),
            ("unsigned twice", unsigned, unsigned, 1, "DIFFERENT: SIGNED: no certificate table"),
            ("signed twice", rsa, rsa, 1, "DIFFERENT: UNSIGNED already carries a certificate table"),
            ("blob", unsigned, self.files["blob"], 1, "DIFFERENT: SIGNED: an unauthenticated attribute 1.3.6."),
            ("SIGNED not a PE", unsigned, b"\x7fELF" + bytes(200), 2, "MALFORMED: SIGNED: not a PE file"),
            ("UNSIGNED not a PE", b"\x7fELF" + bytes(200), rsa, 2, "MALFORMED: UNSIGNED: not a PE file"),
        ]
        for name, before, after, status, fragment in rows:
            with self.subTest(name):
                code, out, err = self.script("compare", self.written("before.exe", before),
                                             self.written("after.exe", after))
                self.assertEqual((code, err), (status, b""), out)
                self.assertIn(fragment, out)
                self.assertEqual(out.count("\n"), 1, out)

    def test_damage_never_raises(self):
        if given is None:
            self.skipTest("python3-hypothesis is not installed")
        genuine = self.files["rsa-signed"]
        start = len(genuine) - len(table_of(genuine))
        positions = strategies.integers(start, len(genuine) - 1) | strategies.integers(0, 1023)
        flips = strategies.lists(strategies.tuples(positions, strategies.integers(1, 255)), max_size=4)

        @settings(max_examples=300, deadline=None, database=None)
        @given(flips, strategies.just(len(genuine)) | strategies.integers(0, len(genuine)))
        def damaged(changes, keep):
            data = bytearray(genuine)
            for position, mask in changes:
                data[position] ^= mask
            result = authenticode.inspect(bytes(data[:keep]))
            self.assertIn(result.exit_code, (0, 1, 2, 3))
            self.assertNotIn("\n", result.line())

        damaged()


if __name__ == "__main__":
    unittest.main()
