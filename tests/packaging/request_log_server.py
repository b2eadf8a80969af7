#!/usr/bin/env python3
"""Answers every HTTP request on loopback with 404 and writes its path, one
line each, to the log file; prints its port first. Ends after `seconds`.
usage: request_log_server.py LOG_FILE SECONDS"""
import http.server
import sys
import threading


class Handler(http.server.BaseHTTPRequestHandler):
    def answer(self):
        with open(sys.argv[1], "a") as log:
            log.write(self.path + "\n")
        self.send_response(404)
        self.send_header("Content-Length", "0")
        self.end_headers()

    do_GET = do_POST = answer

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
threading.Timer(float(sys.argv[2]), server.shutdown).start()
server.serve_forever()
