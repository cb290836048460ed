"""The README's varrow examples and varrowd start lines, run as written, and
the SQL Server scripts' guards. Only SQL Server runs sp_addextendedproc and
judges T-SQL, so the scripts are checked as text: the sysadmin refusal first,
each registration or removal behind its OBJECT_ID test, all in one batch
with a CATCH that reports; examples.sql and demo.sql also run through varrow."""
import os
import re
import subprocess
import tempfile
import unittest
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
BIN = Path(os.environ["VARROW_BIN"])
README = (SOURCE / "README.md").read_text()
PROCEDURES = ["xp_AES_Encrypt", "xp_AES_Decrypt", "xp_MD5_Encrypt", "xp_SHA1_Encrypt", "xp_hexstr"]


def blocks(kind):
    return re.findall(r"^```" + kind + r"\n(.*?)^```$", README, re.S | re.M)


def statements(name):  # the script without its comments
    return re.sub(r"--[^\n]*", "", (SOURCE / name).read_text())


class Readme(unittest.TestCase):
    def test_varrow_examples_print_what_they_show(self):
        examples = [b for b in blocks("console") if b.startswith("$ varrow ")]
        self.assertGreaterEqual(len(examples), 2)
        for block in examples:
            lines = block.splitlines(keepends=True)
            n = 1
            while "".join(lines[:n]).count('"') % 2:  # the command goes on while a quote is open
                n += 1
            command = "".join(lines[:n])[2:]
            run = subprocess.run(command, shell=True, capture_output=True, text=True,
                                 env=dict(os.environ, PATH=f"{BIN}:{os.environ['PATH']}"))
            self.assertEqual(run.stdout, "".join(lines[n:]), command)

    def test_varrowd_starts_as_written(self):
        # In a folder whose build/default/bin/varrowd runs the real one for a
        # second on a free loopback port.
        with tempfile.TemporaryDirectory() as folder:
            wrapper = Path(folder, "build/default/bin/varrowd")
            wrapper.parent.mkdir(parents=True)
            wrapper.write_text("#!/bin/sh\nexec timeout --preserve-status -s INT 1 "
                               f'{BIN}/varrowd "$@" --listen 127.0.0.1:0\n')
            wrapper.chmod(0o755)
            starts = [b for b in blocks("sh") if "bin/varrowd" in b]
            self.assertEqual(sum(b.count("bin/varrowd") for b in starts), 3)
            for block in starts:
                run = subprocess.run(["bash", "-e", "-c", block], cwd=folder, capture_output=True,
                                     text=True, timeout=60)
                self.assertEqual(run.stdout.count("listening on 127.0.0.1:"),
                                 block.count("bin/varrowd"), block + run.stdout + run.stderr)


class SqlScripts(unittest.TestCase):
    def check_guards(self, name, procedure, test):
        text = statements(name)
        self.assertRegex(text, r"\A\s*SET NOCOUNT ON;\s+USE master;\s+IF ISNULL\(IS_SRVROLEMEMBER\(N'sysadmin'\), 0\) <> 1\s+"
                         r"BEGIN\s+RAISERROR\(N'[^']*', 16, 1\) WITH NOWAIT;\s+RETURN;\s+END;\s+BEGIN TRY\s")
        steps = re.findall(r"(?:IF OBJECT_ID\(N'master\.dbo\.(\w+)', N'X'\) (IS(?: NOT)? NULL)\s+)?"
                           rf"EXEC master\.dbo\.{procedure} N'(\w+)'", text)
        self.assertEqual(steps, [(p, test, p) for p in PROCEDURES])
        self.assertRegex(text, r"END TRY\s+BEGIN CATCH\s[^;]*ERROR_MESSAGE\(\)[^@]*@(\w+)[\s\S]*"
                         r"RAISERROR\(N'[^']*', 16, 1, @failure, @\1\) WITH NOWAIT;\s+END CATCH;\s*\Z")
        self.assertNotRegex(text, r"(?im)^\s*GO\b")  # one batch: nothing runs past a failure
        self.assertEqual(text.count("("), text.count(")"))
        self.assertEqual(text.count("'") % 2, 0)
        return text

    def test_install_registers_only_what_is_missing(self):
        self.check_guards("sql/install.sql", "sp_addextendedproc", "IS NULL")

    def test_uninstall_removes_only_what_is_there_and_unloads(self):
        text = self.check_guards("sql/uninstall.sql", "sp_dropextendedproc", "IS NOT NULL")
        self.assertRegex(text, r"N'xp_hexstr';\s+DBCC Varrow\(FREE\)")

    def test_examples_call_master_dbo_and_run(self):
        for name in ["sql/examples.sql", "examples/demo.sql"]:
            calls = re.findall(r"EXEC (?:@\w+ = )?([\w.]+)", statements(name))
            self.assertEqual({c.rsplit(".", 1)[0] for c in calls}, {"master.dbo"}, name)
            run = subprocess.run([BIN / "varrow", "-i", SOURCE / name], capture_output=True, text=True)
            self.assertEqual((run.returncode, run.stderr), (0, ""), run.stdout)


if __name__ == "__main__":
    unittest.main()
