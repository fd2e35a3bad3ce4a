"""Apps through the Harlix process and the simulated iPhone: the list (count, then batches of at most
10 in the device's order) and the icons checked against the image's apps.plist and icons, installs
of generated .ipa packages checked in the image and in a later list, uninstall and archive with the
device's progress, and the ids and data parts that must be refused."""

import datetime
import http.server
import io
import json
import os
import plistlib
import random
import threading
import zipfile

from harlix_process import PINNED_OFFSET, PINNED_TZ, READY, HarlixTestCase

import hlx_device  # noqa: E402 (the tools folder is importable through harlix_process)
import make_app_catalog as apps  # noqa: E402

LIST, ICONS, INSTALL, UNINSTALL, ARCHIVE = 501, 502, 504, 505, 506
PNG = apps.draw_icon(random.Random(7))


def local_text(utc_text):
    moment = datetime.datetime.strptime(utc_text, "%Y-%m-%dT%H:%M:%SZ")
    return (moment + PINNED_OFFSET).strftime("%Y-%m-%d %H:%M:%S")


def expected_app(entry):
    """The members of an app object, in order, for an apps.plist entry (duplicate keys kept)."""
    members = [(key, entry[key]) for key in ["ApplicationType", "CFBundleIdentifier", "CFBundleDisplayName",
                                             "CFBundleName", "CFBundleShortVersionString", "CFBundleVersion",
                                             "Path"] if key in entry]
    store = plistlib.loads(entry["iTunesMetadata"]) if "iTunesMetadata" in entry else {}
    present = {key for key, _ in members}
    for member, key in [("CFBundleIdentifier", "softwareVersionBundleId"),
                        ("CFBundleShortVersionString", "bundleShortVersionString"),
                        ("CFBundleVersion", "bundleVersion"), ("CFBundleDisplayName", "bundleDisplayName")]:
        if member not in present and key in store:
            members.append((member, store[key]))
    if "releaseDate" in store:
        members.append(("releaseDate", local_text(store["releaseDate"])))
    for member, key in [("artistName", "artistName"), ("itemName", "itemName"),
                        ("softwareIcon57x57URL", "softwareIcon57x57URL"), ("AppleID", "appleId")]:
        if key in store:
            members.append((member, store[key]))
    download = store.get("com.apple.iTunesStore.downloadInfo", {})
    if "purchaseDate" in download:
        members.append(("purchaseDate", local_text(download["purchaseDate"])))
    if "AppleID" in download.get("accountInfo", {}):
        members.append(("AppleID", download["accountInfo"]["AppleID"]))
    members += [("data-size", entry["DynamicDiskUsage"]), ("app-size", entry["StaticDiskUsage"])]
    return members


class IconServer:
    """A local HTTP server: /icon.png answers the test icon, anything else 404."""

    def __init__(self):
        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_GET(self):
                ok = self.path == "/icon.png"
                body = PNG if ok else b"<html>not found</html>"
                self.send_response(200 if ok else 404)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.base = "http://127.0.0.1:%d" % self.server.server_address[1]

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class AppTest(HarlixTestCase):
    first_request_id = 7001

    def attach(self, edit=None, **options):
        """Makes, edits (`edit(catalog)`) and attaches an image, starts Harlix; returns (udid, folder)."""
        image = self.lab.make(**options)
        if edit:
            catalog = apps.read_catalog(image["path"])
            edit(catalog)
            apps.write_catalog(image["path"], catalog)
        udid = self.lab.attach(image)
        self.start_harlix({"TZ": PINNED_TZ})
        self.next_event(READY, udid)
        return udid, hlx_device.image_folder(udid, root=self.lab.root)

    def user_apps(self, folder):
        return [a for a in apps.read_catalog(folder)["Applications"] if a["ApplicationType"] == "User"]

    def list_apps(self, udid):
        """The listed apps as [(bundle id, [(member, value), ...])], checking count and batch shapes."""
        progress, final = self.run_request(LIST, {"uuid": udid})
        self.assert_final(final, 0, udid)
        return self.counted_items(progress, 10, object_pairs_hook=list)

    def item_results(self, progress):
        """[(codes of the progress replies, packet status of the last reply, its info)] per item."""
        items, codes = [], []
        for _, status, record, _ in progress:
            if status == 2:
                codes.append(record["code"])
            else:
                items.append((codes, status, record.get("info")))
                codes = []
        self.assertEqual(codes, [], "progress after an item's last reply")
        return items

    def test_list_and_icons_follow_the_image(self):
        udid, folder = self.attach(apps=23)
        expected = self.user_apps(folder)
        self.assertEqual(len(expected), 23)
        listed = self.list_apps(udid)
        self.assertEqual([bundle_id for bundle_id, _ in listed], [a["CFBundleIdentifier"] for a in expected])
        for (bundle_id, members), entry in zip(listed, expected):
            self.assertEqual(members, expected_app(entry), bundle_id)

        wanted = [expected[0]["CFBundleIdentifier"], "com.example.unknown", "com.example/../x",
                  expected[22]["CFBundleIdentifier"]]
        progress, final = self.run_request(ICONS, {"uuid": udid}, wanted)
        self.assert_final(final, 0, udid)
        icons = [(record["info"]["bundle_id"], record["type"], data) for _, _, record, data in progress]
        self.assertEqual(icons, [(a["CFBundleIdentifier"], 1, apps.icon_bytes(folder, a))
                                 for a in (expected[0], expected[22])])

        # A device that hangs up in the middle of the listing: a failure, not a shorter list.
        hlx_device.set_fault(udid, root=self.lab.root, drop_after={"serviceStream": 3000})
        progress, final = self.run_request(LIST, {"uuid": udid})
        self.assertEqual(progress, [])
        self.assert_final(final, 24, udid)

    def test_install_reinstall_and_packages_that_are_skipped(self):
        udid, folder = self.attach(apps=2)
        server = IconServer()
        self.addCleanup(server.close)
        packages = {
            "big": apps.make_ipa("com.example.fresh", "Fresh", padding=50000, icon_url=server.base + "/icon.png"),
            "small": apps.make_ipa("com.example.fresh", "Fresh", version="1.1", seed=1,
                                   icon_url=server.base + "/missing.png"),
            "bare": apps.make_ipa("com.example.bare", with_metadata=False),
            "no-url": apps.make_ipa("com.example.nourl", "NoUrl", icon_url=""),
            "escape": apps.make_ipa("../escape", "Escape"),
        }
        paths = {}
        for name, data in packages.items():
            paths[name] = os.path.join(self.tmp.path, name + ".ipa")
            with open(paths[name], "wb") as f:
                f.write(data)

        progress, final = self.run_request(INSTALL, {"uuid": udid},
                                           [paths["bare"], paths["escape"], paths["big"], paths["no-url"]])
        self.assert_final(final, 0, udid)
        stages = [(r["stage"], r["type"], status) for _, status, r, _ in progress]
        one_install = [(0, 0, 2), (1, 1, 2)] + [(2, 0, 2)] * 6 + [(2, 0, 7)]
        self.assertEqual(stages, one_install * 2, "the bare and escaping packages send nothing")
        metadata = json.loads(progress[0][3])
        self.assertEqual((metadata["CFBundleIdentifier"], metadata["softwareIcon57x57URL"]),
                         ("com.example.fresh", server.base + "/icon.png"))
        self.assertEqual(progress[1][3], PNG)
        self.assertEqual(progress[10][3], b"", "no icon URL: an icon reply with empty data")
        self.assertEqual([r["code"] for _, _, r, _ in progress[2:9]], [5, 15, 40, 60, 80, 90, 0])
        staged = os.path.join(folder, "fs", "general_storage")
        self.assertEqual(sorted(os.listdir(staged)), ["com.example.fresh.ipa", "com.example.nourl.ipa"])
        listed = [bundle_id for bundle_id, _ in self.list_apps(udid)]
        self.assertEqual(listed[2:], ["com.example.fresh", "com.example.nourl"])

        # A smaller package of the same app: an exact copy on the device, the app in its place; an
        # icon server answering 404 is a failed fetch, so no icon reply.
        progress, final = self.run_request(INSTALL, {"uuid": udid}, [paths["small"]])
        self.assert_final(final, 0, udid)
        self.assertEqual([(r["stage"], status) for _, status, r, _ in progress][:2], [(0, 2), (2, 2)])
        with open(os.path.join(staged, "com.example.fresh.ipa"), "rb") as f:
            self.assertEqual(f.read(), packages["small"])
        listed = dict(self.list_apps(udid))
        self.assertEqual(list(listed)[2:], ["com.example.fresh", "com.example.nourl"])
        self.assertIn(("CFBundleShortVersionString", "1.1"), listed["com.example.fresh"])

    def test_refused_packages_are_removed_from_the_staging_folder(self):
        udid, folder = self.attach(apps=1)
        # Store metadata without an app inside: the device inspects the package and refuses it.
        hollow = io.BytesIO()
        with zipfile.ZipFile(hollow, "w") as z:
            z.writestr("iTunesMetadata.plist", plistlib.dumps({"softwareVersionBundleId": "com.example.hollow"}))
        packages = {"hollow": hollow.getvalue(), "good": apps.make_ipa("com.example.good", "Good", icon_url="")}
        paths = []
        for name, data in packages.items():
            paths.append(os.path.join(self.tmp.path, name + ".ipa"))
            with open(paths[-1], "wb") as f:
                f.write(data)
        staged = os.path.join(folder, "fs", "general_storage")
        progress, final = self.run_request(INSTALL, {"uuid": udid}, paths)
        self.assert_final(final, 0, udid)
        self.assertEqual([status for _, status, _, _ in progress if status != 2], [6, 7])
        self.assertEqual(os.listdir(staged), ["com.example.good.ipa"], "the accepted package stays, as before")
        self.assertEqual([bundle_id for bundle_id, _ in self.list_apps(udid)][1:], ["com.example.good"])

    def test_uninstall_and_archive_with_progress(self):
        udid, folder = self.attach(apps=3)
        first, second, third = [a["CFBundleIdentifier"] for a in self.user_apps(folder)]
        progress, final = self.run_request(UNINSTALL, {"uuid": udid}, [first, "com.example.unknown", "a/b", second])
        self.assert_final(final, 0, udid)
        self.assertEqual(self.item_results(progress), [
            ([50, 90], 7, first), ([], 6, "com.example.unknown"), ([50, 90], 7, second)])
        self.assertEqual([a["CFBundleIdentifier"] for a in self.user_apps(folder)], [third])

        # A device of version 9 or later does not archive.
        progress, final = self.run_request(ARCHIVE, {"uuid": udid}, [third])
        self.assert_final(final, 0, udid)
        self.assertEqual(self.item_results(progress), [([], 6, None)])
        self.assertEqual(apps.read_catalog(folder)["Archives"], [])

    def test_archive_on_an_older_device(self):
        udid, folder = self.attach(apps=2, product_version="8.4.1")
        first = self.user_apps(folder)[0]["CFBundleIdentifier"]
        progress, final = self.run_request(ARCHIVE, {"uuid": udid}, [first, "com.example.unknown"])
        self.assert_final(final, 0, udid)
        self.assertEqual(self.item_results(progress), [([20, 60, 90], 7, None), ([], 6, None)])
        self.assertEqual(apps.read_catalog(folder)["Archives"], [first])

    def test_quoted_bundle_id_and_bad_data_parts(self):
        quoted, backslash = 'com.example."quoted', "com.example.back\\slash"

        def rename(catalog):
            user = [a for a in catalog["Applications"] if a["ApplicationType"] == "User"]
            user[0]["CFBundleIdentifier"], user[1]["CFBundleIdentifier"] = quoted, backslash

        udid, _ = self.attach(edit=rename, apps=2)
        self.assertEqual([bundle_id for bundle_id, _ in self.list_apps(udid)], [quoted, backslash])
        # An id with a backslash is listed, but never sent on as an item.
        progress, final = self.run_request(UNINSTALL, {"uuid": udid}, [backslash, quoted])
        self.assert_final(final, 0, udid)
        self.assertEqual(self.item_results(progress), [([50, 90], 7, quoted)])
        for code in (ICONS, INSTALL, UNINSTALL, ARCHIVE):
            for data in ("not json", {"a": 1}, [1, 2]):
                _, final = self.run_request(code, {"uuid": udid}, data)
                self.assert_final(final, 8, udid)
