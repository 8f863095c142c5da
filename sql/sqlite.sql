-- Ostrel schema for SQLite.
-- Load with: sqlite3 ostrel.db < sqlite.sql
-- One statement per block ending in a semicolon at the end of a line, so that the administration
-- tool can split the file. Safe to load twice.
--
-- Grants are read by customer, by team and by domain plus user id: the primary keys of the grant
-- tables lead with those columns and serve these look-ups. Those tables, and the memberships read
-- at every login, are kept WITHOUT ROWID: the rows are stored in their key's order, so a look-up
-- reads the rows it finds where it finds them instead of fetching each from the table again. The
-- indexes below serve the other look-ups and the checks of the foreign keys.

CREATE TABLE IF NOT EXISTS "Customer" (
    "Customer" TEXT NOT NULL,
    "Name" TEXT,
    PRIMARY KEY ("Customer")
);

CREATE TABLE IF NOT EXISTS "Platform" (
    "Platform" TEXT NOT NULL,
    "Description" TEXT,
    PRIMARY KEY ("Platform")
);

-- AuthenticationTokenDisposition: one of C, H, N, P, X. Flags hold Y for true.
CREATE TABLE IF NOT EXISTS "AuthenticationLibrary" (
    "AuthenticationLibrary" INTEGER NOT NULL,
    "Description" TEXT,
    "AuthenticationTokenDisposition" TEXT,
    "UserTools" TEXT,
    PRIMARY KEY ("AuthenticationLibrary")
);

CREATE TABLE IF NOT EXISTS "Domain" (
    "Domain" TEXT NOT NULL,
    "Description" TEXT,
    "Customer" TEXT,
    "AuthenticationLibrary" INTEGER,
    "UserTools" TEXT,
    PRIMARY KEY ("Domain"),
    FOREIGN KEY ("Customer") REFERENCES "Customer" ("Customer"),
    FOREIGN KEY ("AuthenticationLibrary") REFERENCES "AuthenticationLibrary" ("AuthenticationLibrary")
);
CREATE INDEX IF NOT EXISTS "IX_Domain_Customer" ON "Domain" ("Customer");
CREATE INDEX IF NOT EXISTS "IX_Domain_AuthenticationLibrary" ON "Domain" ("AuthenticationLibrary");

-- Status: 0 active, anything else locked. BadLoginCount: failed logins in a row.
-- LockedUntil: seconds since the epoch, or NULL.
CREATE TABLE IF NOT EXISTS "User" (
    "Domain" TEXT NOT NULL,
    "UserId" TEXT NOT NULL,
    "Name" TEXT,
    "AuthenticationToken" TEXT,
    "Contact" TEXT,
    "Status" INTEGER NOT NULL DEFAULT 0,
    "BadLoginCount" INTEGER NOT NULL DEFAULT 0,
    "LockedUntil" INTEGER,
    PRIMARY KEY ("Domain", "UserId"),
    FOREIGN KEY ("Domain") REFERENCES "Domain" ("Domain")
);

CREATE TABLE IF NOT EXISTS "Team" (
    "Team" INTEGER NOT NULL,
    "Customer" TEXT,
    "Name" TEXT,
    PRIMARY KEY ("Team"),
    FOREIGN KEY ("Customer") REFERENCES "Customer" ("Customer")
);
CREATE INDEX IF NOT EXISTS "IX_Team_Customer" ON "Team" ("Customer");

CREATE TABLE IF NOT EXISTS "UserTeam" (
    "Domain" TEXT NOT NULL,
    "UserId" TEXT NOT NULL,
    "Team" INTEGER NOT NULL,
    "IsLead" TEXT,
    PRIMARY KEY ("Domain", "UserId", "Team"),
    FOREIGN KEY ("Domain", "UserId") REFERENCES "User" ("Domain", "UserId"),
    FOREIGN KEY ("Team") REFERENCES "Team" ("Team")
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS "IX_UserTeam_Team" ON "UserTeam" ("Team");

CREATE TABLE IF NOT EXISTS "TeamMap" (
    "Domain" TEXT NOT NULL,
    "AlienGroup" TEXT,
    "AlienGroupLeadGroup" TEXT,
    "Team" INTEGER NOT NULL,
    PRIMARY KEY ("Domain", "Team"),
    FOREIGN KEY ("Domain") REFERENCES "Domain" ("Domain"),
    FOREIGN KEY ("Team") REFERENCES "Team" ("Team")
);
CREATE INDEX IF NOT EXISTS "IX_TeamMap_Team" ON "TeamMap" ("Team");

-- Status in the product tables: -1 revoked, 0 denied, 1 granted.
CREATE TABLE IF NOT EXISTS "Product" (
    "Product" INTEGER NOT NULL,
    "Description" TEXT,
    PRIMARY KEY ("Product")
);

CREATE TABLE IF NOT EXISTS "ProductRole" (
    "Product" INTEGER NOT NULL,
    "Role" INTEGER NOT NULL,
    "Description" TEXT,
    "Status" INTEGER,
    PRIMARY KEY ("Product", "Role"),
    FOREIGN KEY ("Product") REFERENCES "Product" ("Product")
);

CREATE TABLE IF NOT EXISTS "ProductPermission" (
    "Product" INTEGER NOT NULL,
    "Permission" INTEGER NOT NULL,
    "Description" TEXT,
    "Status" INTEGER,
    PRIMARY KEY ("Product", "Permission"),
    FOREIGN KEY ("Product") REFERENCES "Product" ("Product")
);

CREATE TABLE IF NOT EXISTS "ProductRolePermission" (
    "Product" INTEGER NOT NULL,
    "Role" INTEGER NOT NULL,
    "Permission" INTEGER NOT NULL,
    "Status" INTEGER,
    PRIMARY KEY ("Product", "Role", "Permission"),
    FOREIGN KEY ("Product", "Role") REFERENCES "ProductRole" ("Product", "Role"),
    FOREIGN KEY ("Product", "Permission") REFERENCES "ProductPermission" ("Product", "Permission")
);
CREATE INDEX IF NOT EXISTS "IX_ProductRolePermission_Permission" ON "ProductRolePermission" ("Product", "Permission");

CREATE TABLE IF NOT EXISTS "TeamProductRole" (
    "Team" INTEGER NOT NULL,
    "Product" INTEGER NOT NULL,
    "Role" INTEGER NOT NULL,
    "Status" INTEGER,
    PRIMARY KEY ("Team", "Product", "Role"),
    FOREIGN KEY ("Team") REFERENCES "Team" ("Team"),
    FOREIGN KEY ("Product", "Role") REFERENCES "ProductRole" ("Product", "Role")
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS "IX_TeamProductRole_Role" ON "TeamProductRole" ("Product", "Role");

CREATE TABLE IF NOT EXISTS "TeamProductPermission" (
    "Team" INTEGER NOT NULL,
    "Product" INTEGER NOT NULL,
    "Permission" INTEGER NOT NULL,
    "Status" INTEGER,
    PRIMARY KEY ("Team", "Product", "Permission"),
    FOREIGN KEY ("Team") REFERENCES "Team" ("Team"),
    FOREIGN KEY ("Product", "Permission") REFERENCES "ProductPermission" ("Product", "Permission")
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS "IX_TeamProductPermission_Permission" ON "TeamProductPermission" ("Product", "Permission");

CREATE TABLE IF NOT EXISTS "UserProductRole" (
    "Domain" TEXT NOT NULL,
    "UserId" TEXT NOT NULL,
    "Product" INTEGER NOT NULL,
    "Role" INTEGER NOT NULL,
    "Status" INTEGER,
    PRIMARY KEY ("Domain", "UserId", "Product", "Role"),
    FOREIGN KEY ("Domain", "UserId") REFERENCES "User" ("Domain", "UserId"),
    FOREIGN KEY ("Product", "Role") REFERENCES "ProductRole" ("Product", "Role")
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS "IX_UserProductRole_Role" ON "UserProductRole" ("Product", "Role");

CREATE TABLE IF NOT EXISTS "UserProductPermission" (
    "Domain" TEXT NOT NULL,
    "UserId" TEXT NOT NULL,
    "Product" INTEGER NOT NULL,
    "Permission" INTEGER NOT NULL,
    "Status" INTEGER,
    PRIMARY KEY ("Domain", "UserId", "Product", "Permission"),
    FOREIGN KEY ("Domain", "UserId") REFERENCES "User" ("Domain", "UserId"),
    FOREIGN KEY ("Product", "Permission") REFERENCES "ProductPermission" ("Product", "Permission")
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS "IX_UserProductPermission_Permission" ON "UserProductPermission" ("Product", "Permission");

CREATE TABLE IF NOT EXISTS "CustomerProductRole" (
    "Customer" TEXT NOT NULL,
    "Product" INTEGER NOT NULL,
    "Role" INTEGER NOT NULL,
    "Status" INTEGER,
    PRIMARY KEY ("Customer", "Product", "Role"),
    FOREIGN KEY ("Customer") REFERENCES "Customer" ("Customer"),
    FOREIGN KEY ("Product", "Role") REFERENCES "ProductRole" ("Product", "Role")
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS "IX_CustomerProductRole_Role" ON "CustomerProductRole" ("Product", "Role");

CREATE TABLE IF NOT EXISTS "CustomerProductPermission" (
    "Customer" TEXT NOT NULL,
    "Product" INTEGER NOT NULL,
    "Permission" INTEGER NOT NULL,
    "Status" INTEGER,
    PRIMARY KEY ("Customer", "Product", "Permission"),
    FOREIGN KEY ("Customer") REFERENCES "Customer" ("Customer"),
    FOREIGN KEY ("Product", "Permission") REFERENCES "ProductPermission" ("Product", "Permission")
) WITHOUT ROWID;
CREATE INDEX IF NOT EXISTS "IX_CustomerProductPermission_Permission" ON "CustomerProductPermission" ("Product", "Permission");

-- SharedObject: the file that implements a library on a platform.
CREATE TABLE IF NOT EXISTS "SharedObject" (
    "Platform" TEXT NOT NULL,
    "AuthenticationLibrary" INTEGER NOT NULL,
    "SharedObject" TEXT,
    PRIMARY KEY ("Platform", "AuthenticationLibrary"),
    FOREIGN KEY ("Platform") REFERENCES "Platform" ("Platform"),
    FOREIGN KEY ("AuthenticationLibrary") REFERENCES "AuthenticationLibrary" ("AuthenticationLibrary")
);
CREATE INDEX IF NOT EXISTS "IX_SharedObject_AuthenticationLibrary" ON "SharedObject" ("AuthenticationLibrary");

CREATE TABLE IF NOT EXISTS "AuthenticationLibraryParam" (
    "AuthenticationLibrary" INTEGER NOT NULL,
    "Param" TEXT NOT NULL,
    "Value" TEXT,
    PRIMARY KEY ("AuthenticationLibrary", "Param"),
    FOREIGN KEY ("AuthenticationLibrary") REFERENCES "AuthenticationLibrary" ("AuthenticationLibrary")
);

CREATE TABLE IF NOT EXISTS "AuthenticatorParam" (
    "Domain" TEXT NOT NULL,
    "Param" TEXT NOT NULL,
    "Value" TEXT,
    PRIMARY KEY ("Domain", "Param"),
    FOREIGN KEY ("Domain") REFERENCES "Domain" ("Domain")
);

CREATE TABLE IF NOT EXISTS "Profile" (
    "Profile" TEXT NOT NULL,
    "IsDefault" TEXT,
    PRIMARY KEY ("Profile")
);

CREATE TABLE IF NOT EXISTS "ProfileHost" (
    "Profile" TEXT NOT NULL,
    "Host" TEXT NOT NULL,
    PRIMARY KEY ("Profile", "Host"),
    FOREIGN KEY ("Profile") REFERENCES "Profile" ("Profile")
);
CREATE INDEX IF NOT EXISTS "IX_ProfileHost_Host" ON "ProfileHost" ("Host");

CREATE TABLE IF NOT EXISTS "ProductParam" (
    "Profile" TEXT NOT NULL,
    "Product" INTEGER NOT NULL,
    "Param" TEXT NOT NULL,
    "Value" TEXT,
    PRIMARY KEY ("Profile", "Product", "Param"),
    FOREIGN KEY ("Profile") REFERENCES "Profile" ("Profile"),
    FOREIGN KEY ("Product") REFERENCES "Product" ("Product")
);
CREATE INDEX IF NOT EXISTS "IX_ProductParam_Product" ON "ProductParam" ("Product");

CREATE TABLE IF NOT EXISTS "DBProfile" (
    "PName" TEXT NOT NULL,
    "PValue" TEXT,
    PRIMARY KEY ("PName")
);

-- Sessions kept for later by the daemons sharing this database. SessionDigest: the SHA-256 of the
-- session id in hexadecimal, never the id itself. Created, LastUsed: seconds since the epoch.
-- CredentialStamp: what the user's authenticator said of his credentials when the session was
-- kept (a digest), empty when it says nothing.
CREATE TABLE IF NOT EXISTS "KeptSession" (
    "SessionDigest" TEXT NOT NULL,
    "Domain" TEXT NOT NULL,
    "UserId" TEXT NOT NULL,
    "Profile" TEXT,
    "Created" INTEGER NOT NULL,
    "LastUsed" INTEGER NOT NULL,
    "CredentialStamp" TEXT,
    PRIMARY KEY ("SessionDigest")
);
CREATE INDEX IF NOT EXISTS "IX_KeptSession_LastUsed" ON "KeptSession" ("LastUsed");

-- The model's change counter: every write to a table the daemons load from bumps it in the same
-- transaction (these triggers), so that each daemon sees a change whoever made it, ostrel-admin,
-- another program or plain SQL. Logins write "User" too (failure counts, new hashes): only rows
-- added or removed, or a name or contact changed, count there.
CREATE TABLE IF NOT EXISTS "ModelChange" (
    "Id" INTEGER NOT NULL,
    "Counter" INTEGER NOT NULL,
    PRIMARY KEY ("Id")
);
INSERT OR IGNORE INTO "ModelChange" ("Id", "Counter") VALUES (1, 0);
CREATE TRIGGER IF NOT EXISTS "TR_Customer_Insert" AFTER INSERT ON "Customer" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Customer_Update" AFTER UPDATE ON "Customer" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Customer_Delete" AFTER DELETE ON "Customer" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Platform_Insert" AFTER INSERT ON "Platform" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Platform_Update" AFTER UPDATE ON "Platform" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Platform_Delete" AFTER DELETE ON "Platform" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_AuthenticationLibrary_Insert" AFTER INSERT ON "AuthenticationLibrary" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_AuthenticationLibrary_Update" AFTER UPDATE ON "AuthenticationLibrary" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_AuthenticationLibrary_Delete" AFTER DELETE ON "AuthenticationLibrary" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Domain_Insert" AFTER INSERT ON "Domain" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Domain_Update" AFTER UPDATE ON "Domain" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Domain_Delete" AFTER DELETE ON "Domain" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_User_Insert" AFTER INSERT ON "User" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_User_Update" AFTER UPDATE OF "Name", "Contact" ON "User" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_User_Delete" AFTER DELETE ON "User" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Team_Insert" AFTER INSERT ON "Team" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Team_Update" AFTER UPDATE ON "Team" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Team_Delete" AFTER DELETE ON "Team" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_UserTeam_Insert" AFTER INSERT ON "UserTeam" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_UserTeam_Update" AFTER UPDATE ON "UserTeam" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_UserTeam_Delete" AFTER DELETE ON "UserTeam" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_TeamMap_Insert" AFTER INSERT ON "TeamMap" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_TeamMap_Update" AFTER UPDATE ON "TeamMap" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_TeamMap_Delete" AFTER DELETE ON "TeamMap" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Product_Insert" AFTER INSERT ON "Product" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Product_Update" AFTER UPDATE ON "Product" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Product_Delete" AFTER DELETE ON "Product" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProductRole_Insert" AFTER INSERT ON "ProductRole" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProductRole_Update" AFTER UPDATE ON "ProductRole" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProductRole_Delete" AFTER DELETE ON "ProductRole" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProductPermission_Insert" AFTER INSERT ON "ProductPermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProductPermission_Update" AFTER UPDATE ON "ProductPermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProductPermission_Delete" AFTER DELETE ON "ProductPermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProductRolePermission_Insert" AFTER INSERT ON "ProductRolePermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProductRolePermission_Update" AFTER UPDATE ON "ProductRolePermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProductRolePermission_Delete" AFTER DELETE ON "ProductRolePermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_TeamProductRole_Insert" AFTER INSERT ON "TeamProductRole" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_TeamProductRole_Update" AFTER UPDATE ON "TeamProductRole" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_TeamProductRole_Delete" AFTER DELETE ON "TeamProductRole" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_TeamProductPermission_Insert" AFTER INSERT ON "TeamProductPermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_TeamProductPermission_Update" AFTER UPDATE ON "TeamProductPermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_TeamProductPermission_Delete" AFTER DELETE ON "TeamProductPermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_UserProductRole_Insert" AFTER INSERT ON "UserProductRole" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_UserProductRole_Update" AFTER UPDATE ON "UserProductRole" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_UserProductRole_Delete" AFTER DELETE ON "UserProductRole" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_UserProductPermission_Insert" AFTER INSERT ON "UserProductPermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_UserProductPermission_Update" AFTER UPDATE ON "UserProductPermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_UserProductPermission_Delete" AFTER DELETE ON "UserProductPermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_CustomerProductRole_Insert" AFTER INSERT ON "CustomerProductRole" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_CustomerProductRole_Update" AFTER UPDATE ON "CustomerProductRole" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_CustomerProductRole_Delete" AFTER DELETE ON "CustomerProductRole" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_CustomerProductPermission_Insert" AFTER INSERT ON "CustomerProductPermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_CustomerProductPermission_Update" AFTER UPDATE ON "CustomerProductPermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_CustomerProductPermission_Delete" AFTER DELETE ON "CustomerProductPermission" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_SharedObject_Insert" AFTER INSERT ON "SharedObject" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_SharedObject_Update" AFTER UPDATE ON "SharedObject" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_SharedObject_Delete" AFTER DELETE ON "SharedObject" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_AuthenticationLibraryParam_Insert" AFTER INSERT ON "AuthenticationLibraryParam" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_AuthenticationLibraryParam_Update" AFTER UPDATE ON "AuthenticationLibraryParam" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_AuthenticationLibraryParam_Delete" AFTER DELETE ON "AuthenticationLibraryParam" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_AuthenticatorParam_Insert" AFTER INSERT ON "AuthenticatorParam" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_AuthenticatorParam_Update" AFTER UPDATE ON "AuthenticatorParam" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_AuthenticatorParam_Delete" AFTER DELETE ON "AuthenticatorParam" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Profile_Insert" AFTER INSERT ON "Profile" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Profile_Update" AFTER UPDATE ON "Profile" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_Profile_Delete" AFTER DELETE ON "Profile" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProfileHost_Insert" AFTER INSERT ON "ProfileHost" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProfileHost_Update" AFTER UPDATE ON "ProfileHost" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProfileHost_Delete" AFTER DELETE ON "ProfileHost" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProductParam_Insert" AFTER INSERT ON "ProductParam" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProductParam_Update" AFTER UPDATE ON "ProductParam" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_ProductParam_Delete" AFTER DELETE ON "ProductParam" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_DBProfile_Insert" AFTER INSERT ON "DBProfile" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_DBProfile_Update" AFTER UPDATE ON "DBProfile" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
CREATE TRIGGER IF NOT EXISTS "TR_DBProfile_Delete" AFTER DELETE ON "DBProfile" BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; END;
