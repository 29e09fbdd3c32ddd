-- The fleet's record store over two shards (cluster "ubc_cluster" in
-- remote_servers). On every server, first schema.sql with its tables named
-- ubc.records_local, ubc.coded_events_local and ubc.upload_losses_local (each
-- server's part), then this
-- file: ubc.records, ubc.coded_events and ubc.upload_losses become the Distributed tables that
-- desktops insert into and queries read, so both keep the single server's names.
--   sed 's/^CREATE TABLE IF NOT EXISTS ubc\.[a-z_]*$/&_local/' schema.sql
-- Rows go to a shard by the machine digest: every copy of a record lands on
-- the same shard, where ReplacingMergeTree and FINAL count it once.
CREATE TABLE IF NOT EXISTS ubc.records AS ubc.records_local
ENGINE = Distributed(ubc_cluster, ubc, records_local, cityHash64(gid));

CREATE TABLE IF NOT EXISTS ubc.coded_events AS ubc.coded_events_local
ENGINE = Distributed(ubc_cluster, ubc, coded_events_local, cityHash64(gid));

CREATE TABLE IF NOT EXISTS ubc.upload_losses AS ubc.upload_losses_local
ENGINE = Distributed(ubc_cluster, ubc, upload_losses_local, cityHash64(gid));
