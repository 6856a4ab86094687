#!/usr/bin/env python3
"""Writes the seeds that are built rather than typed, fuzz/corpus/<target>/gen-*; the others sit beside them."""
import datetime, json, os, plistlib

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def seeds(target, named, encode=lambda value: value):
    os.makedirs(os.path.join(here, target), exist_ok=True)
    for name, value in named.items():
        data = encode(value)
        with open(os.path.join(here, target, "gen-" + name), "wb") as out:
            out.write(data if isinstance(data, bytes) else data.encode("utf-8", "surrogateescape"))


udid, when = "5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A10", datetime.datetime(2024, 5, 1, 12, 30, 15, 250000)
device = {"udid": udid, "name": "iPhone 15", "state": "Shutdown", "isAvailable": True}
seeds("fuzz_simulator_list", {"one": {"devices": {"com.apple.CoreSimulator.SimRuntime.iOS-17-0": [device]}}, "two-runtimes": {"devices": {
    "r1": [device, dict(device, state="Booted", isAvailable=None)],
    "r2": [dict(device, udid=udid.lower(), name="iPad \"Pro\""), {"udid": "x", "name": "", "state": "", "extra": [1, {}]}]}}},
    json.dumps)
seeds("fuzz_preferences", {
    "typical": json.dumps({"roots": ["/Users/me/Code"], "kept": ["/Users/me/Code/app/node_modules"]}, separators=(",", ":")).replace("/", "\\/"),
    "unicode": json.dumps({"roots": ["/h/Åsa", "/h/\u0000x"], "kept": ["/h/a", "/h/a", "/h/\ud83d\ude00"]})})
item = {"estimatedBytes": 734003200, "operation": "moveFolderToTrash", "path": "/Users/me/Code/site/node_modules", "title": "site / node_modules"}
seeds("fuzz_planned_item", {"folder": json.dumps(item, indent=2, sort_keys=True).replace("/", "\\/")})
seeds("fuzz_planned_item", {"simulator": dict(item, operation="eraseSimulator", estimatedBytes=9223372036854775807),
                            "float-bytes": dict(item, estimatedBytes=1.5e300),
                            "negative": dict(item, estimatedBytes=-9223372036854775808, title="a\"b\nc")}, json.dumps)
scan_item = {"path": "/h/Code/site/node_modules", "kind": "dependencies", "title": "site / node_modules",
             "explanation": "Packages installed for site.", "rebuild": "npm install", "bytes": 4096, "files": 1,
             "modified": 1700000000.123456789, "fingerprint": "ab" * 32, "complete": True, "selectable": True,
             "deviceID": None, "protection": None}
document = {"home": "/h", "roots": ["/h/Code"], "kept": [], "cancelled": False, "notes": ["note"], "items": [scan_item]}
odd = dict(scan_item, path="/h/Code/\ufffd", pathBytes="2f682f436f64652fff", modified=None, complete=False, selectable=False,
           kind="simulator", deviceID=udid, protection="Protected.")
seeds("fuzz_scan_document", {"one-item": json.dumps(document, separators=(",", ":")), "empty": json.dumps(dict(document, items=[], notes=[])),
                             "odd-item": json.dumps(dict(document, items=[odd, scan_item], cancelled=True, kept=["/h/Code/site/node_modules"]))})
for fmt, name in ((plistlib.FMT_BINARY, "binary"), (plistlib.FMT_XML, "xml")):
    seeds("fuzz_device_plist", {name: {"UDID": udid, "lastBootedAt": when, "name": "iPhone", "state": 1, "runtime": "r",
                                       "nested": {"a": [1, 2.5, True, b"\x00\x01"]}}, name + "-no-date": {"lastBootedAt": "yesterday"}},
          lambda value: plistlib.dumps(value, fmt=fmt))
seeds("fuzz_device_plist", {"array": plistlib.dumps([when], fmt=plistlib.FMT_BINARY), "info-plist": plistlib.dumps(
    {"SUPublicEDKey": "A" * 43 + "=", "SUFeedURL": "https://example.org/appcast.xml"}, fmt=plistlib.FMT_XML)})
rss = ('<?xml version="1.0" encoding="utf-8"?>\n<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">'
       '<channel><title>Quillet</title>{}</channel></rss>')
release = "<item><title>Quillet {0}</title><sparkle:version>{0}</sparkle:version><link>{1}</link>{2}</item>".format
seeds("fuzz_update_feed", {"two-releases": rss.format(
    release("1.9", "https://example.org/1.9", "") + release("1.10", "https://example.org/1.10", "<sparkle:shortVersionString>1.10 (spring)"
    "</sparkle:shortVersionString>") + release("9.0", "https://example.org/beta", "<sparkle:channel>beta</sparkle:channel>")),
    "enclosure": rss.format('<item><title>Quillet 2.0</title><enclosure url="https://example.org/q-2.0.tar.gz" sparkle:version="2.0.1" '
                            'sparkle:shortVersionString="2.0" length="1" type="application/octet-stream"/></item>'),
    "no-address": rss.format(release("3.0", "ftp://example.org/3.0", "") + release("x.y", "https://e.org", ""))})
