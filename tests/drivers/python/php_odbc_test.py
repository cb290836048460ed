"""varrowd through PHP's odbc extension (php-cli, php-odbc) and FreeTDS's
ODBC driver: runs php/odbc_test.php with the ODBC driver registered as for
pyodbc."""
import os
import subprocess
import sys

import common as c
import pyodbc_test  # noqa: F401 - registers the ODBC driver in the environment

CONNECTION = ("DRIVER={FreeTDS};SERVER=%s;PORT=%d;TDS_Version=7.4" % (c.HOST, c.PORT))
SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "php", "odbc_test.php")

if __name__ == "__main__":
    result = subprocess.run(["php", SCRIPT], env={**os.environ, "VARROW_ODBC": CONNECTION},
                            timeout=120)
    sys.exit(result.returncode)
