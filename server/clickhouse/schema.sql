-- The fleet's record store on one server. One row per behaviour record;
-- (sessionid, seq) names a record, so a batch delivered twice collapses into
-- one row when parts merge, and queries read with FINAL to count each record
-- once before. cluster.sql is the same over two shards.
CREATE DATABASE IF NOT EXISTS ubc;

CREATE TABLE IF NOT EXISTS ubc.records
(
    pcode String,
    fncode String,
    fnname String,
    fngroup String,
    trigertime String,          -- local time as the desktop wrote it
    gid String,
    vername String,
    ver String,
    ver2 String,
    debug String,
    usetype String,
    utype String,
    mac String,
    hardwareid String,
    ip String,
    projectid String,
    prjfullpath String,
    prjtext String,
    prjedocnt String,
    prjsize String,
    prjcost String,
    regionrule String,
    major String,
    duration String,
    sessionid String,
    seq UInt64,
    attrs Nested(key String, value String),
    time DateTime               -- trigertime in UTC, sent by the uploader
)
ENGINE = ReplacingMergeTree
PARTITION BY toYYYYMM(time)
ORDER BY (sessionid, seq);
