"""The README's varrow examples and varrowd start lines, run as written, and the SQL Server
scripts' guards, read as text since only SQL Server runs them: the sysadmin refusal first, each
change behind its OBJECT_ID test, all one batch whose CATCH says what is left."""
import os
import re
import subprocess
import tempfile
import unittest
from pathlib import Path

SOURCE, BIN = Path(__file__).resolve().parents[1], os.environ["VARROW_BIN"]
README = (SOURCE / "README.md").read_text()
NAMES = ["xp_AES_Encrypt", "xp_AES_Decrypt", "xp_MD5_Encrypt", "xp_SHA1_Encrypt", "xp_hexstr"]


def blocks(kind):
    return re.findall(rf"^```{kind}\n(.*?)^```$", README, re.S | re.M)


def sql(name):  # without comments
    return re.sub(r"--[^\n]*", "", (SOURCE / name).read_text())


def sh(command, **kw):
    return subprocess.run(command, shell=True, executable="/bin/bash", capture_output=True,
                          text=True, timeout=60, **kw)


class Docs(unittest.TestCase):
    def test_readme_varrow_examples(self):
        for block in blocks("console"):
            command, output = re.match(r'\$ (varrow [^"]*"[^"]*"\n)(.*)', block, re.S).groups()
            run = sh(command, env=dict(os.environ, PATH=BIN + ":" + os.environ["PATH"]))
            self.assertEqual(run.stdout, output, command)

    def test_readme_varrowd_starts(self):
        # Where build/default/bin/varrowd runs the real one for a second on a free port.
        with tempfile.TemporaryDirectory() as folder:
            wrapper = Path(folder, "build/default/bin/varrowd")
            wrapper.parent.mkdir(parents=True)
            wrapper.write_text("#!/bin/sh\nexec timeout --preserve-status -s INT 1 "
                               f'{BIN}/varrowd "$@" --listen 127.0.0.1:0\n')
            wrapper.chmod(0o755)
            out = "".join(sh(b, cwd=folder).stdout for b in blocks("sh") if "bin/varrowd" in b)
            self.assertEqual(out.count("listening on 127.0.0.1:"), 3, out)

    def test_sql_scripts(self):
        for name, step, test in [("install", "add", "IS NULL"), ("uninstall", "drop", "IS NOT NULL")]:
            text = sql(f"sql/{name}.sql")
            self.assertRegex(text, r"\A\s*SET NOCOUNT ON;\s+USE master;\s+IF ISNULL\(IS_SRVROLEMEMBER\("
                             r"N'sysadmin'\), 0\) <> 1\s+BEGIN\s+RAISERROR\(N'[^']*', 16, 1\) WITH "
                             r"NOWAIT;\s+RETURN;\s+END;\s+BEGIN TRY\s")
            guarded = re.findall(r"(?:IF OBJECT_ID\(N'master\.dbo\.(\w+)', N'X'\) (IS(?: NOT)? NULL)"
                                 rf"\s+)?EXEC master\.dbo\.sp_{step}extendedproc N'(\w+)'", text)
            self.assertEqual(guarded, [(p, test, p) for p in NAMES])
            self.assertRegex(text, r"END TRY\s+BEGIN CATCH\s[^;]*ERROR_MESSAGE\(\)[\s\S]*RAISERROR\("
                             r"N'[^']*', 16, 1, @failure, @\w+\) WITH NOWAIT;\s+END CATCH;\s*\Z")
            self.assertNotRegex(text, r"(?im)^\s*GO\b")  # one batch: nothing runs past a failure
        self.assertRegex(sql("sql/uninstall.sql"), r"N'xp_hexstr';\s+DBCC Varrow\(FREE\)")
        for name in ["sql/examples.sql", "examples/demo.sql"]:
            calls = re.findall(r"EXEC (?:@\w+ = )?([\w.]+)", sql(name))
            self.assertEqual({c.rsplit(".", 1)[0] for c in calls}, {"master.dbo"}, name)
            self.assertEqual(sh(f"{BIN}/varrow -i {SOURCE / name}").returncode, 0, name)


if __name__ == "__main__":
    unittest.main()
