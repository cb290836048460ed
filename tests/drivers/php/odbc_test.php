<?php
// varrowd through PHP's odbc extension and FreeTDS's ODBC driver with PHP's
// default cursor (static: the driver opens server cursors, sp_cursoropen,
// and fetches through sp_cursorfetch). Run by php_odbc_test.py, which gives
// the connection string; exits 1 at the first check that fails.
$failed = 0;
function check($what, $got, $want) {
    global $failed;
    if ($got !== $want) {
        fwrite(STDERR, "FAIL $what: got " . var_export($got, true) . ", want " . var_export($want, true) . "\n");
        $failed = 1;
    } else {
        echo "ok $what\n";
    }
}
function rows($result) {
    $rows = [];
    while ($row = odbc_fetch_array($result)) $rows[] = $row;
    return $rows;
}

$conn = odbc_connect(getenv("VARROW_ODBC"), getenv("VARROW_TEST_USER"), getenv("VARROW_TEST_PASSWORD"));
if (!$conn) { fwrite(STDERR, "connect: " . odbc_errormsg() . "\n"); exit(1); }

check("odbc_exec", rows(odbc_exec($conn, "SELECT 1+1 AS result, REVERSE('cba') AS t")),
      [["result" => "2", "t" => "abc"]]);
check("a procedure's OUTPUT in a batch",
      rows(odbc_exec($conn, "DECLARE @h VARCHAR(10); EXEC xp_hexstr 'hi', @h OUTPUT; SELECT @h AS h")),
      [["h" => "6869"]]);
check("an error", @odbc_exec($conn, "SELECT 1 / 0"), false);
check("its number", strpos(odbc_errormsg($conn), "Divide by zero") !== false, true);
// odbc_prepare with markers needs SQLDescribeParam, which FreeTDS's driver
// lacks: prepared statements go without them.
$prepared = odbc_prepare($conn, "SELECT UPPER('abc') AS u, CONCAT('a', 1) AS c");
check("odbc_prepare", $prepared !== false, true);
for ($i = 0; $i < 2; ++$i) {
    check("odbc_execute $i", odbc_execute($prepared), true);
    check("its rows $i", rows($prepared), [["u" => "ABC", "c" => "a1"]]);
}
odbc_close($conn);
exit($failed);
