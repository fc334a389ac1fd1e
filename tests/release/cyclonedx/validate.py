#!/usr/bin/python3
"""Validates CycloneDX 1.6 JSON files against the format's own schema, kept in this folder (see README.md):
  validate.py BILL.cdx.json...
Prints one line per file (OK, or the first violation with its place) and exits 0 only when every file is valid.
The schema's references to its two companion schemas are resolved from this folder, never fetched. Works with
Debian 12's python3-jsonschema (4.10, RefResolver) and with the releases that resolve through the referencing
library (4.18 and later, Debian 13).
"""
import json
import os
import sys

import jsonschema

HERE = os.path.dirname(os.path.abspath(__file__))
BASE = "http://cyclonedx.org/schema/"
ROOT = "bom-1.6.SNAPSHOT.schema.json"


def local_schemas():
    """Every schema of this folder under the two names it is referred to by: its $id, and its file name beside
    the main schema's $id (the published files refer to each other by file name)."""
    schemas = {}
    for name in sorted(os.listdir(HERE)):
        if name.endswith(".schema.json"):
            with open(os.path.join(HERE, name), encoding="utf-8") as stream:
                schema = json.load(stream)
            schemas[BASE + name] = schema
            schemas[schema["$id"]] = schema
    return schemas


def make_validator():
    schemas = local_schemas()
    root = schemas[BASE + ROOT]
    cls = jsonschema.validators.validator_for(root)
    try:
        from referencing import Registry, Resource  # pylint: disable=import-outside-toplevel
    except ImportError:
        resolver = jsonschema.RefResolver.from_schema(root, store=schemas)
        return cls(root, resolver=resolver)
    registry = Registry().with_resources((uri, Resource.from_contents(schema)) for uri, schema in schemas.items())
    return cls(root, registry=registry)


def check(validator, path):
    """One line about the file; True when it is valid."""
    try:
        with open(path, encoding="utf-8") as stream:
            document = json.load(stream)
    except (OSError, ValueError) as error:
        print(f"{path}: INVALID: cannot be read as JSON: {error}")
        return False
    error = jsonschema.exceptions.best_match(validator.iter_errors(document))
    if error is None:
        print(f"{path}: OK")
        return True
    place = "/".join(str(part) for part in error.absolute_path) or "(top)"
    print(f"{path}: INVALID at {place}: {error.message[:300]}")
    return False


def main(paths):
    if not paths:
        print("usage: validate.py BILL.cdx.json...", file=sys.stderr)
        return 2
    validator = make_validator()
    results = [check(validator, path) for path in paths]
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
