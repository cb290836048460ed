// varrowd through tedious: execSql (RPC to sp_executesql), callProcedure
// (RPC by name) with OUTPUT parameters, execSqlBatch.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert');
const { Connection, Request, TYPES } = require('tedious');
const c = require('./common');

let connection;

before(async () => {
  connection = new Connection(c.tediousConfig());
  await new Promise((resolve, reject) => {
    connection.on('connect', (err) => (err ? reject(err) : resolve()));
    connection.connect();
  });
});

after(() => connection.close());

// Runs one request: its rows, its OUTPUT values by name, the return status
// of each procedure, the messages that arrived meanwhile, and the error.
function run(method, sql, setup) {
  return new Promise((resolve) => {
    const result = { rows: [], outputs: {}, statuses: [], infos: [], errors: [] };
    const onInfo = (m) => result.infos.push({ number: m.number, class: m.class, message: m.message });
    const onError = (m) => result.errors.push({ number: m.number, message: m.message });
    connection.on('infoMessage', onInfo);
    connection.on('errorMessage', onError);
    const request = new Request(sql, (err) => {
      connection.removeListener('infoMessage', onInfo);
      connection.removeListener('errorMessage', onError);
      result.error = err;
      resolve(result);
    });
    request.on('row', (columns) => result.rows.push(columns.map((col) => col.value)));
    request.on('returnValue', (name, value) => (result.outputs[name] = value));
    request.on('doneProc', (rowCount, more, status) => result.statuses.push(status));
    setup(request);
    connection[method](request);
  });
}

test('parameterised query through sp_executesql', async () => {
  const r = await run('execSql', c.HASH_THEN_HEX, (q) => q.addParameter('P1', TYPES.VarChar, 'abc'));
  assert.ifError(r.error);
  assert.deepStrictEqual(r.rows, [[c.md5('abc').toString('hex').toUpperCase()]]);
});

test('sp_executesql returns OUTPUT parameters and messages', async () => {
  const sql =
    'EXEC xp_hexstr @in, @h OUTPUT; ' +
    "EXEC @rc = xp_AES_Encrypt 'x', '0123', @c OUTPUT";
  const r = await run('execSql', sql, (q) => {
    q.addParameter('in', TYPES.VarChar, 'hi');
    q.addOutputParameter('h', TYPES.VarChar, null, { length: 20 });
    q.addOutputParameter('rc', TYPES.Int);
    q.addOutputParameter('c', TYPES.VarChar, null, { length: 32 });
  });
  assert.ifError(r.error);
  assert.deepStrictEqual(r.outputs, { h: '6869', rc: 1, c: null });
  assert.deepStrictEqual(r.infos.map((m) => m.number), [50005]);
});

test('RPC with OUTPUT parameters', async () => {
  let r = await run('callProcedure', 'xp_hexstr', (q) => {
    q.addParameter('in', TYPES.VarChar, 'abc');
    q.addOutputParameter('out', TYPES.VarChar, null, { length: 100 });
  });
  assert.ifError(r.error);
  assert.deepStrictEqual([r.outputs.out, r.statuses], ['616263', [0]]);
  // An NVARCHAR OUTPUT carries the raw digest losslessly.
  r = await run('callProcedure', 'xp_MD5_Encrypt', (q) => {
    q.addParameter('in', TYPES.VarChar, 'abc');
    q.addOutputParameter('out', TYPES.NVarChar, null, { length: 8 });
  });
  assert.ifError(r.error);
  assert.deepStrictEqual(Buffer.from(r.outputs.out, 'utf16le'), c.md5('abc'));
});

test('AES round trip', async () => {
  const r = await run('execSql', c.AES_ROUND_TRIP, (q) => {
    q.addParameter('P1', TYPES.VarChar, c.PLAIN);
    q.addParameter('P2', TYPES.VarChar, c.KEY_128);
  });
  assert.ifError(r.error);
  assert.deepStrictEqual(r.rows, [[c.aesEcbHex(c.PLAIN, c.KEY_128), c.PLAIN]]);
});

test('failing call: message 50005 and status 1, by RPC and in a batch', async () => {
  let r = await run('callProcedure', 'xp_AES_Encrypt', (q) => {
    q.addParameter('in', TYPES.VarChar, 'x');
    q.addParameter('key', TYPES.VarChar, c.BAD_KEY);
    q.addOutputParameter('out', TYPES.VarChar, null, { length: 64 });
  });
  assert.ifError(r.error);
  assert.deepStrictEqual(r.infos, [{ number: 50005, class: 10, message: c.TEXT_50005 }]);
  assert.deepStrictEqual([r.statuses, r.outputs], [[1], { out: null }]);
  r = await run('execSqlBatch', "DECLARE @c VARCHAR(16); EXEC xp_AES_Encrypt 'x', '0123', @c OUTPUT", () => {});
  assert.ifError(r.error);
  assert.deepStrictEqual([r.infos.map((m) => m.number), r.statuses], [[50005], [1]]);
  // varrowd's own errors stay errors.
  r = await run('callProcedure', 'xp_nothing', () => {});
  assert.strictEqual(r.error && r.error.number, 2812);
});

test('plain batch', async () => {
  const r = await run('execSqlBatch', 'SELECT 1 AS one', () => {});
  assert.ifError(r.error);
  assert.deepStrictEqual(r.rows, [[1]]);
});
