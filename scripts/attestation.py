"""Rebuilders' signed statements that a setup is the vendor's release, and a check that enough trusted ones agree.

A rebuilder who got verdict 0 from verify-release.sh signs a DSSE envelope of an in-toto Statement whose predicate
is a verification summary: the setup's SHA-256 as subject, the record's SHA-256 and the commit as the policy's
digest, and the pinned signer, the bytes rebuilt, the Debian release and toolchain as the policy's annotations.
The signature is the rebuilder's ECDSA P-256 (SHA-256, DER) or Ed25519 key over DSSE's pre-authentication encoding,
made and checked by openssl; the verifier's id is "sha256:" and the hex SHA-256 of the DER public key.

    python3 attestation.py check-key --key KEY --out FILE
        exit 0 and the key's id when KEY is a readable P-256 or Ed25519 private key and FILE can be written;
        otherwise exit 2 and one line "attestation: ...".
    python3 attestation.py write --key KEY --out FILE --setup SETUP --record RECORD --commit HEX
            --signer-sha256 HEX|none --bytes "signed bytes rebuilt"|"unsigned bytes rebuilt"
            --debian-release TEXT --debian-version N --packages FILE
        writes FILE atomically; exit 0 and "attestation: wrote FILE (...)", or exit 2 and one line.
    python3 attestation.py check --attestations DIR --trusted-keys FILE --min N [--] SETUP
        exit 0 "verify-release: OK: ...", 1 "verify-release: NOT THE VENDOR'S RELEASE: ..." (trusted keys attest
        another setup for the same commit and record), 2 "verify-release: COULD NOT CHECK: ..." (too few); one
        line on standard output, one line on standard error for every envelope skipped.
Envelopes come from a download: each is read with a size limit, a nesting limit, duplicate keys refused and strict
base64, and is skipped with its reason rather than half trusted.
"""

import base64
import binascii
import datetime
import hashlib
import json
import os
import re
import stat
import subprocess
import sys
import tempfile

PAYLOAD_TYPE = "application/vnd.in-toto+json"
STATEMENT_TYPE = "https://in-toto.io/Statement/v1"
PREDICATE_TYPE = "https://slsa.dev/verification_summary/v1"
FACTS = "https://quillmart.invalid/attestation/rebuild/v1"
REBUILT_LEVEL = "QUILLMART_REBUILT_SAME_BYTES"
BYTES = ("signed bytes rebuilt", "unsigned bytes rebuilt")
MAX_ENVELOPE = 1024 * 1024
MAX_DEPTH = 32
MAX_FILES = 4096
MAX_SIGNATURES = 8
MAX_KEYS_FILE = 256 * 1024
# The fixed DER prefixes of the two public keys this accepts (SubjectPublicKeyInfo): the rest is the key itself.
SPKI_PREFIXES = {"ECDSA P-256": (bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200"), 65),
                 "Ed25519": (bytes.fromhex("302a300506032b6570032100"), 32)}
HEX40 = re.compile(r"[0-9a-f]{40}")
HEX64 = re.compile(r"[0-9a-f]{64}")
KEY_ID = re.compile(r"sha256:[0-9a-f]{64}")
TIME = re.compile(r"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z")
PEM_BLOCK = re.compile(r"-----BEGIN PUBLIC KEY-----\n([A-Za-z0-9+/=\n]+?)\n?-----END PUBLIC KEY-----\n?")
UNPRINTABLE = re.compile("[\x00-\x1f\x7f-\x9f\u200b-\u200f\u202a-\u202e\u2060-\u206f\ufeff]")


class Refused(Exception):
    """Why an input (an envelope, a key, an argument) is not taken."""


def printable(text):
    """TEXT with every control or invisible formatting character shown as \\xNN (the shell scripts' rule)."""
    return UNPRINTABLE.sub(lambda m: "".join(f"\\x{b:02x}" for b in m.group().encode()), str(text))


def pae(payload_type, body):
    """DSSE's pre-authentication encoding: what is signed, so that the type cannot be swapped under a signature."""
    kind = payload_type.encode()
    return b"DSSEv1 %d %s %d %s" % (len(kind), kind, len(body), body)


def strict_b64(text, what):
    """The bytes of standard, padded base64 with nothing else in it (no line breaks, no second spelling)."""
    if not isinstance(text, str) or not text.isascii():
        raise Refused(f"{what} is not a base64 string")
    try:
        data = base64.b64decode(text, validate=True)
    except (binascii.Error, ValueError):
        raise Refused(f"{what} is not strict base64") from None
    if base64.b64encode(data).decode() != text:
        raise Refused(f"{what} is not strict base64")
    return data


def nesting_depth(text):
    """The deepest nesting of arrays and objects, counted outside strings, before the parser recurses into it."""
    depth = deepest = 0
    in_string = escaped = False
    for char in text:
        if in_string:
            if escaped:
                escaped = False
            elif char == "\\":
                escaped = True
            elif char == '"':
                in_string = False
        elif char == '"':
            in_string = True
        elif char in "[{":
            depth += 1
            deepest = max(deepest, depth)
        elif char in "]}":
            depth -= 1
    return deepest


def unique_pairs(pairs):
    """An object whose keys are all different: a repeated key could mean one thing here and another elsewhere."""
    result = {}
    for key, value in pairs:
        if key in result:
            raise Refused(f"the key {key!r} appears twice")
        result[key] = value
    return result


def parse_json(data, what):
    """DATA (bytes) as strict JSON: UTF-8, no duplicate keys, no NaN, nested at most MAX_DEPTH deep."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError:
        raise Refused(f"{what} is not UTF-8") from None
    if nesting_depth(text) > MAX_DEPTH:
        raise Refused(f"{what} is nested more than {MAX_DEPTH} deep")

    def no_constant(name):
        raise Refused(f"{what} holds {name}")
    try:
        return json.loads(text, object_pairs_hook=unique_pairs, parse_constant=no_constant)
    except json.JSONDecodeError as error:
        raise Refused(f"{what} is not JSON ({error.msg} at line {error.lineno} column {error.colno})") from None
    except (ValueError, RecursionError):
        # A number of thousands of digits, or nesting the count above missed: refused like any malformed text.
        raise Refused(f"{what} is not JSON this reads (a number too long or nesting too deep)") from None


def field(obj, key, kind, what):
    """OBJ[KEY] when OBJ is an object and the value has type KIND."""
    if not isinstance(obj, dict) or not isinstance(obj.get(key), kind):
        raise Refused(f"{what}.{key} is missing or not a {kind.__name__}")
    return obj[key]


def openssl(args, what):
    """Runs openssl with an argument list; a failure is a refusal naming WHAT and openssl's last line."""
    try:
        done = subprocess.run(["openssl", *args], stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    except FileNotFoundError:
        raise Refused("openssl is missing") from None
    except subprocess.TimeoutExpired:
        raise Refused(f"openssl did not finish: {what}") from None
    if done.returncode != 0:
        lines = done.stderr.decode(errors="replace").strip().splitlines()
        raise Refused(f"{what}: {lines[0] if lines else 'openssl failed'}")
    return done.stdout


def key_kind(der):
    """The kind of a DER public key, or a refusal: only P-256 and Ed25519 keys are strong and small enough here."""
    for kind, (prefix, size) in SPKI_PREFIXES.items():
        if der.startswith(prefix) and len(der) == len(prefix) + size:
            return kind
    raise Refused("the key is neither ECDSA P-256 nor Ed25519")


def key_id(der):
    """The verifier's id: the SHA-256 of the DER public key."""
    return "sha256:" + hashlib.sha256(der).hexdigest()


def private_key(path):
    """(kind, id) of the private key in PATH; openssl reads it from the file, its text never on a command line."""
    if not os.path.isfile(path) or not os.access(path, os.R_OK):
        raise Refused(f"{path} is not a readable file")
    openssl(["pkey", "-in", path, "-noout"], f"{path} is not a private key openssl can read")
    der = openssl(["pkey", "-in", path, "-pubout", "-outform", "DER"], f"{path} has no public key")
    return key_kind(der), key_id(der)


def sign(key_path, kind, message, folder):
    """The signature of MESSAGE: ECDSA over its SHA-256 (DER), or Ed25519 over the message itself."""
    source, target = os.path.join(folder, "pae"), os.path.join(folder, "sig")
    with open(source, "wb") as out:
        out.write(message)
    if kind == "Ed25519":
        openssl(["pkeyutl", "-sign", "-inkey", key_path, "-rawin", "-in", source, "-out", target], "cannot sign")
    else:
        openssl(["dgst", "-sha256", "-sign", key_path, "-out", target, "--", source], "cannot sign")
    with open(target, "rb") as signature:
        return signature.read()


def verify(public_pem, kind, message, signature, folder):
    """Whether SIGNATURE over MESSAGE verifies with the public key in the file PUBLIC_PEM."""
    paths = {name: os.path.join(folder, name) for name in ("msg", "sig")}
    for name, data in (("msg", message), ("sig", signature)):
        with open(paths[name], "wb") as out:
            out.write(data)
    if kind == "Ed25519":
        args = ["pkeyutl", "-verify", "-pubin", "-inkey", public_pem, "-rawin", "-in", paths["msg"],
                "-sigfile", paths["sig"]]
    else:
        args = ["dgst", "-sha256", "-verify", public_pem, "-signature", paths["sig"], "--", paths["msg"]]
    try:
        openssl(args, "verify")
    except Refused:
        return False
    return True


def file_sha256(path):
    """The hex SHA-256 of a regular file's content."""
    digest = hashlib.sha256()
    with open(path, "rb") as source:
        for block in iter(lambda: source.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def check_out(path):
    """FILE must be writable in place: its folder exists and is writable, and FILE is not a folder or link."""
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder) or not os.access(folder, os.W_OK):
        raise Refused(f"{folder} is not a folder this user can write in")
    if os.path.islink(path) or (os.path.lexists(path) and not os.path.isfile(path)):
        raise Refused(f"{path} exists and is not a regular file")


def statement(facts, verifier):
    """The in-toto Statement of a verification summary for the facts of one verdict 0."""
    policy_facts = {"signerCertificateSha256": facts["signer"], "bytes": facts["bytes"],
                    "debianRelease": facts["release"], "debianVersion": facts["version"],
                    "toolchain": facts["packages"]}
    return {
        "_type": STATEMENT_TYPE,
        "subject": [{"name": facts["name"], "digest": {"sha256": facts["setup_sha256"]}}],
        "predicateType": PREDICATE_TYPE,
        "predicate": {
            "verifier": {"id": verifier},
            "timeVerified": facts["time"],
            "resourceUri": facts["name"],
            "policy": {"name": facts["record_name"],
                       "digest": {"sha256": facts["record_sha256"], "gitCommit": facts["commit"]},
                       "annotations": {FACTS: policy_facts}},
            "verificationResult": "PASSED",
            "verifiedLevels": ["SLSA_BUILD_LEVEL_0", REBUILT_LEVEL],
            "slsaVersion": "1.0",
        },
    }


def read_packages(path):
    """The "name version" lines of the recorded toolchain."""
    with open(path, encoding="utf-8") as source:
        lines = [line.rstrip("\n") for line in source if line.strip()]
    for line in lines:
        if not re.fullmatch(r"[a-z0-9][a-z0-9+.-]+ [0-9][A-Za-z0-9.+~:-]*", line):
            raise Refused(f"{path}: {line!r} is not a package and its version")
    return lines


def gather(args):
    """The facts of the statement from the write command's arguments, each checked for its form."""
    if not HEX40.fullmatch(args["--commit"]):
        raise Refused("--commit takes 40 hex digits")
    if args["--signer-sha256"] != "none" and not HEX64.fullmatch(args["--signer-sha256"]):
        raise Refused("--signer-sha256 takes 64 hex digits or none")
    if args["--bytes"] not in BYTES:
        raise Refused(f"--bytes takes {' or '.join(BYTES)}")
    if not re.fullmatch(r"1[0-9]", args["--debian-version"]):
        raise Refused("--debian-version takes the Debian major version")
    now = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    return {"name": os.path.basename(args["--setup"]), "setup_sha256": file_sha256(args["--setup"]),
            "record_name": os.path.basename(args["--record"]), "record_sha256": file_sha256(args["--record"]),
            "commit": args["--commit"], "signer": args["--signer-sha256"], "bytes": args["--bytes"],
            "release": args["--debian-release"], "version": args["--debian-version"],
            "packages": read_packages(args["--packages"]), "time": now.strftime("%Y-%m-%dT%H:%M:%SZ")}


def envelope(body, signature, verifier):
    """The DSSE envelope around a payload and its one signature."""
    return {"payload": base64.b64encode(body).decode(), "payloadType": PAYLOAD_TYPE,
            "signatures": [{"keyid": verifier, "sig": base64.b64encode(signature).decode()}]}


def write_atomically(path, text):
    """TEXT into PATH through a temporary file beside it and a rename: a reader sees the old file or the new one."""
    folder = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(prefix=".attestation.", dir=folder)
    try:
        with os.fdopen(handle, "w", encoding="utf-8") as out:
            out.write(text)
            out.flush()
            os.fsync(out.fileno())
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def write(args):
    """Signs the statement of one verdict 0 and writes its envelope; returns the line that says so."""
    check_out(args["--out"])
    kind, verifier = private_key(args["--key"])
    facts = gather(args)
    body = json.dumps(statement(facts, verifier), sort_keys=True, separators=(",", ":")).encode()
    with tempfile.TemporaryDirectory(prefix="qmt-attest.") as folder:
        signature = sign(args["--key"], kind, pae(PAYLOAD_TYPE, body), folder)
    write_atomically(args["--out"], json.dumps(envelope(body, signature, verifier), indent=2) + "\n")
    return f"attestation: wrote {args['--out']} ({facts['name']} sha256 {facts['setup_sha256']}, signed by {verifier})"


# --- The threshold check ---------------------------------------------------------------------------------------------
def trusted_keys(path, folder):
    """{id: (kind, PEM file)} for every public key in PATH, each written to FOLDER for openssl."""
    text = read_limited(path, MAX_KEYS_FILE, "the trusted keys", follow=True).decode("ascii", errors="replace")
    keys, position = {}, 0
    for match in PEM_BLOCK.finditer(text):
        if text[position:match.start()].strip():
            raise Refused(f"{path} holds something other than PEM public keys")
        position = match.end()
        der = strict_b64(match.group(1).replace("\n", ""), f"{path}: a key")
        kind = key_kind(der)
        pem = os.path.join(folder, f"key{len(keys)}.pem")
        with open(pem, "w", encoding="ascii") as out:
            out.write(match.group())
        keys[key_id(der)] = (kind, pem)
    if text[position:].strip() or not keys:
        raise Refused(f"{path} holds something other than PEM public keys" if keys else f"{path} holds no public key")
    return keys


def read_limited(path, limit, what, follow=False):
    """The bytes of the regular file PATH (a link followed only when FOLLOW), refused when longer than LIMIT."""
    if not follow and os.path.islink(path):
        raise Refused(f"{what} is a symbolic link, not a regular file")
    try:
        handle = os.open(path, os.O_RDONLY | os.O_NONBLOCK | (0 if follow else os.O_NOFOLLOW))
    except OSError as error:
        raise Refused(f"cannot read {what}: {error.strerror}") from None
    with os.fdopen(handle, "rb") as source:
        if not stat.S_ISREG(os.fstat(source.fileno()).st_mode):
            raise Refused(f"{what} is not a regular file")
        data = source.read(limit + 1)
    if len(data) > limit:
        raise Refused(f"{what} is larger than {limit} bytes")
    return data


def signers(env, keys, folder):
    """The trusted keys whose signature in ENV verifies over the PAE of its payload."""
    if not isinstance(env, dict) or set(env) != {"payload", "payloadType", "signatures"}:
        raise Refused("it is not a DSSE envelope (payload, payloadType, signatures)")
    if env["payloadType"] != PAYLOAD_TYPE:
        raise Refused(f"its payloadType is not {PAYLOAD_TYPE}")
    body = strict_b64(env["payload"], "its payload")
    sigs = env["signatures"]
    if not isinstance(sigs, list) or not 0 < len(sigs) <= MAX_SIGNATURES:
        raise Refused(f"it needs 1 to {MAX_SIGNATURES} signatures")
    message, found = pae(PAYLOAD_TYPE, body), set()
    for entry in sigs:
        if (not isinstance(entry, dict) or not set(entry) <= {"keyid", "sig"} or "sig" not in entry
                or not isinstance(entry.get("keyid", ""), str)):
            raise Refused("a signature is not {keyid, sig}")
        signature = strict_b64(entry["sig"], "a signature")
        found |= {kid for kid, (kind, pem) in keys.items()
                  if kid not in found and verify(pem, kind, message, signature, folder)}
    if not found:
        raise Refused("no signature by a trusted key verifies")
    return body, found


def claims(body, signed_by):
    """(setup sha256, commit, record sha256) of a PASSED verification summary whose verifier signed it."""
    st = parse_json(body, "its payload")
    if field(st, "_type", str, "statement") != STATEMENT_TYPE:
        raise Refused(f"its statement is not {STATEMENT_TYPE}")
    if field(st, "predicateType", str, "statement") != PREDICATE_TYPE:
        raise Refused(f"its predicate is not {PREDICATE_TYPE}")
    subjects = field(st, "subject", list, "statement")
    if len(subjects) != 1:
        raise Refused("it must attest exactly one subject")
    setup = field(field(subjects[0], "digest", dict, "subject"), "sha256", str, "subject.digest")
    predicate = field(st, "predicate", dict, "statement")
    verifier = field(field(predicate, "verifier", dict, "predicate"), "id", str, "predicate.verifier")
    if verifier not in signed_by:
        raise Refused(f"it names the verifier {verifier} but is signed by {', '.join(sorted(signed_by))}")
    if field(predicate, "verificationResult", str, "predicate") != "PASSED":
        raise Refused("its verificationResult is not PASSED")
    if not TIME.fullmatch(field(predicate, "timeVerified", str, "predicate")):
        raise Refused("its timeVerified is not a UTC time")
    digest = field(field(predicate, "policy", dict, "predicate"), "digest", dict, "predicate.policy")
    commit = field(digest, "gitCommit", str, "policy.digest")
    record = field(digest, "sha256", str, "policy.digest")
    if not (HEX64.fullmatch(setup) and HEX40.fullmatch(commit) and HEX64.fullmatch(record)):
        raise Refused("its subject, commit or record digest is not lowercase hex of the right length")
    return setup, commit, record


def read_envelope(path, keys, folder):
    """[(path, key id, setup, commit, record)] for one envelope file, or a refusal saying why it is skipped."""
    env = parse_json(read_limited(path, MAX_ENVELOPE, "it"), "it")
    body, keyids = signers(env, keys, folder)
    setup, commit, record = claims(body, keyids)
    return [(path, kid, setup, commit, record) for kid in keyids]


def envelope_paths(folder):
    """Every entry of FOLDER, in name order, at most MAX_FILES of them."""
    try:
        names = sorted(os.listdir(folder))
    except OSError as error:
        raise Refused(f"cannot read the folder {folder}: {error.strerror}") from None
    if len(names) > MAX_FILES:
        raise Refused(f"{folder} holds more than {MAX_FILES} entries")
    return [os.path.join(folder, name) for name in names]


def collect(folder, keys, work):
    """Every attestation of a trusted key in FOLDER; each envelope skipped is named on standard error."""
    found = []
    for path in envelope_paths(folder):
        if os.path.isdir(path) and not os.path.islink(path):
            continue
        try:
            found += read_envelope(path, keys, work)
        except (Refused, OSError) as why:
            print(printable(f"attestation: skipped {path}: {why}"), file=sys.stderr)
    return found


def decide(name, setup_sha256, found, trusted, needed):
    """(status, text) of the threshold: agreement, disagreement of trusted keys, or too few of them."""
    agree = {(commit, record) for _, _, setup, commit, record in found if setup == setup_sha256}
    supporters = sorted({kid for _, kid, setup, _, _ in found if setup == setup_sha256})
    others = sorted({(kid, setup, commit) for _, kid, setup, commit, record in found
                     if setup != setup_sha256 and (commit, record) in agree})
    for path in sorted({path for path, _, setup, commit, record in found
                        if setup != setup_sha256 and (commit, record) not in agree}):
        print(printable(f"attestation: skipped {path}: it attests another setup"), file=sys.stderr)
    if others:
        named = "; ".join(f"{kid} attests sha256 {setup} for commit {commit}" for kid, setup, commit in others)
        return 1, (f"trusted rebuilders disagree: {named} and the same record, not this setup "
                   f"({name}, sha256 {setup_sha256}, attested by {', '.join(supporters)})")
    if len(supporters) >= needed:
        where = "; ".join(f"commit {commit}, record sha256 {record}" for commit, record in sorted(agree))
        return 0, (f"{name} (sha256 {setup_sha256}) attested by {len(supporters)} of the trusted keys "
                   f"({', '.join(supporters)}), at least {needed} required; {where}")
    which = f" ({', '.join(supporters)})" if supporters else ""
    return 2, (f"{name} (sha256 {setup_sha256}) is attested by {len(supporters)} of the {trusted} trusted keys{which}; "
               f"{needed} required")


def check(args):
    """The threshold check's (status, text) from its arguments."""
    needed = args["--min"]
    if not re.fullmatch(r"[1-9][0-9]{0,3}", needed):
        raise Refused("--min takes a whole number from 1")
    setup = args["setup"]
    if not os.path.isfile(setup):
        raise Refused(f"{setup} is not a readable file")
    if not os.path.isdir(args["--attestations"]):
        raise Refused(f"{args['--attestations']} is not a folder")
    with tempfile.TemporaryDirectory(prefix="qmt-attest.") as work:
        keys = trusted_keys(args["--trusted-keys"], work)
        found = collect(args["--attestations"], keys, work)
    return decide(setup, file_sha256(setup), found, len(keys), int(needed))


VERBS = {"check-key": ("--key", "--out"),
         "write": ("--key", "--out", "--setup", "--record", "--commit", "--signer-sha256", "--bytes",
                   "--debian-release", "--debian-version", "--packages"),
         "check": ("--attestations", "--trusted-keys", "--min")}


def parse_args(argv):
    """(verb, {option: value}) where every option of the verb is given once; check also takes the setup."""
    if not argv or argv[0] not in VERBS:
        raise Refused(f"give a command: {', '.join(VERBS)}")
    verb, rest, args = argv[0], list(argv[1:]), {}
    while rest and rest[0] != "--" and rest[0] in VERBS[verb]:
        name = rest.pop(0)
        if name in args or not rest:
            raise Refused(f"{name} given twice or without a value")
        args[name] = rest.pop(0)
    if rest and rest[0] == "--":
        rest.pop(0)
    missing = [name for name in VERBS[verb] if name not in args]
    if missing or len(rest) != (verb == "check"):
        raise Refused(f"{verb} takes {' '.join(VERBS[verb])}{' SETUP' if verb == 'check' else ''}")
    if rest:
        args["setup"] = rest[0]
    return verb, args


PREFIXES = {0: "verify-release: OK: ", 1: "verify-release: NOT THE VENDOR'S RELEASE: ",
            2: "verify-release: COULD NOT CHECK: "}


def main(argv):
    """One clean line and a status for every command; no traceback reaches the caller."""
    verb = argv[0] if argv else ""
    try:
        verb, args = parse_args(argv)
        if verb == "check":
            status, text = check(args)
            print(printable(PREFIXES[status] + text))
            return status
        if verb == "check-key":
            check_out(args["--out"])
            print(printable(f"attestation: {' '.join(private_key(args['--key']))}"))
        else:
            print(printable(write(args)))
        return 0
    except (Refused, OSError, UnicodeDecodeError) as why:
        text = why.strerror if isinstance(why, OSError) and why.strerror else why
        name = getattr(why, "filename", None)
        prefix = PREFIXES[2] if verb == "check" else "attestation: "
        print(printable(f"{prefix}{name + ': ' if name else ''}{text}"))
        return 2
    except Exception as why:  # pylint: disable=broad-except
        # A fault of this program still ends in one verdict line, never a traceback over the terminal.
        prefix = PREFIXES[2] if verb == "check" else "attestation: "
        print(printable(f"{prefix}an internal error: {type(why).__name__}: {why}"))
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
