-- Requests to erase one machine's records: the machine's digest (the records'
-- gid) and when the request came, nothing else. The gateway inserts them; the
-- operator applies them with erase-machine.sh --requests, which erases every
-- listed machine that still has records. Rows are kept as the log of what was
-- asked and when. On a cluster every server has its own table; the operator's
-- script reads them all.
CREATE DATABASE IF NOT EXISTS ubc;

CREATE TABLE IF NOT EXISTS ubc.erasure_requests
(
    gid String,
    requested DateTime
)
ENGINE = MergeTree
ORDER BY (gid, requested);
