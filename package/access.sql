# The installation directory's access list, applied by CreateFolders; build-package
# runs each statement with msibuild -q (wixl writes no LockPermissions table).
# The deferred handlers run as LocalSystem what this directory holds, so only
# administrators may change it, wherever it is put. The engine gives LocalSystem
# full control itself and maps only "Everyone" and "Administrators" to the same
# account on every language of Windows: readers are Everyone, not "Users",
# which a German or French system would not find.
CREATE TABLE `LockPermissions` (`LockObject` CHAR(72) NOT NULL, `Table` CHAR(32) NOT NULL, `Domain` CHAR(255), `User` CHAR(255) NOT NULL, `Permission` LONG PRIMARY KEY `LockObject`, `Table`, `Domain`, `User`)
# GENERIC_ALL
INSERT INTO `LockPermissions` (`LockObject`, `Table`, `User`, `Permission`) VALUES ('INSTALLDIR', 'CreateFolder', 'Administrators', 268435456)
# GENERIC_READ | GENERIC_EXECUTE
INSERT INTO `LockPermissions` (`LockObject`, `Table`, `User`, `Permission`) VALUES ('INSTALLDIR', 'CreateFolder', 'Everyone', -1610612736)
