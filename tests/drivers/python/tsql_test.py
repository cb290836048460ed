"""varrowd through FreeTDS's tsql (freetds-bin), which sends batches only
and prints each procedure's return status."""
import os
import subprocess
import unittest

import common as c


def tsql(batch):
    """tsql's output for one batch, and its exit status."""
    result = subprocess.run(["tsql", "-H", c.HOST, "-p", str(c.PORT), "-U", c.USER,
                             "-P", c.PASSWORD], input=batch + "\ngo\nexit\n",
                            capture_output=True, text=True, timeout=60,
                            env={**os.environ, **c.freetds_environment()})
    return result.stdout + result.stderr


class TsqlTest(unittest.TestCase):
    def test_procedure_calls_with_outputs(self):
        out = tsql("DECLARE @P1 VARCHAR(3) = 'abc';\n" + c.HASH_THEN_HEX.format(p="@P1"))
        self.assertIn(c.MD5_ABC_HEX, out)
        self.assertEqual(out.count("(return status = 0)"), 2, out)

    def test_aes_round_trip(self):
        out = tsql(c.AES_ROUND_TRIP.format(p="'%s'" % c.PLAIN, k="'%s'" % c.KEY_128))
        self.assertIn(c.aes_ecb_hex(c.PLAIN.encode(), c.KEY_128), out)
        self.assertIn(c.PLAIN, out)

    def test_failing_call(self):
        out = tsql("DECLARE @c VARCHAR(16)\nEXEC xp_AES_Encrypt 'x', '%s', @c OUTPUT" % c.BAD_KEY)
        self.assertIn("Msg 50005 (severity 10", out)
        self.assertIn(c.TEXT_50005, out)
        self.assertIn("(return status = 1)", out)

    def test_plain_batch(self):
        out = tsql("SELECT 1 AS one")
        self.assertIn("one", out)
        self.assertIn("(1 row affected)", out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
