-- The fleet's record store over two shards (cluster "ubc_cluster" in
-- remote_servers). On every server, first schema.sql with its table named
-- ubc.records_local (each server's part), then this file: ubc.records becomes
-- the Distributed table that desktops insert into and queries read, so both
-- keep the single server's names.
--   sed 's/^CREATE TABLE IF NOT EXISTS ubc.records$/&_local/' schema.sql
-- Rows go to a shard by the machine digest: every copy of a record lands on
-- the same shard, where ReplacingMergeTree and FINAL count it once.
CREATE TABLE IF NOT EXISTS ubc.records AS ubc.records_local
ENGINE = Distributed(ubc_cluster, ubc, records_local, cityHash64(gid));

-- Each server keeps the upload losses that reach it (schema.sql's
-- ubc.upload_losses); this table reads them all.
CREATE TABLE IF NOT EXISTS ubc.upload_losses_all AS ubc.upload_losses
ENGINE = Distributed(ubc_cluster, ubc, upload_losses, cityHash64(gid));
