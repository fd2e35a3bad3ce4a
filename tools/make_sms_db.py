#!/usr/bin/env python3
"""Message databases (sms.db) of a simulated device, in the table layouts of each device era, in WAL
mode with the newest rows still in the -wal file. make_device_image.py calls write_sms_db() to put
one at <image>/sms.db (with -wal and -shm beside it); tests and benchmarks call make_sms_db().
Standard library only.

Eras:
  ios4    message (address, Unix-epoch dates, flags 2 received / 3 sent), msg_group, group_member
  ios5    the ios4 tables with the madrid columns and madrid_chat
  ios6    message, handle, chat, chat_message_join, chat_handle_join, attachment (dates in seconds
          since 2001; the layout of iOS 6 to 10)
  ios11   as ios6 with dates in nanoseconds since 2001 and message_date in chat_message_join
  recent  as ios11, with some messages holding NULL text and their text only in attributedBody

The conversations (the same for every era): a one-to-one chat of 120 messages, one of exactly 50, a
group chat whose own messages have handle 0, a chat in CJK with emoji, messages that belong to no
chat, and further chats of 200 messages until the requested count is reached. Every message has its
own date, so the newest-first order of chats is fixed.

    make_sms_db.py OUT.db [--era ERA] [--messages N] [--seed N]
"""

import argparse
import os
import random
import sqlite3
import sys

from live_database import live_database

ERAS = ("ios4", "ios5", "ios6", "ios11", "recent")
DEFAULT_MESSAGES = 200
WAL_MESSAGES = 5  # the newest messages, left in the -wal file
UNIX_2001 = 978307200
FIRST_DATE = 567993600  # 2019-01-01 00:00:00 UTC, seconds since 2001
TEXTS = ["Hi!", "On my way \U0001f697", "\u4f60\u597d\uff0c\u660e\u5929\u89c1", "Say \"cheese\" \\o/",
         "\u304a\u306f\u3088\u3046 \U0001f305", "Lunch at 12?", "ok", "\U0001f389\U0001f389\U0001f389",
         "Line one\nline two", "\ud55c\uad6d\uc5b4 \ud14d\uc2a4\ud2b8"]

# The fixed chats: (handles, message count); a chat of more than one handle is a group.
FIXED_CHATS = [
    (["+15550100001"], 120),
    (["anna@example.com"], 50),
    (["+15550100002", "bob@example.com", "+15550100003"], 12),
    (["+8613800138000"], 6),
]
ORPHAN_MESSAGES = 3
EXTRA_CHAT_MESSAGES = 200

IOS4_TABLES = """
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date INTEGER, text TEXT,
  flags INTEGER, replace INTEGER, svc_center TEXT, group_id INTEGER, association_id INTEGER, height INTEGER,
  UIFlags INTEGER, version INTEGER, subject TEXT, country TEXT, headers BLOB, recipients BLOB, read INTEGER{madrid});
CREATE TABLE msg_group (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, type INTEGER, newest_message INTEGER,
  unread_count INTEGER, hash INTEGER);
CREATE TABLE group_member (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, group_id INTEGER, address TEXT, country TEXT);
CREATE TABLE msg_pieces (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, message_id INTEGER, data BLOB, part_id INTEGER,
  preview_part INTEGER, content_type TEXT, height INTEGER, version INTEGER, flags INTEGER, content_id TEXT,
  content_loc TEXT, headers BLOB);
CREATE INDEX message_group_index ON message(group_id, ROWID);
CREATE INDEX message_flags_index ON message(flags);
"""
MADRID_COLUMNS = (", is_madrid INTEGER DEFAULT 0, madrid_attributedBody BLOB, madrid_handle TEXT, "
                  "madrid_version INTEGER, madrid_guid TEXT, madrid_type INTEGER, madrid_roomname TEXT, "
                  "madrid_service TEXT, madrid_account TEXT, madrid_account_guid TEXT, madrid_flags INTEGER, "
                  "madrid_attachmentInfo BLOB, madrid_url TEXT, madrid_error INTEGER, is_read INTEGER, "
                  "madrid_date_read INTEGER, madrid_date_delivered INTEGER")
IOS5_TABLES = """
CREATE TABLE madrid_chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, style INTEGER, state INTEGER, account_id TEXT,
  properties BLOB, chat_identifier TEXT, service_name TEXT, guid TEXT, room_name TEXT, account_login TEXT,
  participants BLOB, last_addressed_handle TEXT);
CREATE TABLE madrid_attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, attachment_guid TEXT, created_date INTEGER,
  start_date INTEGER, filename TEXT, uti_type TEXT, mime_type TEXT, transfer_state INTEGER, is_incoming INTEGER,
  message_attachment BLOB);
"""
HANDLE_TABLES = """
CREATE TABLE _SqliteDatabaseProperties (key TEXT, value TEXT, UNIQUE(key));
CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, country TEXT,
  service TEXT NOT NULL, uncanonicalized_id TEXT, UNIQUE (id, service));
CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, text TEXT,
  replace INTEGER DEFAULT 0, service_center TEXT, handle_id INTEGER DEFAULT 0, subject TEXT, country TEXT,
  attributedBody BLOB, version INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT,
  account_guid TEXT, error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, date_delivered INTEGER,
  is_delivered INTEGER DEFAULT 0, is_finished INTEGER DEFAULT 0, is_emote INTEGER DEFAULT 0,
  is_from_me INTEGER DEFAULT 0, is_empty INTEGER DEFAULT 0, is_delayed INTEGER DEFAULT 0,
  is_auto_reply INTEGER DEFAULT 0, is_prepared INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0,
  is_system_message INTEGER DEFAULT 0, is_sent INTEGER DEFAULT 0, has_dd_results INTEGER DEFAULT 0,
  is_service_message INTEGER DEFAULT 0, is_forward INTEGER DEFAULT 0, was_downgraded INTEGER DEFAULT 0,
  is_archive INTEGER DEFAULT 0, cache_has_attachments INTEGER DEFAULT 0, cache_roomnames TEXT,
  was_data_detected INTEGER DEFAULT 0, was_deduplicated INTEGER DEFAULT 0{late_columns});
CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, style INTEGER,
  state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, service_name TEXT, room_name TEXT,
  account_login TEXT, is_archived INTEGER DEFAULT 0, last_addressed_handle TEXT, display_name TEXT,
  group_id TEXT, is_filtered INTEGER DEFAULT 0, successful_query INTEGER);
CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, created_date INTEGER
  DEFAULT 0, start_date INTEGER DEFAULT 0, filename TEXT, uti TEXT, mime_type TEXT, transfer_state INTEGER
  DEFAULT 0, is_outgoing INTEGER DEFAULT 0, user_info BLOB, transfer_name TEXT, total_bytes INTEGER DEFAULT 0);
CREATE TABLE chat_handle_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE,
  handle_id INTEGER REFERENCES handle (ROWID) ON DELETE CASCADE, UNIQUE(chat_id, handle_id));
CREATE TABLE chat_message_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE CASCADE,
  message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE{message_date}, PRIMARY KEY (chat_id, message_id));
CREATE TABLE message_attachment_join (message_id INTEGER REFERENCES message (ROWID) ON DELETE CASCADE,
  attachment_id INTEGER REFERENCES attachment (ROWID) ON DELETE CASCADE, UNIQUE(message_id, attachment_id));
CREATE INDEX message_idx_handle ON message(handle_id, date);
CREATE INDEX chat_message_join_idx_message_id ON chat_message_join(message_id, chat_id);
"""
LATE_COLUMNS = (", is_audio_message INTEGER DEFAULT 0, is_played INTEGER DEFAULT 0, date_played INTEGER, "
                "item_type INTEGER DEFAULT 0, other_handle INTEGER DEFAULT 0, group_title TEXT, "
                "group_action_type INTEGER DEFAULT 0, share_status INTEGER DEFAULT 0, "
                "share_direction INTEGER DEFAULT 0, is_expirable INTEGER DEFAULT 0, expire_state INTEGER DEFAULT 0, "
                "message_action_type INTEGER DEFAULT 0, message_source INTEGER DEFAULT 0, "
                "associated_message_guid TEXT, associated_message_type INTEGER DEFAULT 0, balloon_bundle_id TEXT, "
                "payload_data BLOB, expressive_send_style_id TEXT, thread_originator_guid TEXT")


def plan(rng, count):
    """The conversations and their messages, era-neutral: (chats, messages). A chat is a list of
    handle texts; a message is a dict with 'chat' (an index, or None for a message of no chat),
    'sender' (a handle text, or None for the device's own message), 'date' (seconds since 2001),
    'text', 'subject', 'read'. Messages come in date order; the dates are all different."""
    orphans = min(ORPHAN_MESSAGES, max(count, 0))
    left = count - orphans
    chats, counts = [], []
    for handles, n in FIXED_CHATS:
        if left > 0:
            chats.append(handles)
            counts.append(min(n, left))
            left -= counts[-1]
    while left > 0:
        chats.append(["+1555%07d" % (2001 + len(chats) - len(FIXED_CHATS))])
        counts.append(min(EXTRA_CHAT_MESSAGES, left))
        left -= counts[-1]
    owners = [i for i, n in enumerate(counts) for _ in range(n)] + [None] * orphans
    rng.shuffle(owners)
    messages = []
    date = FIRST_DATE
    for number, chat in enumerate(owners):
        date += rng.randrange(1, 600)
        handles = chats[chat] if chat is not None else ["+15550109999"]
        mine = rng.random() < 0.4
        text = TEXTS[rng.randrange(len(TEXTS))] + " #%d" % number
        messages.append({"chat": chat, "sender": None if mine else handles[rng.randrange(len(handles))],
                         "date": date, "text": text, "subject": "Re: plans" if number % 17 == 5 else None,
                         "read": 0 if number % 7 == 3 else 1})
    return chats, messages


def _write_oldest(db, era, chats, messages):
    db.executescript(IOS4_TABLES.format(madrid=MADRID_COLUMNS if era == "ios5" else ""))
    if era == "ios5":
        db.executescript(IOS5_TABLES)
    db.execute("BEGIN")  # executescript commits on its own; the rows go in one transaction
    db.execute("INSERT INTO _SqliteDatabaseProperties VALUES ('counter_in_all', ?)", (str(len(messages)),))
    for number, handles in enumerate(chats):
        db.execute("INSERT INTO msg_group (ROWID, type, newest_message, unread_count, hash) VALUES (?, ?, 0, 0, ?)",
                   (number + 1, 1 if len(handles) > 1 else 0, number))
        db.executemany("INSERT INTO group_member (group_id, address, country) VALUES (?, ?, 'us')",
                       [(number + 1, h) for h in handles])
    if era == "ios5":
        db.execute("INSERT INTO madrid_chat (style, state, chat_identifier, service_name, guid) "
                   "VALUES (45, 3, 'anna@example.com', 'Madrid', 'iMessage;-;anna@example.com')")


def _oldest_rows(era, messages, chats):
    for message in messages:
        chat = message["chat"]
        # A message of the device's own names the conversation's (first) address.
        address = message["sender"] or (chats[chat][0] if chat is not None else None)
        row = (address, message["date"] + UNIX_2001, message["text"], 3 if message["sender"] is None else 2,
               (chat + 1) if chat is not None else 0, message["subject"], message["read"])
        sql = ("INSERT INTO message (address, date, text, flags, replace, group_id, association_id, height, UIFlags, "
               "version, subject, country, read) VALUES (?, ?, ?, ?, 0, ?, 0, 0, 0, 0, ?, 'us', ?)")
        yield sql, row


def _write_handles(db, era, chats):
    late = era in ("ios11", "recent")
    db.executescript(HANDLE_TABLES.format(late_columns=LATE_COLUMNS if late else "",
                                          message_date=", message_date INTEGER DEFAULT 0" if late else ""))
    db.execute("BEGIN")  # executescript commits on its own; the rows go in one transaction
    db.execute("INSERT INTO _SqliteDatabaseProperties VALUES ('_ClientVersion', ?)", ("14006" if late else "9007",))
    handle_ids = {}
    for handles in chats + [["+15550109999"]]:
        for h in handles:
            if h not in handle_ids:
                service = "iMessage" if "@" in h else "SMS"
                cursor = db.execute("INSERT INTO handle (id, country, service, uncanonicalized_id) VALUES (?, 'us', ?, ?)",
                                    (h, service, h))
                handle_ids[h] = cursor.lastrowid
    for number, handles in enumerate(chats):
        group = len(handles) > 1
        identifier = "chat%d" % (1000 + number) if group else handles[0]
        service = "iMessage" if "@" in identifier or group else "SMS"
        db.execute("INSERT INTO chat (ROWID, guid, style, state, chat_identifier, service_name, display_name) "
                   "VALUES (?, ?, ?, 3, ?, ?, ?)",
                   (number + 1, "%s;%s;%s" % (service, "+" if group else "-", identifier), 43 if group else 45,
                    identifier, service, "Team \U0001f3c3" if group else ""))
        db.executemany("INSERT INTO chat_handle_join VALUES (?, ?)", [(number + 1, handle_ids[h]) for h in handles])
    # A handle of no conversation (a contact the device only knows).
    db.execute("INSERT INTO handle (id, country, service) VALUES ('+15550108888', 'us', 'SMS')")
    return handle_ids


def _handle_rows(era, messages, chats, handle_ids, first_rowid):
    nanos = era in ("ios11", "recent")
    scale = 1000000000 if nanos else 1
    for offset, message in enumerate(messages):
        rowid = first_rowid + offset
        chat = message["chat"]
        group = chat is not None and len(chats[chat]) > 1
        # The device's own message names the other party in a one-to-one chat and no one in a group.
        if message["sender"] is not None:
            handle = handle_ids[message["sender"]]
        elif chat is None or group:
            handle = 0
        else:
            handle = handle_ids[chats[chat][0]]
        mine = 1 if message["sender"] is None else 0
        date = message["date"] * scale
        date_read = (message["date"] + 30) * scale if message["read"] and not mine else 0
        text = message["text"]
        body = None
        if era == "recent" and rowid % 4 == 0:
            body = b"\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x12NSAttributedString\x00" + text.encode()
            text = None
        service = "iMessage" if message["sender"] and "@" in message["sender"] else "SMS"
        yield ("INSERT INTO message (ROWID, guid, text, handle_id, subject, attributedBody, service, account, "
               "account_guid, error, date, date_read, date_delivered, is_delivered, is_finished, is_from_me, "
               "is_read, is_sent) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 1, 1, ?, ?, ?)",
               (rowid, "G-%08d" % rowid, text, handle, message["subject"], body, service,
                "e:me@example.com" if service == "iMessage" else "p:+15550100000",
                "ACCT-%s" % service, 0 if rowid % 23 else 4, date, date_read, date, mine, message["read"], mine))
        if chat is not None:
            if nanos:
                yield ("INSERT INTO chat_message_join (chat_id, message_id, message_date) VALUES (?, ?, ?)",
                       (chat + 1, rowid, date))
            else:
                yield "INSERT INTO chat_message_join (chat_id, message_id) VALUES (?, ?)", (chat + 1, rowid)
        if rowid % 37 == 0:
            yield ("INSERT INTO attachment (guid, created_date, filename, mime_type, transfer_state) "
                   "VALUES (?, ?, ?, 'image/jpeg', 5)", ("AT-%d" % rowid, date, "~/Library/SMS/Attachments/%d.jpg" % rowid))
            yield "INSERT INTO message_attachment_join SELECT ?, max(ROWID) FROM attachment", (rowid,)


def _run(db, statements):
    for sql, row in statements:
        db.execute(sql, row)


def make_sms_db(path, era="ios11", messages=DEFAULT_MESSAGES, seed=0):
    """Writes the database at `path` (replacing it and its companions) in WAL mode, with the newest
    WAL_MESSAGES messages only in path-wal. Returns facts about it: era, messages, chats,
    wal_messages."""
    if era not in ERAS:
        raise ValueError("era must be one of %s" % ", ".join(ERAS))
    if messages < 0:
        raise ValueError("the message count is not negative")
    rng = random.Random("sms-%s-%d" % (era, seed))
    chats, plan_messages = plan(rng, messages)
    in_wal = min(WAL_MESSAGES, len(plan_messages))
    settled, newest = plan_messages[:len(plan_messages) - in_wal], plan_messages[len(plan_messages) - in_wal:]
    with live_database(path, "sms-db-") as db:
        if era in ("ios4", "ios5"):
            _write_oldest(db, era, chats, plan_messages)
            _run(db, _oldest_rows(era, settled, chats))
        else:
            handle_ids = _write_handles(db, era, chats)
            _run(db, _handle_rows(era, settled, chats, handle_ids, 1))
        db.execute("COMMIT")
        db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
        db.execute("BEGIN")
        if era in ("ios4", "ios5"):
            _run(db, _oldest_rows(era, newest, chats))
        else:
            _run(db, _handle_rows(era, newest, chats, handle_ids, len(settled) + 1))
        db.execute("COMMIT")
    return {"path": path, "era": era, "messages": len(plan_messages), "chats": len(chats),
            "wal_messages": in_wal}


def write_sms_db(image, era=None, messages=None, seed=0):
    """Gives a device image its messages database at <image>/sms.db; nothing when neither the era nor
    the count is given."""
    if era is None and messages is None:
        return None
    return make_sms_db(os.path.join(image, "sms.db"), era or "ios11",
                       DEFAULT_MESSAGES if messages is None else messages, seed)


def add_arguments(parser):
    parser.add_argument("--messages-era", choices=ERAS, help="give the image sms.db of this era (default ios11)")
    parser.add_argument("--messages", type=int, help="messages in the image's sms.db (default %d)" % DEFAULT_MESSAGES)


def sms_options(args):
    """The write_sms_db keywords of parsed arguments (add_arguments)."""
    return {"era": args.messages_era, "messages": args.messages}


def main(argv=None):
    parser = argparse.ArgumentParser(description="Write a message database (sms.db) of a device era.")
    parser.add_argument("out", help="the database file to write")
    parser.add_argument("--era", choices=ERAS, default="ios11")
    parser.add_argument("--messages", type=int, default=DEFAULT_MESSAGES)
    parser.add_argument("--seed", type=int, default=0)
    args = parser.parse_args(argv)
    try:
        facts = make_sms_db(args.out, args.era, args.messages, args.seed)
    except (ValueError, OSError, sqlite3.Error) as e:
        print("make_sms_db: %s" % e, file=sys.stderr)
        return 2
    print(facts)
    return 0


if __name__ == "__main__":
    sys.exit(main())
