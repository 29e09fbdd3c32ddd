-- The fleet's record store on one server. One row per behaviour record;
-- (sessionid, seq) names a record, so a batch delivered twice collapses into
-- one row when parts merge, and queries read with FINAL to count each record
-- once before. cluster.sql is the same over two shards; every table here
-- becomes its shards' <name>_local there.
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

-- The coded events of the desktops' helpers (RuvUbcHelper's journal), under
-- the records' rules: (sessionid, seq) names an event (an event without them
-- is named by its content under the empty session), copies fold when parts
-- merge, queries count each (sessionid, seq) once. Statistics, saves and
-- returns from idle, with their attributes ("tjsc": a statistic's seconds).
CREATE TABLE IF NOT EXISTS ubc.coded_events
(
    pcode String,
    gid String,
    sessionid String,
    seq UInt64,
    code String,                -- the function code, decimal
    eventtime String,           -- UTC as the helper wrote it
    attrs Nested(key String, value String),
    time DateTime               -- eventtime, sent by the uploader
)
ENGINE = ReplacingMergeTree
PARTITION BY toYYYYMM(time)
ORDER BY (sessionid, seq);

-- What the desktops' uploaders lost on the way, one row per kind and report:
-- records dropped from the log's queue ('queue_dropped'), lines set aside as
-- not records ('set_aside'), numbered log files removed unsent while upload
-- was off ('rotated_unsent'). lossid is random per row and kept until the
-- row is confirmed, so a row sent twice folds into one.
CREATE TABLE IF NOT EXISTS ubc.upload_losses
(
    gid String,
    lossid UInt64,
    reported DateTime,
    kind String,
    records UInt64
)
ENGINE = ReplacingMergeTree
PARTITION BY toYYYYMM(reported)
ORDER BY (gid, lossid, kind);
