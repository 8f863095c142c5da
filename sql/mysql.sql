-- Ostrel schema for MySQL and MariaDB.
-- Load with: mariadb ostrel < mysql.sql   (or: mysql ostrel < mysql.sql)
-- Texts compare by their bytes (utf8mb4_bin), as on the other engines.
-- One statement per block ending in a semicolon at the end of a line, so that the administration
-- tool can split the file. Safe to load twice.
--
-- Grants are read by customer, by team and by domain plus user id: the primary keys of the grant
-- tables lead with those columns and serve these look-ups. The secondary keys serve the other
-- look-ups and the checks of the foreign keys.

CREATE TABLE IF NOT EXISTS `Customer` (
    `Customer` VARCHAR(128) NOT NULL,
    `Name` VARCHAR(255),
    PRIMARY KEY (`Customer`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `Platform` (
    `Platform` VARCHAR(128) NOT NULL,
    `Description` VARCHAR(255),
    PRIMARY KEY (`Platform`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

-- AuthenticationTokenDisposition: one of C, H, N, P, X. Flags hold Y for true.
CREATE TABLE IF NOT EXISTS `AuthenticationLibrary` (
    `AuthenticationLibrary` INTEGER NOT NULL,
    `Description` VARCHAR(255),
    `AuthenticationTokenDisposition` CHAR(1),
    `UserTools` CHAR(1),
    PRIMARY KEY (`AuthenticationLibrary`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `Domain` (
    `Domain` VARCHAR(128) NOT NULL,
    `Description` VARCHAR(255),
    `Customer` VARCHAR(128),
    `AuthenticationLibrary` INTEGER,
    `UserTools` CHAR(1),
    PRIMARY KEY (`Domain`),
    FOREIGN KEY (`Customer`) REFERENCES `Customer` (`Customer`),
    FOREIGN KEY (`AuthenticationLibrary`) REFERENCES `AuthenticationLibrary` (`AuthenticationLibrary`),
    KEY `IX_Domain_Customer` (`Customer`),
    KEY `IX_Domain_AuthenticationLibrary` (`AuthenticationLibrary`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

-- Status: 0 active, anything else locked. BadLoginCount: failed logins in a row.
-- LockedUntil: seconds since the epoch, or NULL.
CREATE TABLE IF NOT EXISTS `User` (
    `Domain` VARCHAR(128) NOT NULL,
    `UserId` VARCHAR(128) NOT NULL,
    `Name` VARCHAR(255),
    `AuthenticationToken` VARCHAR(512),
    `Contact` VARCHAR(255),
    `Status` INTEGER NOT NULL DEFAULT 0,
    `BadLoginCount` INTEGER NOT NULL DEFAULT 0,
    `LockedUntil` BIGINT,
    PRIMARY KEY (`Domain`, `UserId`),
    FOREIGN KEY (`Domain`) REFERENCES `Domain` (`Domain`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `Team` (
    `Team` INTEGER NOT NULL,
    `Customer` VARCHAR(128),
    `Name` VARCHAR(255),
    PRIMARY KEY (`Team`),
    FOREIGN KEY (`Customer`) REFERENCES `Customer` (`Customer`),
    KEY `IX_Team_Customer` (`Customer`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `UserTeam` (
    `Domain` VARCHAR(128) NOT NULL,
    `UserId` VARCHAR(128) NOT NULL,
    `Team` INTEGER NOT NULL,
    `IsLead` CHAR(1),
    PRIMARY KEY (`Domain`, `UserId`, `Team`),
    FOREIGN KEY (`Domain`, `UserId`) REFERENCES `User` (`Domain`, `UserId`),
    FOREIGN KEY (`Team`) REFERENCES `Team` (`Team`),
    KEY `IX_UserTeam_Team` (`Team`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `TeamMap` (
    `Domain` VARCHAR(128) NOT NULL,
    `AlienGroup` VARCHAR(128),
    `AlienGroupLeadGroup` VARCHAR(128),
    `Team` INTEGER NOT NULL,
    PRIMARY KEY (`Domain`, `Team`),
    FOREIGN KEY (`Domain`) REFERENCES `Domain` (`Domain`),
    FOREIGN KEY (`Team`) REFERENCES `Team` (`Team`),
    KEY `IX_TeamMap_Team` (`Team`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

-- Status in the product tables: -1 revoked, 0 denied, 1 granted.
CREATE TABLE IF NOT EXISTS `Product` (
    `Product` INTEGER NOT NULL,
    `Description` VARCHAR(255),
    PRIMARY KEY (`Product`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `ProductRole` (
    `Product` INTEGER NOT NULL,
    `Role` INTEGER NOT NULL,
    `Description` VARCHAR(255),
    `Status` INTEGER,
    PRIMARY KEY (`Product`, `Role`),
    FOREIGN KEY (`Product`) REFERENCES `Product` (`Product`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `ProductPermission` (
    `Product` INTEGER NOT NULL,
    `Permission` INTEGER NOT NULL,
    `Description` VARCHAR(255),
    `Status` INTEGER,
    PRIMARY KEY (`Product`, `Permission`),
    FOREIGN KEY (`Product`) REFERENCES `Product` (`Product`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `ProductRolePermission` (
    `Product` INTEGER NOT NULL,
    `Role` INTEGER NOT NULL,
    `Permission` INTEGER NOT NULL,
    `Status` INTEGER,
    PRIMARY KEY (`Product`, `Role`, `Permission`),
    FOREIGN KEY (`Product`, `Role`) REFERENCES `ProductRole` (`Product`, `Role`),
    FOREIGN KEY (`Product`, `Permission`) REFERENCES `ProductPermission` (`Product`, `Permission`),
    KEY `IX_ProductRolePermission_Permission` (`Product`, `Permission`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `TeamProductRole` (
    `Team` INTEGER NOT NULL,
    `Product` INTEGER NOT NULL,
    `Role` INTEGER NOT NULL,
    `Status` INTEGER,
    PRIMARY KEY (`Team`, `Product`, `Role`),
    FOREIGN KEY (`Team`) REFERENCES `Team` (`Team`),
    FOREIGN KEY (`Product`, `Role`) REFERENCES `ProductRole` (`Product`, `Role`),
    KEY `IX_TeamProductRole_Role` (`Product`, `Role`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `TeamProductPermission` (
    `Team` INTEGER NOT NULL,
    `Product` INTEGER NOT NULL,
    `Permission` INTEGER NOT NULL,
    `Status` INTEGER,
    PRIMARY KEY (`Team`, `Product`, `Permission`),
    FOREIGN KEY (`Team`) REFERENCES `Team` (`Team`),
    FOREIGN KEY (`Product`, `Permission`) REFERENCES `ProductPermission` (`Product`, `Permission`),
    KEY `IX_TeamProductPermission_Permission` (`Product`, `Permission`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `UserProductRole` (
    `Domain` VARCHAR(128) NOT NULL,
    `UserId` VARCHAR(128) NOT NULL,
    `Product` INTEGER NOT NULL,
    `Role` INTEGER NOT NULL,
    `Status` INTEGER,
    PRIMARY KEY (`Domain`, `UserId`, `Product`, `Role`),
    FOREIGN KEY (`Domain`, `UserId`) REFERENCES `User` (`Domain`, `UserId`),
    FOREIGN KEY (`Product`, `Role`) REFERENCES `ProductRole` (`Product`, `Role`),
    KEY `IX_UserProductRole_Role` (`Product`, `Role`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `UserProductPermission` (
    `Domain` VARCHAR(128) NOT NULL,
    `UserId` VARCHAR(128) NOT NULL,
    `Product` INTEGER NOT NULL,
    `Permission` INTEGER NOT NULL,
    `Status` INTEGER,
    PRIMARY KEY (`Domain`, `UserId`, `Product`, `Permission`),
    FOREIGN KEY (`Domain`, `UserId`) REFERENCES `User` (`Domain`, `UserId`),
    FOREIGN KEY (`Product`, `Permission`) REFERENCES `ProductPermission` (`Product`, `Permission`),
    KEY `IX_UserProductPermission_Permission` (`Product`, `Permission`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `CustomerProductRole` (
    `Customer` VARCHAR(128) NOT NULL,
    `Product` INTEGER NOT NULL,
    `Role` INTEGER NOT NULL,
    `Status` INTEGER,
    PRIMARY KEY (`Customer`, `Product`, `Role`),
    FOREIGN KEY (`Customer`) REFERENCES `Customer` (`Customer`),
    FOREIGN KEY (`Product`, `Role`) REFERENCES `ProductRole` (`Product`, `Role`),
    KEY `IX_CustomerProductRole_Role` (`Product`, `Role`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `CustomerProductPermission` (
    `Customer` VARCHAR(128) NOT NULL,
    `Product` INTEGER NOT NULL,
    `Permission` INTEGER NOT NULL,
    `Status` INTEGER,
    PRIMARY KEY (`Customer`, `Product`, `Permission`),
    FOREIGN KEY (`Customer`) REFERENCES `Customer` (`Customer`),
    FOREIGN KEY (`Product`, `Permission`) REFERENCES `ProductPermission` (`Product`, `Permission`),
    KEY `IX_CustomerProductPermission_Permission` (`Product`, `Permission`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

-- SharedObject: the file that implements a library on a platform.
CREATE TABLE IF NOT EXISTS `SharedObject` (
    `Platform` VARCHAR(128) NOT NULL,
    `AuthenticationLibrary` INTEGER NOT NULL,
    `SharedObject` VARCHAR(1024),
    PRIMARY KEY (`Platform`, `AuthenticationLibrary`),
    FOREIGN KEY (`Platform`) REFERENCES `Platform` (`Platform`),
    FOREIGN KEY (`AuthenticationLibrary`) REFERENCES `AuthenticationLibrary` (`AuthenticationLibrary`),
    KEY `IX_SharedObject_AuthenticationLibrary` (`AuthenticationLibrary`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `AuthenticationLibraryParam` (
    `AuthenticationLibrary` INTEGER NOT NULL,
    `Param` VARCHAR(128) NOT NULL,
    `Value` VARCHAR(2000),
    PRIMARY KEY (`AuthenticationLibrary`, `Param`),
    FOREIGN KEY (`AuthenticationLibrary`) REFERENCES `AuthenticationLibrary` (`AuthenticationLibrary`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `AuthenticatorParam` (
    `Domain` VARCHAR(128) NOT NULL,
    `Param` VARCHAR(128) NOT NULL,
    `Value` VARCHAR(2000),
    PRIMARY KEY (`Domain`, `Param`),
    FOREIGN KEY (`Domain`) REFERENCES `Domain` (`Domain`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `Profile` (
    `Profile` VARCHAR(128) NOT NULL,
    `IsDefault` CHAR(1),
    PRIMARY KEY (`Profile`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `ProfileHost` (
    `Profile` VARCHAR(128) NOT NULL,
    `Host` VARCHAR(255) NOT NULL,
    PRIMARY KEY (`Profile`, `Host`),
    FOREIGN KEY (`Profile`) REFERENCES `Profile` (`Profile`),
    KEY `IX_ProfileHost_Host` (`Host`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `ProductParam` (
    `Profile` VARCHAR(128) NOT NULL,
    `Product` INTEGER NOT NULL,
    `Param` VARCHAR(128) NOT NULL,
    `Value` VARCHAR(2000),
    PRIMARY KEY (`Profile`, `Product`, `Param`),
    FOREIGN KEY (`Profile`) REFERENCES `Profile` (`Profile`),
    FOREIGN KEY (`Product`) REFERENCES `Product` (`Product`),
    KEY `IX_ProductParam_Product` (`Product`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

CREATE TABLE IF NOT EXISTS `DBProfile` (
    `PName` VARCHAR(128) NOT NULL,
    `PValue` VARCHAR(2000),
    PRIMARY KEY (`PName`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

-- Sessions kept for later by the daemons sharing this database. SessionDigest: the SHA-256 of the
-- session id in hexadecimal, never the id itself. Created, LastUsed: seconds since the epoch.
-- CredentialStamp: what the user's authenticator said of his credentials when the session was
-- kept (a digest), empty when it says nothing.
CREATE TABLE IF NOT EXISTS `KeptSession` (
    `SessionDigest` VARCHAR(64) NOT NULL,
    `Domain` VARCHAR(255) NOT NULL,
    `UserId` VARCHAR(255) NOT NULL,
    `Profile` VARCHAR(255),
    `Created` BIGINT NOT NULL,
    `LastUsed` BIGINT NOT NULL,
    `CredentialStamp` VARCHAR(255),
    PRIMARY KEY (`SessionDigest`),
    INDEX `IX_KeptSession_LastUsed` (`LastUsed`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

-- The model's change counter: every write to a table the daemons load from bumps it in the same
-- transaction (these triggers), so that each daemon sees a change whoever made it, ostrel-admin,
-- another program or plain SQL. Logins write "User" too (failure counts, new hashes): only rows
-- added or removed, or a name or contact changed, count there.
CREATE TABLE IF NOT EXISTS `ModelChange` (
    `Id` INTEGER NOT NULL,
    `Counter` BIGINT NOT NULL,
    PRIMARY KEY (`Id`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;
INSERT IGNORE INTO `ModelChange` (`Id`, `Counter`) VALUES (1, 0);
CREATE TRIGGER IF NOT EXISTS `TR_Customer_Insert` AFTER INSERT ON `Customer` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Customer_Update` AFTER UPDATE ON `Customer` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Customer_Delete` AFTER DELETE ON `Customer` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Platform_Insert` AFTER INSERT ON `Platform` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Platform_Update` AFTER UPDATE ON `Platform` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Platform_Delete` AFTER DELETE ON `Platform` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_AuthenticationLibrary_Insert` AFTER INSERT ON `AuthenticationLibrary` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_AuthenticationLibrary_Update` AFTER UPDATE ON `AuthenticationLibrary` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_AuthenticationLibrary_Delete` AFTER DELETE ON `AuthenticationLibrary` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Domain_Insert` AFTER INSERT ON `Domain` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Domain_Update` AFTER UPDATE ON `Domain` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Domain_Delete` AFTER DELETE ON `Domain` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_User_Insert` AFTER INSERT ON `User` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_User_Update` AFTER UPDATE ON `User` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1 AND NOT (OLD.`Name` <=> NEW.`Name` AND OLD.`Contact` <=> NEW.`Contact`);
CREATE TRIGGER IF NOT EXISTS `TR_User_Delete` AFTER DELETE ON `User` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Team_Insert` AFTER INSERT ON `Team` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Team_Update` AFTER UPDATE ON `Team` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Team_Delete` AFTER DELETE ON `Team` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_UserTeam_Insert` AFTER INSERT ON `UserTeam` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_UserTeam_Update` AFTER UPDATE ON `UserTeam` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_UserTeam_Delete` AFTER DELETE ON `UserTeam` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_TeamMap_Insert` AFTER INSERT ON `TeamMap` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_TeamMap_Update` AFTER UPDATE ON `TeamMap` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_TeamMap_Delete` AFTER DELETE ON `TeamMap` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Product_Insert` AFTER INSERT ON `Product` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Product_Update` AFTER UPDATE ON `Product` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Product_Delete` AFTER DELETE ON `Product` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProductRole_Insert` AFTER INSERT ON `ProductRole` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProductRole_Update` AFTER UPDATE ON `ProductRole` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProductRole_Delete` AFTER DELETE ON `ProductRole` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProductPermission_Insert` AFTER INSERT ON `ProductPermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProductPermission_Update` AFTER UPDATE ON `ProductPermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProductPermission_Delete` AFTER DELETE ON `ProductPermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProductRolePermission_Insert` AFTER INSERT ON `ProductRolePermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProductRolePermission_Update` AFTER UPDATE ON `ProductRolePermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProductRolePermission_Delete` AFTER DELETE ON `ProductRolePermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_TeamProductRole_Insert` AFTER INSERT ON `TeamProductRole` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_TeamProductRole_Update` AFTER UPDATE ON `TeamProductRole` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_TeamProductRole_Delete` AFTER DELETE ON `TeamProductRole` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_TeamProductPermission_Insert` AFTER INSERT ON `TeamProductPermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_TeamProductPermission_Update` AFTER UPDATE ON `TeamProductPermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_TeamProductPermission_Delete` AFTER DELETE ON `TeamProductPermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_UserProductRole_Insert` AFTER INSERT ON `UserProductRole` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_UserProductRole_Update` AFTER UPDATE ON `UserProductRole` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_UserProductRole_Delete` AFTER DELETE ON `UserProductRole` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_UserProductPermission_Insert` AFTER INSERT ON `UserProductPermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_UserProductPermission_Update` AFTER UPDATE ON `UserProductPermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_UserProductPermission_Delete` AFTER DELETE ON `UserProductPermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_CustomerProductRole_Insert` AFTER INSERT ON `CustomerProductRole` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_CustomerProductRole_Update` AFTER UPDATE ON `CustomerProductRole` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_CustomerProductRole_Delete` AFTER DELETE ON `CustomerProductRole` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_CustomerProductPermission_Insert` AFTER INSERT ON `CustomerProductPermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_CustomerProductPermission_Update` AFTER UPDATE ON `CustomerProductPermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_CustomerProductPermission_Delete` AFTER DELETE ON `CustomerProductPermission` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_SharedObject_Insert` AFTER INSERT ON `SharedObject` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_SharedObject_Update` AFTER UPDATE ON `SharedObject` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_SharedObject_Delete` AFTER DELETE ON `SharedObject` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_AuthenticationLibraryParam_Insert` AFTER INSERT ON `AuthenticationLibraryParam` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_AuthenticationLibraryParam_Update` AFTER UPDATE ON `AuthenticationLibraryParam` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_AuthenticationLibraryParam_Delete` AFTER DELETE ON `AuthenticationLibraryParam` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_AuthenticatorParam_Insert` AFTER INSERT ON `AuthenticatorParam` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_AuthenticatorParam_Update` AFTER UPDATE ON `AuthenticatorParam` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_AuthenticatorParam_Delete` AFTER DELETE ON `AuthenticatorParam` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Profile_Insert` AFTER INSERT ON `Profile` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Profile_Update` AFTER UPDATE ON `Profile` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_Profile_Delete` AFTER DELETE ON `Profile` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProfileHost_Insert` AFTER INSERT ON `ProfileHost` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProfileHost_Update` AFTER UPDATE ON `ProfileHost` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProfileHost_Delete` AFTER DELETE ON `ProfileHost` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProductParam_Insert` AFTER INSERT ON `ProductParam` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProductParam_Update` AFTER UPDATE ON `ProductParam` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_ProductParam_Delete` AFTER DELETE ON `ProductParam` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_DBProfile_Insert` AFTER INSERT ON `DBProfile` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_DBProfile_Update` AFTER UPDATE ON `DBProfile` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
CREATE TRIGGER IF NOT EXISTS `TR_DBProfile_Delete` AFTER DELETE ON `DBProfile` FOR EACH ROW UPDATE `ModelChange` SET `Counter` = `Counter` + 1 WHERE `Id` = 1;
