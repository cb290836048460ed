-- A short tour of the procedures, as SQL code calls them.

-- AES with the built-in key (NULL), and back again.
DECLARE @cipher VARCHAR(100), @plain VARCHAR(100), @rc INT
EXEC @rc = master.dbo.xp_AES_Encrypt 'Attack at dawn', NULL, @cipher OUTPUT
EXEC master.dbo.xp_AES_Decrypt @cipher, NULL, @plain OUTPUT
SELECT CAST(@cipher AS VARBINARY(100)) AS ciphertext, @plain AS decrypted, @rc AS status
GO

-- AES-256 with a key given as 64 hexadecimal digits.
DECLARE @key VARCHAR(64) = '603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4'
DECLARE @cipher VARCHAR(100), @plain VARCHAR(100)
EXEC master.dbo.xp_AES_Encrypt 'sixteen byte msg', @key, @cipher OUTPUT
EXEC master.dbo.xp_AES_Decrypt @cipher, @key, @plain OUTPUT
SELECT CAST(@cipher AS VARBINARY(100)) AS ciphertext, @plain AS decrypted
GO

-- Digests as raw bytes, shown as hexadecimal text.
DECLARE @md5 VARCHAR(16), @sha1 VARCHAR(20), @md5_hex VARCHAR(32), @sha1_hex VARCHAR(40)
EXEC master.dbo.xp_MD5_Encrypt 'abc', @md5 OUTPUT
EXEC master.dbo.xp_SHA1_Encrypt 'abc', @sha1 OUTPUT
EXEC master.dbo.xp_hexstr @md5, @md5_hex OUTPUT
EXEC master.dbo.xp_hexstr @sha1, @sha1_hex OUTPUT
SELECT @md5_hex AS md5_of_abc, @sha1_hex AS sha1_of_abc
GO
