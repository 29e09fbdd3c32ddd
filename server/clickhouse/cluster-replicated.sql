-- The fleet's record store over two shards of two replicas each (cluster
-- "ubc_cluster" in remote_servers, every shard with
-- <internal_replication>true</internal_replication>; macros {shard} and
-- {replica} and the ZooKeeper servers in each server's config.d, as in
-- replica.xml). On every server, first schema.sql with its table named
-- ubc.records_local and made replicated, then this file:
--   sed -e 's/^CREATE TABLE IF NOT EXISTS ubc.records$/&_local/' \
--       -e "s|^ENGINE = ReplacingMergeTree$|ENGINE = ReplicatedReplacingMergeTree('/clickhouse/tables/{shard}/ubc/records_local', '{replica}')|" \
--       -e "s|^\(CREATE TABLE IF NOT EXISTS ubc.upload_losses .*\) ENGINE = ReplacingMergeTree |\1 ENGINE = ReplicatedReplacingMergeTree('/clickhouse/tables/{shard}/ubc/upload_losses', '{replica}') |" schema.sql
-- A part written on one replica is fetched by the other through the
-- interserver HTTP port; the Distributed table writes each block to one
-- replica of its shard and lets replication copy it, so a record is stored
-- once per replica. A block identical to one already inserted (a batch re-sent
-- after a lost answer) is dropped by the replicated table's deduplication.
CREATE TABLE IF NOT EXISTS ubc.records AS ubc.records_local
ENGINE = Distributed(ubc_cluster, ubc, records_local, cityHash64(gid));

-- The upload losses that reach each shard, replicated like the records
-- (the third sed line above), read together through this table.
CREATE TABLE IF NOT EXISTS ubc.upload_losses_all AS ubc.upload_losses
ENGINE = Distributed(ubc_cluster, ubc, upload_losses, cityHash64(gid));

CREATE TABLE IF NOT EXISTS ubc.erasure_requests
(
    gid String,
    requested DateTime
)
ENGINE = ReplicatedMergeTree('/clickhouse/tables/{shard}/ubc/erasure_requests', '{replica}')
ORDER BY (gid, requested);
