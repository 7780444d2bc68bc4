#!/usr/bin/env python3
"""Serves a folder on 127.0.0.1 at 1 MiB a second, for the demo's progress window.

Usage: slow-http-server.py <port> <folder>
"""
import functools
import http.server
import sys
import time


class SlowHandler(http.server.SimpleHTTPRequestHandler):
    def copyfile(self, source, outputfile):
        while chunk := source.read(65536):
            outputfile.write(chunk)
            time.sleep(1 / 16)

    def log_message(self, *args):
        pass


handler = functools.partial(SlowHandler, directory=sys.argv[2])
http.server.ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), handler).serve_forever()
