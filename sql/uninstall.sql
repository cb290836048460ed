-- Removes the five Varrow procedures from SQL Server and unloads Varrow.dll,
-- so that the file can be replaced or deleted. Run it as a member of
-- sysadmin, in SSMS or with
--     sqlcmd -S SERVER -E -b -i uninstall.sql
-- Running it again, or on a server without the procedures, changes nothing.
-- It stops at the first failure and says which procedures are still there.
-- The script is one batch, so that nothing of it runs past a failure.
SET NOCOUNT ON;
USE master;
IF ISNULL(IS_SRVROLEMEMBER(N'sysadmin'), 0) <> 1
BEGIN
    RAISERROR(N'uninstall.sql must be run by a member of the sysadmin role; nothing was changed.', 16, 1) WITH NOWAIT;
    RETURN;
END;
BEGIN TRY
    IF OBJECT_ID(N'master.dbo.xp_AES_Encrypt', N'X') IS NOT NULL
        EXEC master.dbo.sp_dropextendedproc N'xp_AES_Encrypt';
    IF OBJECT_ID(N'master.dbo.xp_AES_Decrypt', N'X') IS NOT NULL
        EXEC master.dbo.sp_dropextendedproc N'xp_AES_Decrypt';
    IF OBJECT_ID(N'master.dbo.xp_MD5_Encrypt', N'X') IS NOT NULL
        EXEC master.dbo.sp_dropextendedproc N'xp_MD5_Encrypt';
    IF OBJECT_ID(N'master.dbo.xp_SHA1_Encrypt', N'X') IS NOT NULL
        EXEC master.dbo.sp_dropextendedproc N'xp_SHA1_Encrypt';
    IF OBJECT_ID(N'master.dbo.xp_hexstr', N'X') IS NOT NULL
        EXEC master.dbo.sp_dropextendedproc N'xp_hexstr';
    -- The server keeps a DLL loaded after its first call until told otherwise.
    DBCC Varrow(FREE) WITH NO_INFOMSGS;
    RAISERROR(N'uninstall.sql: the Varrow procedures are removed and Varrow.dll is unloaded.', 0, 1) WITH NOWAIT;
END TRY
BEGIN CATCH
    DECLARE @failure NVARCHAR(2048) = ERROR_MESSAGE(), @left NVARCHAR(200) = N'';
    SELECT @left = @left + N' ' + name FROM master.sys.extended_procedures
        WHERE name IN (N'xp_AES_Encrypt', N'xp_AES_Decrypt', N'xp_MD5_Encrypt', N'xp_SHA1_Encrypt', N'xp_hexstr');
    IF @left = N'' SET @left = N' none';
    RAISERROR(N'uninstall.sql stopped: %s Still registered:%s. Fix the cause and run uninstall.sql again.', 16, 1, @failure, @left) WITH NOWAIT;
END CATCH;
