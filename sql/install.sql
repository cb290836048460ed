-- Registers the five Varrow procedures with SQL Server on Windows.
-- Copy the Varrow.dll of the server's width into the server's Binn folder
-- first, then run this script as a member of sysadmin, in SSMS or with
--     sqlcmd -S SERVER -E -b -i install.sql
-- (-b: sqlcmd's exit status is 1 when the script failed). Running it again
-- changes nothing: a procedure already registered is left as it is. It stops
-- at the first failure and says which procedures are registered then.
-- It grants nothing: only sysadmin members can run the procedures until you
-- grant EXECUTE (an example follows the script; read the security notes in
-- README.md first).
-- The script is one batch, so that nothing of it runs past a failure.
SET NOCOUNT ON;
USE master;
IF ISNULL(IS_SRVROLEMEMBER(N'sysadmin'), 0) <> 1
BEGIN
    RAISERROR(N'install.sql must be run by a member of the sysadmin role; nothing was changed.', 16, 1) WITH NOWAIT;
    RETURN;
END;
BEGIN TRY
    IF OBJECT_ID(N'master.dbo.xp_AES_Encrypt', N'X') IS NULL
        EXEC master.dbo.sp_addextendedproc N'xp_AES_Encrypt', N'Varrow.dll';
    IF OBJECT_ID(N'master.dbo.xp_AES_Decrypt', N'X') IS NULL
        EXEC master.dbo.sp_addextendedproc N'xp_AES_Decrypt', N'Varrow.dll';
    IF OBJECT_ID(N'master.dbo.xp_MD5_Encrypt', N'X') IS NULL
        EXEC master.dbo.sp_addextendedproc N'xp_MD5_Encrypt', N'Varrow.dll';
    IF OBJECT_ID(N'master.dbo.xp_SHA1_Encrypt', N'X') IS NULL
        EXEC master.dbo.sp_addextendedproc N'xp_SHA1_Encrypt', N'Varrow.dll';
    IF OBJECT_ID(N'master.dbo.xp_hexstr', N'X') IS NULL
        EXEC master.dbo.sp_addextendedproc N'xp_hexstr', N'Varrow.dll';
    RAISERROR(N'install.sql: the five Varrow procedures are registered.', 0, 1) WITH NOWAIT;
END TRY
BEGIN CATCH
    DECLARE @failure NVARCHAR(2048) = ERROR_MESSAGE(), @registered NVARCHAR(200) = N'';
    SELECT @registered = @registered + N' ' + name FROM master.sys.extended_procedures
        WHERE name IN (N'xp_AES_Encrypt', N'xp_AES_Decrypt', N'xp_MD5_Encrypt', N'xp_SHA1_Encrypt', N'xp_hexstr');
    IF @registered = N'' SET @registered = N' none';
    RAISERROR(N'install.sql stopped: %s Registered now:%s. Fix the cause and run install.sql again, or remove them with uninstall.sql.', 16, 1, @failure, @registered) WITH NOWAIT;
END CATCH;

-- Granting EXECUTE to a role in master whose members may then call the
-- procedures (a login needs a user in master to be a member):
--     USE master;
--     CREATE ROLE varrow_callers;
--     GRANT EXECUTE ON master.dbo.xp_AES_Encrypt TO varrow_callers;
--     GRANT EXECUTE ON master.dbo.xp_AES_Decrypt TO varrow_callers;
--     GRANT EXECUTE ON master.dbo.xp_MD5_Encrypt TO varrow_callers;
--     GRANT EXECUTE ON master.dbo.xp_SHA1_Encrypt TO varrow_callers;
--     GRANT EXECUTE ON master.dbo.xp_hexstr TO varrow_callers;
--     CREATE USER app_user FOR LOGIN app_login;
--     ALTER ROLE varrow_callers ADD MEMBER app_user;
-- Whoever may call xp_AES_Encrypt or xp_AES_Decrypt may also name
-- keyfile=PATH, which the server reads with its service account's rights.
