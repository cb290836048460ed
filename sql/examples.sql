-- One call of each Varrow procedure, as master.dbo.xp_..., which any login
-- granted EXECUTE on them may run (see install.sql). Every procedure hands
-- its result back through an OUTPUT variable and returns status 0 on success,
-- 1 on failure (with one message numbered 50001 to 50016).

-- AES-128 with a key given as 32 hexadecimal digits.
DECLARE @rc INT, @cipher VARCHAR(100)
EXEC @rc = master.dbo.xp_AES_Encrypt 'Attack at dawn', '000102030405060708090A0B0C0D0E0F', @cipher OUTPUT
SELECT @rc AS status, CAST(@cipher AS VARBINARY(100)) AS ciphertext
GO

-- Decryption with the built-in key (NULL); the ciphertext comes first.
DECLARE @rc INT, @cipher VARCHAR(100), @plain VARCHAR(100)
EXEC master.dbo.xp_AES_Encrypt 'Attack at dawn', NULL, @cipher OUTPUT
EXEC @rc = master.dbo.xp_AES_Decrypt @cipher, NULL, @plain OUTPUT
SELECT @rc AS status, @plain AS plaintext
GO

-- MD5: 16 raw bytes.
DECLARE @rc INT, @md5 VARCHAR(16)
EXEC @rc = master.dbo.xp_MD5_Encrypt 'abc', @md5 OUTPUT
SELECT @rc AS status, CAST(@md5 AS VARBINARY(16)) AS md5
GO

-- SHA-1: 20 raw bytes.
DECLARE @rc INT, @sha1 VARCHAR(20)
EXEC @rc = master.dbo.xp_SHA1_Encrypt 'abc', @sha1 OUTPUT
SELECT @rc AS status, CAST(@sha1 AS VARBINARY(20)) AS sha1
GO

-- Hexadecimal text: two uppercase digits per byte; the output must be
-- CHAR or VARCHAR with room for twice the input.
DECLARE @rc INT, @hex VARCHAR(20)
EXEC @rc = master.dbo.xp_hexstr 'Varrow', @hex OUTPUT
SELECT @rc AS status, @hex AS hex
GO
