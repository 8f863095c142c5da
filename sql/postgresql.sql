-- Ostrel schema for PostgreSQL.
-- Load with: psql -v ON_ERROR_STOP=1 -d ostrel -f postgresql.sql
-- One statement per block ending in a semicolon at the end of a line, so that the administration
-- tool can split the file. Safe to load twice.
--
-- Grants are read by customer, by team and by domain plus user id: the primary keys of the grant
-- tables lead with those columns and serve these look-ups. The indexes below serve the other
-- look-ups and the checks of the foreign keys.

CREATE TABLE IF NOT EXISTS "Customer" (
    "Customer" VARCHAR(128) NOT NULL,
    "Name" VARCHAR(255),
    PRIMARY KEY ("Customer")
);

CREATE TABLE IF NOT EXISTS "Platform" (
    "Platform" VARCHAR(128) NOT NULL,
    "Description" VARCHAR(255),
    PRIMARY KEY ("Platform")
);

-- AuthenticationTokenDisposition: one of C, H, N, P, X. Flags hold Y for true.
CREATE TABLE IF NOT EXISTS "AuthenticationLibrary" (
    "AuthenticationLibrary" INTEGER NOT NULL,
    "Description" VARCHAR(255),
    "AuthenticationTokenDisposition" CHAR(1),
    "UserTools" CHAR(1),
    PRIMARY KEY ("AuthenticationLibrary")
);

CREATE TABLE IF NOT EXISTS "Domain" (
    "Domain" VARCHAR(128) NOT NULL,
    "Description" VARCHAR(255),
    "Customer" VARCHAR(128),
    "AuthenticationLibrary" INTEGER,
    "UserTools" CHAR(1),
    PRIMARY KEY ("Domain"),
    FOREIGN KEY ("Customer") REFERENCES "Customer" ("Customer"),
    FOREIGN KEY ("AuthenticationLibrary") REFERENCES "AuthenticationLibrary" ("AuthenticationLibrary")
);
CREATE INDEX IF NOT EXISTS "IX_Domain_Customer" ON "Domain" ("Customer");
CREATE INDEX IF NOT EXISTS "IX_Domain_AuthenticationLibrary" ON "Domain" ("AuthenticationLibrary");

-- Status: 0 active, anything else locked. BadLoginCount: failed logins in a row.
-- LockedUntil: seconds since the epoch, or NULL.
CREATE TABLE IF NOT EXISTS "User" (
    "Domain" VARCHAR(128) NOT NULL,
    "UserId" VARCHAR(128) NOT NULL,
    "Name" VARCHAR(255),
    "AuthenticationToken" VARCHAR(512),
    "Contact" VARCHAR(255),
    "Status" INTEGER NOT NULL DEFAULT 0,
    "BadLoginCount" INTEGER NOT NULL DEFAULT 0,
    "LockedUntil" BIGINT,
    PRIMARY KEY ("Domain", "UserId"),
    FOREIGN KEY ("Domain") REFERENCES "Domain" ("Domain")
);

CREATE TABLE IF NOT EXISTS "Team" (
    "Team" INTEGER NOT NULL,
    "Customer" VARCHAR(128),
    "Name" VARCHAR(255),
    PRIMARY KEY ("Team"),
    FOREIGN KEY ("Customer") REFERENCES "Customer" ("Customer")
);
CREATE INDEX IF NOT EXISTS "IX_Team_Customer" ON "Team" ("Customer");

CREATE TABLE IF NOT EXISTS "UserTeam" (
    "Domain" VARCHAR(128) NOT NULL,
    "UserId" VARCHAR(128) NOT NULL,
    "Team" INTEGER NOT NULL,
    "IsLead" CHAR(1),
    PRIMARY KEY ("Domain", "UserId", "Team"),
    FOREIGN KEY ("Domain", "UserId") REFERENCES "User" ("Domain", "UserId"),
    FOREIGN KEY ("Team") REFERENCES "Team" ("Team")
);
CREATE INDEX IF NOT EXISTS "IX_UserTeam_Team" ON "UserTeam" ("Team");

CREATE TABLE IF NOT EXISTS "TeamMap" (
    "Domain" VARCHAR(128) NOT NULL,
    "AlienGroup" VARCHAR(128),
    "AlienGroupLeadGroup" VARCHAR(128),
    "Team" INTEGER NOT NULL,
    PRIMARY KEY ("Domain", "Team"),
    FOREIGN KEY ("Domain") REFERENCES "Domain" ("Domain"),
    FOREIGN KEY ("Team") REFERENCES "Team" ("Team")
);
CREATE INDEX IF NOT EXISTS "IX_TeamMap_Team" ON "TeamMap" ("Team");

-- Status in the product tables: -1 revoked, 0 denied, 1 granted.
CREATE TABLE IF NOT EXISTS "Product" (
    "Product" INTEGER NOT NULL,
    "Description" VARCHAR(255),
    PRIMARY KEY ("Product")
);

CREATE TABLE IF NOT EXISTS "ProductRole" (
    "Product" INTEGER NOT NULL,
    "Role" INTEGER NOT NULL,
    "Description" VARCHAR(255),
    "Status" INTEGER,
    PRIMARY KEY ("Product", "Role"),
    FOREIGN KEY ("Product") REFERENCES "Product" ("Product")
);

CREATE TABLE IF NOT EXISTS "ProductPermission" (
    "Product" INTEGER NOT NULL,
    "Permission" INTEGER NOT NULL,
    "Description" VARCHAR(255),
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
);
CREATE INDEX IF NOT EXISTS "IX_TeamProductRole_Role" ON "TeamProductRole" ("Product", "Role");

CREATE TABLE IF NOT EXISTS "TeamProductPermission" (
    "Team" INTEGER NOT NULL,
    "Product" INTEGER NOT NULL,
    "Permission" INTEGER NOT NULL,
    "Status" INTEGER,
    PRIMARY KEY ("Team", "Product", "Permission"),
    FOREIGN KEY ("Team") REFERENCES "Team" ("Team"),
    FOREIGN KEY ("Product", "Permission") REFERENCES "ProductPermission" ("Product", "Permission")
);
CREATE INDEX IF NOT EXISTS "IX_TeamProductPermission_Permission" ON "TeamProductPermission" ("Product", "Permission");

CREATE TABLE IF NOT EXISTS "UserProductRole" (
    "Domain" VARCHAR(128) NOT NULL,
    "UserId" VARCHAR(128) NOT NULL,
    "Product" INTEGER NOT NULL,
    "Role" INTEGER NOT NULL,
    "Status" INTEGER,
    PRIMARY KEY ("Domain", "UserId", "Product", "Role"),
    FOREIGN KEY ("Domain", "UserId") REFERENCES "User" ("Domain", "UserId"),
    FOREIGN KEY ("Product", "Role") REFERENCES "ProductRole" ("Product", "Role")
);
CREATE INDEX IF NOT EXISTS "IX_UserProductRole_Role" ON "UserProductRole" ("Product", "Role");

CREATE TABLE IF NOT EXISTS "UserProductPermission" (
    "Domain" VARCHAR(128) NOT NULL,
    "UserId" VARCHAR(128) NOT NULL,
    "Product" INTEGER NOT NULL,
    "Permission" INTEGER NOT NULL,
    "Status" INTEGER,
    PRIMARY KEY ("Domain", "UserId", "Product", "Permission"),
    FOREIGN KEY ("Domain", "UserId") REFERENCES "User" ("Domain", "UserId"),
    FOREIGN KEY ("Product", "Permission") REFERENCES "ProductPermission" ("Product", "Permission")
);
CREATE INDEX IF NOT EXISTS "IX_UserProductPermission_Permission" ON "UserProductPermission" ("Product", "Permission");

CREATE TABLE IF NOT EXISTS "CustomerProductRole" (
    "Customer" VARCHAR(128) NOT NULL,
    "Product" INTEGER NOT NULL,
    "Role" INTEGER NOT NULL,
    "Status" INTEGER,
    PRIMARY KEY ("Customer", "Product", "Role"),
    FOREIGN KEY ("Customer") REFERENCES "Customer" ("Customer"),
    FOREIGN KEY ("Product", "Role") REFERENCES "ProductRole" ("Product", "Role")
);
CREATE INDEX IF NOT EXISTS "IX_CustomerProductRole_Role" ON "CustomerProductRole" ("Product", "Role");

CREATE TABLE IF NOT EXISTS "CustomerProductPermission" (
    "Customer" VARCHAR(128) NOT NULL,
    "Product" INTEGER NOT NULL,
    "Permission" INTEGER NOT NULL,
    "Status" INTEGER,
    PRIMARY KEY ("Customer", "Product", "Permission"),
    FOREIGN KEY ("Customer") REFERENCES "Customer" ("Customer"),
    FOREIGN KEY ("Product", "Permission") REFERENCES "ProductPermission" ("Product", "Permission")
);
CREATE INDEX IF NOT EXISTS "IX_CustomerProductPermission_Permission" ON "CustomerProductPermission" ("Product", "Permission");

-- SharedObject: the file that implements a library on a platform.
CREATE TABLE IF NOT EXISTS "SharedObject" (
    "Platform" VARCHAR(128) NOT NULL,
    "AuthenticationLibrary" INTEGER NOT NULL,
    "SharedObject" VARCHAR(1024),
    PRIMARY KEY ("Platform", "AuthenticationLibrary"),
    FOREIGN KEY ("Platform") REFERENCES "Platform" ("Platform"),
    FOREIGN KEY ("AuthenticationLibrary") REFERENCES "AuthenticationLibrary" ("AuthenticationLibrary")
);
CREATE INDEX IF NOT EXISTS "IX_SharedObject_AuthenticationLibrary" ON "SharedObject" ("AuthenticationLibrary");

CREATE TABLE IF NOT EXISTS "AuthenticationLibraryParam" (
    "AuthenticationLibrary" INTEGER NOT NULL,
    "Param" VARCHAR(128) NOT NULL,
    "Value" VARCHAR(2000),
    PRIMARY KEY ("AuthenticationLibrary", "Param"),
    FOREIGN KEY ("AuthenticationLibrary") REFERENCES "AuthenticationLibrary" ("AuthenticationLibrary")
);

CREATE TABLE IF NOT EXISTS "AuthenticatorParam" (
    "Domain" VARCHAR(128) NOT NULL,
    "Param" VARCHAR(128) NOT NULL,
    "Value" VARCHAR(2000),
    PRIMARY KEY ("Domain", "Param"),
    FOREIGN KEY ("Domain") REFERENCES "Domain" ("Domain")
);

CREATE TABLE IF NOT EXISTS "Profile" (
    "Profile" VARCHAR(128) NOT NULL,
    "IsDefault" CHAR(1),
    PRIMARY KEY ("Profile")
);

CREATE TABLE IF NOT EXISTS "ProfileHost" (
    "Profile" VARCHAR(128) NOT NULL,
    "Host" VARCHAR(255) NOT NULL,
    PRIMARY KEY ("Profile", "Host"),
    FOREIGN KEY ("Profile") REFERENCES "Profile" ("Profile")
);
CREATE INDEX IF NOT EXISTS "IX_ProfileHost_Host" ON "ProfileHost" ("Host");

CREATE TABLE IF NOT EXISTS "ProductParam" (
    "Profile" VARCHAR(128) NOT NULL,
    "Product" INTEGER NOT NULL,
    "Param" VARCHAR(128) NOT NULL,
    "Value" VARCHAR(2000),
    PRIMARY KEY ("Profile", "Product", "Param"),
    FOREIGN KEY ("Profile") REFERENCES "Profile" ("Profile"),
    FOREIGN KEY ("Product") REFERENCES "Product" ("Product")
);
CREATE INDEX IF NOT EXISTS "IX_ProductParam_Product" ON "ProductParam" ("Product");

CREATE TABLE IF NOT EXISTS "DBProfile" (
    "PName" VARCHAR(128) NOT NULL,
    "PValue" VARCHAR(2000),
    PRIMARY KEY ("PName")
);

-- Sessions kept for later by the daemons sharing this database. SessionDigest: the SHA-256 of the
-- session id in hexadecimal, never the id itself. Created, LastUsed: seconds since the epoch.
-- CredentialStamp: what the user's authenticator said of his credentials when the session was
-- kept (a digest), empty when it says nothing.
CREATE TABLE IF NOT EXISTS "KeptSession" (
    "SessionDigest" VARCHAR(64) NOT NULL,
    "Domain" VARCHAR(255) NOT NULL,
    "UserId" VARCHAR(255) NOT NULL,
    "Profile" VARCHAR(255),
    "Created" BIGINT NOT NULL,
    "LastUsed" BIGINT NOT NULL,
    "CredentialStamp" VARCHAR(255),
    PRIMARY KEY ("SessionDigest")
);
CREATE INDEX IF NOT EXISTS "IX_KeptSession_LastUsed" ON "KeptSession" ("LastUsed");

-- The model's change counter: every write to a table the daemons load from bumps it in the same
-- transaction (these triggers), so that each daemon sees a change whoever made it, ostrel-admin,
-- another program or plain SQL. Logins write "User" too (failure counts, new hashes): only rows
-- added or removed, or a name or contact changed, count there.
-- On PostgreSQL the bump also notifies the channel ostrel_model, so that listening daemons reload
-- at once.
CREATE TABLE IF NOT EXISTS "ModelChange" (
    "Id" INTEGER NOT NULL,
    "Counter" BIGINT NOT NULL,
    PRIMARY KEY ("Id")
);
INSERT INTO "ModelChange" ("Id", "Counter") VALUES (1, 0) ON CONFLICT DO NOTHING;
CREATE OR REPLACE FUNCTION "ostrel_model_changed"() RETURNS trigger AS $$ BEGIN UPDATE "ModelChange" SET "Counter" = "Counter" + 1 WHERE "Id" = 1; PERFORM pg_notify('ostrel_model', ''); RETURN NULL; END $$ LANGUAGE plpgsql;
CREATE OR REPLACE TRIGGER "TR_Customer_Change" AFTER INSERT OR UPDATE OR DELETE ON "Customer" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_Platform_Change" AFTER INSERT OR UPDATE OR DELETE ON "Platform" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_AuthenticationLibrary_Change" AFTER INSERT OR UPDATE OR DELETE ON "AuthenticationLibrary" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_Domain_Change" AFTER INSERT OR UPDATE OR DELETE ON "Domain" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_User_Rows" AFTER INSERT OR DELETE ON "User" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_User_Update" AFTER UPDATE OF "Name", "Contact" ON "User" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_Team_Change" AFTER INSERT OR UPDATE OR DELETE ON "Team" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_UserTeam_Change" AFTER INSERT OR UPDATE OR DELETE ON "UserTeam" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_TeamMap_Change" AFTER INSERT OR UPDATE OR DELETE ON "TeamMap" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_Product_Change" AFTER INSERT OR UPDATE OR DELETE ON "Product" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_ProductRole_Change" AFTER INSERT OR UPDATE OR DELETE ON "ProductRole" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_ProductPermission_Change" AFTER INSERT OR UPDATE OR DELETE ON "ProductPermission" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_ProductRolePermission_Change" AFTER INSERT OR UPDATE OR DELETE ON "ProductRolePermission" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_TeamProductRole_Change" AFTER INSERT OR UPDATE OR DELETE ON "TeamProductRole" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_TeamProductPermission_Change" AFTER INSERT OR UPDATE OR DELETE ON "TeamProductPermission" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_UserProductRole_Change" AFTER INSERT OR UPDATE OR DELETE ON "UserProductRole" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_UserProductPermission_Change" AFTER INSERT OR UPDATE OR DELETE ON "UserProductPermission" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_CustomerProductRole_Change" AFTER INSERT OR UPDATE OR DELETE ON "CustomerProductRole" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_CustomerProductPermission_Change" AFTER INSERT OR UPDATE OR DELETE ON "CustomerProductPermission" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_SharedObject_Change" AFTER INSERT OR UPDATE OR DELETE ON "SharedObject" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_AuthenticationLibraryParam_Change" AFTER INSERT OR UPDATE OR DELETE ON "AuthenticationLibraryParam" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_AuthenticatorParam_Change" AFTER INSERT OR UPDATE OR DELETE ON "AuthenticatorParam" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_Profile_Change" AFTER INSERT OR UPDATE OR DELETE ON "Profile" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_ProfileHost_Change" AFTER INSERT OR UPDATE OR DELETE ON "ProfileHost" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_ProductParam_Change" AFTER INSERT OR UPDATE OR DELETE ON "ProductParam" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
CREATE OR REPLACE TRIGGER "TR_DBProfile_Change" AFTER INSERT OR UPDATE OR DELETE ON "DBProfile" FOR EACH STATEMENT EXECUTE FUNCTION "ostrel_model_changed"();
