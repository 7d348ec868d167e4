"""An RFC 3161 time-stamping service for the tests' signing, on loopback of
the test namespace: `openssl ts -reply` with a certificate of its own,
behind a small HTTP handler.

    with TimeStampAuthority(workdir) as tsa:
        ...  # sign with: osslsigncode sign ... -ts tsa.url
        tsa.replies        # how many time stamps it issued
        tsa.certificate    # its certificate (PEM path)

Run it only inside a test namespace (harness.sandbox.enter()).
"""

import http.server
import os
import subprocess
import tempfile
import threading

__all__ = ["TimeStampAuthority"]

_CONFIG = """\
[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
dir = {dir}
serial = $dir/serial
crypto_device = builtin
signer_cert = $dir/tsa.pem
signer_key = $dir/tsa.key
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


class TimeStampAuthority:
    def __init__(self, workdir, address="127.0.0.1", port=0):
        self.dir = os.path.join(workdir, "tsa")
        self.address = address
        self.port = port
        self.replies = 0
        self._server = None
        self._thread = None
        self._lock = threading.Lock()

    @property
    def url(self):
        return f"http://{self.address}:{self.port}/"

    @property
    def certificate(self):
        return os.path.join(self.dir, "tsa.pem")

    def start(self):
        os.makedirs(self.dir, exist_ok=True)
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=Kivoline test time-stamping service (made by the test)",
                        "-addext", "extendedKeyUsage=critical,timeStamping",
                        "-keyout", os.path.join(self.dir, "tsa.key"), "-out", self.certificate],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(os.path.join(self.dir, "serial"), "w") as f:
            f.write("01\n")
        self.config = os.path.join(self.dir, "tsa.cnf")
        with open(self.config, "w") as f:
            f.write(_CONFIG.format(dir=self.dir))
        authority = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length") or 0))
                reply = authority._reply(query)
                self.send_response(200 if reply else 400)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply or b"")))
                self.end_headers()
                self.wfile.write(reply or b"")

            def log_message(self, *args):
                pass

        self._server = http.server.ThreadingHTTPServer((self.address, self.port), Handler)
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, name="tsa", daemon=True)
        self._thread.start()
        return self

    def _reply(self, query):
        with self._lock, tempfile.TemporaryDirectory(dir=self.dir) as d:
            tsq, tsr = os.path.join(d, "q.tsq"), os.path.join(d, "r.tsr")
            with open(tsq, "wb") as f:
                f.write(query)
            r = subprocess.run(["openssl", "ts", "-reply", "-config", self.config, "-queryfile", tsq, "-out", tsr],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if r.returncode != 0 or not os.path.exists(tsr):
                return None
            self.replies += 1
            with open(tsr, "rb") as f:
                return f.read()

    def stop(self):
        if self._server:
            self._server.shutdown()
            self._server.server_close()
            self._server = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
