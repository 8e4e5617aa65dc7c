#!/usr/bin/env python3
"""A DICOMweb service of the tests' own, for the answers a real archive gives only on a bad day.

Usage: dicomweb_stub.py PORT [CERTIFICATE KEY] (with them it speaks HTTPS). The first path segment picks the behaviour; the rest is the resource
("/partial/studies"):
  ok        STOW-RS: every instance stored
  partial   STOW-RS: the first instance stored, the others failed with Failure Reason A700
  warning   STOW-RS: every instance stored with Warning Reason B000
  toolarge  413 after reading the body          busy     503
  slow      no answer for 5 s                     away     307 to another host (localhost)
  moved     307 to /ok/studies on this server     token    as ok, only with "Bearer secret-token"
  paged     QIDO-RS: five studies, at most two per answer, a Warning header while more are left
  stuck     QIDO-RS: the same two studies whatever the offset, always with a Warning header
Each STOW-RS body is checked: multipart/related of application/dicom parts, each a Part 10 file.
"""
import io
import json
import re
import ssl
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlparse

import pydicom


def studies(first, count):
    return [{"0020000D": {"vr": "UI", "Value": ["1.2.3.%d" % n]},
             "00100010": {"vr": "PN", "Value": [{"Alphabetic": "Paged^%d" % n}]},
             "00100020": {"vr": "LO", "Value": ["P%d" % n]}}
            for n in range(first, first + count)]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        if body:
            self.send_header("Content-Type", "application/dicom+json")
        self.end_headers()
        self.wfile.write(body)

    def case(self):
        return urlparse(self.path).path.strip("/").split("/")[0]

    def do_GET(self):
        case = self.case()
        query = parse_qs(urlparse(self.path).query)
        offset = int(query.get("offset", ["0"])[0])
        if case == "paged":
            page = studies(offset, max(0, min(2, 5 - offset)))
            more = offset + len(page) < 5
            self.answer(200, json.dumps(page).encode(),
                        [("Warning", '299 stub "There are more results"')] if more else [])
        elif case == "stuck":
            self.answer(200, json.dumps(studies(0, 2)).encode(), [("Warning", '299 stub "more"')])
        else:
            self.answer(200, b"[]")

    def do_POST(self):
        case = self.case()
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        if case == "slow":
            time.sleep(5)
            return self.answer(200, b"{}")
        if case == "toolarge":
            return self.answer(413)
        if case == "busy":
            return self.answer(503)
        if case == "away":
            port = self.server.server_address[1]
            return self.answer(307, headers=[("Location", "http://localhost:%d/ok/studies" % port)])
        if case == "moved":
            return self.answer(307, headers=[("Location", "/ok/studies")])
        if case == "token" and self.headers.get("Authorization") != "Bearer secret-token":
            return self.answer(401)
        content_type = self.headers.get("Content-Type", "")
        match = re.search(r'boundary="?([^";]+)"?', content_type)
        if not content_type.startswith("multipart/related") or 'type="application/dicom"' not in content_type \
                or not match:
            return self.answer(415)
        uids = []
        for part in body.split(b"--" + match.group(1).encode())[1:-1]:
            head, _, data = part.partition(b"\r\n\r\n")
            if b"Content-Type: application/dicom" not in head or not data.endswith(b"\r\n"):
                return self.answer(400)
            data = data[:-2]
            if data[128:132] != b"DICM":
                return self.answer(400)
            ds = pydicom.dcmread(io.BytesIO(data), stop_before_pixels=True)
            uids.append((str(ds.SOPClassUID), str(ds.SOPInstanceUID)))
        referenced, failed = [], []
        for n, (sop_class, uid) in enumerate(uids):
            item = {"00081150": {"vr": "UI", "Value": [sop_class]}, "00081155": {"vr": "UI", "Value": [uid]}}
            if case == "partial" and n > 0:
                item["00081197"] = {"vr": "US", "Value": [0xA700]}
                failed.append(item)
            else:
                if case == "warning":
                    item["00081196"] = {"vr": "US", "Value": [0xB000]}
                referenced.append(item)
        answer = {}
        if referenced:
            answer["00081199"] = {"vr": "SQ", "Value": referenced}
        if failed:
            answer["00081198"] = {"vr": "SQ", "Value": failed}
        self.answer(202 if failed or case == "warning" else 200, json.dumps(answer).encode())


server = ThreadingHTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
if len(sys.argv) > 3:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[2], sys.argv[3])
    server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
