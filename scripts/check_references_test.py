#!/usr/bin/env python3
"""Every path of the tree that a document, script, build file or comment names
(a word such as `server/lobby.cpp` or `docs/decisions/README.md`) exists, so
that moving a file cannot leave a reference behind. Names of built programs
(no file ending, such as tools/test_player) are left alone: they live in the
build folders."""

import glob
import os
import re
import subprocess
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
CHECKED_ENDINGS = (".md", ".cpp", ".h", ".rc", ".py", ".cmake", ".txt", ".js", ".html", ".css")


def tracked_files():
    out = subprocess.run(["git", "ls-files"], cwd=ROOT, capture_output=True, text=True,
                         check=True).stdout
    return [f for f in out.splitlines() if "node_modules/" not in f]


def references(files, tops):
    """(file, line number, path) for each path-like word that names a file."""
    word = re.compile(r"(?<![\w/.$<>{}@-])((?:%s)/[\w./*-]*\.[\w*]+)" %
                      "|".join(re.escape(t) for t in sorted(tops)))
    for rel in files:
        if not (rel.endswith(CHECKED_ENDINGS) or rel.startswith("scripts/")):
            continue
        try:
            with open(os.path.join(ROOT, rel), encoding="utf-8") as f:
                text = f.read()
        except (UnicodeDecodeError, OSError):
            continue
        for number, line in enumerate(text.splitlines(), 1):
            for path in word.findall(line):
                yield rel, number, path.rstrip(".")


class References(unittest.TestCase):
    def test_every_named_path_exists(self):
        files = tracked_files()
        tops = {f.split("/")[0] for f in files if "/" in f}
        missing = []
        for rel, number, path in references(files, tops):
            here = os.path.join(ROOT, os.path.dirname(rel), path)
            if glob.glob(os.path.join(ROOT, path)) or glob.glob(here):
                continue
            missing.append(f"{rel}:{number}: {path}")
        self.assertEqual(missing, [], "\n".join(missing))


if __name__ == "__main__":
    unittest.main(verbosity=2)
