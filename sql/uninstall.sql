-- Removes the five Varrow procedures from SQL Server; run in master as a
-- member of sysadmin. Then unload the DLL with DBCC Varrow(FREE) before
-- replacing or deleting Varrow.dll.
USE master;
GO
EXEC sp_dropextendedproc 'xp_AES_Encrypt';
EXEC sp_dropextendedproc 'xp_AES_Decrypt';
EXEC sp_dropextendedproc 'xp_MD5_Encrypt';
EXEC sp_dropextendedproc 'xp_SHA1_Encrypt';
EXEC sp_dropextendedproc 'xp_hexstr';
GO
