// What the Node driver tests share: the connection settings run_driver.py
// passes in the environment, and the values every driver must see (computed
// here with Node's crypto, independently of varrowd).
'use strict';
const crypto = require('node:crypto');
const fs = require('node:fs');

const env = process.env;
const encryption = env.VARROW_TEST_ENCRYPTION || 'off'; // off, require or strict

// tedious's connection configuration for these settings.
function tediousConfig() {
  const options = {
    port: Number(env.VARROW_TEST_PORT),
    encrypt: encryption === 'strict' ? 'strict' : encryption === 'require',
    trustServerCertificate: false,
    connectTimeout: 10000,
    requestTimeout: 20000,
  };
  if (env.VARROW_TEST_CAFILE) {
    options.cryptoCredentialsDetails = { ca: fs.readFileSync(env.VARROW_TEST_CAFILE) };
  }
  return {
    server: env.VARROW_TEST_HOST || '127.0.0.1',
    authentication: {
      type: 'default',
      options: { userName: env.VARROW_TEST_USER, password: env.VARROW_TEST_PASSWORD },
    },
    options,
  };
}

const md5 = (data) => crypto.createHash('md5').update(data).digest();

function aesEcbHex(plain, keyHex) {
  const key = Buffer.from(keyHex, 'hex');
  const cipher = crypto.createCipheriv(`aes-${key.length * 8}-ecb`, key, null);
  return Buffer.concat([cipher.update(plain), cipher.final()]).toString('hex').toUpperCase();
}

module.exports = {
  tediousConfig,
  md5,
  aesEcbHex,
  KEY_128: '000102030405060708090A0B0C0D0E0F',
  PLAIN: 'The quick brown fox',
  BAD_KEY: '0123',
  TEXT_50005:
    'Error: invalid key param, key should be 32/48/64 bytes char that contains hex values',
  // 'abc' is bound to @P1; @d and @h live in the statement.
  HASH_THEN_HEX:
    'DECLARE @d VARCHAR(16), @h VARCHAR(32); ' +
    'EXEC xp_MD5_Encrypt @P1, @d OUTPUT; EXEC xp_hexstr @d, @h OUTPUT; SELECT @h',
  // Plain text in @P1, key in @P2: the cipher text as hex and the decrypted text.
  AES_ROUND_TRIP:
    'DECLARE @c VARCHAR(64), @h VARCHAR(128), @p VARCHAR(64); ' +
    'EXEC xp_AES_Encrypt @P1, @P2, @c OUTPUT; EXEC xp_hexstr @c, @h OUTPUT; ' +
    'EXEC xp_AES_Decrypt @c, @P2, @p OUTPUT; SELECT @h, @p',
};
