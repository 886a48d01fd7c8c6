#!/usr/bin/env python3
"""Writes the property-list fixture in tests/data with Python's plistlib, an implementation
independent of the libplist that Kestrova reads them with. Run it again only to change them."""
import datetime
import pathlib
import plistlib

data = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data"
sample = {
    "title": "ソラノカナタ",
    "negative": -42,
    "big": 9007199254740993,
    "pi": 3.25,
    "yes": True,
    "no": False,
    "one": 1,
    "when": datetime.datetime(2026, 12, 6, 8, 5, 56),
    "blob": b"\x00\x01\xfeK",
    "list": ["a", 2, {"nested": [True]}],
    "empty": {},
}
with open(data / "sample.bin.plist", "wb") as f:
    plistlib.dump(sample, f, fmt=plistlib.FMT_BINARY)
