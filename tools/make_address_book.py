#!/usr/bin/env python3
"""The address book of a simulated device image: what the device's synchronisation service
("com.apple.mobilesync", class "com.apple.Contacts") serves and changes. make_device_image.py calls
write_address_book(); tests read the book back with read_address_book() and steer the service
with write_sync_settings(). Standard library only.

The book is <image>/addressbook.plist: {"nextRecordId": n, "records": {id: record}}. Every record
holds "com.apple.syncservices.RecordEntityName" and its fields under their real names; ids are
numeric texts shared by all entities, handed out in the order the records are made (a contact, then
its sub-records, then the next contact; the groups last), so a book of more than nine records has ids
whose byte order ("10" < "9") differs from their numeric order. Dates are plist dates, and never
stand inside arrays. Sub-records name their contacts in "contact" (a home number every 25th contact
is shared with the contact before it); groups name theirs in "members".

    make_address_book.py IMAGE [--seed N] [--contacts N] [--groups N]   (writes IMAGE/addressbook.plist)
"""

import argparse
import datetime
import json
import os
import plistlib
import random
import sys

STORE_FILE = "addressbook.plist"
SETTINGS_FILE = "sync.json"
ENTITY_KEY = "com.apple.syncservices.RecordEntityName"
CONTACT = "com.apple.contacts.Contact"
GROUP = "com.apple.contacts.Group"
PHONE = "com.apple.contacts.Phone Number"
EMAIL = "com.apple.contacts.Email Address"
STREET = "com.apple.contacts.Street Address"
URL = "com.apple.contacts.URL"
RELATED = "com.apple.contacts.Related Name"
IM = "com.apple.contacts.IM"
DATE = "com.apple.contacts.Date"
SUB_ENTITIES = [PHONE, EMAIL, STREET, URL, RELATED, IM, DATE]
DEFAULT_CONTACTS = 8
DEFAULT_GROUPS = 2
LARGE_CONTACTS = 10000
LARGE_GROUPS = 50

FIRST_NAMES = ["Anna", "Bj\u00f6rn", "Chlo\u00eb", "David", "Elif", "Fran\u00e7ois", "Grace", "Hiroshi",
               "Ines", "Jo\u00e3o", "Kai", "Lena", "Mar\u00eda", "Nils", "Olga", "Pedro", "\u674e\u534e", "Zo\u00eb"]
LAST_NAMES = ["Albrecht", "Brown", "Castro", "D\u00fcrr", "Evans", "Fischer", "Garc\u00eda", "Hansen", "Ito",
              "Jensen", "Kowalski", "Lefebvre", "M\u00fcller", "Nakamura", "O'Brien", "Peters", "Smith & Sons"]
COMPANIES = ["Acme <Labs>", "Blue & Green Ltd", "Contoso", "Dunmore GmbH", "\u00c9toile SARL"]
DEPARTMENTS = ["Sales", "R&D", "Support", "Finance"]
TITLES = ["Engineer", "Director", "Designer", "Consultant"]
CITIES = [("Berlin", "BE", "10115", "Germany", "de"), ("Lyon", "", "69001", "France", "fr"),
          ("Austin", "TX", "73301", "United States", "us"), ("Kyoto", "", "600-8216", "Japan", "jp")]
IM_SERVICES = ["JabberInstant", "SkypeInstant", "ICQInstant"]


def _phone(rng):
    return "+49 %d %07d" % (150 + rng.randrange(30), rng.randrange(10 ** 7))


def _moment(rng, first_year, last_year):
    """A date at midnight UTC (plistlib writes naive datetimes as UTC)."""
    return datetime.datetime(rng.randrange(first_year, last_year), 1 + rng.randrange(12), 1 + rng.randrange(28))


def _image(rng, size):
    return b"\x89PNG\r\n\x1a\n" + bytes(rng.randrange(256) for _ in range(size))


def make_address_book(rng, contacts=DEFAULT_CONTACTS, groups=DEFAULT_GROUPS, images=1):
    """The book as a dict; `images` contacts (the first ones) carry an "image"."""
    records = {}
    next_id = [1]

    def add(record):
        record_id = str(next_id[0])
        next_id[0] += 1
        records[record_id] = record
        return record_id

    def sub(entity, owners, **fields):
        record = {ENTITY_KEY: entity, "contact": list(owners)}
        record.update(fields)
        return add(record)

    contact_ids = []
    for index in range(contacts):
        first = FIRST_NAMES[rng.randrange(len(FIRST_NAMES))]
        last = LAST_NAMES[rng.randrange(len(LAST_NAMES))]
        contact = {ENTITY_KEY: CONTACT, "first name": first, "last name": last}
        if rng.random() < 0.3:
            contact["middle name"] = FIRST_NAMES[rng.randrange(len(FIRST_NAMES))]
        if rng.random() < 0.2:
            contact["nickname"] = first[:3]
        if rng.random() < 0.5:
            contact["company name"] = COMPANIES[rng.randrange(len(COMPANIES))]
            contact["department"] = DEPARTMENTS[rng.randrange(len(DEPARTMENTS))]
            contact["job title"] = TITLES[rng.randrange(len(TITLES))]
        if rng.random() < 0.3:
            contact["notes"] = "Met at the fair.\nLikes tea & <cake>.\t\u2615"
        if index % 2 == 0:
            contact["birthday"] = _moment(rng, 1950, 2005)
        if index < images:
            contact["image"] = _image(rng, 200 + rng.randrange(800))
        contact_id = add(contact)
        for _ in range(rng.randrange(1, 4)):
            fields = {"value": _phone(rng), "type": rng.choice(["mobile", "home", "work"])}
            if rng.random() < 0.2:
                fields["label"] = "Weekend"
            sub(PHONE, [contact_id], **fields)
        if index % 25 == 24 and contact_ids:
            # One home number shared by two contacts: a sub-record with two owners.
            sub(PHONE, [contact_ids[-1], contact_id], value=_phone(rng), type="home")
        for number in range(rng.randrange(0, 3)):
            sub(EMAIL, [contact_id], value="%s.%s%d@example.com" % (first.lower(), index, number),
                type=rng.choice(["home", "work"]))
        if rng.random() < 0.5:
            city, state, postal, country, code = CITIES[rng.randrange(len(CITIES))]
            address = {"street": "%d Long Street\nBuilding %d" % (1 + rng.randrange(200), 1 + rng.randrange(9)),
                       "city": city, "postal code": postal, "country": country, "country code": code,
                       "type": rng.choice(["home", "work"])}
            if state:
                address["state"] = state
            sub(STREET, [contact_id], **address)
        if rng.random() < 0.3:
            sub(URL, [contact_id], value="https://example.com/%d?a=1&b=2" % index, type="homepage")
        if rng.random() < 0.2:
            sub(RELATED, [contact_id], value=FIRST_NAMES[rng.randrange(len(FIRST_NAMES))],
                type=rng.choice(["mother", "father", "partner"]), label="Family")
        if rng.random() < 0.2:
            sub(IM, [contact_id], user="%s%d" % (first.lower(), index), service=rng.choice(IM_SERVICES),
                type=rng.choice(["home", "work"]))
        if rng.random() < 0.2:
            sub(DATE, [contact_id], value=_moment(rng, 1990, 2020), type="anniversary")
        contact_ids.append(contact_id)

    for index in range(groups):
        group = {ENTITY_KEY: GROUP, "name": ["Family", "Work & Friends", "Club <A>", "Neighbours"][index % 4]
                 + ("" if index < 4 else " %d" % index)}
        members = sorted(rng.sample(contact_ids, min(len(contact_ids), rng.randrange(0, 12))), key=int)
        if members and index % 3 != 2:
            group["members"] = members
        add(group)
    return {"nextRecordId": next_id[0], "records": records}


def write_address_book(folder, book, binary=False):
    with open(os.path.join(folder, STORE_FILE), "wb") as f:
        plistlib.dump(book, f, fmt=plistlib.FMT_BINARY if binary else plistlib.FMT_XML, sort_keys=True)


def read_address_book(folder):
    with open(os.path.join(folder, STORE_FILE), "rb") as f:
        return plistlib.load(f)


def write_sync_settings(folder, **settings):
    """sync.json of an image: batchRecords, entityOrder, refuseClasses, cancelOn, dropAnswerTo,
    dropMode, remapNothing, transcripts (platform/mobiledevice/README.md)."""
    temp = os.path.join(folder, ".sync.json.tmp")
    with open(temp, "w", encoding="utf-8") as f:
        json.dump(settings, f, indent=2, sort_keys=True)
    os.replace(temp, os.path.join(folder, SETTINGS_FILE))


def read_transcripts(folder):
    """Every mobilesync transcript of an image, oldest first: a list of lists of {"from", "message"}."""
    root = os.path.join(folder, "transcripts")
    if not os.path.isdir(root):
        return []
    # Named mobilesync-<pid>-<sequence>: within one process, in the order the connections opened.
    names = sorted(n for n in os.listdir(root) if n.startswith("mobilesync-"))
    result = []
    for name in names:
        with open(os.path.join(root, name), encoding="utf-8") as f:
            result.append([json.loads(line) for line in f if line.strip()])
    return result


def main(argv=None):
    parser = argparse.ArgumentParser(description="Write the address book of a device image.")
    parser.add_argument("image", help="the image folder")
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--contacts", type=int, default=DEFAULT_CONTACTS)
    parser.add_argument("--groups", type=int, default=DEFAULT_GROUPS)
    parser.add_argument("--binary", action="store_true", help="write a binary plist")
    args = parser.parse_args(argv)
    if args.contacts < 0 or args.groups < 0:
        print("make_address_book: counts are not negative", file=sys.stderr)
        return 2
    book = make_address_book(random.Random(args.seed), args.contacts, args.groups)
    write_address_book(args.image, book, args.binary)
    print(json.dumps({"records": len(book["records"]), "nextRecordId": book["nextRecordId"]}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
