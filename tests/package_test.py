"""The Debian package as CPack makes it from this build: lintian finds no
error in it (in a build of the package preset, which installs under /usr),
its unit passes systemd-analyze verify, and the varrowd extracted from it
names the build's version and answers a call with the library beside it.
The Windows zip, when both Windows builds are there, holds each Varrow.dll
for its machine and the SQL scripts once.

usage: package_test.py BUILD_DIR"""
import glob, os, re, shutil, struct, subprocess, sys, tempfile, unittest, zipfile

import pytds

BUILD = sys.argv.pop(1)
run = lambda *args, **kw: subprocess.run(args, capture_output=True, text=True, timeout=120, **kw)


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="varrow-package-")
        made = run("cpack", "-G", "DEB", "--config", f"{BUILD}/CPackConfig.cmake", "-B", cls.folder)
        assert made.returncode == 0, made.stdout + made.stderr
        cls.deb, = glob.glob(f"{cls.folder}/varrow_*_amd64.deb")
        cls.root = os.path.join(cls.folder, "root")
        run("dpkg-deb", "-x", cls.deb, cls.root)
        cls.varrowd, = glob.glob(f"{cls.root}/**/sbin/varrowd", recursive=True)
        cls.addClassCleanup(shutil.rmtree, cls.folder)

    def test_lintian_finds_no_error(self):
        if not shutil.which("lintian"):
            self.skipTest("lintian is not installed")
        if "/usr/local/" in self.varrowd:
            self.skipTest("lintian checks the package preset's build (under /usr)")
        check = run("lintian", "--fail-on", "error", self.deb)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

    def test_the_unit_verifies(self):
        if not shutil.which("systemd-analyze"):
            self.skipTest("systemd-analyze is not installed")
        unit, = glob.glob(f"{self.root}/**/systemd/system/varrowd.service", recursive=True)
        with open(unit) as f:  # its varrowd is the extracted one
            text = re.sub(r"^ExecStart=\S+", "ExecStart=" + self.varrowd, f.read(), flags=re.M)
        with open(os.path.join(self.folder, "varrowd.service"), "w") as f:
            f.write(text)
        check = run("systemd-analyze", "verify", f.name)
        self.assertEqual((check.returncode, check.stderr), (0, ""))

    def test_the_extracted_varrowd_runs_a_call(self):
        built = run(f"{BUILD}/bin/varrowd", "--version").stdout
        self.assertEqual(run(self.varrowd, "--version").stdout, built)
        server = subprocess.Popen([self.varrowd, "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(server.wait, 15)
        self.addCleanup(server.terminate)
        port = int(server.stdout.readline().rsplit(":", 1)[1])
        with pytds.connect(server="127.0.0.1", port=port, user="sa", password="x", autocommit=True,
                           bytes_to_unicode=False, login_timeout=10) as conn:
            with conn.cursor() as cur:
                out = pytds.output(value=None, param_type="VARCHAR(2)")
                self.assertEqual(cur.callproc("xp_hexstr", [b"\x5a", out])[1], b"5A")


class WindowsZip(unittest.TestCase):
    def test_both_dlls_and_the_scripts(self):
        with open(f"{BUILD}/CPackWindowsConfig.cmake") as f:
            source = re.search(r'"([^";]*)/build/windows-x64;', f.read())
        builds = {a: f"{source.group(1)}/build/windows-{a}/bin/Varrow.dll" for a in ["x64", "x86"]}
        if not all(map(os.path.exists, builds.values())):
            self.skipTest("needs both Windows builds: " + ", ".join(builds.values()))
        with tempfile.TemporaryDirectory() as folder:
            made = run("cpack", "--config", f"{BUILD}/CPackWindowsConfig.cmake", "-B", folder)
            self.assertEqual(made.returncode, 0, made.stdout + made.stderr)
            with zipfile.ZipFile(glob.glob(f"{folder}/Varrow-*-windows.zip")[0]) as z:
                names = {n.split("/", 1)[1]: n for n in z.namelist() if not n.endswith("/")}
                self.assertEqual(set(names), {"x64/Varrow.dll", "x86/Varrow.dll", "install.sql",
                                              "uninstall.sql", "examples.sql", "README.md", "LICENSE"})
                for arch, machine in [("x64", 0x8664), ("x86", 0x14C)]:  # the PE header's machine
                    dll = z.read(names[arch + "/Varrow.dll"])
                    pe = struct.unpack_from("<I", dll, 0x3C)[0]
                    self.assertEqual(struct.unpack_from("<H", dll, pe + 4)[0], machine, arch)


if __name__ == "__main__":
    unittest.main()
