"""The release record (<setup>.buildinfo): one strict reader and one writer that checks its own output.

A record is one paragraph of "Field: value" lines; Installed-Build-Depends holds one " name (= version)," line per
package below it, the last without the comma. The verifier reads records from a download, often as root, so the
reader accepts exactly what the release writes and names the first line that differs:
"line N, FIELD: what is wrong", or "FIELD: missing".

    python3 release_record.py read [--] RECORD
        exit 0: one "FIELD<TAB>VALUE" line per field in file order; Installed-Build-Depends as one
        "Installed-Build-Depends<TAB>name version" line per package. Otherwise exit 2 and one line
        "the record is malformed: ..." (or "cannot read RECORD: ...").
    python3 release_record.py write [--field NAME=VALUE | --packages-from FILE]... [--] OUT
        the fields in the order given; --packages-from puts Installed-Build-Depends there, from "name version"
        lines of FILE ("-": standard input). OUT is written only when the reader accepts the text; otherwise
        exit 1 and one line "the record cannot be written: ...".
"""

import dataclasses
import re
import sys

MAX_BYTES = 256 * 1024
MAX_LINE = 4096
QUOTE_LIMIT = 80

FORMAT = "2"
SOURCE = "Quillmart-Setup"
PACKAGES = "Installed-Build-Depends"
PAYLOAD_FILE = "Payload-File"
PAYLOAD_SIGNATURE = "Payload-Signature"
REPEATED = (PAYLOAD_FILE, PAYLOAD_SIGNATURE)
PAYLOAD_NAMES = ("WebView2Loader.dll", "Quillmart.exe")
SETUP_BUILD = "given with --setup: built elsewhere; this record holds only what the signing machine knows"
ALLOW_DIRTY = ("commit only (--allow-dirty: the checkout's uncommitted changes to tracked files were not built)")
UNSIGNED = "none (unsigned)"
RELEASES = {"bookworm": "12", "trixie": "13"}
EPOCH_RANGE = (315532800, 4102444800)

HEX64 = re.compile(r"[0-9a-f]{64}")
EPOCH = re.compile(r"[1-9][0-9]*")
KEY_WORD = r"[A-Za-z0-9][A-Za-z0-9._+-]*"
PACKAGE_NAME = r"[a-z0-9][a-z0-9+.-]+"
VERSION = (r"(?:[0-9]+:[0-9][A-Za-z0-9.+~:-]*-[A-Za-z0-9.+~]+|[0-9]+:[0-9][A-Za-z0-9.+~:]*"
           r"|[0-9][A-Za-z0-9.+~-]*-[A-Za-z0-9.+~]+|[0-9][A-Za-z0-9.+~]*)")
ENTRY = re.compile(rf" ({PACKAGE_NAME}) \(= ({VERSION})\)(,?)")
FIELD_LINE = re.compile(r"([A-Za-z][A-Za-z0-9-]*):(?: (.*))?")
FIELD_NAME = re.compile(rb"([A-Za-z][A-Za-z0-9-]*):")
RELEASE = re.compile(r"(1[0-9])\.(?:0|[1-9][0-9]{0,2})(?:\.(?:0|[1-9][0-9]{0,2}))? \(([a-z]+)\)")
PAYLOAD_LINE = re.compile(r"(\S+) (0|[1-9][0-9]{0,14}) ([0-9a-f]{64})")
PAYLOAD_SIGNATURE_LINE = re.compile(r"(\S+) (RSA|ECDSA|none) (\S.*)")
ADOPTED = "elsewhere (taken back with release.sh --adopt)"
URL = re.compile(r"https?://[!-~]+")
REPRODUCIBLE = re.compile(
    r"unsigned bytes reproducible|signed bytes not reproducible \(timestamp\); unsigned bytes reproducible"
    r"|signed bytes reproducible \(RSA, with the same SOURCE_DATE_EPOCH\)"
    rf"|signed bytes not reproducible \({KEY_WORD}\); unsigned bytes reproducible"
    r"|signed elsewhere; unsigned bytes reproducible")

# Every field the format defines, in the order the release writes them; the reader reports missing ones so.
ORDER = ("Format", "Source", "Source-Commit", "Source-Tree", "Build", "Build-Architecture", "Debian-Release",
         "Source-Date-Epoch", "Signing-Time", PACKAGES, "Payload", PAYLOAD_FILE, PAYLOAD_SIGNATURE,
         "Unsigned-SHA256", "Signed-SHA256", "Signer", "Signer-Certificate-SHA256", "Signature-Key",
         "Signature-SHA256", "Signed", "Timestamp-Authority", "Reproducible")
# Fields that records made before them lack: optional, but never on a record they do not belong to.
LATER = (PAYLOAD_SIGNATURE, "Signature-SHA256", "Signed")
BUILT_ONLY = ("Source-Commit", "Source-Tree", "Build-Architecture", "Debian-Release", "Source-Date-Epoch", PACKAGES)


class RecordError(Exception):
    """One violation: the 1-based line (None for the whole record) and the field it concerns."""

    def __init__(self, line, field, reason):
        super().__init__(line, field, reason)
        self.line, self.field, self.reason = line, field, reason

    def __str__(self):
        where = f"line {self.line}, " if self.line is not None else ""
        return f"{where}{self.field}: {self.reason}"


@dataclasses.dataclass(frozen=True)
class Record:
    """The fields in file order: (name, value), the packages' value a tuple of (name, version)."""

    fields: tuple

    def get(self, name):
        return next((value for key, value in self.fields if key == name), None)

    @property
    def packages(self):
        return self.get(PACKAGES) or ()

    @property
    def payload_files(self):
        """name -> (size, sha256) of each Payload-File line."""
        files = {}
        for key, value in self.fields:
            if key == PAYLOAD_FILE:
                name, size, digest = value.split(" ")
                files[name] = (int(size), digest)
        return files


def quote(text):
    """The text as one safe ASCII word for a message: anything but printable ASCII escaped, at most 80 of it."""
    shown = "".join(c if " " <= c <= "~" and c != "\\" else escape(c) for c in text[:QUOTE_LIMIT])
    return f"'{shown}'" + ("..." if len(text) > QUOTE_LIMIT else "")


def escape(char):
    """One character as \\xNN (or \\uNNNN), so that no message can move the cursor or reorder a terminal line."""
    code = ord(char)
    return f"\\x{code:02x}" if code < 0x100 else f"\\u{code:04x}" if code < 0x10000 else f"\\U{code:08x}"


# --- Values: each checker returns None or what is wrong -----------------------------------------------------------

def exact(*texts):
    """A field with a fixed set of texts: the release writes nothing else there."""
    return lambda value: None if value in texts else "not " + " or ".join(quote(t) for t in texts)


def matching(pattern, what):
    """A field whose whole value must match pattern (never a prefix: nothing may follow the value)."""
    return lambda value: None if re.fullmatch(pattern, value) else f"not {what}"


def epoch(value):
    """Seconds since 1970 as the release's SOURCE_DATE_EPOCH: a plain number within the years a build can have."""
    if not EPOCH.fullmatch(value):
        return "not a number of seconds (digits, no leading zero)"
    low, high = EPOCH_RANGE
    return None if low <= int(value) <= high else f"not between {low} (1980) and {high} (2100)"


def debian_release(value):
    """The Debian the release was built on; its codename decides which system the verifier rebuilds in."""
    match = RELEASE.fullmatch(value)
    if not match or match.group(2) not in RELEASES:
        return "not '<major>.<minor> (bookworm)' or '<major>.<minor> (trixie)'"
    codename = match.group(2)
    return None if RELEASES[codename] == match.group(1) else f"named {codename}, which is Debian {RELEASES[codename]}"


def build(value):
    """A built record's free text must not pass for the text of a setup built elsewhere."""
    return "not the text of a setup built elsewhere" if value.startswith("given with") and value != SETUP_BUILD \
        else None


def payload_file(value):
    """'<name> <size> <sha256>' of one of the files the setup embeds."""
    match = PAYLOAD_LINE.fullmatch(value)
    if not match:
        return "not '<name> <size> <sha256>'"
    return None if match.group(1) in PAYLOAD_NAMES else "not a file of the payload (" + ", ".join(PAYLOAD_NAMES) + ")"


def payload_signature(value):
    """'<name> RSA|ECDSA <signer>' of a payload file's own signature, or '<name> none (<why>)'."""
    match = PAYLOAD_SIGNATURE_LINE.fullmatch(value)
    if not match:
        return "not '<name> RSA|ECDSA <signer>' or '<name> none (<why>)'"
    if match.group(1) not in PAYLOAD_NAMES:
        return "not a file of the payload (" + ", ".join(PAYLOAD_NAMES) + ")"
    return "not '<name> none (<why>)'" if match.group(2) == "none" and not match.group(3).startswith("(") else None


# The grammar of each field's value; Signer has none beyond every line's (printable, no blank at either end).
CHECKS = {
    "Format": exact(FORMAT), "Source": exact(SOURCE), "Source-Commit": matching(r"[0-9a-f]{40}", "40 lower-case hex"),
    "Source-Tree": exact("clean", ALLOW_DIRTY), "Build": build, "Build-Architecture": exact("amd64"),
    "Debian-Release": debian_release, "Source-Date-Epoch": epoch, "Signing-Time": epoch,
    "Payload": exact("demo stand-ins", "release files"), PAYLOAD_FILE: payload_file,
    PAYLOAD_SIGNATURE: payload_signature, "Signature-SHA256": matching(HEX64, "64 lower-case hex"),
    "Signed": exact("by the release command", ADOPTED),
    "Unsigned-SHA256": matching(HEX64, "64 lower-case hex"),
    "Signed-SHA256": lambda v: None if v == UNSIGNED or HEX64.fullmatch(v) else f"not 64 hex or {quote(UNSIGNED)}",
    "Signer-Certificate-SHA256": lambda v: None if v == "none" or HEX64.fullmatch(v)
    else "not 64 hex or 'none'", "Signature-Key": matching(KEY_WORD, "a key type (RSA, ECDSA or one word)"),
    "Timestamp-Authority": lambda v: None if v in ("none", "in the signature (signed elsewhere)") or URL.fullmatch(v)
    else "not 'none', an http(s) URL or 'in the signature (signed elsewhere)'",
    "Reproducible": matching(REPRODUCIBLE, "one of the release's reproducibility texts"),
}


# --- Reading ----------------------------------------------------------------------------------------------------

def read_record(data):
    """The validated record of the bytes, or RecordError naming the first violation."""
    if len(data) > MAX_BYTES:
        raise RecordError(None, "record", f"{len(data)} bytes, more than {MAX_BYTES}")
    if not data:
        raise RecordError(None, "record", "empty")
    raws = data.split(b"\n")
    if raws[-1]:
        raws.append(None)  # a last line without its line end
    fields, seen, current = [], {}, None
    for number, raw in enumerate(raws[:-1], 1):
        text = line_text(raw, number, current, raws[-1] is None and number == len(raws) - 1)
        if text.startswith(" "):
            entry(fields, seen, text, number, current, last=not raws[number] or not raws[number].startswith(b" "))
            continue
        current = field(fields, seen, text, number)
    checked = Record(tuple((key, tuple(v) if key == PACKAGES else v) for key, v, _ in fields))
    whole_record(checked, {key: line for key, _, line in fields})
    return checked


def line_text(raw, number, current, unterminated):
    """The line as text when it is UTF-8, printable and not blank."""
    if raw.startswith(b" "):
        name = current or "record"
    else:
        match = FIELD_NAME.match(raw)
        name = match.group(1).decode() if match else "record"
    if len(raw) > MAX_LINE:
        raise RecordError(number, name, f"{len(raw)} bytes long, more than {MAX_LINE}")
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as error:
        raise RecordError(number, name, f"not UTF-8 (byte \\x{raw[error.start]:02x} at column {error.start + 1})")
    bad = next((c for c in text if not c.isprintable()), None)
    if bad is not None:
        raise RecordError(number, name, f"holds the control character {escape(bad)}: {quote(text)}")
    if not text:
        raise RecordError(number, "record", "a blank line (a record is one paragraph)")
    if unterminated:
        raise RecordError(number, name, "the last line has no line end")
    if text != text.rstrip(" "):
        raise RecordError(number, name, f"ends with a blank: {quote(text)}")
    return text


def field(fields, seen, text, number):
    """One "Field: value" line; returns the field a continuation line would belong to."""
    match = FIELD_LINE.fullmatch(text)
    if not match:
        name = FIELD_NAME.match(text.encode())
        raise RecordError(number, name.group(1).decode() if name else "record",
                          f"not a 'Field: value' line: {quote(text)}")
    name, value = match.groups()
    if name not in ORDER:
        raise RecordError(number, name, "not a field of the record")
    key = (name, value.split(" ")[0]) if name in REPEATED and value else name
    if key in seen:
        raise RecordError(number, name, f"given twice (first on line {seen[key]})")
    seen[key] = number
    if name == PACKAGES:
        if value is not None:
            raise RecordError(number, name, "the packages go on the lines below it, one per line")
        fields.append((name, [], number))
        return name
    if value is None or value.startswith(" ") or not value:
        raise RecordError(number, name, "no value after 'Field: '")
    wrong = CHECKS[name](value) if name in CHECKS else None
    if wrong:
        raise RecordError(number, name, f"{quote(value)} is {wrong}")
    fields.append((name, value, number))
    return name


def entry(fields, seen, text, number, current, last):
    """One " name (= version)," line of Installed-Build-Depends; seen holds the names as (field, name)."""
    if current != PACKAGES:
        raise RecordError(number, current or "record", f"a continuation line, but the field has one line: "
                          f"{quote(text)}")
    match = ENTRY.fullmatch(text)
    if not match:
        raise RecordError(number, PACKAGES, f"not ' name (= version)' with Debian's syntax: {quote(text)}")
    name, version, comma = match.groups()
    if comma and last:
        raise RecordError(number, PACKAGES, "the last package ends with a comma")
    if not comma and not last:
        raise RecordError(number, PACKAGES, "a comma is missing after the package")
    if (PACKAGES, name) in seen:
        raise RecordError(number, PACKAGES, f"package {quote(name)} given twice (first on line {seen[PACKAGES, name]})")
    seen[PACKAGES, name] = number
    fields[-1][1].append((name, version))


def whole_record(record, lines):
    """The fields the kind of record needs, and none it must not have: built or --setup, signed or unsigned."""
    setup = record.get("Build") == SETUP_BUILD
    signed = record.get("Signed-SHA256") not in (None, UNSIGNED)
    kind = "a setup built elsewhere (--setup)" if setup else "a built commit"
    for name in ORDER:
        needed, why = (not setup, kind) if name in BUILT_ONLY else (setup, kind) if name == "Signing-Time" \
            else (signed, "an unsigned setup") if name in ("Signature-Key", "Signature-SHA256", "Signed") \
            else (True, "")
        if name in LATER and needed and name not in lines:
            continue
        if needed and name not in lines:
            raise RecordError(None, name, "missing")
        if not needed and name in lines:
            raise RecordError(lines[name], name, f"not a field of the record of {why}")
    if not setup and not record.packages:
        raise RecordError(lines[PACKAGES], PACKAGES, "no packages")
    for name in PAYLOAD_NAMES:
        if name not in record.payload_files:
            raise RecordError(None, PAYLOAD_FILE, f"missing for {name}")
    signatures = {value.split(" ")[0] for key, value in record.fields if key == PAYLOAD_SIGNATURE}
    for name in PAYLOAD_NAMES if signatures else ():
        if name not in signatures:
            raise RecordError(None, PAYLOAD_SIGNATURE, f"missing for {name}")
    if record.get("Signed") == ADOPTED and record.get("Reproducible") != "signed elsewhere; unsigned bytes reproducible":
        raise RecordError(lines["Reproducible"], "Reproducible", "not the text of a setup signed elsewhere")
    for name in ("Signer", "Signer-Certificate-SHA256"):
        if (record.get(name) == "none") == signed:
            why = "Signed-SHA256 names a signed setup" if signed else "the setup is unsigned (Signed-SHA256: none)"
            raise RecordError(lines[name], name, f"{quote(record.get(name))}, but {why}")


# --- Writing ----------------------------------------------------------------------------------------------------

def write_record(fields):
    """The text of the fields ((name, value) pairs; the packages' value (name, version) pairs), read back."""
    lines = []
    for name, value in fields:
        if name == PACKAGES:
            entries = [f" {package} (= {version})" for package, version in value]
            lines += [f"{name}:"] + [line + "," for line in entries[:-1]] + entries[-1:]
            continue
        if not value.isprintable():
            raise RecordError(None, name, f"the value {quote(value)} holds a control character or a line break")
        lines.append(f"{name}: {value}")
    data = "".join(line + "\n" for line in lines).encode("utf-8")
    read_record(data)
    return data


# --- Command line -----------------------------------------------------------------------------------------------

def command_read(arguments):
    """read [--] RECORD: the validated fields as FIELD<TAB>VALUE lines, for the shell to pick from."""
    if arguments[:1] == ["--"]:
        arguments = arguments[1:]
    if len(arguments) != 1:
        return 2, "usage: release_record.py read [--] RECORD"
    try:
        with open(arguments[0], "rb") as stream:
            data = stream.read(MAX_BYTES + 1)
    except OSError as error:
        return 2, f"cannot read {quote(arguments[0])}: {error.strerror or error}"
    try:
        record = read_record(data)
    except RecordError as error:
        return 2, f"the record is malformed: {error}"
    out = []
    for name, value in record.fields:
        values = [f"{package} {version}" for package, version in value] if name == PACKAGES else [value]
        out += [f"{name}\t{one}" for one in values]
    return 0, "\n".join(out)


def command_write(arguments):
    """write [--field NAME=VALUE | --packages-from FILE]... [--] OUT: the fields in argument order."""
    fields, out = [], None
    while arguments:
        option, arguments = arguments[0], arguments[1:]
        if option == "--":
            arguments, out = arguments[1:], arguments[0] if len(arguments) == 1 else None
            break
        if option in ("--field", "--packages-from") and arguments:
            value, arguments = arguments[0], arguments[1:]
            fields.append(field_argument(value) if option == "--field" else (PACKAGES, packages_from(value)))
        elif not option.startswith("-") and not arguments:
            out = option
        else:
            raise RecordError(None, "arguments", f"{quote(option)} is not --field, --packages-from or OUT")
    if out is None:
        raise RecordError(None, "arguments", "usage: release_record.py write [--field NAME=VALUE | "
                          "--packages-from FILE]... [--] OUT")
    data = write_record(fields)
    with open(out, "wb") as stream:
        stream.write(data)
    return 0, ""


def field_argument(text):
    """NAME=VALUE, split at the first '=' (a value may hold more of them)."""
    name, equals, value = text.partition("=")
    if not equals:
        raise RecordError(None, "arguments", f"--field {quote(text)} is not NAME=VALUE")
    return name, value


def packages_from(path):
    """The (name, version) pairs of "name version" lines."""
    if path == "-":
        data = sys.stdin.buffer.read(MAX_BYTES + 1)
    else:
        with open(path, "rb") as stream:
            data = stream.read(MAX_BYTES + 1)
    lines = data.decode("utf-8").splitlines()
    pairs = [tuple(line.split(" ")) for line in lines]
    for number, pair in enumerate(pairs, 1):
        if len(pair) != 2:
            raise RecordError(number, PACKAGES, f"{quote(lines[number - 1])} is not 'name version'")
    return pairs


def main(arguments):
    """One verdict line and the exit status; never a traceback."""
    command = arguments[0] if arguments else ""
    try:
        if command == "read":
            return command_read(arguments[1:])
        if command == "write":
            try:
                return command_write(arguments[1:])
            except RecordError as error:
                return 1, f"the record cannot be written: {error}"
            except (OSError, UnicodeError) as error:
                return 1, f"the record cannot be written: {error}"
        return 2, "usage: release_record.py read [--] RECORD | write [--field NAME=VALUE]... [--] OUT"
    except Exception as error:  # the entry point turns anything unforeseen into one line, never a traceback
        return (1 if command == "write" else 2), f"the record cannot be {command or 'handled'}: {type(error).__name__}"


if __name__ == "__main__":
    status, line = main(sys.argv[1:])
    if line:
        print(line)
    sys.exit(status)
