"""A NUL in a text that a write would store is refused with 8 before any session opens, whichever
route carries it (a JSON escape, a character reference in XML, a string of a binary list), in the
writes of contacts, bookmarks, calendars and notes; every store stays as it was."""

import json
import plistlib
import unittest

from sync_harness import ENTITY, SyncTestCase

import make_address_book as ab  # noqa: E402
import make_sync_data as sd  # noqa: E402

WRITE_CONTACT, WRITE_BOOKMARKS, WRITE_CALENDAR, ADD_NOTE = 102, 1401, 1501, 1201


def changes(data_class, records, fmt=plistlib.FMT_XML, nul_marker=None):
    """A changes message; in XML every `nul_marker` becomes the character reference &#0;."""
    message = plistlib.dumps(["SDMessageProcessChanges", data_class, records], fmt=fmt)
    if nul_marker is not None:
        message = message.replace(nul_marker.encode(), b"&#0;")
    return message


class NulTextTest(SyncTestCase):
    def test_a_nul_in_any_written_text_is_refused_and_nothing_is_stored(self):
        udid, image = self.attach(contacts=2, sync_data={"bookmarks": 2, "calendars": 1, "notes": 2})
        self.start(udid)
        contact = changes("com.apple.Contacts",
                          {"tmp.1": {ENTITY: ab.CONTACT, "first name": "AnXXn"}}, nul_marker="XX").decode()
        bookmark = {ENTITY: sd.BOOKMARK, "name": "One", "url": "https://one.example/", "position": 1}
        calendar = {ENTITY: sd.CALENDAR, "title": "HoXXme", "read only": 0}
        cases = [
            ("contact, XML reference", WRITE_CONTACT, json.dumps({ab.CONTACT: contact})),
            ("bookmark name, XML reference",
             WRITE_BOOKMARKS, changes("com.apple.Bookmarks", {"n": dict(bookmark, name="OXXne")}, nul_marker="XX")),
            ("bookmark id, XML reference", WRITE_BOOKMARKS, changes("com.apple.Bookmarks", {"nXX1": bookmark},
                                                                     nul_marker="XX")),
            ("bookmark name, binary list", WRITE_BOOKMARKS,
             changes("com.apple.Bookmarks", {"n": dict(bookmark, name="O\0ne")}, fmt=plistlib.FMT_BINARY)),
            ("bookmark key, binary list", WRITE_BOOKMARKS,
             changes("com.apple.Bookmarks", {"n": dict(bookmark, **{"na\0me": "x"})}, fmt=plistlib.FMT_BINARY)),
            ("calendar title, XML reference", WRITE_CALENDAR,
             json.dumps({sd.CALENDAR: changes("com.apple.Calendars", {"c": calendar}, nul_marker="XX").decode()})),
            ("note title, JSON escape", ADD_NOTE, json.dumps({"id": "n", "title": "Sh\u0000op", "content": "x"})),
        ]
        stores = [ab.STORE_FILE, sd.BOOKMARKS_FILE, sd.CALENDARS_FILE, sd.NOTES_FILE]
        before = {name: sd.read_store(image, name) for name in stores}
        for name, code, data in cases:
            with self.subTest(case=name):
                progress, final = self.run_request(code, {"uuid": udid}, data)
                self.assert_final(final, 8, udid)
                self.assertEqual(progress, [])
        self.assertEqual(ab.read_transcripts(image), [], "a session was opened")
        self.assertEqual({name: sd.read_store(image, name) for name in stores}, before)


if __name__ == "__main__":
    unittest.main()
