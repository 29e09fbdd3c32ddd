-- The queries the project ships, one a line. Each reads with FINAL, so a
-- record delivered twice (sessionid, seq) counts once before its parts merge;
-- on the Distributed table FINAL runs on each shard, which holds every copy
-- of its machines' records.
SELECT count() AS records FROM ubc.records FINAL
SELECT uniqExact(gid) AS machines, uniqExact(sessionid) AS sessions FROM ubc.records FINAL
SELECT fncode, fnname, count() AS n FROM ubc.records FINAL GROUP BY fncode, fnname ORDER BY n DESC, fncode LIMIT 10
SELECT attrs.value[indexOf(attrs.key, 'location')] AS location, count() AS n FROM ubc.records FINAL GROUP BY location ORDER BY n DESC, location
SELECT toStartOfHour(time) AS hour, count() AS n FROM ubc.records FINAL GROUP BY hour ORDER BY hour
SELECT fngroup, sum(toUInt64OrZero(duration)) AS seconds FROM ubc.records FINAL GROUP BY fngroup ORDER BY seconds DESC, fngroup
