"""The README's varrow examples, varrowd start lines and pytds snippet, run as written; the SQL Server scripts'
guards in order in one batch, read as text since only SQL Server runs them."""
import os, re, subprocess, tempfile, unittest
from pathlib import Path

SOURCE, BIN = Path(__file__).resolve().parents[1], os.environ["VARROW_BIN"]
README = (SOURCE / "README.md").read_text()
NAMES = ["xp_AES_Encrypt", "xp_AES_Decrypt", "xp_MD5_Encrypt", "xp_SHA1_Encrypt", "xp_hexstr"]
blocks = lambda kind: re.findall(rf"^```{kind}\n(.*?)^```$", README, re.S | re.M)
sql = lambda name: re.sub(r"--[^\n]*", "", (SOURCE / name).read_text())  # without comments
sh = lambda command, **kw: subprocess.run(command, shell=True, executable="/bin/bash",
                                          capture_output=True, text=True, timeout=60, **kw)

class Docs(unittest.TestCase):
    def test_readme_varrow_examples(self):
        for block in blocks("console"):
            command, output = re.match(r'\$ (varrow [^"]*"[^"]*"\n)(.*)', block, re.S).groups()
            run = sh(command, env={**os.environ, "PATH": BIN + ":/usr/bin:/bin"})
            self.assertEqual(run.stdout, output, command)

    def test_readme_varrowd_starts(self):  # each for a second on a free loopback port
        with tempfile.TemporaryDirectory() as folder:
            varrowd = Path(folder, "build/default/bin/varrowd")
            varrowd.parent.mkdir(parents=True)
            varrowd.write_text(f'#!/bin/sh\nexec timeout --preserve-status -s INT 1 {BIN}/varrowd "$@" '
                               "--listen 127.0.0.1:0\n")
            varrowd.chmod(0o755)
            # Each --listen adds an address: the README's give way to the wrapper's.
            out = "".join(sh(re.sub(r"--listen \S+", "", b), cwd=folder).stdout
                          for b in blocks("sh") if "bin/varrowd" in b)
            self.assertEqual(out.count("listening on 127.0.0.1:"), 3, out)

    def test_readme_pytds_snippet(self):  # against a varrowd on a free loopback port
        with subprocess.Popen([f"{BIN}/varrowd", "--user", "varrow", "--listen", "127.0.0.1:0"], text=True,
                              stdout=subprocess.PIPE, env={**os.environ, "VARROW_PASSWORD": "secret"}) as server:
            port = re.search(r":(\d+)$", server.stdout.readline().strip()).group(1)
            code = blocks("python")[0].replace("port=1433", "port=" + port)
            run = subprocess.run(["/usr/bin/python3", "-c", code + "assert plain == b'hello' and len(digest) == 16"],
                                 capture_output=True, text=True, timeout=60)
            server.terminate()
            self.assertEqual((run.returncode, run.stdout), (0, "0\n"), run.stderr)

    def test_sql_scripts(self):
        start = (r"\A\s*SET NOCOUNT ON;\s+USE master;\s+IF ISNULL\(IS_SRVROLEMEMBER\(N'sysadmin'\), 0\) <> 1"
                 r"\s+BEGIN\s+RAISERROR\(N'[^']*', 16, 1\) WITH NOWAIT;\s+RETURN;\s+END;\s+BEGIN TRY\s+")
        end = (r"RAISERROR\(N'[^']*', 0, 1\) WITH NOWAIT;\s+END TRY\s+BEGIN CATCH\s[^;]*ERROR_MESSAGE"
               r"\(\)(?:(?!\bGO\b)[\s\S])*RAISERROR\(N'[^']*', 16, 1, @failure, @\w+\) WITH NOWAIT;\s+END "
               r"CATCH;\s*\Z")
        for name, step, test, last in [("install", "add", "", ""),
                                       ("uninstall", "drop", "NOT ", r"DBCC Varrow\(FREE\)[^;]*;\s+")]:
            guards = "".join(rf"IF OBJECT_ID\(N'master\.dbo\.{p}', N'X'\) IS {test}NULL\s+"
                             rf"EXEC master\.dbo\.sp_{step}extendedproc N'{p}'[^;]*;\s+" for p in NAMES)
            self.assertRegex(sql(f"sql/{name}.sql"), start + guards + last + end)

if __name__ == "__main__":
    unittest.main()
