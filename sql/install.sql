-- Registers the five Varrow procedures with SQL Server.
-- Copy Varrow.dll into the server's Binn folder first, then run this script
-- in master as a member of the sysadmin role. It grants no permissions:
-- only sysadmin members can run the procedures until you grant EXECUTE.
USE master;
GO
EXEC sp_addextendedproc 'xp_AES_Encrypt', 'Varrow.dll';
EXEC sp_addextendedproc 'xp_AES_Decrypt', 'Varrow.dll';
EXEC sp_addextendedproc 'xp_MD5_Encrypt', 'Varrow.dll';
EXEC sp_addextendedproc 'xp_SHA1_Encrypt', 'Varrow.dll';
EXEC sp_addextendedproc 'xp_hexstr', 'Varrow.dll';
GO
