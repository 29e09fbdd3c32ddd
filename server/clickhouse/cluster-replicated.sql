-- The fleet's record store over two shards of two replicas each (cluster
-- "ubc_cluster" in remote_servers, every shard with
-- <internal_replication>true</internal_replication>; macros {shard} and
-- {replica} and the ZooKeeper servers in each server's config.d, as in
-- replica.xml). On every server, first schema.sql with its tables named
-- ubc.records_local, ubc.coded_events_local and ubc.upload_losses_local,
-- made replicated (each under the ZooKeeper path
-- /clickhouse/tables/{shard}/ubc/<its name>), then this file:
--   sed -e '/^CREATE TABLE IF NOT EXISTS ubc\.[a-z_]*$/{s/$/_local/;h}' \
--       -e "/^ENGINE = ReplacingMergeTree$/{G;s|^ENGINE = ReplacingMergeTree\nCREATE TABLE IF NOT EXISTS ubc\.\(.*\)$|ENGINE = ReplicatedReplacingMergeTree('/clickhouse/tables/{shard}/ubc/\1', '{replica}')|}" \
--       -e '/^ORDER BY/{G;s/^\(ORDER BY .*\);\nCREATE TABLE IF NOT EXISTS ubc\.records_local$/\1\nSETTINGS replicated_deduplication_window = 0;/;t;s/\n.*//}' schema.sql
-- (scripts/fleet-replicated.sh does exactly that). A part written on one
-- replica is fetched by the other through the interserver HTTP port; the
-- Distributed table writes each block to one replica of its shard and lets
-- replication copy it, so a record is stored once per replica. A block
-- identical to one already inserted (a batch re-sent after a lost answer) is
-- dropped by the coded events' and losses' deduplication, but not by the
-- records': on 18.16 a dropped block skips the materialized views, so a
-- batch whose records were written but whose roll-ups were not (a server
-- killed in between) would never reach the roll-ups. Its copy is kept
-- instead; FINAL and the roll-ups count it once. The roll-ups:
-- cluster-replicated-rollups.sql.
CREATE TABLE IF NOT EXISTS ubc.records AS ubc.records_local
ENGINE = Distributed(ubc_cluster, ubc, records_local, cityHash64(gid));

CREATE TABLE IF NOT EXISTS ubc.coded_events AS ubc.coded_events_local
ENGINE = Distributed(ubc_cluster, ubc, coded_events_local, cityHash64(gid));

CREATE TABLE IF NOT EXISTS ubc.upload_losses AS ubc.upload_losses_local
ENGINE = Distributed(ubc_cluster, ubc, upload_losses_local, cityHash64(gid));

CREATE TABLE IF NOT EXISTS ubc.erasure_requests
(
    gid String,
    requested DateTime
)
ENGINE = ReplicatedMergeTree('/clickhouse/tables/{shard}/ubc/erasure_requests', '{replica}')
ORDER BY (gid, requested);
