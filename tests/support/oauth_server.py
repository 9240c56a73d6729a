#!/usr/bin/python3
"""A stand-in OAuth2 authorization server on 127.0.0.1 for the tests and the
demo: authorization code with PKCE (S256), refresh tokens with or without
rotation, and token introspection for Dovecot's oauth2 passdb.

  oauth_server.py start DIR CERT KEY   starts in the background; writes DIR/pid
                                       and DIR/ports (OAUTH_HTTP_PORT=...,
                                       OAUTH_HTTPS_PORT=...), then returns
  oauth_server.py stop DIR             stops the one DIR's pid names

The HTTPS port (CERT and KEY, PEM) serves /token: the docklet always verifies
the token endpoint. The plain HTTP port serves /authorize (a browser opens it),
/introspect (Dovecot asks it) and /control, where tests script the behaviour
and read counters and the log, or have tokens issued without a browser
(issue=USER). A grant whose scope holds openid also gets an ID token naming
who signed in (id_token, id_token_email). The log names tokens and codes by
serial (A1, R2, C3, I4), never by value. Standard library only.

/control also ends a user's sessions on the Dovecot instance whose folder
holds DIR (kick=USER, through doveadm): tests under Wine cannot run doveadm,
and a server that drops an idle connection is one they must see.
"""
import base64
import hashlib
import json
import os
import re
import secrets
import shutil
import signal
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MAX_BODY = 65536
CODE_LIFETIME = 600
KICK_SECONDS = 10
REDIRECT_URI = re.compile(r"http://(127\.0\.0\.1|localhost):([0-9]{1,5})/\Z")
CHALLENGE = re.compile(r"[A-Za-z0-9._~-]{43,128}\Z")
USER = re.compile(r"[a-z0-9][a-z0-9._@+-]{0,127}\Z")

# Each setting: its default and what it may be.
SETTINGS = {
    "authorize": ("approve", ("approve", "deny", "wrong_state", "no_redirect")),
    "token": ("ok", ("ok", "slow", "silent", "chunked", "error500")),
    "slow_seconds": (5, range(0, 601)),
    "expires_in": (3600, range(0, 86400 * 365)),
    "rotation": ("on", ("on", "off")),
    "introspection": ("ok", ("ok", "reject")),
    "client_id": ("tidewell-test-client", None),
    "client_secret": ("", None),
    "user": ("", None),
    "access_token_size": (1500, range(16, 65537)),
    # The ID token of a grant whose scope holds openid: the address in email
    # (Google's way), only in preferred_username (one of Microsoft's), none,
    # or a token that is no JWT.
    "id_token": ("email", ("email", "preferred_username", "none", "garbled")),
    "id_token_email": ("", None),  # the address it names; empty: the grant's user
}


class State:
    """Everything the servers share; one lock guards it all."""

    def __init__(self):
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self.issued = None
        self.reset()

    def reset(self):
        self.settings = {name: default for name, (default, _) in SETTINGS.items()}
        self.codes = {}      # code -> grant record
        self.access = {}     # access token -> {"label", "user", "expires"}
        self.refresh = {}    # live refresh token -> {"label", "user", "scope"}
        self.serials = {"A": 0, "R": 0, "C": 0, "I": 0}
        self.labels = {}     # any token or code ever issued -> its label
        self.counters = {}
        self.log = []

    def label(self, kind, value):
        self.serials[kind] += 1
        name = "%s%d" % (kind, self.serials[kind])
        self.labels[value] = name
        return name

    def label_of(self, value):
        return self.labels.get(value, "unknown" if value else "none")

    def count(self, name):
        self.counters[name] = self.counters.get(name, 0) + 1

    def note(self, line):
        self.log.append(line)

    def change(self, pairs):
        """Applies settings and actions; returns the reason for the first bad
        one. The tokens of an `issue` are left in self.issued."""
        self.issued = None
        for name, value in pairs:
            if name in ("format", "secrets", "kick"):
                continue
            if name == "issue":
                # Tokens for a user without a browser, for tests of the mail side alone.
                value = value.lower()
                if not USER.match(value):
                    return "issue: not a plain user name"
                self.issued = self.issue("control issue user=%s" % value, value, "", True)
            elif name == "reset":
                self.reset()
            elif name == "revoke":
                self.refresh.clear()
                self.note("control revoke refresh tokens")
            elif name in SETTINGS:
                default, allowed = SETTINGS[name]
                if isinstance(default, int):
                    try:
                        value = int(value)
                    except ValueError:
                        return "%s: not a whole number" % name
                if name == "user":
                    value = value.lower()
                    if value and not USER.match(value):
                        return "user: not a plain user name"
                if allowed is not None and value not in allowed:
                    return "%s: not one of the values it may take" % name
                self.settings[name] = value
            else:
                return "unknown setting %s" % name
        return None

    def issue(self, what, user, scope, new_refresh):
        """Records and returns new tokens for user, and notes `what` got them."""
        expires_in = self.settings["expires_in"]
        access = random_token(self.settings["access_token_size"])
        access_label = self.label("A", access)
        self.access[access] = {"label": access_label, "user": user, "expires": time.time() + expires_in}
        reply = {"token_type": "Bearer", "scope": scope, "expires_in": expires_in,
                 "ext_expires_in": expires_in, "access_token": access}
        line = "%s ok access=%s" % (what, access_label)
        id_token = self.id_token(user) if "openid" in scope.split() else None
        if id_token:
            reply["id_token"] = id_token
            line += " id=%s" % self.label("I", id_token)
        if new_refresh:
            refresh = random_token(96)
            self.refresh[refresh] = {"label": self.label("R", refresh), "user": user, "scope": scope}
            reply["refresh_token"] = refresh
            line += " refresh=%s" % self.labels[refresh]
        self.count("issued")
        self.note(line)
        return reply

    def id_token(self, user):
        """A JWT naming who signed in as the settings say, or None."""
        kind = self.settings["id_token"]
        if kind == "none":
            return None
        now = int(time.time())
        name = self.settings["id_token_email"] or user
        claims = {"iss": "https://127.0.0.1/stand-in", "aud": self.settings["client_id"],
                  "sub": hashlib.sha256(user.encode()).hexdigest()[:32], "iat": now, "exp": now + 3600}
        if kind == "preferred_username":
            claims["preferred_username"] = name
        else:
            claims.update(email=name, email_verified=True)
        header = {"alg": "RS256", "typ": "JWT", "kid": "stand-in"}
        token = ".".join(base64url(json.dumps(part).encode()) for part in (header, claims))
        token += "." + random_token(86)
        return token.replace(".", "", 1) if kind == "garbled" else token

    def snapshot(self):
        return {"settings": dict(self.settings), "counters": dict(self.counters), "log": list(self.log)}


def base64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def random_token(length):
    return secrets.token_urlsafe(length)[:length]


def pkce_matches(verifier, challenge):
    digest = hashlib.sha256(verifier.encode("ascii", "replace")).digest()
    return base64.urlsafe_b64encode(digest).rstrip(b"=").decode() == challenge


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TidewellStandIn/1"
    timeout = 30
    state = None  # set by serve()
    dovecot_config = None  # the instance beside DIR, for kick

    def log_message(self, *args):
        pass

    # --- answers -------------------------------------------------------------

    def answer(self, status, body, content_type="application/json", headers=(), chunked=False):
        data = body.encode() if isinstance(body, str) else body
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Cache-Control", "no-store")
        self.send_header("Connection", "close")
        for name, value in headers:
            self.send_header(name, value)
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        if chunked:
            # Small uneven pieces, so a reader meets chunk heads inside the JSON.
            for start in range(0, len(data), 97):
                piece = data[start:start + 97]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.write(b"0\r\n\r\n")
        else:
            self.wfile.write(data)
        self.close_connection = True

    def answer_json(self, status, value, **options):
        self.answer(status, json.dumps(value), **options)

    def page(self, status, text, headers=()):
        body = "<!DOCTYPE html><html><head><title>Tidewell stand-in sign-in</title></head><body><p>%s</p></body></html>"
        self.answer(status, body % text, "text/html; charset=utf-8", headers)

    def oauth_error(self, status, error, description):
        self.answer_json(status, {"error": error, "error_description": description})

    # --- requests ------------------------------------------------------------

    def query(self):
        return dict(urllib.parse.parse_qsl(urllib.parse.urlsplit(self.path).query, keep_blank_values=True))

    def route(self):
        return urllib.parse.urlsplit(self.path).path

    def body(self):
        length = self.headers.get("Content-Length", "0")
        if not length.isdigit() or int(length) > MAX_BODY:
            return None
        return self.rfile.read(int(length))

    def form(self):
        data = self.body()
        if data is None:
            return None
        return dict(urllib.parse.parse_qsl(data.decode("utf-8", "replace"), keep_blank_values=True))

    def do_GET(self):
        routes = {"/authorize": self.authorize, "/control": self.control}
        self.dispatch(routes, plain=True)

    def do_POST(self):
        if isinstance(self.connection, ssl.SSLSocket):
            self.dispatch({"/token": self.token}, plain=False)
        else:
            self.dispatch({"/introspect": self.introspect, "/control": self.control}, plain=True)

    def dispatch(self, routes, plain):
        if plain == isinstance(self.connection, ssl.SSLSocket) or self.route() not in routes:
            self.page(404, "Nothing here.")
            return
        routes[self.route()]()

    # --- /authorize ------------------------------------------------------------

    def authorize(self):
        state = self.state
        q = self.query()
        with state.lock:
            state.count("authorize")
            settings = dict(state.settings)
            redirect = q.get("redirect_uri", "")
            # Never send the browser to an address that was not checked.
            if q.get("client_id") != settings["client_id"] or not REDIRECT_URI.match(redirect):
                state.count("authorize_refused")
                state.note("authorize refused: unknown client or redirect_uri")
                self.page(400, "Unknown client or redirect address.")
                return
            given_state = q.get("state", "")
            user = settings["user"] or q.get("login_hint", "").lower()
            reply = {}
            problem = None
            if q.get("response_type") != "code":
                problem = "response_type must be code"
            elif not CHALLENGE.match(q.get("code_challenge", "")) or q.get("code_challenge_method") != "S256":
                problem = "a code_challenge with code_challenge_method S256 is required"
            elif not given_state:
                problem = "state is required"
            elif not USER.match(user):
                problem = "login_hint is required"
            if problem:
                state.note("authorize invalid_request: " + problem)
                reply.update(error="invalid_request", error_description=problem)
            elif settings["authorize"] == "no_redirect":
                state.note("authorize user=%s no_redirect" % user)
                self.page(200, "Sign in to continue.")
                return
            elif settings["authorize"] == "deny":
                state.note("authorize user=%s deny" % user)
                reply.update(error="access_denied", error_description="The user declined to grant access.")
            else:
                code = random_token(64)
                label = state.label("C", code)
                state.codes[code] = {
                    "client_id": q["client_id"], "redirect_uri": redirect, "challenge": q["code_challenge"],
                    "user": user, "scope": q.get("scope", ""), "expires": time.time() + CODE_LIFETIME,
                }
                if settings["authorize"] == "wrong_state":
                    reply["state"] = random_token(22)
                state.note("authorize user=%s %s code=%s" % (user, settings["authorize"], label))
                reply = dict(code=code, **reply)
            if "state" not in reply and given_state:
                reply["state"] = given_state
        self.page(302, "Redirecting.", [("Location", redirect + "?" + urllib.parse.urlencode(reply))])

    # --- /token ----------------------------------------------------------------

    def token(self):
        state = self.state
        form = self.form()
        with state.lock:
            state.count("token")
            fault = state.settings["token"]
            delay = state.settings["slow_seconds"]
            # A request that fails or is never answered changes nothing: the
            # client's code or refresh token stays good for its next try.
            if fault in ("silent", "error500"):
                state.note("token %s" % fault)
            elif form is None:
                status, reply = 400, {"error": "invalid_request", "error_description": "body too long"}
            else:
                status, reply = self.grant(form)
        if fault == "silent":
            state.stopping.wait(3600)
            self.close_connection = True
            return
        if fault == "slow":
            state.stopping.wait(delay)
        if fault == "error500":
            self.answer(500, "<html><body>Internal error</body></html>", "text/html")
            return
        self.answer_json(status, reply, chunked=fault == "chunked")

    def grant(self, form):
        """The answer to a token request: (status, JSON value). Called with the lock held."""
        state = self.state
        settings = state.settings
        kind = form.get("grant_type", "")
        kind = kind if re.fullmatch(r"[a-z_]{1,40}", kind) else "other"
        secret = "yes" if "client_secret" in form else "no"
        if form.get("client_id") != settings["client_id"] or (
                settings["client_secret"] and form.get("client_secret") != settings["client_secret"]):
            state.count("invalid_client")
            state.note("token grant=%s invalid_client client_secret=%s" % (kind, secret))
            return 401, {"error": "invalid_client", "error_description": "Unknown client or wrong secret."}
        if kind == "authorization_code":
            code = form.get("code", "")
            state.count("grant_authorization_code")
            grant = state.codes.pop(code, None)
            what = "token grant=authorization_code code=%s client_secret=%s" % (state.label_of(code), secret)
            problem = None
            if grant is None or grant["expires"] < time.time():
                problem = "The code is unknown, used or expired."
            elif form.get("redirect_uri") != grant["redirect_uri"]:
                problem = "redirect_uri differs from the authorization request's."
            elif not pkce_matches(form.get("code_verifier", ""), grant["challenge"]):
                problem = "code_verifier does not match the code_challenge."
            if problem:
                return self.invalid_grant(what, problem)
            return 200, state.issue(what, grant["user"], grant["scope"], True)
        if kind == "refresh_token":
            old = form.get("refresh_token", "")
            state.count("grant_refresh_token")
            what = "token grant=refresh_token refresh=%s client_secret=%s" % (state.label_of(old), secret)
            grant = state.refresh.get(old)
            if grant is None:
                return self.invalid_grant(what, "The refresh token is unknown, revoked or replaced.")
            rotate = settings["rotation"] == "on"
            if rotate:
                del state.refresh[old]
            return 200, state.issue(what, grant["user"], grant["scope"], rotate)
        state.note("token grant=%s unsupported_grant_type" % kind)
        return 400, {"error": "unsupported_grant_type", "error_description": "Unknown grant_type."}

    def invalid_grant(self, what, problem):
        self.state.count("invalid_grant")
        self.state.note(what + " invalid_grant")
        return 400, {"error": "invalid_grant", "error_description": problem}

    # --- /introspect -------------------------------------------------------------

    def introspect(self):
        state = self.state
        form = self.form() or {}
        token = form.get("token", "")
        with state.lock:
            state.count("introspect")
            record = state.access.get(token)
            live = record is not None and record["expires"] > time.time()
            active = live and state.settings["introspection"] == "ok"
            state.count("introspect_active" if active else "introspect_inactive")
            state.note("introspect access=%s active=%s" % (state.label_of(token), "true" if active else "false"))
        self.answer_json(200, {"active": True, "username": record["user"]} if active else {"active": False})

    # --- /control --------------------------------------------------------------------

    def control(self):
        state = self.state
        pairs = list(urllib.parse.parse_qsl(urllib.parse.urlsplit(self.path).query, keep_blank_values=True))
        if self.command == "POST":
            data = self.body()
            if data is None:
                self.answer(400, "body too long\n", "text/plain")
                return
            text = data.decode("utf-8", "replace").strip()
            if text.startswith("{"):
                try:
                    pairs += [(str(k), str(v)) for k, v in json.loads(text).items()]
                except (ValueError, AttributeError):
                    self.answer(400, "the body is no JSON object\n", "text/plain")
                    return
            else:
                pairs += urllib.parse.parse_qsl(text, keep_blank_values=True)
        with state.lock:
            problem = state.change(pairs)
            snapshot = state.snapshot()
            issued = state.issued
            issued_values = list(state.labels)
        kicks = [value for name, value in pairs if name == "kick"]
        if not problem and kicks:
            problem = self.kick(kicks)
        if problem:
            self.answer(400, problem + "\n", "text/plain")
        elif "secrets" in dict(pairs):
            # Every code and token issued since the last reset, so that a test
            # can look for each in what the client wrote.
            self.answer(200, "".join(value + "\n" for value in issued_values), "text/plain")
        elif issued and dict(pairs).get("format") == "text":
            self.answer(200, "".join("%s %s\n" % item for item in sorted(issued.items())), "text/plain")
        elif issued:
            self.answer_json(200, issued)
        elif dict(pairs).get("format") == "text":
            lines = ["counter %s %d" % item for item in sorted(snapshot["counters"].items())]
            lines += ["log " + line for line in snapshot["log"]]
            self.answer(200, "".join(line + "\n" for line in lines), "text/plain")
        else:
            self.answer_json(200, snapshot)

    def kick(self, users):
        """Ends the users' IMAP and POP3 sessions; the reason it could not, or None."""
        doveadm = shutil.which("doveadm")
        if not doveadm:
            return "kick: doveadm is not installed"
        for user in users:
            if not USER.match(user):
                return "kick: not a plain user name"
            try:
                done = subprocess.run([doveadm, "-c", self.dovecot_config, "kick", user],
                                      stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                      timeout=KICK_SECONDS)
            except (OSError, subprocess.TimeoutExpired) as error:
                return "kick: doveadm failed: %s" % error
            if done.returncode != 0:
                return "kick: doveadm answered %d: %s" % (done.returncode, done.stderr.strip())
        return None


class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64

    def __init__(self, context=None):
        super().__init__(("127.0.0.1", 0), Handler)
        self.context = context

    def get_request(self):
        sock, address = super().get_request()
        if self.context:
            # The handshake happens in the request's thread: a client that
            # never finishes it holds only that thread.
            sock = self.context.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, address

    def handle_error(self, request, client_address):
        pass


def start(folder, cert, key):
    folder = os.path.abspath(folder)
    os.makedirs(folder, exist_ok=True)
    stop(folder)
    ports = os.path.join(folder, "ports")
    if os.path.exists(ports):
        os.remove(ports)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)
    plain, secure = Server(), Server(context)
    pid = os.fork()
    if pid > 0:
        # Returns once the servers listen and DIR/ports is whole.
        for _ in range(200):
            if os.path.exists(ports):
                return
            time.sleep(0.05)
        os.kill(pid, signal.SIGTERM)
        sys.exit("oauth_server: the servers did not start")
    os.setsid()
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    Handler.state = State()
    Handler.dovecot_config = os.path.join(os.path.dirname(folder), "dovecot.conf")
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    with open(os.path.join(folder, "pid.new"), "w") as f:
        f.write("%d\n" % os.getpid())
    os.rename(os.path.join(folder, "pid.new"), os.path.join(folder, "pid"))
    for server in (plain, secure):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    with open(ports + ".new", "w") as f:
        f.write("OAUTH_HTTP_PORT=%d\nOAUTH_HTTPS_PORT=%d\n" % (plain.server_address[1], secure.server_address[1]))
    os.rename(ports + ".new", ports)
    while True:
        time.sleep(3600)


def running(pid):
    """False once the process ended, also while it waits, a zombie, for its parent."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def stop(folder):
    path = os.path.join(os.path.abspath(folder), "pid")
    try:
        with open(path) as f:
            pid = int(f.read())
        # Only the server this folder started: a pid of a past run may be another process's now.
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            arguments = f.read().split(b"\0")
        # The folder may be named through a link (as root, DIR is one).
        ours = os.path.realpath(folder).encode()
        if any(a.endswith(b"oauth_server.py") for a in arguments) and \
                any(os.path.realpath(a) == ours for a in arguments if a.startswith(b"/")):
            os.kill(pid, signal.SIGTERM)
            for _ in range(100):
                if not running(pid):
                    break
                time.sleep(0.05)
    except (OSError, ValueError):
        pass
    for name in ("pid", "ports"):
        try:
            os.remove(os.path.join(os.path.abspath(folder), name))
        except OSError:
            pass


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "start":
        start(os.path.abspath(sys.argv[2]), sys.argv[3], sys.argv[4])
    elif len(sys.argv) == 3 and sys.argv[1] == "stop":
        stop(sys.argv[2])
    else:
        sys.exit("usage: oauth_server.py start DIR CERT KEY | stop DIR")
