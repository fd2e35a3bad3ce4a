#!/usr/bin/env python3
"""What the desktop shows of a simulated iPhone, against the device service Harlix that the relay starts,
looked at where a person would look: an export's notice says which folder it wrote to (and, for device
files, how many) and opens over the
feature pages alone (never over the section list or a page's toolbar), at the size the window opens with
and maximised; a contact with a long name and a long group shows both whole in the list and in the
preview; when the current device changes or leaves with another attached, the section list's counts and
the page shown are those of the device that is current then. Each state is kept as a screenshot. Every wait is a poll against a deadline.
"""
import plistlib
from pathlib import Path

import relay_service_scenario
import wine_session
from wine_session import ARGS, wait_until

MAXIMISE = "\u25A1"  # the title bar's maximise button
LONG_FIRST = "Maximiliane Alexandrina"
LONG_LAST = "von Wittelsbach-Hohenzollern"
LONG_GROUP = "Family and Friends from Munich and Berlin"
SHEET_COLOUR = "#FFFCD2"  # the notice sheet's background


class ScreenScenario(relay_service_scenario.RelayHarness):
    """The relay scenario's set-up and helpers (the lab, Trevane with its relay trace, sections, exports,
    reading list views) for the scenarios below alone."""
    work_prefix = "trevane-screen-"

    def geometry(self, child_class, parent=None):
        """(x, y, width, height) on the screen of the visible window of `child_class` in the main frame (the
        one inside a window of the class `parent` when given)."""
        code, out = self.display.probe("children", "TrevaneMainFrame", child_class)
        self.assertEqual(code, 0)
        for line in out.splitlines():
            visible, x, y, w, h, inside = line.split()
            if visible == "1" and parent in (None, inside):
                return int(x), int(y), int(w), int(h)
        raise AssertionError(f"no visible {child_class} in {parent}:\n{out}")

    def frame(self):
        code, out = self.display.probe("wait", "TrevaneMainFrame", "10000")
        self.assertEqual(code, 0)
        return tuple(map(int, out.split()))

    def assert_seen(self, shot, sheet):
        """The screenshot `shot` shows the open sheet: its colour right of its text, not a window over it."""
        from trevane_scenarios import pixel
        x, y, w, h = sheet
        self.assertEqual(pixel(shot, x + w - 60, y + h // 2), SHEET_COLOUR, f"the notice at {sheet} is covered")

    def assert_over_the_pages(self, sheet, page_class):
        """The sheet lies right of the section list, below the page's toolbar and inside the frame."""
        sections = self.geometry("QuarnelSectionList")
        page = self.geometry(page_class)
        body = self.geometry("SysListView32", page_class)  # the page's list starts right under its toolbar
        frame = self.frame()
        x, y, w, h = sheet
        self.assertGreaterEqual(x, sections[0] + sections[2], f"the section list {sections} is left of {sheet}")
        self.assertGreaterEqual(y, body[1], f"the toolbar above the list {body} stays clear of {sheet}")
        self.assertGreater(body[1], page[1], "the page has its toolbar above the list")
        self.assertLessEqual(x + w, frame[0] + frame[2])
        self.assertLessEqual(y + h, frame[1] + frame[3])
        self.assertGreaterEqual(w, page[2] - 2, "the sheet spans the page")

    def test_an_export_says_where_it_wrote_in_a_notice_over_the_pages_alone(self):
        import hlx_device
        udid = self.lab.attach(self.lab.make())
        image = Path(hlx_device.image_folder(udid, root=self.lab.root))
        notes = len(plistlib.loads((image / "notes.plist").read_bytes())["records"])
        self.exports = []
        for stale in ("Notes.html", "Notes.xml"):
            for old in (Path(ARGS.prefix) / "drive_c" / "users").glob(f"*/*/{stale}"):
                old.unlink()
        self.start_trevane()
        self.wait_trace(rf"^> ZERITH_COMMAND_GET_DEVICE_INFO key={udid} name=", "the device named")
        opened = self.frame()
        self.choose_section(4)
        self.wait_cells("SysListView32", lambda r: len(r) == notes, "the notes listed")
        # Every note checked by the list header's box, then exported as HTML into the folder offered.
        self.assertEqual(self.display.probe("click", "TrevaneMainFrame", "SysHeader32", "10", "10")[0], 0)
        self.export_from_page("Export", 1, "NOTE", 61)
        folder = self.wait_trace(r"^ZERITH_COMMAND_DO_NOTE code=61 .*folder=", "the export").split("folder=", 1)[1]
        sheet = self.open_notice(f"Exported to {folder}")
        self.assert_seen(self.display.screenshot("notice-export.png"), sheet)
        self.assert_over_the_pages(sheet, "DhNoteDelegate")

        # Maximised, once the first notice has gone: the next one follows the pages' new place and width, and
        # shows above the frame (which Wine on a virtual display stacks above the windows it owns).
        wait_until(lambda: self.display.probe("count", "#32770")[1].strip() == "0", what="the notice hiding")
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", MAXIMISE)[0], 0)
        wait_until(lambda: self.frame()[2] > opened[2] or None, what="the frame maximised")
        self.export_from_page("Export", 2, "NOTE", 60)
        sheet = self.open_notice(f"Exported to {folder}")
        self.assert_seen(self.display.screenshot("notice-export-maximised.png"), sheet)
        self.assert_over_the_pages(sheet, "DhNoteDelegate")
        self.assertGreater(sheet[2], opened[2] - 202, "wider with the window")
        for path in self.exports:
            path.unlink()
        self.close_trevane()

    def test_a_voice_memo_export_says_how_many_files_it_wrote_and_where(self):
        import sqlite3
        import hlx_device
        udid = self.lab.attach(self.lab.make(media={"family": "ios5"}))
        fs = Path(hlx_device.image_folder(udid, root=self.lab.root)) / "fs"
        db = sqlite3.connect(f"file:{fs / 'Recordings/Recordings.db'}?immutable=1", uri=True)
        paths = [p[p.index("/Recordings/"):] for (p,) in db.execute(
            "select ZPATH from ZRECORDING where ZDURATION >= 0 and ZPATH is not null order by ZDATE asc")
            if "/Recordings/" in p]
        db.close()
        row = next(i for i, path in enumerate(paths) if (fs / path.lstrip("/")).exists())
        self.start_trevane()
        self.wait_trace(rf"^> ZERITH_COMMAND_GET_DEVICE_INFO key={udid} name=", "the device named")
        self.frame()
        self.choose_section(10)
        self.wait_cells("SysListView32", lambda r: len(r) == len(paths), "the memos listed")
        folder = self.work / "memo export"
        folder.mkdir()
        self.export_checked(row, wine_session.windows_path(folder))
        self.wait_trace(rf"^> ZERITH_COMMAND_DO_FILE key={udid} code=109 value2=0 value3=1$", "the memo exported")
        self.assertEqual(len(list(folder.iterdir())), 1)
        sheet = self.open_notice(f"1 file exported to {wine_session.windows_path(folder)}")
        self.display.screenshot("notice-memo-export.png")
        self.assert_over_the_pages(sheet, "DhRecordingDelegate")
        self.close_trevane()

    def test_a_long_name_and_group_show_whole_in_the_contacts_list_and_preview(self):
        made = self.lab.make(contacts=1, contact_groups=1)
        book_path = Path(made["path"]) / "addressbook.plist"
        raw = book_path.read_bytes()
        book = plistlib.loads(raw)
        for record in book["records"].values():
            if record["com.apple.syncservices.RecordEntityName"] == "com.apple.contacts.Contact":
                record.update({"first name": LONG_FIRST, "last name": LONG_LAST})
                record.pop("middle name", None)
            elif record["com.apple.syncservices.RecordEntityName"] == "com.apple.contacts.Group":
                record["name"] = LONG_GROUP
        book_path.write_bytes(plistlib.dumps(book, fmt=plistlib.FMT_BINARY if raw.startswith(b"bplist") else
                                             plistlib.FMT_XML))
        udid = self.lab.attach(made)
        name = f"{LONG_FIRST} {LONG_LAST}"
        self.start_trevane()
        self.wait_trace(rf"^> ZERITH_COMMAND_GET_DEVICE_INFO key={udid} name=", "the device named")
        opened = self.frame()
        self.choose_section(2)
        rows = self.wait_cells("SysListView32", lambda r: len(r) == 1, "the contact listed")
        self.assertIn(name, rows[0])
        preview = lambda: self.display.probe("text", "TrevaneMainFrame", "DhContactDetailView")[1].splitlines()
        shown = wait_until(lambda: (lambda lines: lines if lines and lines[0].strip() == name else None)(preview()),
                           what="the contact previewed")
        self.assertEqual(shown[1], f"Group: {LONG_GROUP}")
        self.display.screenshot("contacts-long-name.png")

        # Maximised, the list has the room: the name column is as wide as the name with the row's image.
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", MAXIMISE)[0], 0)
        wait_until(lambda: self.frame()[2] > opened[2] or None, what="the frame maximised")
        code, width = self.display.probe("text-width", "16", "0", name)
        self.assertEqual(code, 0)
        def columns():
            code, out = self.display.probe("columns", "TrevaneMainFrame", "SysListView32")
            return dict(line.split("\t") for line in out.splitlines()) if code == 0 else {}
        wide = wait_until(lambda: (lambda c: c if int(c.get("Name", 0)) >= int(width) + 30 else None)(columns()),
                          what=f"the name column {int(width) + 30} wide")
        code, phone = self.display.probe("text-width", "16", "0", "Phone Number")
        self.assertGreaterEqual(int(wide["Phone Number"]), int(phone), "the phones keep their column")
        self.display.screenshot("contacts-long-name-maximised.png")
        self.close_trevane()


    def sections_shown(self):
        code, out = self.display.probe("text", "TrevaneMainFrame", "QuarnelSectionList")
        self.assertEqual(code, 0)
        return [line for line in out.splitlines() if line]

    def test_counts_and_pages_follow_the_current_device_when_it_changes_or_leaves(self):
        ada = self.lab.attach(self.lab.make(name="Ada's iPhone", seed=21, contacts=5, apps=3))
        bo = self.lab.attach(self.lab.make(name="Bo's iPhone", seed=22, contacts=2, apps=5))
        self.start_trevane()
        for udid in (ada, bo):
            self.wait_trace(rf"^> ZERITH_COMMAND_GET_DEVICE_INFO key={udid} name=", "the devices named")
        title = lambda: self.display.probe("text", "TrevaneMainFrame", "LunderTitleBar")[1].strip()
        wait_until(lambda: title() == "Ada's iPhone" or None, what="Ada's iPhone current")
        # Ada's apps and contacts, counted and listed.
        self.choose_section(21)
        self.wait_cells("SysListView32", lambda r: len(r) == 3, "Ada's three apps")
        self.choose_section(2)
        self.wait_cells("SysListView32", lambda r: len(r) == 5, "Ada's five contacts")
        wait_until(lambda: {"Contacts (5)", "Apps (3)"} <= set(self.sections_shown()) or None, what="Ada's counts")

        # Switched to Bo's iPhone from the title bar: none of Ada's counts stay; the section shown is Bo's,
        # loaded and counted for him.
        self.assertEqual(self.display.probe("press-in", "TrevaneMainFrame", "Switch device")[0], 0)
        self.assertEqual(self.display.probe("menu", "2", "10000")[0], 0)
        wait_until(lambda: title() == "Bo's iPhone" or None, what="Bo's iPhone current")
        self.wait_cells("SysListView32", lambda r: len(r) == 2, "Bo's two contacts")
        shown = wait_until(lambda: (lambda l: l if "Contacts (2)" in l else None)(self.sections_shown()),
                           what="Bo's contacts counted")
        self.assertNotIn("Apps (3)", shown, "Ada's apps count is not shown for Bo")
        self.assertIn("Apps", shown)
        self.display.screenshot("device-switched.png")

        # Bo's iPhone leaves while Ada's is attached: Ada's becomes current with her own counts and page.
        self.lab.detach(bo)
        wait_until(lambda: title() == "Ada's iPhone" or None, what="Ada's iPhone current again")
        self.wait_cells("SysListView32", lambda r: len(r) == 5, "Ada's contacts shown again")
        shown = wait_until(lambda: (lambda l: l if "Contacts (5)" in l else None)(self.sections_shown()),
                           what="Ada's counts again")
        self.assertNotIn("Contacts (2)", shown)
        self.assertIn("Apps (3)", shown)
        self.display.screenshot("device-left-second-attached.png")
        self.close_trevane()


if __name__ == "__main__":
    relay_service_scenario.run_service_scenarios()
