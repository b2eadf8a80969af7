#!/usr/bin/env python3
"""Bridge round trips of getClientVersion from Python's http.client over one
kept-alive connection: a plain HTTP client with little overhead of its own.

    plain_client.py PAGE_ADDRESS CALLS   prints the times in ms as JSON
"""
import http.client
import json
import sys
import time
import urllib.parse

address = urllib.parse.urlsplit(sys.argv[1])
token = urllib.parse.parse_qs(address.query)["token"][0]
calls = int(sys.argv[2])
connection = http.client.HTTPConnection(address.hostname, address.port)
body = json.dumps({"method": "getClientVersion", "args": []})


def one():
    connection.request("POST", "/api/call", body, {"Content-Type": "application/json", "X-QUIL-Token": token})
    answer = connection.getresponse()
    answer.read()
    if answer.status != 200:
        sys.exit(f"HTTP {answer.status}")


for _ in range(20):
    one()
times = []
for _ in range(calls):
    start = time.perf_counter()
    one()
    times.append((time.perf_counter() - start) * 1000)
print(json.dumps(times))
