"""A SQLite database written as a device leaves a live one: in WAL mode, with its newest rows only in
the -wal file (Python standard library only). The photo and message database makers write theirs
through it."""

import contextlib
import os
import shutil
import sqlite3
import tempfile


@contextlib.contextmanager
def live_database(path, prefix):
    """Yields a connection (autocommit) to a new WAL-mode database in a staging folder named after
    `prefix`, with automatic checkpoints off: what the caller checkpoints is in the main file, what
    it commits after stays in the -wal file. On leaving, the database and its -wal and -shm replace
    `path` and its companions, copied while the connection is still open: closing it would move
    the rows of the log into the main file and delete the -wal file."""
    staging = tempfile.mkdtemp(prefix=prefix)
    try:
        temp = os.path.join(staging, os.path.basename(path))
        db = sqlite3.connect(temp, isolation_level=None)
        db.execute("PRAGMA journal_mode=WAL")
        db.execute("PRAGMA wal_autocheckpoint=0")
        yield db
        for suffix in ("-wal", "-shm", ""):
            if os.path.exists(path + suffix):
                os.remove(path + suffix)
        for suffix in ("", "-wal", "-shm"):
            shutil.copyfile(temp + suffix, path + suffix)
        db.close()
    finally:
        shutil.rmtree(staging, ignore_errors=True)
