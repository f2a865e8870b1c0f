#!/usr/bin/env python3
"""Tests of scripts/check-layering: the tree as it is passes, and one planted
include for each rule of docs/layering.md fails it with that rule named."""

import importlib.machinery
import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
SCRIPT = os.path.join(ROOT, "scripts", "check-layering")

# (file the include is planted in, the include, what the report must say)
PLANTED = [
    ("common/random.cpp", '#include "qdb/qdb_file.h"', "common may include only its own files"),
    ("wire/wire.cpp", '#include "server/server_app.h"', "wire may include common, qdb"),
    ("wire/wire.cpp", '#include "web/seat/seat.h"', "wire may include common, qdb"),
    ("web/seat/seat.cpp", '#include "web/gateway/gateway.h"',
     "web/seat may include common, qdb, wire"),
    ("web/seat/seat.cpp", '#include "server/lobby.h"', "web/seat may include common, qdb, wire"),
    ("server/win/host_main.cpp", '#include "editor/record_store.h"', "server/win may include"),
    ("launcher/launcher_main.cpp", '#include "web/win/resource.h"',
     "launcher may include common, common/win"),
    ("server/lobby.cpp", '#include "testing/test_support.h"',
     "no product file includes test support (testing/)"),
    ("editor/win/main_window.cpp", '#include "testing/win/editor_window_fixture.h"',
     "no product file includes test support (testing/)"),
    ("server/lobby.cpp", "#include <windows.h>", "windows.h only in win/ folders"),
    ("web/seat/seat.cpp", "#include <boost/asio.hpp>", "boost/ only in tests, tools, web/gateway"),
    ("wire/wire.cpp", "#include <nlohmann/json.hpp>",
     "nlohmann/ only in tests, tools, web/gateway, web/seat"),
]


def copy_tree(target):
    """The tree's sources and its docs/layering.md, copied under target."""
    loader = importlib.machinery.SourceFileLoader("check_layering", SCRIPT)
    checker = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(checker)
    for rel, path in checker.source_files(ROOT):
        os.makedirs(os.path.join(target, os.path.dirname(rel)), exist_ok=True)
        shutil.copyfile(path, os.path.join(target, rel))
    os.makedirs(os.path.join(target, "docs"), exist_ok=True)
    shutil.copyfile(os.path.join(ROOT, "docs", "layering.md"),
                    os.path.join(target, "docs", "layering.md"))


def run(root):
    done = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True,
                          timeout=120)
    return done.returncode, done.stdout + done.stderr


class CheckLayering(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="layering-")
        cls.tree = os.path.join(cls.tmp, "tree")
        copy_tree(cls.tree)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def test_the_tree_as_it_is_passes(self):
        code, output = run(ROOT)
        self.assertEqual(code, 0, output)
        code, output = run(self.tree)
        self.assertEqual(code, 0, output)

    def test_each_planted_include_fails_with_its_rule(self):
        for rel, include, rule in PLANTED:
            with self.subTest(file=rel, include=include):
                path = os.path.join(self.tree, rel)
                with open(path, encoding="utf-8") as f:
                    original = f.read()
                lines = original.split("\n")
                # Below the file's first line, as a reviewer would find it.
                planted = lines[:1] + [include] + lines[1:]
                try:
                    with open(path, "w", encoding="utf-8") as f:
                        f.write("\n".join(planted))
                    code, output = run(self.tree)
                finally:
                    with open(path, "w", encoding="utf-8") as f:
                        f.write(original)
                self.assertEqual(code, 1, output)
                target = include.split()[1].strip('"<>')
                self.assertIn(f"{rel}:2: includes {target}: {rule}", output)
                self.assertEqual(output.count(": includes "), 1, output)

    def test_tests_and_tools_may_use_test_support(self):
        allowed = [
            ("server/lobby_test.cpp", '#include "testing/loopback_peer.h"'),
            ("tools/try_server_main.cpp", '#include "testing/test_qdb_file.h"'),
            ("tests/host/host_fixture.h", '#include "server/server_app.h"'),
            ("server/win/lobby_window.cpp", "#include <windows.h>"),
            ("net/net.cpp", "#include <windows.h>"),
        ]
        for rel, include in allowed:
            with self.subTest(file=rel):
                path = os.path.join(self.tree, rel)
                with open(path, encoding="utf-8") as f:
                    original = f.read()
                try:
                    with open(path, "w", encoding="utf-8") as f:
                        f.write(include + "\n" + original)
                    code, output = run(self.tree)
                finally:
                    with open(path, "w", encoding="utf-8") as f:
                        f.write(original)
                self.assertEqual(code, 0, output)

    def test_a_row_that_is_not_closed_is_refused(self):
        table = os.path.join(self.tree, "docs", "layering.md")
        with open(table, encoding="utf-8") as f:
            original = f.read()
        broken = original.replace("| `server` | `wire`, `net`, `qdb`, `common` |",
                                  "| `server` | `wire`, `net` |")
        self.assertNotEqual(broken, original)
        try:
            with open(table, "w", encoding="utf-8") as f:
                f.write(broken)
            code, output = run(self.tree)
        finally:
            with open(table, "w", encoding="utf-8") as f:
                f.write(original)
        self.assertEqual(code, 2, output)
        self.assertIn("server: row not closed, wire brings in common, qdb", output)


if __name__ == "__main__":
    unittest.main(verbosity=2)
