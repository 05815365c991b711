# -*- coding: utf-8 -*-
# A client of relaydash's JSON API for the collection's modules: sign-in, calls, HTTPS with the
# certificate checked against the CAs or pinned by its SHA-256 fingerprint.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import hashlib
import http.client
import json
import socket
import ssl
from urllib.parse import urlsplit

CONNECTION_ARGS = dict(
    url=dict(type="str", required=True),
    password=dict(type="str", required=True, no_log=True),
    username=dict(type="str", default="admin"),
    validate_certs=dict(type="bool", default=True),
    fingerprint=dict(type="str"),
    timeout=dict(type="int", default=180),
)


class ApiError(Exception):
    """An answer with an "error" member, or no answer at all."""

    def __init__(self, message, status=None, code=None, error=None):
        super(ApiError, self).__init__(message)
        self.message = message
        self.status = status
        self.code = code
        self.error = error or {}


def normalize_fingerprint(text):
    digits = "".join(c for c in text if c not in ": \t").upper()
    if len(digits) != 64 or any(c not in "0123456789ABCDEF" for c in digits):
        raise ValueError("fingerprint must be a SHA-256 fingerprint: 32 bytes in hexadecimal, as AB:CD:…")
    return ":".join(digits[i:i + 2] for i in range(0, 64, 2))


class Client:
    def __init__(self, url, password, username="admin", validate_certs=True, fingerprint=None, timeout=180):
        parts = urlsplit(url)
        if parts.scheme not in ("http", "https") or not parts.hostname:
            raise ApiError("url must be http://HOST:PORT or https://HOST:PORT, not %r" % url)
        self.scheme = parts.scheme
        self.host = parts.hostname
        self.port = parts.port or (443 if parts.scheme == "https" else 80)
        self.prefix = parts.path.rstrip("/")
        self.username = username
        self.password = password
        self.validate_certs = validate_certs
        self.fingerprint = normalize_fingerprint(fingerprint) if fingerprint else None
        self.timeout = timeout
        self.token = None
        # The gateway's certificate (DER) as the last HTTPS call saw it.
        self.certificate = None

    def _context(self):
        if self.fingerprint or not self.validate_certs:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
            context.check_hostname = False
            context.verify_mode = ssl.CERT_NONE
        else:
            context = ssl.create_default_context()
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        return context

    def _check_pin(self, sock):
        if self.scheme != "https" or not self.fingerprint:
            return
        certificate = sock.getpeercert(binary_form=True)
        digest = hashlib.sha256(certificate).hexdigest().upper()
        seen = ":".join(digest[i:i + 2] for i in range(0, 64, 2))
        if seen != self.fingerprint:
            raise ApiError("The gateway's certificate has the SHA-256 fingerprint %s, not the pinned %s; "
                           "nothing was sent" % (seen, self.fingerprint))

    def post(self, procedure, body):
        """POST body to /rpc/v1/PROCEDURE: (HTTP status, decoded answer)."""
        data = json.dumps(body).encode("utf-8")
        host = "[%s]" % self.host if ":" in self.host else self.host
        # The head and the body go in one write (one TLS record over HTTPS).
        request = ("POST %s/rpc/v1/%s HTTP/1.1\r\nHost: %s:%d\r\nContent-Type: application/json\r\n"
                   "Accept: application/json\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                   % (self.prefix, procedure, host, self.port, len(data))).encode("ascii") + data
        sock = None
        try:
            sock = socket.create_connection((self.host, self.port), timeout=self.timeout)
            if self.scheme == "https":
                sock = self._context().wrap_socket(sock, server_hostname=self.host)
                self._check_pin(sock)
                self.certificate = sock.getpeercert(binary_form=True)
            sock.sendall(request)
            response = http.client.HTTPResponse(sock, method="POST")
            response.begin()
            raw = response.read()
            status = response.status
        except (OSError, socket.timeout, http.client.HTTPException) as e:
            raise ApiError("%s %s://%s:%s failed: %s" % (procedure, self.scheme, self.host, self.port, e))
        finally:
            if sock is not None:
                sock.close()
        try:
            answer = json.loads(raw.decode("utf-8"))
        except ValueError:
            raise ApiError("%s answered HTTP %d with what is not JSON: %r" % (procedure, status, raw[:200]),
                           status=status)
        return status, answer

    @staticmethod
    def _result(procedure, status, answer):
        if isinstance(answer, dict) and isinstance(answer.get("error"), dict):
            error = answer["error"]
            raise ApiError("%s: %s (HTTP %d, code %s)" % (procedure, error.get("message"), status, error.get("code")),
                           status=status, code=error.get("code"), error=error)
        if status != 200 or not isinstance(answer, dict) or "output" not in answer:
            raise ApiError("%s answered HTTP %d without an output" % (procedure, status), status=status)
        return answer["output"]

    def login(self, password=None):
        """Signs in; the token is kept for the calls that follow."""
        procedure = "login/password"
        status, answer = self.post(procedure, {"username": self.username,
                                               "password": self.password if password is None else password})
        output = self._result(procedure, status, answer)
        self.token = output["auth"]
        return self.token

    def call(self, procedure, input_=None):
        if self.token is None:
            self.login()
        body = {"auth": self.token}
        if input_ is not None:
            body["input"] = input_
        status, answer = self.post(procedure, body)
        return self._result(procedure, status, answer)


def client_from(module):
    p = module.params
    try:
        return Client(p["url"], p["password"], username=p["username"], validate_certs=p["validate_certs"],
                      fingerprint=p["fingerprint"], timeout=p["timeout"])
    except (ApiError, ValueError) as e:
        module.fail_json(msg=str(e))
