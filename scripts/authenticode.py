#!/usr/bin/python3
"""A strict reader of the signature structure of a Windows PE file (a setup as published).

  authenticode.py inspect FILE
  authenticode.py detach FILE DER PEM
  authenticode.py compare UNSIGNED SIGNED

Each prints exactly one line and exits with its status. inspect:
  0  one signature by <issuer>, serial <HEX>; key RSA|ECDSA|<oid>; timestamp yes|no
  1  REFUSED: <reason>      (a nested signature, more signers, another unauthenticated attribute, bytes beside the
                             signature in the certificate table, data after the table, ...)
  2  MALFORMED: <reason>    (not a PE file, a truncated table, bad DER at offset N, too large, cannot be read)
  3  UNSIGNED: no certificate table

detach judges FILE as inspect does and prints the same line with the same status; only for a file with one
acceptable signature it writes that signature's PKCS#7 DER (without the WIN_CERTIFICATE header and padding) to
DER and its PEM armour (BEGIN/END PKCS7) to PEM, so the detached signature published and the one attached again
are the same bytes whichever signing tool is at hand. A file it cannot write is a MALFORMED line (status 2).

compare says whether SIGNED is UNSIGNED with exactly one signature added, for signing tools that lay the file out
otherwise than a re-attach does:
  0  SAME: SIGNED is UNSIGNED with one signature added (<n> bytes of certificate table)
  1  DIFFERENT: <reason>    (the first byte at offset N that differs, another length before the table, UNSIGNED
                             already signed, anything inspect refuses in SIGNED)
  2  MALFORMED: <reason>    (either file not a PE file or unreadable)
Only the PE checksum, the certificate-table directory entry, at most 7 zero bytes of alignment after UNSIGNED's
end and the certificate table itself may differ.

A byte comparison of a published setup with its rebuild carrying the published signature cannot see what travels
inside that signature (a second, nested signature, an unauthenticated blob): this reader accepts exactly one
signer whose only unauthenticated attribute is an RFC 3161 timestamp token. It does not verify the signature (the
chain check does that); it names the signer (issuer RFC 2253-style, serial in upper-case hex as openssl prints it)
and its key's algorithm. Every text taken from the file has its control characters escaped as \\xNN.
Standard library only; every offset is bounds-checked and the DER is read strictly (definite, minimal lengths, no
trailing bytes, limited depth and element count). Runs with Debian's python3.
"""
import base64
import dataclasses
import os
import stat
import struct
import sys
import unicodedata

MAX_FILE_SIZE = 512 << 20
MAX_DER_DEPTH = 48
MAX_DER_ELEMENTS = 200_000

SIGNED_DATA = "1.2.840.113549.1.7.2"
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
TST_INFO = "1.2.840.113549.1.9.16.1.4"
RFC3161_TIMESTAMP = "1.3.6.1.4.1.311.3.3.1"
NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"
KEY_ALGORITHMS = {"1.2.840.113549.1.1.1": "RSA", "1.2.840.10045.2.1": "ECDSA"}
NAME_TYPES = {
    "2.5.4.3": "CN", "2.5.4.6": "C", "2.5.4.7": "L", "2.5.4.8": "ST", "2.5.4.9": "STREET", "2.5.4.10": "O",
    "2.5.4.11": "OU", "2.5.4.5": "serialNumber", "0.9.2342.19200300.100.1.25": "DC",
    "0.9.2342.19200300.100.1.1": "UID", "1.2.840.113549.1.9.1": "emailAddress",
}
# The string types a name's value may have, with the codec that reads each.
STRING_CODECS = {12: "utf-8", 19: "ascii", 22: "ascii", 26: "ascii", 18: "ascii", 20: "latin-1",
                 30: "utf-16-be", 28: "utf-32-be"}
WIN_CERT_REVISION = 0x0200
WIN_CERT_TYPE_PKCS7 = 0x0002

SEQUENCE, SET, INTEGER, OID, OCTET_STRING, CONTEXT_0, CONTEXT_1 = 0x30, 0x31, 0x02, 0x06, 0x04, 0xA0, 0xA1


class Verdict(Exception):
    """The reader's conclusion about a file that is not one acceptable signature: a status and its reason."""

    def __init__(self, status, reason):
        super().__init__(reason)
        self.status = status
        self.reason = reason


def refused(reason):
    return Verdict("REFUSED", reason)


def malformed(reason):
    return Verdict("MALFORMED", reason)


def different(reason):
    return Verdict("DIFFERENT", reason)


@dataclasses.dataclass(frozen=True)
class Inspection:
    """What a command found: status SIGNED (with the signer's issuer, serial, key and timestamp), SAME, or the
    verdict and its reason."""

    status: str
    reason: str = ""
    issuer: str = ""
    serial: str = ""
    key: str = ""
    timestamp: bool = False

    EXIT_CODES = {"SIGNED": 0, "REFUSED": 1, "MALFORMED": 2, "UNSIGNED": 3, "SAME": 0, "DIFFERENT": 1}

    @property
    def exit_code(self):
        return self.EXIT_CODES[self.status]

    def line(self):
        """The one line the command prints."""
        if self.status != "SIGNED":
            return f"{self.status}: {self.reason}"
        return (f"one signature by {self.issuer}, serial {self.serial}; key {self.key}; "
                f"timestamp {'yes' if self.timestamp else 'no'}")


# --- Text -------------------------------------------------------------------------------------------------------

def escape_controls(text):
    """TEXT with every control, format or unassigned character written as \\xNN per UTF-8 byte: a name from the
    file cannot break the line, reorder it on a terminal or pass for another."""
    out = []
    for char in text:
        if unicodedata.category(char).startswith("C"):
            out.extend(f"\\x{byte:02x}" for byte in char.encode("utf-8", "surrogatepass"))
        else:
            out.append(char)
    return "".join(out)


# --- DER --------------------------------------------------------------------------------------------------------

class Node:
    """One DER element of the file: identifier octet, offsets of its header, content and end, and its children
    (None for a primitive element)."""

    __slots__ = ("ident", "start", "body", "end", "children", "data")

    def __init__(self, data, ident, start, body, end):
        self.data, self.ident, self.start, self.body, self.end = data, ident, start, body, end
        self.children = None

    @property
    def content(self):
        return self.data[self.body:self.end]

    @property
    def encoding(self):
        return self.data[self.start:self.end]


def bad_der(offset, detail):
    return malformed(f"bad DER at offset {offset}: {detail}")


def read_header(data, pos, limit):
    """The identifier, content offset and end of the element at POS, which must end by LIMIT: definite, minimal
    lengths of at most four octets, low tag numbers only."""
    if pos + 2 > limit:
        raise bad_der(pos, "truncated element header")
    ident, first = data[pos], data[pos + 1]
    if ident & 0x1F == 0x1F:
        raise bad_der(pos, "multi-octet tag")
    if first < 0x80:
        length, body = first, pos + 2
    elif first == 0x80:
        raise bad_der(pos, "indefinite length")
    else:
        count = first & 0x7F
        if count > 4 or pos + 2 + count > limit:
            raise bad_der(pos, "length field too long or truncated")
        octets = data[pos + 2:pos + 2 + count]
        length, body = int.from_bytes(octets, "big"), pos + 2 + count
        if octets[0] == 0 or length < 0x80:
            raise bad_der(pos, "length not minimally encoded")
    if body + length > limit:
        raise bad_der(pos, f"element of {length} bytes runs past its container")
    return ident, body, body + length


def check_universal(node):
    """DER's rules for the universal types this reader meets: SEQUENCE and SET constructed, every other type
    primitive, INTEGER minimal, BOOLEAN and NULL of their one encoding."""
    if node.ident & 0xC0:
        return
    tag, constructed = node.ident & 0x1F, bool(node.ident & 0x20)
    if tag == 0 or constructed != (tag in (0x10, 0x11)):
        raise bad_der(node.start, f"universal tag {tag} with the wrong form")
    if tag not in (1, 2, 5):
        return
    content = node.content
    if tag == 2 and (not content or (len(content) > 1 and (content[0], content[1] >> 7) in ((0, 0), (0xFF, 1)))):
        raise bad_der(node.start, "INTEGER not minimally encoded")
    if (tag == 1 and content not in (b"\x00", b"\xff")) or (tag == 5 and content):
        raise bad_der(node.start, "BOOLEAN or NULL of a non-DER encoding")


def parse_der(data, start, end):
    """The one DER element that fills data[start:end] exactly, with all its descendants read and checked."""
    budget = [MAX_DER_ELEMENTS]
    elements = parse_elements(data, start, end, 0, budget)
    if not elements:
        raise bad_der(start, "no element")
    if len(elements) != 1:
        raise bad_der(elements[1].start, "bytes after the element")
    return elements[0]


def parse_elements(data, pos, end, depth, budget):
    """The consecutive DER elements that fill data[pos:end], each parsed down to its primitive elements."""
    if depth > MAX_DER_DEPTH:
        raise bad_der(pos, f"nested deeper than {MAX_DER_DEPTH} levels")
    elements = []
    while pos < end:
        budget[0] -= 1
        if budget[0] < 0:
            raise bad_der(pos, f"more than {MAX_DER_ELEMENTS} elements")
        ident, body, stop = read_header(data, pos, end)
        node = Node(data, ident, pos, body, stop)
        check_universal(node)
        if ident & 0x20:
            node.children = parse_elements(data, body, stop, depth + 1, budget)
        elements.append(node)
        pos = stop
    return elements


def oid_text(node):
    """The dotted text of an OBJECT IDENTIFIER element (minimal sub-identifiers, none unfinished)."""
    expect(node, OID, "object identifier")
    content, arcs, value, starting = node.content, [], 0, True
    if not content or content[-1] & 0x80:
        raise bad_der(node.start, "object identifier empty or unfinished")
    for byte in content:
        if starting and byte == 0x80:
            raise bad_der(node.start, "object identifier not minimally encoded")
        value = (value << 7) | (byte & 0x7F)
        starting = not byte & 0x80
        if starting:
            arcs.append(value)
            value = 0
    first = min(arcs[0] // 40, 2)
    return ".".join(str(arc) for arc in [first, arcs[0] - 40 * first] + arcs[1:])


def expect(node, ident, what):
    if node.ident != ident:
        raise malformed(f"{what} expected at offset {node.start} (tag 0x{node.ident:02x})")
    return node


class Fields:
    """The children of a constructed element read in order: required and optional fields by tag, then nothing."""

    def __init__(self, node, what):
        if node.children is None:
            raise malformed(f"{what} at offset {node.start} is not constructed")
        self.node, self.what, self.index = node, what, 0

    def peek(self):
        children = self.node.children
        return children[self.index] if self.index < len(children) else None

    def optional(self, ident):
        child = self.peek()
        if child is None or child.ident != ident:
            return None
        self.index += 1
        return child

    def next(self, name):
        child = self.peek()
        if child is None:
            raise malformed(f"{self.what} at offset {self.node.start}: {name} missing")
        self.index += 1
        return child

    def take(self, ident, name):
        child = self.optional(ident)
        if child is None:
            raise malformed(f"{self.what} at offset {self.node.start}: {name} missing")
        return child

    def done(self):
        if self.peek() is not None:
            raise malformed(f"{self.what}: unexpected element at offset {self.peek().start}")


# --- PE ---------------------------------------------------------------------------------------------------------

def unpack(fmt, data, offset, what):
    """struct.unpack_from with the bounds checked first."""
    if offset < 0 or offset + struct.calcsize(fmt) > len(data):
        raise malformed(f"truncated: {what} at offset {offset} lies beyond the file")
    return struct.unpack_from(fmt, data, offset)


@dataclasses.dataclass(frozen=True)
class Headers:
    """Where a PE32 or PE32+ image's headers keep what signing changes: the offset of the checksum, of data
    directory entry 4 (the certificate table), the directory count and room, and the end of the headers."""

    checksum_at: int
    entry_at: int
    count: int
    room: int
    end: int


def pe_headers(data):
    """The Headers of DATA's MZ, PE and optional headers; MALFORMED when they are not a PE image's."""
    if len(data) < 64 or data[:2] != b"MZ":
        raise malformed("not a PE file (no MZ header)")
    (pe,) = unpack("<I", data, 0x3C, "the PE header offset")
    if pe + 24 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        raise malformed("not a PE file (no PE signature)")
    sections, optional_size = unpack("<H12xH", data, pe + 6, "the file header")
    optional = pe + 24
    headers_end = optional + optional_size + 40 * sections
    if headers_end > len(data) or optional_size < 2:
        raise malformed("truncated: the optional header or section table lies beyond the file")
    (magic,) = unpack("<H", data, optional, "the optional header")
    layouts = {0x10B: (92, 96), 0x20B: (108, 112)}
    if magic not in layouts:
        raise malformed(f"not a PE file (optional header magic 0x{magic:04x})")
    count_at, directories_at = layouts[magic]
    if directories_at > optional_size:
        raise malformed("the optional header is too short for its data directories")
    (count,) = unpack("<I", data, optional + count_at, "the data directory count")
    return Headers(optional + 64, optional + directories_at + 32, count, (optional_size - directories_at) // 8,
                   headers_end)


def certificate_directory(data):
    """(offset, size, end of headers) of the certificate table named by the optional header's data directory entry
    4 (PE32 and PE32+); raises UNSIGNED when the image has no such entry or it is empty."""
    headers = pe_headers(data)
    if headers.count < 5:
        raise Verdict("UNSIGNED", "no certificate table")
    if headers.count > headers.room:
        raise malformed(f"{headers.count} data directories do not fit the optional header")
    offset, size = unpack("<II", data, headers.entry_at, "the certificate table entry")
    if offset == 0 and size == 0:
        raise Verdict("UNSIGNED", "no certificate table")
    return offset, size, headers.end


def certificate_table(data):
    """(start, end) of the certificate table, which must lie after the headers, be 8-byte aligned and end the
    file."""
    offset, size, headers_end = certificate_directory(data)
    if offset < headers_end or offset % 8 or size < 8:
        raise malformed(f"a certificate table at offset {offset} of {size} bytes (inside the headers, unaligned or "
                        "shorter than its entry header)")
    end = offset + size
    if end > len(data):
        raise malformed(f"truncated: the certificate table ends at {end}, the file at {len(data)}")
    if end < len(data):
        raise refused(f"{len(data) - end} bytes of data after the certificate table")
    return offset, end


def signature_blob(data):
    """(start, end) of the PKCS#7 DER of the table's only WIN_CERTIFICATE: revision 2.0, type PKCS#7, nothing but
    at most 7 zero bytes of alignment after the signature."""
    start, end = certificate_table(data)
    length, revision, kind = unpack("<IHH", data, start, "the WIN_CERTIFICATE header")
    if length < 8 or start + length > end:
        raise malformed(f"a WIN_CERTIFICATE of {length} bytes in a certificate table of {end - start} bytes")
    if revision != WIN_CERT_REVISION or kind != WIN_CERT_TYPE_PKCS7:
        raise refused(f"a WIN_CERTIFICATE of revision 0x{revision:04x} and type 0x{kind:04x} (only 0x0200, PKCS#7)")
    _, _, der_end = read_header(data, start + 8, start + length)
    following = start + (length + 7) // 8 * 8
    if following + 8 <= end:
        next_length, next_revision = unpack("<IH", data, following, "the next WIN_CERTIFICATE")
        if next_revision in (0x0100, 0x0200) and 8 <= next_length <= end - following:
            raise refused("a second WIN_CERTIFICATE in the certificate table")
    if end - der_end > 7 or any(data[der_end:end]):
        raise refused(f"{end - der_end} bytes beyond the signature in the certificate table")
    return start + 8, der_end


# --- PKCS#7 -----------------------------------------------------------------------------------------------------

@dataclasses.dataclass
class SignedData:
    """The parts of a PKCS#7 SignedData this reader judges."""

    content_type: str
    certificates: list
    signers: list


@dataclasses.dataclass
class Signer:
    """One SignerInfo: its issuer Name element, serial INTEGER element and unauthenticated attributes as
    (oid, [value elements]) in order."""

    issuer: Node
    serial: Node
    unauthenticated: list


def signed_data(node, what):
    """The SignedData of a ContentInfo element; REFUSED when it is not signedData or carries anything but X.509
    certificates in its certificate set (whose elements no signature covers)."""
    info = Fields(node, what)
    kind = oid_text(info.take(OID, "content type"))
    wrapper = info.take(CONTEXT_0, "content")
    info.done()
    if kind != SIGNED_DATA:
        raise refused(f"{what} is {kind}, not PKCS#7 signedData")
    if len(wrapper.children) != 1:
        raise malformed(f"{what}: the content at offset {wrapper.start} is not one element")
    fields = Fields(expect(wrapper.children[0], SEQUENCE, "SignedData"), "SignedData")
    fields.take(INTEGER, "version")
    fields.take(SET, "digest algorithms")
    content_type = oid_text(Fields(fields.take(SEQUENCE, "content info"), "content info").take(OID, "content type"))
    certificates = fields.optional(CONTEXT_0)
    fields.optional(CONTEXT_1)
    signer_set = fields.take(SET, "signer infos")
    fields.done()
    certs = certificates.children if certificates else []
    for cert in certs:
        if cert.ident != SEQUENCE:
            raise refused(f"{what} holds an element of tag 0x{cert.ident:02x} among its certificates")
        certificate_fields(cert)
    return SignedData(content_type, certs, [signer_info(child) for child in signer_set.children])


def signer_info(node):
    """A SignerInfo named by issuer and serial number (the form signatures of PE files use)."""
    fields = Fields(expect(node, SEQUENCE, "SignerInfo"), "SignerInfo")
    fields.take(INTEGER, "version")
    sid = fields.optional(SEQUENCE)
    if sid is None:
        raise refused(f"a signer at offset {node.start} not named by issuer and serial number")
    name = Fields(sid, "signer identifier")
    issuer, serial = name.take(SEQUENCE, "issuer"), name.take(INTEGER, "serial number")
    name.done()
    fields.take(SEQUENCE, "digest algorithm")
    fields.optional(CONTEXT_0)
    fields.take(SEQUENCE, "signature algorithm")
    fields.take(OCTET_STRING, "signature")
    unauthenticated = fields.optional(CONTEXT_1)
    fields.done()
    return Signer(issuer, serial, attributes(unauthenticated))


def attributes(node):
    """The (oid, values) of an attribute set element, None giving none."""
    found = []
    for attribute in node.children if node is not None else []:
        fields = Fields(expect(attribute, SEQUENCE, "attribute"), "attribute")
        kind = oid_text(fields.take(OID, "attribute type"))
        values = fields.take(SET, "attribute values")
        fields.done()
        found.append((kind, values.children))
    return found


def certificate_fields(cert):
    """(serial, issuer, subject, public key algorithm OID) of a certificate element."""
    tbs = Fields(Fields(cert, "certificate").take(SEQUENCE, "to-be-signed part"), "certificate")
    tbs.optional(CONTEXT_0)
    serial = tbs.take(INTEGER, "serial number")
    tbs.take(SEQUENCE, "signature algorithm")
    issuer = tbs.take(SEQUENCE, "issuer")
    tbs.take(SEQUENCE, "validity")
    subject = tbs.take(SEQUENCE, "subject")
    key_info = Fields(tbs.take(SEQUENCE, "public key info"), "public key info")
    algorithm = oid_text(Fields(key_info.take(SEQUENCE, "key algorithm"), "key algorithm").take(OID, "algorithm"))
    return serial, issuer, subject, algorithm


def signer_certificate(data, signer):
    """(subject, key algorithm) of the certificate in DATA's certificates that the signer names, or None."""
    for cert in data.certificates:
        serial, issuer, subject, algorithm = certificate_fields(cert)
        if serial.content == signer.serial.content and issuer.encoding == signer.issuer.encoding:
            return subject, algorithm
    return None


def serial_text(node):
    """A serial number as openssl prints it: upper-case hex of its magnitude, '-' before a negative one."""
    value = int.from_bytes(node.content, "big", signed=True)
    digits = f"{abs(value):X}"
    return ("-" if value < 0 else "") + digits.zfill(len(digits) + len(digits) % 2)


def value_text(node):
    """An attribute value of a name, RFC 2253-escaped; '#' and the DER in hex when it is not a known string."""
    codec = STRING_CODECS.get(node.ident)
    try:
        text = node.content.decode(codec) if codec else None
    except UnicodeDecodeError:
        text = None
    if text is None:
        return "#" + node.encoding.hex()
    last = len(text) - 1
    return "".join("\\" + char if char in ',+"\\<>;' or (char == " " and index in (0, last))
                   or (char == "#" and index == 0) else char for index, char in enumerate(text))


def name_text(node):
    """A Name element as RFC 2253 writes it (last RDN first), control characters escaped."""
    rdns = []
    for rdn in reversed(node.children):
        pairs = []
        for pair in expect(rdn, SET, "relative distinguished name").children:
            fields = Fields(expect(pair, SEQUENCE, "name attribute"), "name attribute")
            kind = oid_text(fields.take(OID, "name attribute type"))
            value = fields.next("name attribute value")
            fields.done()
            pairs.append(f"{NAME_TYPES.get(kind, kind)}={value_text(value)}")
        rdns.append("+".join(pairs))
    return escape_controls(",".join(rdns))


def common_name(node):
    """The CN of a Name element (the last one), or its whole text when it has none."""
    for rdn in reversed(node.children):
        for pair in rdn.children:
            if pair.children and oid_text(pair.children[0]) == "2.5.4.3" and len(pair.children) == 2:
                return "CN=" + escape_controls(value_text(pair.children[1]))
    return name_text(node)


def nested_signer(values):
    """Who made a nested signature: the CN of its signer's certificate, else its signer's issuer and serial."""
    try:
        nested = signed_data(values[0], "the nested signature")
        signer = nested.signers[0]
        found = signer_certificate(nested, signer)
        if found is not None:
            return common_name(found[0])
        return f"{name_text(signer.issuer)}, serial {serial_text(signer.serial)}"
    except (Verdict, IndexError):
        return "an unreadable signer"


def check_chain(signed, signer, what):
    """REFUSED when SIGNED holds a certificate outside the signer's chain: every certificate must be the signer's
    or the issuer (by name) of one that is, so none can carry a payload beside the chain unseen."""
    wanted, on_chain, grown = {signer.issuer.encoding}, set(), True
    while grown:
        grown = False
        for index, cert in enumerate(signed.certificates):
            serial, issuer, subject, _ = certificate_fields(cert)
            is_leaf = serial.content == signer.serial.content and issuer.encoding == signer.issuer.encoding
            if index not in on_chain and (is_leaf or subject.encoding in wanted):
                on_chain.add(index)
                wanted.add(issuer.encoding)
                grown = True
    for index, cert in enumerate(signed.certificates):
        if index not in on_chain:
            subject = name_text(certificate_fields(cert)[2])
            raise refused(f"{what} holds a certificate outside its signer's chain: {subject}")


def check_timestamp(values):
    """An RFC 3161 timestamp attribute: one value, a signedData token over a TSTInfo with one signer and no
    unauthenticated attribute of its own (nothing else can hide in it)."""
    if len(values) != 1:
        raise refused(f"a timestamp attribute with {len(values)} values")
    token = signed_data(values[0], "the timestamp token")
    if token.content_type != TST_INFO or len(token.signers) != 1 or token.signers[0].unauthenticated:
        raise refused("a timestamp token that is not one signer's TSTInfo without unauthenticated attributes")
    check_chain(token, token.signers[0], "the timestamp token")


def judge_attributes(signer):
    """Whether the signer carries a timestamp; REFUSED for a nested signature, a second timestamp or any other
    unauthenticated attribute."""
    kinds = [kind for kind, _ in signer.unauthenticated]
    for kind, values in signer.unauthenticated:
        if kind == NESTED_SIGNATURE:
            raise refused(f"a further, nested signature by {nested_signer(values)}")
    for kind, values in signer.unauthenticated:
        if kind != RFC3161_TIMESTAMP:
            raise refused(f"an unauthenticated attribute {kind} beside the signature")
        check_timestamp(values)
    if len(kinds) > 1:
        raise refused(f"{len(kinds)} timestamp attributes")
    return bool(kinds)


def judge(data):
    """The Inspection of a signed PE file's bytes; raises Verdict for anything but one acceptable signature."""
    start, end = signature_blob(data)
    signature = signed_data(parse_der(data, start, end), "the signature")
    if signature.content_type != SPC_INDIRECT_DATA:
        raise refused(f"the signed content is {signature.content_type}, not a PE image digest")
    if len(signature.signers) != 1:
        raise refused(f"{len(signature.signers)} signers")
    signer = signature.signers[0]
    timestamp = judge_attributes(signer)
    check_chain(signature, signer, "the signature")
    found = signer_certificate(signature, signer)
    if found is None:
        raise refused("the signer's certificate is not in the signature")
    algorithm = found[1]
    return Inspection("SIGNED", issuer=name_text(signer.issuer), serial=serial_text(signer.serial),
                      key=KEY_ALGORITHMS.get(algorithm, algorithm), timestamp=timestamp)


def inspect(data):
    """The Inspection of a file's bytes; never raises for any input (the verdict is a value)."""
    if len(data) > MAX_FILE_SIZE:
        return Inspection("MALFORMED", f"too large (more than {MAX_FILE_SIZE} bytes)")
    try:
        return judge(data)
    except Verdict as verdict:
        return Inspection(verdict.status, verdict.reason)


# --- Compare ----------------------------------------------------------------------------------------------------

def first_difference(left, right, start, end):
    """The first offset in [START, END) at which LEFT and RIGHT differ, or None; compared a block at a time."""
    block = 1 << 16
    for base in range(start, end, block):
        stop = min(base + block, end)
        if left[base:stop] != right[base:stop]:
            return next(offset for offset in range(base, stop) if left[offset] != right[offset])
    return None


def named(side, check, data):
    """CHECK(DATA), its verdict's reason named for SIDE: MALFORMED stays so, any other verdict is DIFFERENT."""
    try:
        return check(data)
    except Verdict as verdict:
        raise Verdict("MALFORMED" if verdict.status == "MALFORMED" else "DIFFERENT",
                      f"{side}: {verdict.reason}") from None


def check_unsigned(data):
    """Nothing when DATA is a PE image without a certificate table; MALFORMED when it is no PE image, DIFFERENT
    when it has a table already."""
    try:
        certificate_directory(data)
    except Verdict as verdict:
        if verdict.status == "UNSIGNED":
            return
        raise Verdict(verdict.status, f"UNSIGNED: {verdict.reason}") from None
    raise different("UNSIGNED already carries a certificate table")


def check_prefix(unsigned, signed, table, headers):
    """DIFFERENT unless SIGNED's bytes before its certificate table at TABLE are UNSIGNED's, but for the checksum
    and the certificate-table entry, followed by at most 7 zero bytes of alignment."""
    if not 0 <= table - len(unsigned) <= 7:
        raise different(f"SIGNED has {table} bytes before its certificate table, UNSIGNED {len(unsigned)} "
                        "(at most 7 bytes of alignment may come between)")
    start = 0
    for allowed, size in ((headers.checksum_at, 4), (headers.entry_at, 8), (len(unsigned), 0)):
        offset = first_difference(unsigned, signed, start, min(allowed, len(unsigned)))
        if offset is not None:
            raise different(f"the byte at offset {offset} differs")
        start = max(start, allowed + size)
    padding = next((offset for offset in range(len(unsigned), table) if signed[offset]), None)
    if padding is not None:
        raise different(f"SIGNED's byte at offset {padding}, after UNSIGNED's end, is not zero")


def compare_images(unsigned, signed):
    """The size of the certificate table that SIGNED adds to UNSIGNED; raises DIFFERENT (or MALFORMED) unless
    SIGNED is UNSIGNED with its checksum and certificate-table entry set, at most 7 zero bytes of alignment and a
    table of one signature that inspect accepts appended."""
    check_unsigned(unsigned)
    named("SIGNED", signature_blob, signed)
    table, _ = certificate_table(signed)
    check_prefix(unsigned, signed, table, pe_headers(signed))
    named("SIGNED", judge, signed)
    return len(signed) - table


def compare(unsigned, signed):
    """The Inspection of comparing an unsigned file's bytes with a signed one's: SAME, DIFFERENT or MALFORMED;
    never raises for any input."""
    for side, data in (("UNSIGNED", unsigned), ("SIGNED", signed)):
        if len(data) > MAX_FILE_SIZE:
            return Inspection("MALFORMED", f"{side}: too large (more than {MAX_FILE_SIZE} bytes)")
    try:
        size = compare_images(unsigned, signed)
    except Verdict as verdict:
        return Inspection(verdict.status, verdict.reason)
    return Inspection("SAME", f"SIGNED is UNSIGNED with one signature added ({size} bytes of certificate table)")


# --- Command ----------------------------------------------------------------------------------------------------

def read_file(path):
    """The bytes of the regular file PATH, read once and at most MAX_FILE_SIZE + 1 of them (a FIFO or device
    neither blocks nor fills memory)."""
    descriptor = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC)
    with os.fdopen(descriptor, "rb") as stream:
        info = os.fstat(stream.fileno())
        if not stat.S_ISREG(info.st_mode):
            raise malformed("not a regular file")
        if info.st_size > MAX_FILE_SIZE:
            raise malformed(f"too large (more than {MAX_FILE_SIZE} bytes)")
        return stream.read(MAX_FILE_SIZE + 1)


def load(path, side=""):
    """The bytes of the file PATH; raises MALFORMED, its reason led by SIDE, when they cannot be read."""
    try:
        return read_file(path)
    except Verdict as verdict:
        raise malformed(side + verdict.reason) from None
    except OSError as error:
        raise malformed(f"{side}cannot read the file: {escape_controls(error.strerror or str(error))}") from None


def write_file(path, content):
    """CONTENT written to PATH, created (mode 0644 before the umask) or truncated, never through a symbolic
    link."""
    descriptor = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_NOFOLLOW | os.O_CLOEXEC, 0o644)
    with os.fdopen(descriptor, "wb") as stream:
        stream.write(content)


def pem_armour(der):
    """DER as PEM armours a PKCS#7 structure: base64 in lines of 64 characters between the BEGIN and END lines."""
    text = base64.b64encode(der).decode("ascii")
    lines = [text[index:index + 64] for index in range(0, len(text), 64)]
    return ("-----BEGIN PKCS7-----\n" + "\n".join(lines) + "\n-----END PKCS7-----\n").encode("ascii")


def detach(data, der_path, pem_path):
    """The Inspection of DATA; only when it is SIGNED, the signature's DER written to DER_PATH and its PEM to
    PEM_PATH (a file that cannot be written makes it a MALFORMED one)."""
    result = inspect(data)
    if result.status != "SIGNED":
        return result
    start, end = signature_blob(data)
    signature = data[start:end]
    for path, content in ((der_path, signature), (pem_path, pem_armour(signature))):
        try:
            write_file(path, content)
        except OSError as error:
            return Inspection("MALFORMED", f"cannot write {escape_controls(path)}: "
                                           f"{escape_controls(error.strerror or str(error))}")
    return result


USAGE = "usage: authenticode.py inspect FILE | detach FILE DER PEM | compare UNSIGNED SIGNED"


def run(argv):
    """The Inspection the command prints for its arguments."""
    command = (argv[0], len(argv)) if argv else None
    try:
        if command == ("inspect", 2):
            return inspect(load(argv[1]))
        if command == ("detach", 4):
            return detach(load(argv[1]), argv[2], argv[3])
        if command == ("compare", 3):
            return compare(load(argv[1], "UNSIGNED: "), load(argv[2], "SIGNED: "))
    except Verdict as verdict:
        return Inspection(verdict.status, verdict.reason)
    return Inspection("MALFORMED", USAGE)


def main(argv):
    """Prints one line and returns its status; an unforeseen error is a MALFORMED line, never a traceback."""
    try:
        result = run(argv)
    except Exception as error:  # the last guard of the command line: one verdict whatever happened
        result = Inspection("MALFORMED", f"the reader failed: {escape_controls(type(error).__name__)}")
    sys.stdout.buffer.write(result.line().encode("utf-8", "backslashreplace") + b"\n")
    sys.stdout.flush()
    return result.exit_code


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
