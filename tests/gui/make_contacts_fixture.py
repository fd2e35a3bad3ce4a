#!/usr/bin/env python3
"""Writes the contacts fixture that the relay stand-in serves in fixture mode (TREVANE_RELAY_FIXTURE).

The fixture is drawn from a fixed seed, so every run serves the same contacts: COUNT people with names,
phones, e-mail addresses, some companies, notes, birthdays, postal addresses and IM entries, three groups
("Family", "Work", "Book Club") of which one shares a member with another, the address labels' country
list, and the relay's settings (batch size, how many saves the device refuses before it takes one).

Usage: make_contacts_fixture.py <out.json> [--count N] [--refuse-saves N] [--cloud]
"""
import argparse
import json
import random

FIRST = ["Anna", "Ben", "Clara", "David", "Elena", "Felix", "Greta", "Hugo", "Ida", "Jonas", "Karla", "Leon",
         "Mia", "Noah", "Olga", "Paul", "Rosa", "Sven", "Tara", "Umar", "Vera", "Will", "Yara", "Zeno"]
LAST = ["Adler", "Brandt", "Conrad", "Dietz", "Engel", "Fischer", "Graf", "Hahn", "Iversen", "Jung", "Keller",
        "Lorenz", "Maurer", "Nagel", "Ott", "Peters", "Roth", "Schulz", "Thiel", "Ulrich", "Vogt", "Weber"]
COMPANIES = ["Acme Tools", "Birch & Sons", "Cobalt Labs", "Delta Freight", "Elm Street Bakery"]
CITIES = [("Springfield", "IL", "62701"), ("Riverton", "WY", "82501"), ("Lakeside", "CA", "92040")]
COUNTRIES = [["us", "United States"], ["de", "Germany"], ["fr", "France"], ["jp", "Japan"], ["gb", "United Kingdom"]]


def make(count, refuse_saves, cloud):
    rng = random.Random(8)
    contacts = []
    for index in range(1, count + 1):
        first = rng.choice(FIRST)
        last = rng.choice(LAST)
        contact = {
            "id": str(index),
            "first": first,
            "last": last,
            "phones": [["mobile", "", f"+1 555 {index:04d}"]],
            "emails": [["home", "", f"{first.lower()}.{last.lower()}{index}@example.org"]],
        }
        if index % 3 == 0:
            contact["phones"].append(["work", "", f"+1 555 9{index:03d}"])
        if index % 4 == 0:
            contact["company"] = rng.choice(COMPANIES)
            contact["jobTitle"] = "Engineer"
        if index % 5 == 0:
            contact["birthday"] = f"19{60 + index % 40:02d}-0{1 + index % 9}-1{index % 10} 00:00:00"
        if index % 6 == 0:
            city, state, postal = rng.choice(CITIES)
            contact["addresses"] = [["home", "", f"{index} Main St", city, state, postal, "United States", "us"]]
        if index % 7 == 0:
            contact["im"] = [["skype", "Skype", f"{first.lower()}{index}"]]
        if index % 11 == 0:
            contact["note"] = "Met at the spring fair; prefers e-mail over calls and keeps a garden."
        contacts.append(contact)
    # Contacts the scenarios look for by name: one unique name, and one that sits in two groups; a smaller
    # fixture names those of them it has.
    for index, first, last in ((41, "Zelda", "Quokka"), (42, "Quentin", "Quokka"), (7, "Aaron", "Aalto")):
        if index < count:
            contacts[index]["first"], contacts[index]["last"] = first, last
    # A group's members that the fixture has; "999", a member no fixture has, stays in Family on purpose.
    kept = lambda members: [m for m in members if int(m) <= count]
    groups = [
        {"id": "g-family", "name": "Family", "members": kept(["8", "2", "3"]) + ["999"]},
        {"id": "g-work", "name": "Work", "members": kept(["8", "12", "16"])},
        {"id": "g-club", "name": "Book Club", "members": kept(["43"])},
    ]
    return {"batchSize": 100, "refuseSaves": refuse_saves, "cloud": cloud, "countries": COUNTRIES,
            "contacts": contacts, "groups": groups}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out", help="the fixture file to write (JSON)")
    parser.add_argument("--count", type=int, default=250, help="how many contacts (default 250, at least 1)")
    parser.add_argument("--refuse-saves", type=int, default=0, metavar="N",
                        help="how many saves the device refuses before it takes one (default 0)")
    parser.add_argument("--cloud", action="store_true", help="the contacts are an online account's")
    args = parser.parse_args()
    if args.count < 1:
        parser.error("--count must be at least 1")
    with open(args.out, "w", encoding="utf-8") as out:
        json.dump(make(args.count, args.refuse_saves, args.cloud), out, ensure_ascii=False, indent=1)


if __name__ == "__main__":
    main()
