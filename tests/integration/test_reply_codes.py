"""The one table of reply codes (src/utility/hlx_reply_code.h): every code a peer can see stands there
once, with a number no other code has, and no other service source gives a reply code a number of its
own (two numbers for one meaning, or one number for two, is what such a private code leads to)."""

import glob
import os
import re
import unittest

SRC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src")
TABLE = os.path.join(SRC, "utility", "hlx_reply_code.h")
NUMBERED = re.compile(r"^\s*(kReply\w+) = (\d+),", re.MULTILINE)
PRIVATE = re.compile(r"constexpr\s+(?:int|int32_t|int64_t)\s+(kReply\w+)\s*=\s*(\d+)\s*;")


class ReplyCodeTableTest(unittest.TestCase):
    def test_each_number_once_and_no_code_outside_the_table(self):
        with open(TABLE, encoding="utf-8") as f:
            entries = NUMBERED.findall(f.read())
        self.assertGreaterEqual(len(entries), 40)
        numbers = [int(number) for _, number in entries]
        self.assertEqual(sorted(set(numbers)), sorted(numbers), "a number stands for two codes")
        self.assertEqual({name: int(number) for name, number in entries}.get("kReplySyncRefused"), 35)
        self.assertEqual({int(number): name for name, number in entries}[32], "kReplyBookListUnreadable")
        private = []
        for path in glob.glob(os.path.join(SRC, "**", "*.[ch]*"), recursive=True):
            if os.path.basename(path).startswith("hlx_reply_code."):
                continue
            with open(path, encoding="utf-8") as f:
                private += [(os.path.relpath(path, SRC), name) for name, _ in PRIVATE.findall(f.read())]
        self.assertEqual(private, [])


if __name__ == "__main__":
    unittest.main()
