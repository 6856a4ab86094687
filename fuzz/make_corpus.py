#!/usr/bin/env python3
"""Writes the generated part of the seed corpora (hand-made seeds sit beside them).
Run again after changing it; it only adds or replaces files named gen-*."""
import json
import os
import plistlib
import datetime

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def seed(target, name, data):
    folder = os.path.join(here, target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogateescape")
    with open(os.path.join(folder, "gen-" + name), "wb") as out:
        out.write(data)


udid = "5E3C2A51-0B8D-4C9E-9F1A-2D7B6C4E8A10"
device = {"udid": udid, "name": "iPhone 15", "state": "Shutdown", "isAvailable": True}
seed("fuzz_simulator_list", "one", json.dumps({"devices": {"com.apple.CoreSimulator.SimRuntime.iOS-17-0": [device]}}))
seed("fuzz_simulator_list", "two-runtimes", json.dumps({"devices": {
    "r1": [device, dict(device, state="Booted", isAvailable=None)],
    "r2": [dict(device, udid=udid.lower(), name="iPad \"Pro\""), {"udid": "x", "name": "", "state": "", "extra": [1, {}]}]}}))
seed("fuzz_simulator_list", "empty", '{"devices":{}}')
seed("fuzz_simulator_list", "bad-state", '{"devices":{"r":[{"udid":"a","name":"b","state":7}]}}')

seed("fuzz_preferences", "typical", json.dumps({"roots": ["/Users/me/Code"], "kept": ["/Users/me/Code/app/node_modules"]}, separators=(",", ":")).replace("/", "\\/"))
seed("fuzz_preferences", "unicode", json.dumps({"roots": ["/h/Åsa", "/h/\u0000x"], "kept": ["/h/a", "/h/a", "/h/\ud83d\ude00"]}))
seed("fuzz_preferences", "empty-roots", '{"roots":[],"kept":[],"other":{"deep":[[[]]]}}')
seed("fuzz_preferences", "no-kept", '{"roots":["/a"]}')

item = {"estimatedBytes": 734003200, "operation": "moveFolderToTrash", "path": "/Users/me/Code/site/node_modules", "title": "site / node_modules"}
seed("fuzz_planned_item", "folder", json.dumps(item, indent=2, sort_keys=True).replace("/", "\\/"))
seed("fuzz_planned_item", "simulator", json.dumps(dict(item, operation="eraseSimulator", estimatedBytes=9223372036854775807)))
seed("fuzz_planned_item", "float-bytes", json.dumps(dict(item, estimatedBytes=1.5e300)))
seed("fuzz_planned_item", "negative", json.dumps(dict(item, estimatedBytes=-9223372036854775808, title="a\"b\nc")))

scan_item = {"path": "/h/Code/site/node_modules", "kind": "dependencies", "title": "site / node_modules",
             "explanation": "Packages installed for site.", "rebuild": "npm install", "bytes": 4096, "files": 1,
             "modified": 1700000000.123456789, "fingerprint": "ab" * 32, "complete": True, "selectable": True,
             "deviceID": None, "protection": None}
document = {"home": "/h", "roots": ["/h/Code"], "kept": [], "cancelled": False, "notes": ["note"], "items": [scan_item]}
seed("fuzz_scan_document", "one-item", json.dumps(document, separators=(",", ":")))
seed("fuzz_scan_document", "empty", json.dumps(dict(document, items=[], notes=[])))
odd = dict(scan_item, path="/h/Code/\ufffd", pathBytes="2f682f436f64652fff", modified=None, complete=False, selectable=False,
           kind="simulator", deviceID=udid, protection="Protected.")
seed("fuzz_scan_document", "odd-item", json.dumps(dict(document, items=[odd, scan_item], cancelled=True, kept=["/h/Code/site/node_modules"])))

when = datetime.datetime(2024, 5, 1, 12, 30, 15, 250000)
for fmt, name in ((plistlib.FMT_BINARY, "binary"), (plistlib.FMT_XML, "xml")):
    seed("fuzz_device_plist", name, plistlib.dumps({"UDID": udid, "lastBootedAt": when, "name": "iPhone", "state": 1,
                                                    "runtime": "r", "nested": {"a": [1, 2.5, True, b"\x00\x01"]}}, fmt=fmt))
    seed("fuzz_device_plist", name + "-no-date", plistlib.dumps({"lastBootedAt": "yesterday"}, fmt=fmt))
seed("fuzz_device_plist", "array", plistlib.dumps([when], fmt=plistlib.FMT_BINARY))

for name, text in (("absolute", "/Users/me/./Code//site/../app/"), ("relative", "a/../../b/./c"), ("root-up", "/../.."),
                   ("home", "/home/me\0/home/me/Code/x"), ("dots", "/a/.../..../.a/..b"), ("empty", "")):
    seed("fuzz_paths", name, text)

for name, argv in (("scan", ["scan", "--json", "--home", "/h", "--root=/h/Code", "--no-simulators"]),
                   ("plan", ["plan", "--scan", "-", "--acknowledge-simulator-risk", "--", "-x", "~/a"]),
                   ("help", ["help", "plan"]), ("help-flag", ["scan", "--help"]), ("version", ["--version"]),
                   ("conflict", ["scan", "--no-roots", "--root", "a", "--simulators=f", "--no-simulators"]),
                   ("suggest", ["suggest", "--home"]), ("empty", [])):
    seed("fuzz_arguments", name, "\0".join(argv))

rss_head = '<?xml version="1.0" encoding="utf-8"?>\n<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel><title>Quillet</title>'


def item(version, link, extra=""):
    return f"<item><title>Quillet {version}</title><sparkle:version>{version}</sparkle:version><link>{link}</link>{extra}</item>"


seed("fuzz_update_feed", "two-releases", rss_head + item("1.9", "https://example.org/1.9") +
     item("1.10", "https://example.org/1.10", "<sparkle:shortVersionString>1.10 (spring)</sparkle:shortVersionString>") +
     item("9.0", "https://example.org/beta", "<sparkle:channel>beta</sparkle:channel>") + "</channel></rss>")
seed("fuzz_update_feed", "enclosure", rss_head + '<item><title>Quillet 2.0</title><enclosure url="https://example.org/q-2.0.tar.gz" '
     'sparkle:version="2.0.1" sparkle:shortVersionString="2.0" length="1" type="application/octet-stream"/></item></channel></rss>')
seed("fuzz_update_feed", "no-address", rss_head + item("3.0", "ftp://example.org/3.0") + item("x.y", "https://e.org") + "</channel></rss>")
seed("fuzz_update_feed", "versions", "1.10.0\n1.9.99999999999999999999")
seed("fuzz_device_plist", "info-plist", plistlib.dumps({"SUPublicEDKey": "A" * 43 + "=", "SUFeedURL": "https://example.org/appcast.xml"},
                                                       fmt=plistlib.FMT_XML))
