#!/usr/bin/env python3
"""Writes the property-list fixtures in tests/data with Python's plistlib, an implementation
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
download_list = [
    {"title": "Foo", "keyword": ["foo", "ふー"], "status": True, "lock": False, "time": 24},
    {"title": "Bar", "keyword": ["bar"], "status": 1, "time": "30"},
]
for name, value, fmt in [
    ("sample.xml.plist", sample, plistlib.FMT_XML),
    ("sample.bin.plist", sample, plistlib.FMT_BINARY),
    ("dlst.bin.plist", download_list, plistlib.FMT_BINARY),
]:
    with open(data / name, "wb") as f:
        plistlib.dump(value, f, fmt=fmt)
