// varrowd through the mssql package (over tedious): a pool with its
// validation query, request.query() with inputs, request.execute() with
// outputs, request.batch().
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert');
const sql = require('mssql');
const c = require('./common');

let pool;

before(async () => {
  const t = c.tediousConfig();
  pool = new sql.ConnectionPool({
    server: t.server,
    port: t.options.port,
    user: t.authentication.options.userName,
    password: t.authentication.options.password,
    options: t.options,
    pool: { max: 2, min: 0 }, // validation ('SELECT 1;') on every acquire, as by default
  });
  await pool.connect();
});

after(() => pool.close());

// A request with its info messages collected.
function request() {
  const r = pool.request();
  r.infos = [];
  r.on('info', (m) => r.infos.push({ number: m.number, message: m.message }));
  return r;
}

test('parameterised query', async () => {
  const result = await request().input('P1', sql.VarChar, 'abc').query(c.HASH_THEN_HEX);
  assert.deepStrictEqual(result.recordset.map((row) => row['']), [
    c.md5('abc').toString('hex').toUpperCase(),
  ]);
  // Without inputs request.query() goes the same way.
  const one = await request().query('SELECT 1 AS one');
  assert.deepStrictEqual(one.recordset, [{ one: 1 }]);
});

test('procedure with OUTPUT parameters', async () => {
  const result = await request()
    .input('in', sql.VarChar, 'abc')
    .output('out', sql.VarChar(100))
    .execute('xp_hexstr');
  assert.deepStrictEqual([result.output, result.returnValue], [{ out: '616263' }, 0]);
});

test('AES round trip', async () => {
  const result = await request()
    .input('P1', sql.VarChar, c.PLAIN)
    .input('P2', sql.VarChar, c.KEY_128)
    .query(c.AES_ROUND_TRIP);
  assert.deepStrictEqual(Object.values(result.recordset[0]).flat(), [
    c.aesEcbHex(c.PLAIN, c.KEY_128),
    c.PLAIN,
  ]);
});

test('failing call: message 50005 and status 1', async () => {
  const r = request();
  const result = await r
    .input('in', sql.VarChar, 'x')
    .input('key', sql.VarChar, c.BAD_KEY)
    .output('out', sql.VarChar(64))
    .execute('xp_AES_Encrypt');
  assert.deepStrictEqual([result.returnValue, result.output], [1, { out: null }]);
  assert.deepStrictEqual(r.infos, [{ number: 50005, message: c.TEXT_50005 }]);
  await assert.rejects(request().execute('xp_nothing'), (e) => e.number === 2812);
});

test('plain batch', async () => {
  const result = await request().batch(
    "DECLARE @h VARCHAR(10); EXEC xp_hexstr 'hi', @h OUTPUT; SELECT @h AS h"
  );
  assert.deepStrictEqual(result.recordset, [{ h: '6869' }]);
});
