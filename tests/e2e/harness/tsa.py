"""An RFC 3161 time-stamping service for the tests' signing, on loopback of
the test namespace: `openssl ts -reply` with a certificate of its own behind
a small HTTP handler (one request at a time). Sign with
`osslsigncode ... -ts <url>`."""

import http.server
import os
import subprocess
import tempfile
import threading

_CONFIG = """[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
dir = {dir}
serial = $dir/serial
signer_cert = $dir/tsa.pem
signer_key = $dir/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha1, sha256, sha384, sha512
ess_cert_id_alg = sha256
"""


class TimeStampAuthority:
    def __init__(self, workdir):
        self.dir = os.path.join(workdir, "tsa")
        self._server = None

    def start(self):
        os.makedirs(self.dir, exist_ok=True)
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Kivoline test time-stamping service (made by the test)",
                        "-addext", "extendedKeyUsage=critical,timeStamping", "-keyout",
                        os.path.join(self.dir, "tsa.key"), "-out", os.path.join(self.dir, "tsa.pem")],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(os.path.join(self.dir, "serial"), "w") as f:
            f.write("01\n")
        self.config = os.path.join(self.dir, "tsa.cnf")
        with open(self.config, "w") as f:
            f.write(_CONFIG.format(dir=self.dir))
        reply = self._reply

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                answer = reply(self.rfile.read(int(self.headers.get("Content-Length") or 0)))
                self.send_response(200 if answer else 400)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(answer)))
                self.end_headers()
                self.wfile.write(answer)

            def log_message(self, *args):
                pass

        self._server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self._server.server_address[1]}/"
        threading.Thread(target=self._server.serve_forever, name="tsa", daemon=True).start()
        return self

    def _reply(self, query):
        with tempfile.TemporaryDirectory(dir=self.dir) as d:
            tsq, tsr = os.path.join(d, "q.tsq"), os.path.join(d, "r.tsr")
            with open(tsq, "wb") as f:
                f.write(query)
            if subprocess.run(["openssl", "ts", "-reply", "-config", self.config, "-queryfile", tsq, "-out", tsr],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
                return b""
            with open(tsr, "rb") as f:
                return f.read()

    def stop(self):
        if self._server:
            self._server.shutdown()
            self._server.server_close()
