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
