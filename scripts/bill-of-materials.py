#!/usr/bin/python3
"""The bill of materials of a setup (CycloneDX 1.6 JSON) and its third-party notices, and the comparison of two bills.

  bill-of-materials.py write --setup EXE --link-map MAP --payload-dir DIR [--payload-license NAME=EXPR]...
                             [--file-name NAME] --bom OUT.cdx.json --notices OUT.notices.txt
  bill-of-materials.py rebind --setup SIGNED --from UNSIGNED --bom IN.cdx.json --notices IN.notices.txt
                              [--file-name NAME] --out-bom OUT.cdx.json --out-notices OUT.notices.txt
  bill-of-materials.py compare [--setup EXE] PUBLISHED.cdx.json REBUILT.cdx.json

write lists the setup, every static library the link took a member from (read from the linker's map, each mapped
to the Debian package that installed it, its package URL naming the release of /etc/os-release, its CPE when our
table knows its upstream) and the two payload files. Its time is SOURCE_DATE_EPOCH, its serial number is derived
from its content: the same inputs give the same bytes. It exits 0, or 1 with one line naming the cause.
rebind takes the bill and notices write made for an unsigned setup (read as strictly as compare reads a bill; its
setup hashes must be those of UNSIGNED, the notices must name UNSIGNED's SHA-256) and writes those write gives the
signed setup SIGNED with the same inputs: the setup's hashes, the notices' SHA-256 and the serial number replaced,
the file name kept unless --file-name names another. It prints nothing and exits 0, or 1 with one line naming the
cause, writing nothing then.
compare prints one line: 0 when both bills list the same components (each name once) with the same types, versions,
purls and sets of hashes (a difference in the setup's own hashes alone, as after signing it again, is said but
accepted), 1 naming the first difference, 2 when a file cannot be read or is not a bill of the strict shape compare
reads, or, with --setup, when the published bill's setup hashes are not those of EXE (a bill of another setup).
Standard library only; runs with Debian's python3.
"""
import argparse
import array
import copy
import hashlib
import itertools
import json
import os
import re
import stat
import struct
import subprocess
import sys
import time
import urllib.parse
import uuid

PROGRAM = "bill-of-materials"
PAYLOAD_FILES = ("WebView2Loader.dll", "Quillmart.exe")
DEFAULT_LICENCES = {"Quillmart.exe": "LicenseRef-Proprietary"}
SETUP_LICENCE = "LicenseRef-Proprietary"
SUPPLIER = "Farrowind"
MAP_SECTION = "Archive member included to satisfy reference by file (symbol)"
# Licences that let a binary be passed on without their notice (zlib asks for it only in source distributions).
NO_NOTICE = {"Zlib", "LicenseRef-public-domain", "CC0-1.0", "0BSD", "Unlicense"}
OS_RELEASE = "/etc/os-release"
GCC_RUNTIME = "GPL-3.0-or-later WITH GCC-exception-3.1"
# The upstream projects of the Debian packages the setup links from: package -> (vendor, product, licence). The
# vendor and product are the names the national vulnerability database's CPE dictionary gives the project, so
# that a scanner matching by CPE finds its advisories; the licence (None: the copyright file's alone) is what the
# project states for its runtime libraries, taken when the package's copyright file says nothing readable. A
# package not named here gets no CPE: a guessed name matches another project's advisories, or none.
UPSTREAMS = {
    "libz-mingw-w64-dev": ("zlib", "zlib", None),
    **{f"mingw-w64-{arch}-dev": ("mingw-w64", "mingw-w64", None) for arch in ("x86-64", "i686")},
    **{f"{compiler}-mingw-w64-{arch}-{threads}": ("gnu", "gcc", GCC_RUNTIME)
       for compiler in ("gcc", "g++") for arch in ("x86-64", "i686") for threads in ("posix", "win32")},
}
# A fixed namespace for the serial numbers: a bill's serial number is the UUID of its content within it.
SERIAL_NAMESPACE = uuid.UUID("5b0f6f52-3c1e-4d8a-9a57-4f2d7e1c9b60")


class Refusal(Exception):
    """A reason the bill cannot be made or read; the message is the one line printed."""


# --- Files ------------------------------------------------------------------------------------------------------

def file_hashes(path):
    """SHA-512 and SHA-256 of a file, as CycloneDX hash objects (SHA-512 first: the one BSI TR-03183-2 asks for)."""
    sha512, sha256 = hashlib.sha512(), hashlib.sha256()
    with open(path, "rb") as stream:
        for block in iter(lambda: stream.read(1 << 20), b""):
            sha512.update(block)
            sha256.update(block)
    return [{"alg": "SHA-512", "content": sha512.hexdigest()}, {"alg": "SHA-256", "content": sha256.hexdigest()}]


def pe_type(path):
    """'application' or 'library' for a Windows PE image (by its DLL flag), None for any other file."""
    with open(path, "rb") as stream:
        head = stream.read(4096)
    if len(head) < 64 or head[:2] != b"MZ":
        return None
    pe_at = struct.unpack_from("<I", head, 0x3C)[0]
    if pe_at + 24 > len(head) or head[pe_at:pe_at + 4] != b"PE\0\0":
        return None
    characteristics = struct.unpack_from("<H", head, pe_at + 22)[0]
    return "library" if characteristics & 0x2000 else "application"


def is_ar_archive(path):
    with open(path, "rb") as stream:
        return stream.read(8) == b"!<arch>\n"


def bsi_properties(file_name, executable, archive, structured):
    """The file properties of BSI TR-03183-2 (section 5.2.2) in the names of its CycloneDX property taxonomy."""
    return [
        {"name": "bsi:component:filename", "value": file_name},
        {"name": "bsi:component:executable", "value": "executable" if executable else "non-executable"},
        {"name": "bsi:component:archive", "value": "archive" if archive else "no archive"},
        {"name": "bsi:component:structured", "value": "structured" if structured else "unstructured"},
    ]


# --- The version resource of a PE file ----------------------------------------------------------------------------

def version_resource(path):
    """The raw VS_VERSIONINFO of a PE file (wrestool from icoutils), or None when it has none."""
    try:
        done = subprocess.run(["wrestool", "-x", "--raw", "--type=16", path], capture_output=True, check=False)
    except FileNotFoundError as error:
        raise Refusal("wrestool (Debian package icoutils) is needed to read the version resource") from error
    return done.stdout if done.returncode == 0 and len(done.stdout) >= 6 else None


def version_blocks(data, offset, end):
    """The blocks of a VS_VERSIONINFO tree between offset and end: (key, is_text, value, children_at, block_end)."""
    def align(at):
        return (at + 3) & ~3

    while offset + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, offset)
        if length < 6:
            return
        key_end = offset + 6
        while key_end + 1 < end and data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[offset + 6:key_end].decode("utf-16-le", "replace")
        value_at = align(key_end + 2)
        value = data[value_at:value_at + (value_length * 2 if kind == 1 else value_length)]
        block_end = min(offset + length, end)
        yield key, kind == 1, value, align(value_at + len(value)), block_end
        offset = align(block_end)


def version_strings(data):
    """Every string of the version resource's string tables (key -> text), plus 'fixed' from VS_FIXEDFILEINFO."""
    found = {}

    def walk(offset, end):
        for key, is_text, value, children_at, block_end in version_blocks(data, offset, end):
            if is_text and value:
                found.setdefault(key, value.decode("utf-16-le", "replace").rstrip("\0"))
            elif len(value) >= 16 and struct.unpack_from("<I", value, 0)[0] == 0xFEEF04BD:
                high, low = struct.unpack_from("<II", value, 8)
                found["fixed"] = f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"
            walk(children_at, block_end)

    walk(0, len(data))
    return found


def file_version(path):
    """(version, strings) of a PE file: its FileVersion string, else its fixed file version; None without one."""
    data = version_resource(path)
    strings = version_strings(data) if data else {}
    return strings.get("FileVersion") or strings.get("fixed"), strings


# --- The link map -----------------------------------------------------------------------------------------------

def linked_archives(map_path):
    """The archives the link took members from, in the map's order: path as written -> (members, referencing archives).

    The map's first section has one entry per member taken: "archive(member)", then (on the same line or the
    next) the file whose reference pulled it in. A reference from a member of another archive is a dependency of
    that archive on this one.
    """
    with open(map_path, encoding="utf-8", errors="replace") as stream:
        lines = stream.read().splitlines()
    if MAP_SECTION not in lines:
        raise Refusal(f"{map_path} is not a GNU ld map (no section '{MAP_SECTION}')")
    entries, current = [], None
    for line in lines[lines.index(MAP_SECTION) + 1:]:
        if not line.strip():
            continue
        if not line[0].isspace():
            match = re.match(r"(?P<archive>[^(]+)\((?P<member>[^()]*)\)(?:\s+(?P<ref>\S.*))?$", line)
            if not match:
                break  # the next section of the map
            current = [match["archive"], match["member"], match["ref"] or ""]
            entries.append(current)
        elif current is not None and not current[2]:
            current[2] = line.strip()
    archives = {}
    for archive, member, _ in entries:
        archives.setdefault(archive, (set(), set()))[0].add(member)
    for archive, _, ref in entries:
        users = [other for other in archives if ref.startswith(other + "(") and other != archive]
        if users:
            archives[archive][1].add(max(users, key=len))
    return archives


def build_root(map_path):
    """The build folder the map belongs to: the nearest folder above it with a CMakeCache.txt, else its own."""
    folder = os.path.dirname(os.path.realpath(map_path))
    probe = folder
    while probe != os.path.dirname(probe):
        if os.path.isfile(os.path.join(probe, "CMakeCache.txt")):
            return probe
        probe = os.path.dirname(probe)
    return folder


# --- Debian packages --------------------------------------------------------------------------------------------

def run(command):
    try:
        done = subprocess.run(command, capture_output=True, text=True, check=False)
    except FileNotFoundError as error:
        raise Refusal(f"{command[0]} is needed (a Debian system)") from error
    return done.returncode, done.stdout


def owning_package(path):
    """The installed package that holds the file (name, with an architecture qualifier if dpkg gives one)."""
    candidates = [os.path.realpath(path), os.path.abspath(path)]
    for candidate in dict.fromkeys(candidates):
        status, output = run(["dpkg", "-S", candidate])
        owners = [line[:-len(": " + candidate)] for line in output.splitlines()
                  if line.endswith(": " + candidate) and not line.startswith("diversion by ")]
        if status == 0 and owners:
            names = owners[0].split(", ")
            if len(owners) > 1 or len(names) > 1:
                raise Refusal(f"{candidate} belongs to more than one package: {', '.join(owners)}")
            return names[0]
    return None


def package_facts(package):
    """Version, architecture and maintainer of an installed package."""
    status, output = run(["dpkg-query", "-W", "-f=${Version}\t${Architecture}\t${Maintainer}", package])
    fields = output.split("\t")
    if status != 0 or len(fields) != 3 or not fields[0]:
        raise Refusal(f"dpkg-query knows no installed package {package}")
    return fields


def debian_release(path=OS_RELEASE):
    """distro=debian-N of the package URLs, from the build system's os-release: a scanner knows which release's
    packages (and security fixes) a deb package URL means only by it. A system that is not a numbered Debian
    release cannot say it, and a bill that guessed would be matched against the wrong release."""
    fields = {}
    try:
        with open(path, encoding="utf-8") as stream:
            for line in stream.read().splitlines():
                match = re.fullmatch(r"([A-Z0-9_]+)=([\"']?)([^\"'\\$`]*)\2", line.strip())
                if match:
                    fields[match[1]] = match[3]
    except (OSError, UnicodeDecodeError) as error:
        raise Refusal(f"cannot read the Debian release from {path}: {getattr(error, 'strerror', None) or error}") \
            from error
    if fields.get("ID") != "debian" or not re.fullmatch(r"[0-9]+", fields.get("VERSION_ID", "")):
        raise Refusal(f"{path} names no numbered Debian release (ID debian, VERSION_ID a number), which the "
                      "package URLs must carry")
    return f"debian-{fields['VERSION_ID']}"


def purl(package, version, arch, path, distro):
    """pkg:deb/debian/NAME@VERSION?arch=ARCH&distro=DISTRO#PATH: the package, and the archive as a path inside
    it; the qualifiers sorted by key and their values percent-encoded, as the package-URL format asks."""
    name = package.split(":")[0]
    quoted = urllib.parse.quote(version, safe=":")
    qualifiers = "&".join(f"{key}={urllib.parse.quote(value, safe=':')}"
                          for key, value in sorted({"arch": arch, "distro": distro}.items()))
    subpath = urllib.parse.quote(os.path.realpath(path).lstrip("/"), safe="/")
    return f"pkg:deb/debian/{name}@{quoted}?{qualifiers}#{subpath}"


def upstream_version(version):
    """The upstream release of a Debian version: no epoch, no Debian revision, no repacking suffix (+dfsg, ~ds1,
    +repack2): 1:1.2.13+dfsg-1 -> 1.2.13, 12.2.0-14+deb12u1+25.2+b1 -> 12.2.0."""
    upstream = version.split(":", 1)[1] if re.match(r"[0-9]+:", version) else version
    upstream = upstream.rsplit("-", 1)[0] if "-" in upstream else upstream
    return re.sub(r"[+~.](?:dfsg|ds|repack)[0-9.]*$", "", upstream)


def cpe(vendor, product, version):
    """The CPE 2.3 name of an application release; characters other than letters, digits, '_', '-' and '.' of
    the version are escaped with a backslash, as its formatted-string binding asks."""
    escaped = re.sub(r"([^A-Za-z0-9_.-])", r"\\\1", version)
    return f"cpe:2.3:a:{vendor}:{product}:{escaped}:*:*:*:*:*:*:*"


# --- Licences from a machine-readable Debian copyright file ---------------------------------------------------------

def copyright_paragraphs(package, path=None):
    """The paragraphs of /usr/share/doc/PACKAGE/copyright (or of the file at path) as field dicts, or None when it
    is missing or not in the machine-readable format (DEP-5). A field's first line and its further lines are kept
    apart: (first, text)."""
    path = path or f"/usr/share/doc/{package.split(':')[0]}/copyright"
    try:
        with open(path, encoding="utf-8", errors="replace") as stream:
            content = stream.read()
    except OSError:
        return None, path
    paragraphs = []
    for block in re.split(r"\n[ \t]*\n", content):
        fields, name = {}, None
        for line in block.splitlines():
            if line.startswith("#"):
                continue
            if line[:1] in (" ", "\t") and name:
                first, text = fields[name]
                fields[name] = (first, text + [line[1:] if line.strip() != "." else ""])
            elif ":" in line:
                name, value = line.split(":", 1)
                fields[name] = (value.strip(), [])
        if fields:
            paragraphs.append(fields)
    header = paragraphs[0].get("Format", ("", []))[0] if paragraphs else ""
    if "copyright-format" not in header and "dep5" not in header.lower():
        return None, path
    return paragraphs, path


def spdx_name(name):
    """The SPDX identifier for a licence short name of the copyright format; other names become LicenseRef-NAME."""
    simple = {"expat": "MIT", "zlib": "Zlib", "isc": "ISC", "public-domain": "LicenseRef-public-domain",
              "cc0-1.0": "CC0-1.0", "zpl-2.1": "ZPL-2.1", "mpl-2.0": "MPL-2.0", "mpl-1.1": "MPL-1.1",
              "apache-2.0": "Apache-2.0", "artistic-2.0": "Artistic-2.0", "python-2.0": "Python-2.0"}
    if name.lower() in simple:
        return simple[name.lower()]
    bsd = re.fullmatch(r"BSD-([234])-clause", name, re.IGNORECASE)
    if bsd:
        return f"BSD-{bsd[1]}-Clause"
    gnu = re.fullmatch(r"(A?GPL|LGPL|GFDL)-(\d+)(?:\.(\d+))?(\+?)", name, re.IGNORECASE)
    if gnu:
        return f"{gnu[1].upper()}-{gnu[2]}.{gnu[3] or 0}-{'or-later' if gnu[4] else 'only'}"
    return "LicenseRef-" + re.sub(r"[^A-Za-z0-9.-]", "-", name.replace("+", "-or-later"))


def spdx_expression(short):
    """A copyright-format licence line ("GPL-2+ or Artistic", "BSD-3-clause and ISC") as an SPDX expression."""
    parts = re.split(r"\s+(and|or)\s+", short.strip(), flags=re.IGNORECASE)
    names = [spdx_name(part) for part in parts[::2]]
    operators = [op.upper() for op in parts[1::2]]
    return " ".join(sum(([name, op] for name, op in zip(names, operators)), []) + names[-1:])


def member_stem(member):
    """The source file's name without extension that an archive member was compiled from (automake's
    'libNAME_a-' prefix removed)."""
    stem = member.rsplit(".", 1)[0]
    return re.sub(r"^lib\w*?_a-", "", stem)


def covering_stanzas(paragraphs, members):
    """The Files stanzas that cover the members the link took: the general one (Files: *), which covers every file
    no other stanza names, and each stanza that names the source file of a taken member. A stanza for a whole
    folder (dir/*) is not taken: which folder a member was compiled in is not known."""
    stanzas = [p for p in paragraphs if "Files" in p]
    general = [s for s in stanzas if "*" in s["Files"][0].split() + s["Files"][1]]
    if not general:
        return []
    stems = {member_stem(member) for member in members}

    def names_member(stanza):
        patterns = (stanza["Files"][0] + " " + " ".join(stanza["Files"][1])).split()
        return any(not re.search(r"[*?]", p.rsplit("/", 1)[-1]) and p.rsplit("/", 1)[-1].rsplit(".", 1)[0] in stems
                   for p in patterns if not p.startswith("debian/"))

    return general[:1] + [s for s in stanzas if s is not general[0] and names_member(s)]


def licence_of(stanzas):
    """The SPDX expression of the covering stanzas (AND of each distinct licence line); NOASSERTION without one."""
    lines = list(dict.fromkeys(s["License"][0] for s in stanzas if "License" in s))
    if not lines:
        return "NOASSERTION"
    expressions = [spdx_expression(line) for line in lines]
    if len(expressions) == 1:
        return expressions[0]
    return " AND ".join(f"({e})" if " OR " in e else e for e in expressions)


def runtime_exception_names(path):
    """The runtime libraries a free-form copyright file (GCC's) says are under the GPL v3 or later with the GCC
    Runtime Library Exception 3.1: the '- NAME' items of the list after that statement; none without it."""
    try:
        with open(path, encoding="utf-8", errors="replace") as stream:
            text = stream.read()
    except OSError:
        return set()
    statement = re.search(r"licensed under the terms of the\s+GNU General Public License \(v3 or later\) with\s+"
                          r"version 3\.1 of the GCC\s+Runtime Library Exception[^\n]*\n", text)
    if not statement:
        return set()
    items = text[statement.end():].lstrip("\n").split("\n\n", 1)[0]
    return set(re.findall(r"^ *- +(\S+)", items, re.MULTILINE))


def library_licence(package, name, stanzas, copyright_path):
    """(SPDX expression, where it came from) of a linked archive: the machine-readable stanzas that cover its
    members, else GCC's statement of its runtime libraries when it lists this one (libgcc_eh.a under libgcc,
    libstdc++.a under libstdc++-v3), else our table of upstreams; NOASSERTION and None when none of them says."""
    expression = licence_of(stanzas)
    if expression != "NOASSERTION":
        return expression, "copyright file"
    stem = name.rsplit(".", 1)[0]
    listed = runtime_exception_names(copyright_path)
    if any(item == part or item.startswith(part + "-") for item in listed for part in (stem, stem.split("_")[0])):
        return GCC_RUNTIME, "copyright file"
    table = UPSTREAMS.get(package, (None, None, None))[2]
    return (table, "table") if table else ("NOASSERTION", None)


def licence_ids(expression):
    return set(re.findall(r"[A-Za-z0-9.+-]+", expression)) - {"AND", "OR", "WITH"}


# --- Components -------------------------------------------------------------------------------------------------

def library(path, package, members, distro):
    """The component of one linked archive from a Debian package (of the Debian release distro), with what its
    notice needs: the package's copyright paragraphs and the stanzas that cover the members taken."""
    version, arch, maintainer = package_facts(package)
    paragraphs, copyright_path = copyright_paragraphs(package)
    stanzas = covering_stanzas(paragraphs, members) if paragraphs else []
    name, ref, ar = os.path.basename(path), purl(package, version, arch, path, distro), is_ar_archive(path)
    package = package.split(":")[0]
    licence, licence_source = library_licence(package, name, stanzas, copyright_path)
    component = {
        "type": "library",
        "bom-ref": ref,
        "supplier": supplier_of(maintainer),
        "name": name,
        "version": version,
        "hashes": file_hashes(path),
        "licenses": [{"expression": licence, "acknowledgement": "declared"}],
        "cpe": cpe(*UPSTREAMS[package][:2], upstream_version(version)) if package in UPSTREAMS else None,
        "purl": ref,
        "properties": bsi_properties(name, True, ar, ar)
        + [{"name": "qmt:debian-package", "value": package},
           {"name": "qmt:members-linked", "value": str(len(members))}]
        + ([{"name": "qmt:licence-source", "value": licence_source}] if licence_source else []),
    }
    return {"component": {key: value for key, value in component.items() if value is not None}, "package": package, "version": version,
            "paragraphs": paragraphs, "stanzas": stanzas, "copyright": copyright_path}


def library_components(map_path):
    """The libraries of the link, sorted by name, and for each library's bom-ref those of the libraries that use it.
    Every archive of the map is one, except the build's own (no package holds them and they lie in its folder);
    an archive that is neither stops the bill, since what it is cannot be said."""
    root, folder = build_root(map_path), os.path.dirname(os.path.abspath(map_path))
    archives = linked_archives(map_path)
    distro = debian_release()
    libraries = {}
    for written, (members, _) in archives.items():
        path = os.path.join(folder, written)
        if not os.path.isfile(path):
            raise Refusal(f"the archive {written} of the map {map_path} does not exist")
        package = owning_package(path)
        if package is not None:
            libraries[written] = library(path, package, members, distro)
        elif not os.path.realpath(path).startswith(root + os.sep):
            raise Refusal(f"the linked archive {os.path.realpath(path)} belongs to no installed Debian package")
    ref = {written: entry["component"]["bom-ref"] for written, entry in libraries.items()}
    uses = {ref[written]: sorted(ref[user] for user in archives[written][1] if user in ref) for written in ref}
    return sorted(libraries.values(), key=lambda entry: entry["component"]["name"]), uses


def supplier_of(maintainer):
    """The Debian maintainer as a CycloneDX organisation: "Name <email>" -> name and contact email."""
    match = re.fullmatch(r"\s*(.*?)\s*<([^>]+)>\s*", maintainer)
    if not match:
        return {"name": maintainer.strip()}
    return {"name": match[1] or match[2], "contact": [{"email": match[2]}]}


def payload_components(payload_dir, licences):
    components = []
    for name in PAYLOAD_FILES:
        path = os.path.join(payload_dir, name)
        if not os.path.isfile(path):
            raise Refusal(f"payload file {path} does not exist")
        kind = pe_type(path)
        component = {"type": kind or "file", "bom-ref": f"payload/{name}", "name": name}
        version = file_version(path)[0] if kind else None
        if version:
            component["version"] = version
        component["hashes"] = file_hashes(path)
        component["licenses"] = [{"expression": licences.get(name, DEFAULT_LICENCES.get(name, "NOASSERTION")),
                                  "acknowledgement": "concluded"}]
        component["properties"] = bsi_properties(name, kind is not None, False, False)
        components.append(component)
    return components


def setup_name(strings, file_name):
    """The setup's name: the InternalName of its version resource, else its file name without the extension."""
    return strings.get("InternalName") or os.path.splitext(file_name)[0]


def setup_component(setup, file_name):
    """The setup as the bill's subject: named and versioned by its own version resource."""
    if pe_type(setup) != "application":
        raise Refusal(f"{setup} is not a Windows executable")
    version, strings = file_version(setup)
    if not version:
        raise Refusal(f"{setup} has no version resource")
    component = {
        "type": "application",
        "bom-ref": f"setup/{file_name}",
        "supplier": {"name": SUPPLIER},
        "name": setup_name(strings, file_name),
        "version": version,
        "description": strings.get("FileDescription", ""),
        "hashes": file_hashes(setup),
        "licenses": [{"expression": SETUP_LICENCE, "acknowledgement": "concluded"}],
        "copyright": strings.get("LegalCopyright", ""),
        # An archive: it carries the payload files; structured: its payload table describes them.
        "properties": bsi_properties(file_name, True, True, True),
    }
    return {key: value for key, value in component.items() if value != ""}


# --- The bill ---------------------------------------------------------------------------------------------------

def source_date():
    value = os.environ.get("SOURCE_DATE_EPOCH")
    if value is None:
        raise Refusal("SOURCE_DATE_EPOCH is not set: the bill's time is taken from it, never from the clock")
    if not re.fullmatch(r"[0-9]+", value):
        raise Refusal(f"SOURCE_DATE_EPOCH is not a number of seconds: {value}")
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(int(value)))


def make_bill(setup, libraries, uses, payload):
    """The CycloneDX document. The setup contains every library and payload file; a library depends on the
    libraries whose members its own linked members referenced. The payload files' own dependencies are not
    examined, so they stand outside the graph (unknown)."""
    setup_ref = setup["bom-ref"]
    components = [library["component"] for library in libraries] + payload
    refs = [component["bom-ref"] for component in components]
    library_refs = [library["component"]["bom-ref"] for library in libraries]
    dependencies = [{"ref": setup_ref, "dependsOn": refs}]
    dependencies += [{"ref": ref, "dependsOn": [r for r, users in uses.items() if ref in users]}
                     for ref in library_refs]
    compositions = [{"aggregate": "complete", "dependencies": [setup_ref] + library_refs}]
    if payload:
        compositions.append({"aggregate": "unknown", "dependencies": [c["bom-ref"] for c in payload]})
    return {
        "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "serialNumber": "",
        "version": 1,
        "metadata": {
            "timestamp": source_date(),
            "lifecycles": [{"phase": "build"}],
            "tools": {"components": [{"type": "application", "name": "scripts/bill-of-materials.py"}]},
            "component": setup,
            "supplier": {"name": SUPPLIER},
        },
        "components": components,
        "dependencies": dependencies,
        "compositions": compositions,
    }


def serialise(bill):
    """The bytes of the bill: the serial number is the UUID of the content without it; two-space indentation,
    keys in the order written, one final newline."""
    bill["serialNumber"] = ""
    digest = json.dumps(bill, sort_keys=True, separators=(",", ":"), ensure_ascii=False)
    bill["serialNumber"] = f"urn:uuid:{uuid.uuid5(SERIAL_NAMESPACE, digest)}"
    return json.dumps(bill, indent=2, ensure_ascii=False) + "\n"


# --- The notices ------------------------------------------------------------------------------------------------

def licence_text(paragraphs, stanza, name):
    """The text of one licence name: the stanza's own text, or the stand-alone License paragraph of that name."""
    if stanza["License"][0] == name and any(line.strip() for line in stanza["License"][1]):
        return stanza["License"][1]
    for paragraph in paragraphs:
        if "Files" not in paragraph and paragraph.get("License", ("", []))[0] == name:
            return paragraph["License"][1]
    return ["(the copyright file holds no text for this licence)"]


def notice_section(library_group):
    """The notice of one package: its copyright lines and licence texts as its copyright file states them."""
    first = library_group[0]
    names = ", ".join(library["component"]["name"] for library in library_group)
    expression = first["component"]["licenses"][0]["expression"]
    lines = ["=" * 100, f"{first['package']} {first['version']}: {names}", f"Licence: {expression}", ""]
    if not first["stanzas"]:
        lines += [f"{first['copyright']} is not in the machine-readable format, or missing; the whole file "
                  "follows.", ""]
        try:
            with open(first["copyright"], encoding="utf-8", errors="replace") as stream:
                lines += stream.read().rstrip("\n").splitlines()
        except OSError:
            lines.append(f"({first['copyright']} is missing)")
        return lines
    for stanza in first["stanzas"]:
        copyright_field = stanza.get("Copyright", ("", []))
        lines += ["Copyright: " + copyright_field[0]] + ["           " + line for line in copyright_field[1]]
    lines.append("")
    shown = set()
    for stanza in first["stanzas"]:
        line = stanza.get("License", ("", []))[0]
        for name in re.split(r"\s+(?:and|or)\s+", line, flags=re.IGNORECASE):
            if name and name not in shown:
                shown.add(name)
                lines += [f"License: {name}"] + ["  " + text if text else "" for text in
                                                 licence_text(first["paragraphs"], stanza, name)] + [""]
    return lines


def notice_header(setup, file_name):
    """The notices' first two lines: the setup's name and version, then its file name and SHA-256."""
    sha256 = next(h["content"] for h in setup["hashes"] if h["alg"] == "SHA-256")
    return [f"Third-party notices of {setup['name']} {setup['version']}",
            f"These notices belong to {file_name}, SHA-256 {sha256}."]


def notices(setup, libraries, file_name):
    """The notices text: a header naming the setup file they belong to by its SHA-256 (so that notices beside
    another setup are recognised), then one section per package whose licence asks for its notice."""
    groups = {}
    for library in libraries:
        groups.setdefault(library["package"], []).append(library)
    needed, free = [], []
    for package in sorted(groups):
        expression = groups[package][0]["component"]["licenses"][0]["expression"]
        if expression != "NOASSERTION" and licence_ids(expression) <= NO_NOTICE:
            free += [f"{library['component']['name']} ({expression})" for library in groups[package]]
        else:
            needed.append(groups[package])
    lines = notice_header(setup, file_name) + [
        "",
        "The setup contains code of the libraries below, linked statically. Each section holds the copyright",
        "lines and licence texts from the copyright file of the Debian package the library came from.",
        "Licences that do not ask for their notice in a binary: " + (", ".join(free) or "none") + ".",
        "The payload files are listed with their own licences in the bill of materials (.cdx.json).",
        ""]
    for group in needed:
        lines += notice_section(group)
    return "\n".join(lines).rstrip("\n") + "\n"


# --- Commands ---------------------------------------------------------------------------------------------------

def payload_licences(pairs):
    licences = {}
    for pair in pairs:
        name, _, expression = pair.partition("=")
        if name not in PAYLOAD_FILES or not expression.strip() or "\n" in expression:
            raise Refusal(f"--payload-license {pair}: give NAME=SPDX-EXPRESSION with NAME one of "
                          + ", ".join(PAYLOAD_FILES))
        if name in licences:
            raise Refusal(f"--payload-license {name} is given twice")
        licences[name] = expression.strip()
    return licences


def write_file(path, text):
    """Writes beside the target under a temporary name and renames, so a failed run leaves no half file."""
    partial = f"{path}.partial.{os.getpid()}"
    try:
        with open(partial, "w", encoding="utf-8", newline="\n") as stream:
            stream.write(text)
        os.replace(partial, path)
    except OSError as error:
        raise Refusal(f"cannot write {path}: {error.strerror}") from error
    finally:
        if os.path.exists(partial):
            os.remove(partial)


def write(options):
    for what, path in (("setup", options.setup), ("link map", options.link_map)):
        if not os.path.isfile(path):
            raise Refusal(f"the {what} {path} does not exist")
    licences = payload_licences(options.payload_license)
    file_name = options.file_name or os.path.basename(options.setup)
    setup = setup_component(options.setup, file_name)
    libraries, uses = library_components(options.link_map)
    payload = payload_components(options.payload_dir, licences)
    bill = serialise(make_bill(setup, libraries, uses, payload))
    text = notices(setup, libraries, file_name)
    write_file(options.bom, bill)
    write_file(options.notices, text)


# --- Reading a bill (strictly: a published bill comes from a download) ------------------------------------------

MAX_BILL_BYTES = 16 << 20
MAX_DEPTH = 64
# For check_depth: an opening bracket is a step of +1, a closing one of -1 (255 as a signed byte), the rest is dropped.
DEPTH_STEPS = bytes.maketrans(b"[{]}", b"\x01\x01\xff\xff")
DEPTH_OTHERS = bytes(set(range(256)) - set(b"[]{}"))
# The hash algorithms of the format and the length of each one's hex digest.
HASH_LENGTHS = {"MD5": 32, "SHA-1": 40, "SHA-256": 64, "SHA-384": 96, "SHA-512": 128, "SHA3-256": 64,
                "SHA3-384": 96, "SHA3-512": 128, "BLAKE2b-256": 64, "BLAKE2b-384": 96, "BLAKE2b-512": 128,
                "BLAKE3": 64}
# The algorithms of today's strength: a published bill that has none of them where the rebuild has one is named as
# giving only weaker hashes.
STRONG_HASHES = {"SHA-256", "SHA-384", "SHA-512", "SHA3-256", "SHA3-384", "SHA3-512", "BLAKE2b-256",
                 "BLAKE2b-384", "BLAKE2b-512", "BLAKE3"}


class Malformed(Refusal):
    """What makes a bill unreadable as one; load_bill names the file in front of it."""


class Repeated(Malformed):
    """A component or one of its hashes given twice: in a published bill, a second entry placed before the true one
    is how a forged bill would hide a component, so compare names it as a difference rather than a reading error."""


def shown(value):
    """A value from a bill as printable text: control, format and surrogate characters as \\xNN or \\uNNNN, so that
    a crafted name can neither break the one-line verdict nor hide what it is."""
    text = value if isinstance(value, str) else json.dumps(value, ensure_ascii=False)[:80]
    out = []
    for char in text.replace("\\", "\\\\"):
        code = ord(char)
        if code < 0x20 or 0x7F <= code < 0xA0:
            out.append(f"\\x{code:02x}")
        elif not char.isprintable():
            out.append(f"\\u{code:04x}" if code < 0x10000 else f"\\U{code:08x}")
        else:
            out.append(char)
    return "".join(out)


def read_limited(path):
    """The bytes of a regular file of at most MAX_BILL_BYTES (a device or FIFO is no bill and is not waited on)."""
    try:
        descriptor = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
        with os.fdopen(descriptor, "rb") as stream:
            if not stat.S_ISREG(os.fstat(stream.fileno()).st_mode):
                raise Malformed("not a regular file")
            data = stream.read(MAX_BILL_BYTES + 1)
    except OSError as error:
        raise Refusal(f"cannot read {shown(path)}: {error.strerror or error}") from error
    if len(data) > MAX_BILL_BYTES:
        raise Malformed(f"larger than {MAX_BILL_BYTES >> 20} MiB")
    return data


def check_depth(text):
    """Refuses nesting deeper than MAX_DEPTH, counted on the text before any parser recurses: escape pairs are
    dropped left to right (so an escaped backslash goes before the quote after it), then every string (which holds
    no quote any more), and the running sum of +1 per opening and -1 per closing bracket is the depth."""
    bare = re.sub(r'"[^"]*"', "", text.replace("\\\\", "").replace('\\"', ""))
    steps = array.array("b", bare.encode("utf-8", "replace").translate(DEPTH_STEPS, DEPTH_OTHERS))
    if max(itertools.accumulate(steps), default=0) > MAX_DEPTH:
        raise Malformed(f"nested deeper than {MAX_DEPTH} levels")


def unique_object(pairs):
    """A JSON object whose keys are all distinct: a second value of one key would be read by one reader, not another."""
    result = {}
    for key, value in pairs:
        if key in result:
            raise Malformed(f"the key {shown(key)} appears twice in one object")
        result[key] = value
    return result


def no_constant(name):
    raise Malformed(f"{name} is not a JSON number")


def bounded_int(text):
    """An integer of at most 64 digits: Python refuses to convert longer ones with an error of its own."""
    if len(text.lstrip("-")) > 64:
        raise Malformed(f"a number of {len(text.lstrip('-'))} digits")
    return int(text)


def parse_json(data):
    """UTF-8 JSON of bounded depth, without duplicate keys or NaN/Infinity."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise Malformed(f"not UTF-8 (byte {error.start})") from error
    check_depth(text)
    try:
        return json.loads(text, object_pairs_hook=unique_object, parse_constant=no_constant,
                          parse_int=bounded_int)
    except json.JSONDecodeError as error:
        raise Malformed(f"not JSON: {error.msg} at line {error.lineno} column {error.colno}") from error
    except RecursionError as error:
        raise Malformed(f"nested deeper than {MAX_DEPTH} levels") from error


def check_hashes(where, hashes):
    """A component's hashes: a list of {alg, content}, content lower-case hex of its algorithm's length, each
    algorithm once."""
    if not isinstance(hashes, list):
        raise Malformed(f"{where}: hashes is not a list")
    algorithms = set()
    for entry in hashes:
        if not isinstance(entry, dict):
            raise Malformed(f"{where}: a hash is not an object")
        alg, content = entry.get("alg"), entry.get("content")
        if not isinstance(alg, str) or alg not in HASH_LENGTHS:
            raise Malformed(f"{where}: the hash algorithm {shown(alg)} is not one of the format's")
        if alg in algorithms:
            raise Repeated(f"{where}: the hash algorithm {alg} appears twice")
        if not (isinstance(content, str) and re.fullmatch(r"[0-9a-f]{%d}" % HASH_LENGTHS[alg], content)):
            raise Malformed(f"{where}: its {alg} is not {HASH_LENGTHS[alg]} lower-case hex digits: {shown(content)}")
        algorithms.add(alg)


def check_component(component, position=None):
    """One component (the subject without a position): an object with string name and type, string version, purl
    and bom-ref when present, valid hashes."""
    kind = "the subject" if position is None else "component"
    where = f"{kind} {position or '(metadata.component)'}"
    if not isinstance(component, dict):
        raise Malformed(f"{where} is not an object")
    for field in ("name", "type"):
        if not isinstance(component.get(field), str):
            raise Malformed(f"{where} has no string {field}")
    where = f"{kind} {shown(component['name'])}"
    for field in ("version", "purl", "bom-ref"):
        if field in component and not isinstance(component[field], str):
            raise Malformed(f"{where}: its {field} is not a string")
    if "components" in component:
        raise Malformed(f"{where} holds components of its own, which compare would not see")
    if "hashes" in component:
        check_hashes(where, component["hashes"])


def check_shape(bill):
    """The parts of a bill that compare reads: the subject and the components, names and bom-refs unique."""
    if not (isinstance(bill, dict) and bill.get("bomFormat") == "CycloneDX"):
        raise Malformed("not a CycloneDX bill (no bomFormat CycloneDX)")
    metadata, components = bill.get("metadata"), bill.get("components")
    if not (isinstance(metadata, dict) and "component" in metadata):
        raise Malformed("the bill names no subject (metadata.component)")
    if not isinstance(components, list):
        raise Malformed("components is not a list")
    check_component(metadata["component"])
    names, refs = set(), set()
    for index, component in enumerate([metadata["component"]] + components):
        if index:
            check_component(component, index)
            if component["name"] in names:
                raise Repeated(f"the component {shown(component['name'])} is listed twice")
            names.add(component["name"])
        ref = component.get("bom-ref")
        if ref is not None:
            if ref in refs:
                raise Malformed(f"the bom-ref {shown(ref)} is given twice")
            refs.add(ref)


def load_bill(path, repeated_differs=False):
    """The bill in a file, refused as malformed unless it has the strict shape compare relies on; with
    repeated_differs, a repeated component or hash is raised as Repeated (the published bill's difference)."""
    try:
        bill = parse_json(read_limited(path))
        check_shape(bill)
    except Repeated as error:
        if repeated_differs:
            raise
        raise Refusal(f"the bill is malformed: {shown(path)}: {error}") from error
    except Malformed as error:
        raise Refusal(f"the bill is malformed: {shown(path)}: {error}") from error
    return bill


# --- Comparing two bills ----------------------------------------------------------------------------------------

def identity(component):
    """What must be equal for two bills to describe the same contents (licences are not: they are declared)."""
    hashes = {h["alg"]: h["content"] for h in component.get("hashes", [])}
    return {"type": component["type"], "version": component.get("version"), "purl": component.get("purl"),
            "hashes": hashes}


def hash_difference(name, old, new):
    """How two components' hashes differ, as a phrase; None when they are the same set of algorithms and values."""
    if not old:
        return f"{name} has no hashes in the published bill"
    if set(old) != set(new):
        weak = "" if set(old) & STRONG_HASHES or not set(new) & STRONG_HASHES else " (only weaker ones)"
        return (f"{name} has the hashes {', '.join(sorted(old))} in the published bill{weak}, "
                f"{', '.join(sorted(new)) or 'none'} in the rebuild")
    for alg in old:
        if old[alg] != new[alg]:
            return f"{name}'s {alg} is {old[alg][:16]}… in the published bill, {new[alg][:16]}… in the rebuild"
    return None


def first_difference(published, rebuilt):
    """The first difference in components, in the published bill's order, as a phrase; None when there is none.
    Names are unique in a loaded bill, so equal name sets with equal components are equal lists, counts included."""
    subject_old, subject_new = published["metadata"]["component"], rebuilt["metadata"]["component"]
    for field in ("name", "version"):
        if subject_old.get(field) != subject_new.get(field):
            return (f"the setup's {field} is {shown(subject_old.get(field))} in the published bill, "
                    f"{shown(subject_new.get(field))} in the rebuild")
    old = {c["name"]: identity(c) for c in published["components"]}
    new = {c["name"]: identity(c) for c in rebuilt["components"]}
    for name in list(old) + [n for n in new if n not in old]:
        label = shown(name)
        if name not in new:
            return f"component {label} is only in the published bill"
        if name not in old:
            return f"component {label} is only in the rebuild's bill"
        for field in ("type", "version", "purl"):
            if old[name][field] != new[name][field]:
                return (f"{label} has {field} {shown(old[name][field])} in the published bill, "
                        f"{shown(new[name][field])} in the rebuild")
        difference = hash_difference(label, old[name]["hashes"], new[name]["hashes"])
        if difference:
            return difference
    return None


def another_setup(listed, setup):
    """None when the bill's subject hashes are exactly those of the setup file, else the first one that is not,
    as 'it names sha256 X, the setup's is Y'."""
    try:
        own = {h["alg"]: h["content"] for h in file_hashes(setup)}
    except OSError as error:
        raise Refusal(f"cannot read {shown(setup)}: {error.strerror}") from error
    for alg in ["SHA-256", "SHA-512"] + sorted(set(listed) - set(own)):
        if listed.get(alg) != own.get(alg):
            return (f"it names {alg.lower().replace('-', '')} {listed.get(alg, 'none')}, "
                    f"the setup's is {own.get(alg, 'not computed')}")
    return None


def compare(options):
    rebuilt = load_bill(options.rebuilt)
    try:
        published = load_bill(options.published, repeated_differs=True)
    except Repeated as error:
        print(f"{PROGRAM}: DIFFERENT: {error} in the published bill")
        return 1
    listed = identity(published["metadata"]["component"])["hashes"]
    if options.setup:
        # The bill published beside a setup must describe that very file, signature included; a bill of another
        # file says nothing about this one, so it cannot be checked.
        mismatch = another_setup(listed, options.setup)
        if mismatch:
            raise Refusal(f"the bill was made for another setup: {mismatch}")
    difference = first_difference(published, rebuilt)
    if difference:
        print(f"{PROGRAM}: DIFFERENT: {difference}")
        return 1
    count = len(published["components"])
    if options.setup:
        setup_text = f"the setup's hashes are those of {shown(os.path.basename(options.setup))}"
    elif listed == identity(rebuilt["metadata"]["component"])["hashes"]:
        setup_text = "the setup's hashes are the same too"
    else:
        setup_text = "the setup's own hashes differ (the published file was signed again, or is another file)"
    print(f"{PROGRAM}: SAME: {count} components with the same names, versions and hashes; {setup_text}")
    return 0


# --- Rebinding a bill to the signed setup -----------------------------------------------------------------------

def listed_file_name(subject):
    """The file name the bill's subject was written for (its BSI filename property); refused without one."""
    properties = subject.get("properties")
    names = [p.get("value") for p in properties if isinstance(p, dict) and p.get("name") == "bsi:component:filename"] \
        if isinstance(properties, list) else []
    if len(names) != 1 or not isinstance(names[0], str) or subject.get("bom-ref") != f"setup/{names[0]}":
        raise Refusal("the bill's setup names no single file name (bsi:component:filename and its bom-ref)")
    return names[0]


def read_notices(path):
    """The lines of a notices file (UTF-8, split on newlines only, so that joining them gives its bytes back)."""
    try:
        return read_limited(path).decode("utf-8").split("\n")
    except Malformed as error:
        raise Refusal(f"the notices are unreadable: {shown(path)}: {error}") from error
    except UnicodeDecodeError as error:
        raise Refusal(f"the notices are unreadable: {shown(path)}: not UTF-8 (byte {error.start})") from error


def readable_hashes(path):
    """file_hashes of a setup, a file that cannot be read refused in one line."""
    try:
        return file_hashes(path)
    except OSError as error:
        raise Refusal(f"cannot read {shown(path)}: {error.strerror}") from error


def check_notices(lines, subject, file_name, unsigned):
    """The notices' header must name the unsigned setup by its SHA-256, and be the one write gives the bill's
    subject: notices beside another setup, or of another bill, are not rebound."""
    own = next(h["content"] for h in readable_hashes(unsigned) if h["alg"] == "SHA-256")
    match = re.fullmatch(r"These notices belong to (.*), SHA-256 ([0-9a-f]{64})\.", lines[1] if len(lines) > 1 else "")
    if not match:
        raise Refusal("the notices name no setup (no line 'These notices belong to NAME, SHA-256 HEX.')")
    if match[2] != own:
        raise Refusal(f"the notices belong to another setup: they name sha256 {match[2]}, "
                      f"{shown(os.path.basename(unsigned))}'s is {own}")
    if lines[:2] != notice_header(subject, file_name):
        raise Refusal(f"the notices' header is not that of the bill's setup {shown(subject['name'])} "
                      f"{shown(subject.get('version'))} as {shown(file_name)}")


def renamed(bill, old_ref, file_name, signed):
    """The bill's subject under another file name, as write names it: its bom-ref (and the references to it), its
    filename property, and its name when the signed setup's version resource gives no InternalName."""
    subject = bill["metadata"]["component"]
    new_ref = f"setup/{file_name}"
    subject["bom-ref"] = new_ref
    subject["name"] = setup_name(file_version(signed)[1], file_name)
    for entry in subject["properties"]:
        if isinstance(entry, dict) and entry.get("name") == "bsi:component:filename":
            entry["value"] = file_name
    for entry in bill.get("dependencies", []):
        if isinstance(entry, dict) and entry.get("ref") == old_ref:
            entry["ref"] = new_ref
    for entry in bill.get("compositions", []):
        if isinstance(entry, dict) and isinstance(entry.get("dependencies"), list):
            entry["dependencies"] = [new_ref if ref == old_ref else ref for ref in entry["dependencies"]]


def rebind(options):
    """The bill and notices of the unsigned setup, made those of the signed one: the subject's hashes (and with
    --file-name its file name) replaced and the serial number derived again, the bytes those write gives the
    signed setup. The bill must be one write made (its bytes those serialise gives its content) for the unsigned
    setup, and the notices must name that setup; nothing is written otherwise."""
    for what, path in (("signed setup", options.setup), ("unsigned setup", options.unsigned)):
        if not os.path.isfile(path):
            raise Refusal(f"the {what} {path} does not exist")
    bill = load_bill(options.bom)
    subject = bill["metadata"]["component"]
    mismatch = another_setup(identity(subject)["hashes"], options.unsigned)
    if mismatch:
        raise Refusal(f"the bill was made for another setup than {shown(options.unsigned)}: {mismatch}")
    if serialise(copy.deepcopy(bill)).encode("utf-8") != read_limited(options.bom):
        raise Refusal("the bill is not as write made it: its serial number or layout is not that of its content")
    if not isinstance(subject.get("version"), str):
        raise Refusal("the bill's setup has no version")
    file_name = listed_file_name(subject)
    lines = read_notices(options.notices)
    check_notices(lines, subject, file_name, options.unsigned)
    subject["hashes"] = readable_hashes(options.setup)
    if options.file_name is not None and options.file_name != file_name:
        renamed(bill, subject["bom-ref"], options.file_name, options.setup)
        file_name = options.file_name
    lines[:2] = notice_header(subject, file_name)
    text = serialise(bill)
    try:
        check_shape(json.loads(text))
    except Malformed as error:
        raise Refusal(f"the rebound bill would be malformed: {error}") from error
    write_file(options.out_bom, text)
    write_file(options.out_notices, "\n".join(lines))


# --- The command line -------------------------------------------------------------------------------------------

def arguments(argv):
    parser = argparse.ArgumentParser(prog="bill-of-materials.py", description=__doc__.split("\n\n")[0])
    commands = parser.add_subparsers(dest="command", required=True)
    writer = commands.add_parser("write", help="write the bill and the notices of a setup")
    writer.add_argument("--setup", required=True, help="the (signed) setup executable")
    writer.add_argument("--link-map", required=True, help="the linker's map of the setup (<build>/src/Quillmart-Setup.map)")
    writer.add_argument("--payload-dir", required=True, help="folder with WebView2Loader.dll and Quillmart.exe")
    writer.add_argument("--payload-license", action="append", default=[], metavar="NAME=SPDX-EXPRESSION",
                        help="licence of a payload file (default: LicenseRef-Proprietary for Quillmart.exe, "
                             "NOASSERTION otherwise)")
    writer.add_argument("--file-name", help="the setup's published file name (default: the name of --setup)")
    writer.add_argument("--bom", required=True, help="where to write the CycloneDX JSON bill")
    writer.add_argument("--notices", required=True, help="where to write the third-party notices")
    rebinder = commands.add_parser("rebind", help="make the unsigned setup's bill and notices those of the signed")
    rebinder.add_argument("--setup", required=True, help="the signed setup")
    rebinder.add_argument("--from", dest="unsigned", required=True, metavar="UNSIGNED",
                          help="the unsigned setup the bill and notices were written for")
    rebinder.add_argument("--bom", required=True, help="the unsigned setup's CycloneDX JSON bill")
    rebinder.add_argument("--notices", required=True, help="the unsigned setup's third-party notices")
    rebinder.add_argument("--file-name", help="the signed setup's published file name (default: the bill's)")
    rebinder.add_argument("--out-bom", required=True, help="where to write the signed setup's bill")
    rebinder.add_argument("--out-notices", required=True, help="where to write the signed setup's notices")
    comparer = commands.add_parser("compare", help="compare a published bill with a rebuild's")
    comparer.add_argument("--setup", help="the published setup, whose hashes the published bill must list")
    comparer.add_argument("published")
    comparer.add_argument("rebuilt")
    return parser.parse_args(argv)


def main(argv):
    options = arguments(argv)
    try:
        if options.command == "compare":
            return compare(options)
        {"write": write, "rebind": rebind}[options.command](options)
        return 0
    except Refusal as refusal:
        print(f"{PROGRAM}: {refusal}", file=sys.stdout if options.command == "compare" else sys.stderr)
        return 2 if options.command == "compare" else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
