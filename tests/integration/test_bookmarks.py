"""Bookmarks through the Harlix process and the simulated iPhone: the trees of request 1400 compared
member by member with the image's bookmarks.plist as plistlib reads it (a parent loop included), a
folder created with its bookmarks in one change, a subtree deleted, a tree deeper than the service
reads listed down to that depth with what was left out named, and the requests that must fail."""

import json
import plistlib
import unittest

from sync_harness import ENTITY, SYNC_REFUSED, SyncTestCase

import make_address_book as ab  # noqa: E402
import make_sync_data as sd  # noqa: E402

LIST, WRITE, DELETE = 1400, 1401, 1402
MEMBERS = ["id", "name", "com_apple_syncservices_RecordEntityName", "position", "url", "children"]


def expected_trees(records):
    """The trees of the top-level records, ordered by position (then id); a record already on the
    path from the root is left out of its own subtree."""
    children = {}
    for record_id, record in records.items():
        for parent in dict.fromkeys(record.get("parent", [])):
            if parent in records:
                children.setdefault(parent, []).append(record_id)

    def ordered(ids):
        return sorted(ids, key=lambda i: (records[i].get("position", 0), i))

    def tree(record_id, path):
        record = records[record_id]
        path = path | {record_id}
        return {"id": record_id, "name": record.get("name", ""), MEMBERS[2]: record[ENTITY],
                "position": record.get("position", 0), "url": record.get("url", ""),
                "children": [tree(c, path) for c in ordered(children.get(record_id, [])) if c not in path]}

    return [tree(i, set()) for i in ordered(i for i, r in records.items() if "parent" not in r)]


def bookmarks_of(image):
    return sd.read_store(image, sd.BOOKMARKS_FILE)["records"]


def by_name(records, name):
    [record_id] = [i for i, r in records.items() if r.get("name") == name]
    return record_id


class BookmarkTest(SyncTestCase):
    first_request_id = 8001

    def check_list(self, udid, image):
        records = bookmarks_of(image)
        count, trees = self.run_list(LIST, udid)
        self.assertEqual(count, sum(1 for r in records.values() if r[ENTITY] == sd.BOOKMARK))
        self.assertEqual(trees, expected_trees(records))
        self.assertEqual(list(trees[0]), MEMBERS)
        return trees

    def test_trees_are_listed_by_position_across_batches_and_a_parent_loop_ends(self):
        def edit(store):
            records = store["records"]
            nested = by_name(records, "Nested")
            # Two folders that hold each other, one of them also inside "Nested".
            loop_a, loop_b = str(store["nextRecordId"]), str(store["nextRecordId"] + 1)
            records[loop_a] = {ENTITY: sd.FOLDER, "name": "Loop A", "position": 1, "parent": [nested, loop_b]}
            records[loop_b] = {ENTITY: sd.FOLDER, "name": "Loop B", "position": 0, "parent": [loop_a]}
            store["nextRecordId"] += 2

        # Bookmarks come in earlier batches than their folders: the tree is linked once all are in.
        settings = {"batchRecords": 4, "entityOrder": {"com.apple.Bookmarks": [sd.BOOKMARK, sd.FOLDER]}}
        udid, image = self.attach(sync_data={"bookmarks": 12}, settings=settings, edits={sd.BOOKMARKS_FILE: edit})
        self.start(udid)
        trees = self.check_list(udid, image)
        self.assertEqual([(t["name"], t["position"]) for t in trees],
                         [("Menu & <more>", -1), ("Top", 2), ("Favourites \u2605", 5)])
        favourites = trees[2]["children"]
        self.assertEqual([c["name"] for c in favourites[:3]], ["Fav 0", "Fav 1", "Fav 2"])
        shared = "Shared \U0001f310"
        self.assertIn(shared, [c["name"] for c in favourites])
        self.assertIn(shared, [c["name"] for c in trees[0]["children"]])
        names = [m[0] for m in self.computer_messages(image)]
        self.assertGreater(names.count("SDMessageAcknowledgeChangesFromDevice"), 1, "several device batches")

    def test_a_deep_tree_is_listed_to_the_depth_the_service_reads_and_says_what_it_left_out(self):
        def chain(store, name, length, parent=None):
            """`length` records, each inside the one before (the last a bookmark); their ids."""
            ids = []
            for level in range(1, length + 1):
                record_id = str(store["nextRecordId"])
                store["nextRecordId"] += 1
                record = {ENTITY: sd.BOOKMARK if level == length else sd.FOLDER, "name": "%s %d" % (name, level),
                          "position": 0}
                if level == length:
                    record["url"] = "https://deep.example/%s" % name
                if parent is not None:
                    record["parent"] = [parent]
                store["records"][record_id] = record
                ids.append(record_id)
                parent = record_id
            return ids

        def edit(store):
            store["records"].clear()
            chain(store, "Deep", 5000)
            chain(store, "Whole", 32)
            # A loop at the cut: the deepest listed folder holds itself and its parent besides its child.
            loop = chain(store, "Loop", 40)
            store["records"][loop[31]]["parent"] = [loop[30]]
            store["records"][loop[32]]["parent"] = [loop[31]]
            store["records"][loop[30]]["parent"] = [loop[29], loop[31]]
            store["records"][loop[31]]["parent"] = [loop[30], loop[31]]

        udid, image = self.attach(sync_data={"bookmarks": 0}, edits={sd.BOOKMARKS_FILE: edit})
        self.start(udid)
        progress, final = self.run_request(LIST, {"uuid": udid})
        self.assert_final(final, 0, udid)
        self.assertEqual(progress[0][2]["info"], {"Count": 3}, "every bookmark is counted")
        trees = {}
        for _, _, _, data in progress[1:]:
            depth = deepest = 0  # the JSON nesting of the record's text, strings skipped
            in_string = escaped = False
            for c in data.decode("utf-8"):
                if in_string:
                    in_string, escaped = (escaped or c != '"'), (not escaped and c == "\\")
                elif c == '"':
                    in_string = True
                elif c in "[{":
                    depth += 1
                    deepest = max(deepest, depth)
                elif c in "]}":
                    depth -= 1
            self.assertLessEqual(deepest, 64)
            tree = json.loads(data)
            trees[tree["name"].split()[0]] = tree

        def levels(tree):
            """The records from the root down the first child, each without its children."""
            out = []
            while tree is not None:
                out.append({k: v for k, v in tree.items() if k != "children"})
                tree = tree["children"][0] if tree["children"] else None
            return out

        deep = levels(trees["Deep"])
        self.assertEqual([r["name"] for r in deep], ["Deep %d" % i for i in range(1, 33)])
        self.assertEqual([r for r in deep if "children_omitted" in r], [dict(deep[-1], children_omitted=1)])
        self.assertEqual(list(deep[-1]), MEMBERS[:-1] + ["children_omitted"])
        whole = levels(trees["Whole"])
        self.assertEqual([(r["name"], r["url"]) for r in whole[-2:]],
                         [("Whole 31", ""), ("Whole 32", "https://deep.example/Whole")])
        self.assertFalse([r for r in whole if "children_omitted" in r])
        loop = levels(trees["Loop"])
        self.assertEqual((len(loop), loop[-1]["name"], loop[-1].get("children_omitted")), (32, "Loop 32", 1))
        # Nothing was lost on the device.
        self.assertEqual(len(bookmarks_of(image)), 5000 + 32 + 40)

    def test_a_folder_is_made_with_its_bookmarks_and_a_subtree_is_deleted(self):
        udid, image = self.attach(sync_data={"bookmarks": 3})
        self.start(udid)
        change = plistlib.dumps(["SDMessageProcessChanges", "com.apple.Bookmarks", {
            "new-folder": {ENTITY: sd.FOLDER, "name": "New <F> & co", "position": 7},
            "new-1": {ENTITY: sd.BOOKMARK, "name": "One", "url": "https://one.example/?a&b", "position": 1,
                      "parent": ["new-folder"]},
            "new-0": {ENTITY: sd.BOOKMARK, "name": "Zero", "url": "https://zero.example/", "position": 0,
                      "parent": ["new-folder"]}}, False,
            {"SyncDeviceLinkEntityNamesKey": [sd.FOLDER, sd.BOOKMARK]}], fmt=plistlib.FMT_XML)
        progress, final = self.run_request(WRITE, {"uuid": udid}, change)
        self.assert_final(final, 0, udid)
        records = bookmarks_of(image)
        folder = by_name(records, "New <F> & co")
        self.assertEqual(records[by_name(records, "One")]["parent"], [folder])
        self.assertEqual(records[by_name(records, "Zero")]["parent"], [folder])
        trees = self.check_list(udid, image)
        self.assertEqual([c["name"] for c in trees[-1]["children"]], ["Zero", "One"])

        favourites = by_name(records, "Favourites \u2605")
        progress, final = self.run_request(DELETE, {"uuid": udid}, {"id": favourites})
        self.assert_final(final, 0, udid)
        announce = [m for m in self.computer_messages(image) if m[0] == "SDMessageSyncDataClassWithDevice"]
        self.assertEqual(announce[0][4], 106)
        after = bookmarks_of(image)
        # The folder goes with everything that only it (or what goes with it) holds.
        gone = {favourites}
        while True:
            more = {i for i, r in records.items() if r.get("parent") and set(r["parent"]) <= gone} - gone
            if not more:
                break
            gone |= more
        self.assertEqual(set(records) - set(after), gone)
        self.assertGreater(len(gone), 5)
        menu = by_name(records, "Menu & <more>")
        self.assertEqual(after[by_name(records, "Shared \U0001f310")]["parent"], [menu])
        self.check_list(udid, image)
        listing = [s for s in ab.read_transcripts(image)
                   if any(m["message"][0] == "SDMessageGetAllRecordsFromDevice" for m in s)]
        announce = [m["message"] for m in listing[0] if m["message"][0] == "SDMessageSyncDataClassWithDevice"]
        self.assertEqual(announce[0][4], 102, "the list announces 102")

    def test_bad_requests_and_failed_sessions_are_reported(self):
        udid, image = self.attach(sync_data={"bookmarks": 0})
        self.start(udid)
        self.assert_bad_data(udid, [(WRITE, None), (WRITE, b"not a plist"),
                                    (WRITE, plistlib.dumps(["SDMessagePing", "x"])), (DELETE, {}),
                                    (DELETE, {"id": 3}), (DELETE, b"not json")])
        self.assertEqual(ab.read_transcripts(image), [], "no request above opened a session")
        self.peer.close()
        self.peer = None
        self.assert_sessions_fail([({"refuseClasses": ["com.apple.Bookmarks"]}, LIST, None, SYNC_REFUSED),
                                   ({"dropAnswerTo": "SDMessageProcessChanges"}, DELETE, {"id": "1"}, 24)],
                                  sd.BOOKMARKS_FILE, sync_data={"bookmarks": 0})


if __name__ == "__main__":
    unittest.main()
