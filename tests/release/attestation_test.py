"""Rebuilders' attestations: only valid signatures of trusted keys over DSSE's encoding count, disagreement is named."""

import base64
import contextlib
import hashlib
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import attestation as at

COMMIT = "c0ffee" + "0" * 34
VERIFY = os.path.join(os.path.dirname(at.__file__), "verify-release.sh")


def run(*args):
    """openssl's output, the test failing when it fails."""
    return subprocess.run(["openssl", *args], check=True, capture_output=True, stdin=subprocess.DEVNULL).stdout


def read(path):
    with open(path, encoding="utf-8") as source:
        return source.read()


def ed25519_signs():
    """Whether this openssl signs raw messages with Ed25519 (pkeyutl -rawin)."""
    return b"-rawin" in subprocess.run(["openssl", "pkeyutl", "-help"], capture_output=True).stderr


class AttestationTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        d = cls.dir = cls.tmp.name
        names = ["a", "b", "u"] + (["e"] if ed25519_signs() else [])
        for name in names:
            algorithm = ["ed25519"] if name == "e" else ["EC", "-pkeyopt", "ec_paramgen_curve:P-256"]
            run("genpkey", "-algorithm", *algorithm, "-out", f"{d}/{name}.pem")
            run("pkey", "-in", f"{d}/{name}.pem", "-pubout", "-out", f"{d}/{name}.pub")
        with open(f"{d}/trusted.pem", "w") as out:
            out.write("".join(read(f"{d}/{n}.pub") for n in names if n != "u"))
        cls.trusted = len(names) - 1
        for name, data in (("setup.exe", b"MZ setup"), ("other.exe", b"MZ other"), ("record", b"Format: 2\n"),
                           ("packages", b"gcc-mingw-w64 12.2.0-14+25.2\n")):
            with open(f"{d}/{name}", "wb") as out:
                out.write(data)
        cls.env = {name: cls.write(name) for name in names}
        cls.env["b-other"] = cls.write("b", "other.exe")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    @classmethod
    def write(cls, key, setup="setup.exe"):
        """The envelope text the module's own writer makes for KEY over SETUP."""
        d, out = cls.dir, f"{cls.dir}/out.json"
        at.write({"--key": f"{d}/{key}.pem", "--out": out, "--setup": f"{d}/{setup}", "--record": f"{d}/record",
                  "--commit": COMMIT, "--signer-sha256": "ab" * 32, "--bytes": "signed bytes rebuilt",
                  "--debian-release": "12.11 (bookworm)", "--debian-version": "12", "--packages": f"{d}/packages"})
        return read(out)

    def key_id(self, name):
        return "sha256:" + hashlib.sha256(run("pkey", "-pubin", "-in", f"{self.dir}/{name}.pub", "-outform",
                                              "DER")).hexdigest()

    def check(self, envelopes, needed):
        folder = tempfile.mkdtemp(dir=self.dir)
        for i, text in enumerate(envelopes):
            with open(f"{folder}/{i}.json", "w") as out:
                out.write(text)
        errors = io.StringIO()
        with contextlib.redirect_stderr(errors):
            status, text = at.check({"--attestations": folder, "--trusted-keys": f"{self.dir}/trusted.pem",
                                     "--min": str(needed), "setup": f"{self.dir}/setup.exe"})
        return status, text, errors.getvalue()

    def mangled(self, name, change):
        """The envelope of NAME with CHANGE applied to its parsed form."""
        env = json.loads(self.env[name])
        change(env)
        return json.dumps(env)

    def test_threshold(self):
        def forge(env):
            env["payload"] = base64.b64encode(base64.b64decode(env["payload"]).replace(b"PASSED", b"PASSEd")).decode()

        def sign_payload(env):
            with open(f"{self.dir}/raw", "wb") as out:
                out.write(base64.b64decode(env["payload"]))
            sig = run("dgst", "-sha256", "-sign", f"{self.dir}/b.pem", f"{self.dir}/raw")
            env["signatures"][0]["sig"] = base64.b64encode(sig).decode()
        a, b = self.env["a"], self.env["b"]
        bid = self.key_id("b")
        rows = [
            ("two trusted keys", [a, b], 2, 0, ["attested by 2 of the trusted keys", bid], []),
            ("one fewer than needed", [a, b], 3, 2, [f"attested by 2 of the {self.trusted} trusted keys", bid], []),
            ("an untrusted key", [a, self.env["u"]], 2, 2, ["attested by 1 of"], ["no signature by a trusted key"]),
            ("another setup, same commit and record", [a, self.env["b-other"]], 1, 1, ["disagree", bid], []),
            ("only another setup", [self.env["b-other"]], 1, 2, ["attested by 0 of"], ["0.json: it attests another"]),
            ("payload changed after signing", [a, self.mangled("b", forge)], 2, 2, [], ["1.json: no signature"]),
            ("truncated", [a, b[:len(b) // 2]], 2, 2, [], ["1.json: it is not JSON"]),
            ("10 MB", [a, b[:-2] + " " * (10 << 20) + "}\n"], 2, 2, [], ["1.json: it is larger than"]),
            ("deeply nested", [a, "[" * 100000 + "]" * 100000], 2, 2, [], ["1.json: it is nested more than"]),
            ("a key repeated", [a, b[:-2] + ', "payloadType": "x"}'], 2, 2, [], ["'payloadType' appears twice"]),
            ("base64 with excess padding", [a, self.mangled("b", lambda e: e.update(payload="abcd=="))], 2, 2, [],
             ["payload is not strict base64"]),
            ("signed payload, not its encoding", [a, self.mangled("b", sign_payload)], 2, 2, [], ["1.json: no sig"]),
        ]
        if "e" in self.env:
            rows.append(("an Ed25519 key", [a, self.env["e"]], 2, 0, [self.key_id("e")], []))
        for name, envelopes, needed, status, said, skipped in rows:
            with self.subTest(name):
                got, text, errors = self.check(envelopes, needed)
                self.assertEqual(got, status, text)
                for words in said:
                    self.assertIn(words, text)
                for words in skipped:
                    self.assertIn(words, errors)
                self.assertEqual(len(errors.splitlines()), len(skipped), errors)

    def test_envelope_signs_dsse_encoding(self):
        """The signature verifies, checked independently, over the encoding built here; the statement says what
        the verdict was about."""
        env = json.loads(self.env["a"])
        body, kind = base64.b64decode(env["payload"]), env["payloadType"].encode()
        with open(f"{self.dir}/pae", "wb") as out:
            out.write(b"DSSEv1 %d %s %d %s" % (len(kind), kind, len(body), body))
        with open(f"{self.dir}/sig", "wb") as out:
            out.write(base64.b64decode(env["signatures"][0]["sig"]))
        run("dgst", "-sha256", "-verify", f"{self.dir}/a.pub", "-signature", f"{self.dir}/sig", f"{self.dir}/pae")
        statement = json.loads(body)
        predicate = statement["predicate"]
        self.assertEqual(statement["subject"], [{"name": "setup.exe", "digest": {
            "sha256": hashlib.sha256(b"MZ setup").hexdigest()}}])
        self.assertEqual((predicate["verifier"]["id"], env["signatures"][0]["keyid"]), (self.key_id("a"),) * 2)
        self.assertEqual(predicate["policy"]["digest"], {"sha256": hashlib.sha256(b"Format: 2\n").hexdigest(),
                                                         "gitCommit": COMMIT})

    def test_verify_release_options(self):
        """The threshold mode is dispatched first, and --attest's refusals come at option time, before a rebuild."""
        d, work = self.dir, f"{self.dir}/work"
        folder = tempfile.mkdtemp(dir=d)
        for name in "ab":
            with open(f"{folder}/{name}.json", "w") as out:
                out.write(self.env[name])
        inputs = [f"{d}/setup.exe", f"{d}/record"]
        rows = [
            (["--attestations", folder, "--trusted-keys", f"{d}/trusted.pem", "--min", "2", f"{d}/setup.exe"], 0,
             "OK: " + d),
            (["--attest", f"{d}/a.pub", "--attestation", f"{d}/x.json", *inputs], 2, "is not a private key"),
            (["--work", work, "--attest", f"{d}/a.pem", "--attestation", f"{work}/x.json", *inputs], 2, "lies in --work"),
            (["--attest", f"{d}/a.pem", "--attestation", f"{d}/record", *inputs], 2, "would overwrite the input"),
            (["--attest", f"{d}/a.pem", *inputs], 2, "go together"),
        ]
        for args, status, said in rows:
            with self.subTest(said):
                done = subprocess.run(["bash", VERIFY, *args], capture_output=True, text=True, timeout=60)
                self.assertEqual(done.returncode, status, done.stdout + done.stderr)
                self.assertIn(said, done.stdout)
        self.assertFalse(os.path.exists(f"{d}/x.json"))

    def test_cosign_reads_envelope(self):
        if not shutil.which("cosign"):
            print("skipped: cosign not installed", file=sys.stderr)
            self.skipTest("cosign not installed")
        with open(f"{self.dir}/a.json", "w") as out:
            out.write(self.env["a"])
        with open(f"{self.dir}/other.exe", "wb") as out:
            out.write(b"another setup")
        # The envelope verifies for its own setup, and the same reader refuses it for another file.
        for blob, accepted in ((f"{self.dir}/setup.exe", True), (f"{self.dir}/other.exe", False)):
            done = subprocess.run(["cosign", "verify-blob-attestation", "--key", f"{self.dir}/a.pub",
                                   "--insecure-ignore-tlog", "--type", at.PREDICATE_TYPE,
                                   "--signature", f"{self.dir}/a.json", blob], capture_output=True, timeout=60)
            self.assertEqual(done.returncode == 0, accepted, done.stderr)


if __name__ == "__main__":
    unittest.main()
