#!/usr/bin/env python3
"""Simulated desktops for scripts/fleet-load.sh.

Each desktop has its own machine digest, session id and seq, keeps one
keep-alive HTTP connection, and every --age seconds (starting at a random
offset) posts the records it made since (5 to 50) as the uploader does:
gzip'd JSONEachRow rows of an INSERT. A failed request is counted and its
batch sent again after a pause, ahead of newer records (at least once).
Generating stops after --seconds; unconfirmed batches then get --drain
seconds more. Prints one JSON object: requests, failures, records confirmed,
latency quantiles.
"""
import argparse
import asyncio
import gzip
import hashlib
import json
import random
import re
import resource
import time
import uuid
from datetime import datetime, timedelta, timezone
from urllib.parse import urlsplit, quote

FIELDS = ["pcode", "fncode", "fnname", "fngroup", "trigertime", "gid", "vername", "ver", "ver2",
          "debug", "usetype", "utype", "mac", "hardwareid", "ip", "projectid", "prjfullpath",
          "prjtext", "prjedocnt", "prjsize", "prjcost", "regionrule", "major", "duration",
          "sessionid"]
COUNT = re.compile(r"\([0-9]+\)")  # "Too many parts (312)": one line for all counts
FUNCTIONS = [("210101", "绘制墙"), ("210102", "复制"), ("210103", "删除"), ("220201", "保存")]
LOCATIONS = ["Ribbon工具栏", "右键"]


class Stats:
    def __init__(self):
        self.ok = 0
        self.failed = 0
        self.records = 0
        self.latencies = []
        self.errors = {}


class Connection:
    """One keep-alive HTTP/1.1 connection; reopened after any error."""

    def __init__(self, host, port, timeout):
        self.host, self.port, self.timeout = host, port, timeout
        self.reader = self.writer = None

    def close(self):
        if self.writer:
            self.writer.close()
        self.reader = self.writer = None

    async def post(self, target, headers, body):
        if self.writer is None:
            self.reader, self.writer = await asyncio.open_connection(self.host, self.port)
        head = f"POST {target} HTTP/1.1\r\nHost: {self.host}:{self.port}\r\n"
        head += "".join(f"{k}: {v}\r\n" for k, v in headers.items())
        head += f"Content-Length: {len(body)}\r\n\r\n"
        self.writer.write(head.encode() + body)
        await self.writer.drain()
        line = await self.reader.readline()
        if not line:
            raise ConnectionResetError("closed without an answer")
        status = int(line.split()[1])
        length, chunked, close = 0, False, False
        while True:
            line = (await self.reader.readline()).strip()
            if not line:
                break
            name, _, value = line.decode("latin-1").partition(":")
            name, value = name.strip().lower(), value.strip().lower()
            if name == "content-length":
                length = int(value)
            elif name == "transfer-encoding" and "chunked" in value:
                chunked = True
            elif name == "connection" and value == "close":
                close = True
        reply = b""
        if chunked:
            while True:
                size = int((await self.reader.readline()).split(b";")[0], 16)
                reply += await self.reader.readexactly(size + 2)
                if size == 0:
                    break
        elif length:
            reply = await self.reader.readexactly(length)
        if close:
            self.close()
        return status, reply


class Desktop:
    def __init__(self, index, args):
        self.gid = hashlib.sha256(f"fleet-load {args.run} {index}".encode()).hexdigest()
        self.session = str(uuid.uuid4())
        self.seq = 0
        self.queue = []  # confirmed-pending batches: (rows, count)
        values = {f: "" for f in FIELDS if f not in ("fncode", "fnname", "fngroup", "trigertime")}
        values.update(gid=self.gid, hardwareid=self.gid, vername="fleet-load", ver2="5.15.8",
                      debug="0", projectid="demo", prjfullpath="/home/user/projects/demo.kelprj",
                      sessionid=self.session)
        # The fields that never change, serialized once: thousands of
        # desktops in one process leave little CPU for json.dumps per row.
        self.prefix = json.dumps(values, ensure_ascii=False, separators=(",", ":"))[:-1]
        self.url = args.urls[int(self.gid[:8], 16) % len(args.urls)] if args.route else args.urls[0]

    def rows(self, now, n):
        local = now.astimezone(timezone(timedelta(hours=8)))
        times = '"trigertime":"%s","time":"%s"' % (local.isoformat(timespec="milliseconds"),
                                                   now.strftime("%Y-%m-%d %H:%M:%S"))
        out = []
        for _ in range(n):
            self.seq += 1
            fncode, fnname = random.choice(FUNCTIONS)
            out.append('%s,"fncode":"%s","fnname":"%s","fngroup":"绘图",%s,"seq":%d,'
                       '"attrs.key":["layer","location"],"attrs.value":["结构","%s"]}\n'
                       % (self.prefix, fncode, fnname, times, self.seq, random.choice(LOCATIONS)))
        return "".join(out)


async def run_desktop(desk, args, stats, stop_at, drain_at):
    parts = urlsplit(desk.url)
    conn = Connection(parts.hostname, parts.port, args.timeout)
    target = (parts.path or "/") + "?" + "&".join(
        filter(None, [parts.query, "query=" + quote(args.query), "enable_http_compression=1"]))
    headers = {"Content-Type": "text/plain; charset=utf-8", "Content-Encoding": "gzip",
               "X-Machine": desk.gid}
    if args.token:
        headers["Authorization"] = "Bearer " + args.token
    await asyncio.sleep(random.uniform(0, args.age))
    while True:
        now = time.monotonic()
        if now < stop_at:
            wall = datetime.now(timezone.utc)
            n = random.randint(args.min, args.max)
            rows = desk.rows(wall, n)
            desk.queue.append((gzip.compress(rows.encode(), 1), n))  # the uploader's level
        elif not desk.queue or now >= drain_at:
            break
        while desk.queue and time.monotonic() < drain_at:
            body, n = desk.queue[0]
            start = time.monotonic()
            try:
                status, reply = await asyncio.wait_for(conn.post(target, headers, body), args.timeout)
            except (OSError, asyncio.TimeoutError, asyncio.IncompleteReadError, ValueError, IndexError) as e:
                status, reply = 0, f"{type(e).__name__} {e}".encode()
                conn.close()
            if status == 200:
                stats.ok += 1
                stats.records += n
                stats.latencies.append(time.monotonic() - start)
                desk.queue.pop(0)
                continue
            stats.failed += 1
            first = reply.decode("utf-8", "replace").strip().splitlines()[:1] or [""]
            key = "%d %s" % (status, COUNT.sub("(N)", first[0])[:90])
            stats.errors[key] = stats.errors.get(key, 0) + 1
            await asyncio.sleep(random.uniform(0.5, 1.5))  # backoff, then the same batch again
        await asyncio.sleep(max(0.0, args.age - (time.monotonic() - now)))
    conn.close()


def quantile(sorted_values, q):
    if not sorted_values:
        return 0.0
    return sorted_values[min(len(sorted_values) - 1, int(q * len(sorted_values)))]


async def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--desktops", type=int, required=True)
    p.add_argument("--seconds", type=float, required=True)
    p.add_argument("--age", type=float, default=3.0, help="batch age in seconds")
    p.add_argument("--min", type=int, default=5)
    p.add_argument("--max", type=int, default=50)
    p.add_argument("--url", dest="urls", action="append", required=True,
                   help="server URL; several with --route: one per shard")
    p.add_argument("--route", action="store_true", help="each desktop to one URL by its digest")
    p.add_argument("--query", default="INSERT INTO ubc.records FORMAT JSONEachRow")
    p.add_argument("--token", default="")
    p.add_argument("--timeout", type=float, default=30.0)
    p.add_argument("--drain", type=float, default=30.0)
    p.add_argument("--run", default=str(uuid.uuid4()))
    args = p.parse_args()
    stats = Stats()
    desktops = [Desktop(i, args) for i in range(args.desktops)]
    start = time.monotonic()
    stop_at = start + args.seconds
    drain_at = stop_at + args.drain
    await asyncio.gather(*(run_desktop(d, args, stats, stop_at, drain_at) for d in desktops))
    lat = sorted(stats.latencies)
    unconfirmed = sum(n for d in desktops for _, n in d.queue)
    print(json.dumps({
        "desktops": args.desktops, "seconds": args.seconds, "requests": stats.ok,
        "inserts_per_s": round(stats.ok / args.seconds, 1), "failed": stats.failed,
        "records": stats.records, "unconfirmed": unconfirmed,
        "p50_s": round(quantile(lat, 0.50), 3), "p99_s": round(quantile(lat, 0.99), 3),
        "max_s": round(lat[-1], 3) if lat else 0, "errors": stats.errors,
        "client_cpu_s": round(sum(resource.getrusage(resource.RUSAGE_SELF)[:2]), 1),
    }, ensure_ascii=False))


if __name__ == "__main__":
    asyncio.run(main())
