-- A fleet's records made in the server, for measuring the report at size:
-- {records} records in sessions of {session} records (seq 1 ...), on
-- {machines} machines over {days} days, each session on one day. One record
-- in a thousand is left out (a gap its session's seq shows), never a session's
-- last. Rows go where the Distributed table would send them: this server keeps
-- those whose cityHash64(gid) % {shards} is {shard}. With {copies} = 1, the
-- second half of one session in fifty instead, a batch delivered twice.
-- Used by scripts/bench-report-fleet.sh, which fills in the braces.
INSERT INTO ubc.records_local (pcode, fncode, fnname, fngroup, trigertime, gid, vername, ver, hardwareid,
                               projectid, prjedocnt, prjsize, duration, sessionid, seq, attrs.key, attrs.value, time)
SELECT 'KEL',
       multiIf(i = 0, '990001', i = 1, '990004', i = {session} - 2, '990006', i = {session} - 1, '990002',
               h % 10 = 0, '210210', code),
       multiIf(i = 0, '启动软件', i = 1, '打开工程', i = {session} - 2, '关闭工程', i = {session} - 1, '关闭软件',
               h % 10 = 0, '墙1-属性-厚度', concat('命令', code)),
       multiIf(i < 2 OR i >= {session} - 2, '特殊功能', h % 10 = 0, 'null', concat('组', toString(h % 7))),
       concat(replaceOne(toString(t, 'Asia/Shanghai'), ' ', 'T'), '.000+08:00'),
       gid, 'KelDesign', ['2.0.4', '2.1.0', '2.2.0', '3.0.0'][m % 4 + 1], concat('hw-', toString(m)),
       if(i = 1 OR i = {session} - 2, concat('prj-', toString(m % 2000)), ''),
       if(i = {session} - 2, '12', ''), if(i = {session} - 2, '345', ''),
       multiIf(i = {session} - 2, toString({session} * 30 - 60), i = {session} - 1, toString({session} * 30), ''),
       lower(hex(MD5(concat('session-', toString(s))))), i + 1,
       if(i < 2 OR i >= {session} - 2, emptyArrayString(), [multiIf(h % 10 = 0, '厚度', h % 10 = 1, 'layer', 'location')]),
       if(i < 2 OR i >= {session} - 2, emptyArrayString(),
          [multiIf(h % 10 = 0, '240', h % 10 = 1, 'A-WALL',
                   ['Ribbon工具栏', 'Ribbon工具栏', 'Ribbon快捷栏', '右键', '视图面板', '快捷键', ''][intDiv(h, 10) % 7 + 1])]),
       t
FROM
(
    SELECT number AS n, intDiv(n, {session}) AS s, n % {session} AS i, s % {machines} AS m,
           cityHash64(n, 42) AS h, toString(210100 + h % 200) AS code,
           lower(hex(MD5(concat('machine-', toString(m))))) AS gid,
           toDateTime('2026-06-01 00:00:00', 'UTC') + (cityHash64(s) % {days}) * 86400 + 3600 + (m % 60) * 300 + i * 30 AS t
    FROM numbers({records})
)
WHERE cityHash64(gid) % {shards} = {shard}
  AND (cityHash64(n, 7) % 1000 != 0 OR i = {session} - 1)
  AND ({copies} = 0 OR (s % 50 = 7 AND i >= intDiv({session}, 2)))
