#!/usr/bin/env python3
"""Checks orrinfold's Apache dialect against a real Apache 2.4, byte for byte.

Each run generates random SSI sites (pages, parsed and raw fragments, names with
spaces and UTF-8, files of many sizes), serves each one with Apache's mod_include
on 127.0.0.1, converts it with `orrinfold --dialect apache`, and compares every
page. Differing pages are printed with their source and a diff; the seed is
printed so that a run can be replayed.

usage:
  compare.py [--orrinfold PATH] [--sites N] [--seed S] [--keep DIR] [--port P] [--ap-expr]
  compare.py --apache-only --keep DIR [--sites N] [--seed S]   # Apache's pages only
  compare.py --serve DIR [--port P] [--ap-expr]                # serve DIR until Ctrl-C

Pages use only what a static page can know as Apache does (no request headers, client
addresses or exec, which orrinfold reports instead), including the values Apache computes
from the page itself: request constants, echo encoding lists, URL fragments, long time
formats, and in the newer syntax its functions, escapes, time variables and file and URL tests.

--ap-expr writes `if` expressions in Apache's ap_expr syntax, turns off
SSILegacyExprParser and passes --ap-expr to orrinfold. With --keep DIR the sites
stay in DIR/site-NNN, Apache's pages in DIR/site-NNN.apache and ours in
DIR/site-NNN.out, and Apache's log in DIR/apache-error.log. Both programs see
the same environment, so TZ=Europe/Berlin tests times away from UTC.
Needs apache2 (scripts/install-deps.sh apache); installs nothing.
Exit status: 0 when every page matches, 1 when one differs, 2 when the run failed.
"""

import argparse
import difflib
import http.client
import os
import posixpath
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
APACHE = "/usr/sbin/apache2"

# ---------------------------------------------------------------------------
# Apache


class Apache:
    """One prefork Apache with mod_include over a fixed DocumentRoot."""

    def __init__(self, workdir, docroot, port, legacy_expr=True):
        self.dir = workdir
        self.docroot = docroot
        self.port = port
        self.conf = os.path.join(workdir, "httpd.conf")
        self.log = os.path.join(workdir, "error.log")
        self.pid = None
        if os.getuid() == 0:
            user, group = "www-data", "www-data"
        else:
            import grp
            import pwd
            user = pwd.getpwuid(os.getuid()).pw_name
            group = grp.getgrgid(os.getgid()).gr_name
        with open(self.conf, "w") as f:
            f.write(f"""ServerRoot /usr/lib/apache2
DefaultRuntimeDir "{workdir}"
PidFile "{workdir}/httpd.pid"
Listen 127.0.0.1:{port}
ServerName localhost
ErrorLog "{self.log}"
LogLevel warn include:debug
LoadModule mpm_prefork_module modules/mod_mpm_prefork.so
LoadModule authz_core_module modules/mod_authz_core.so
LoadModule include_module modules/mod_include.so
LoadModule mime_module modules/mod_mime.so
LoadModule filter_module modules/mod_filter.so
StartServers 2
MinSpareServers 1
MaxSpareServers 4
TypesConfig /etc/mime.types
User {user}
Group {group}
DocumentRoot "{docroot}"
<Directory "{docroot}">
  Options +IncludesNOEXEC
  Require all granted
  AddType text/html .shtml
  AddOutputFilter INCLUDES .shtml
  SSILegacyExprParser {"on" if legacy_expr else "off"}
</Directory>
""")

    def start(self):
        if not os.access(APACHE, os.X_OK):
            raise RuntimeError(f"{APACHE} not found: run scripts/install-deps.sh apache")
        run = subprocess.run([APACHE, "-f", self.conf, "-k", "start"],
                             capture_output=True, text=True)
        if run.returncode != 0:
            raise RuntimeError(f"apache2 did not start:\n{run.stderr}{self.log_tail()}")
        deadline = time.time() + 15
        while time.time() < deadline:
            try:
                with open(os.path.join(self.dir, "httpd.pid")) as f:
                    self.pid = int(f.read())
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except (OSError, ValueError):
                time.sleep(0.1)
        raise RuntimeError(f"apache2 did not answer on port {self.port}{self.log_tail()}")

    def stop(self):
        if self.pid is None:
            return
        subprocess.run([APACHE, "-f", self.conf, "-k", "stop"], capture_output=True)
        deadline = time.time() + 10
        while time.time() < deadline:
            try:
                os.kill(self.pid, 0)
            except OSError:
                break
            time.sleep(0.1)
        else:
            try:
                os.kill(self.pid, signal.SIGKILL)
            except OSError:
                pass
        self.pid = None

    def log_tail(self, lines=20):
        try:
            with open(self.log, errors="replace") as f:
                return "\n" + "".join(f.readlines()[-lines:])
        except OSError:
            return ""

    def fetch(self, relpath):
        """The status and body; status None when Apache broke off the answer (its child
        crashed on the page, which happens on a few expressions of the newer syntax)."""
        url = f"http://127.0.0.1:{self.port}/" + urllib.parse.quote(relpath)
        try:
            with urllib.request.urlopen(url, timeout=60) as r:
                return r.status, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.read()
        except (http.client.IncompleteRead, ConnectionError) as e:
            return None, b""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# ---------------------------------------------------------------------------
# Site generator

SIZES = [0, 5, 999, 1023, 1024, 10000, 1500000]
VARS = ["a", "b", "greeting", "Name", "x_1"]
SPECIAL = ["DOCUMENT_NAME", "DOCUMENT_URI", "DOCUMENT_ARGS", "LAST_MODIFIED",
           "QUERY_STRING", "USER_NAME", "REQUEST_URI", "SCRIPT_NAME", "REQUEST_METHOD",
           "SERVER_PROTOCOL", "GATEWAY_INTERFACE"]
SET_TOKENS = ["hello", "two words", "$a", "${b}", "\\$a", "it's", '"quoted"', "&amp;",
              "<b>bold</b>", "\u00fcber", "${nope}", "$", "a$b", "${a}x", "$DOCUMENT_NAME",
              "50%", "x&y", "$greeting!", "\\\\", "${Name}${x_1}", "caf\u00e9 <&>"]
TIMEFMTS = ["%Y-%m-%d", "%A, %d-%b-%Y %H:%M:%S %Z", "%d/%m/%y %I:%M %p", "%j %U %W %w",
            "%s", "%%Y literal", "%c", "%x %X", "%e|%k|%l", "%a %B %C %g %G %V %u",
            "%D %T %R %z", "", "plain text", "%y%m%d%H%M%S", "%Y-%m-%d %H:%M:%S | " * 30]
# Strings of the newer syntax: escapes, and values its functions compute.
AP_STRINGS = ["'a\\tb'", "'\\101\\x'", "'a%20b%2fc'", "'%zz'", "'aGVsbG8='", "'a b/<c>?&'",
              "' 5'", "'5abc'", "'abc'", "'1e3'", "'-3'"]
AP_FUNCTIONS = ["toupper", "tolower", "escape", "unescape", "base64", "unbase64", "md5", "sha1"]
AP_URLS = ["'/nope.html'", "'/%zz'", "'/a%2fb'", "'/../x'", "'index.shtml'", "'/menu.inc'",
           "'menu.inc'", "'missing.txt'", "'data/z5.dat'", "'my inc/a b.inc'"]
ERRMSGS = ["[oops]", "<b>Error!</b>", "", "err $a", "\u00e9chec"]
ECHOMSGS = ["(unset)", "", "<none>", "-$b-", "\u2205"]
REGEXES = ["/^(h)(e)llo/", "/(o+)/", "/^$/", "/w(or)ds?/", "/[0-9]+/", "/^(.*)$/",
           "/(\u00fc)/", "/a|b/", "/(x)?y/", "/(\\w+) (\\w+)/", "/^(?:it)(.)/"]
WORDS = ["abc", "hello", "x", "\u00fcber", "1", "10", "2", "two words", "A", "hello world"]
TEXT = ["<p>Some text &amp; more, caf&eacute; &#169; 2024.</p>",
        "<h2>Section</h2>", "<!-- plain comment -->", '<div class="box">', "</div>",
        "A dollar $a and a \\ backslash, a <!-- comment --> inline.",
        "\u00dcbergr\u00f6\u00dfen \u2014 UTF-8 text.", "<!--not a directive-->",
        "<ul><li>one</li><li>two</li></ul>", "&lt;!--#echo var=\"a\" --&gt; is escaped"]


class Generator:
    def __init__(self, rng, ap_expr):
        self.r = rng
        self.ap = ap_expr

    # -- small pieces

    def quote(self, value):
        """Quotes an argument value with ", ' or ` (backslash-escaping " when needed)."""
        r = self.r
        free = [q for q in "\"'`" if q not in value]
        if free and r.random() < 0.9:
            q = '"' if '"' in free and r.random() < 0.7 else r.choice(free)
            return q + value + q
        return '"' + value.replace('"', '\\"') + '"'

    def directive(self, name, args=()):
        r = self.r
        if r.random() < 0.15:
            name = name.upper()
        parts = []
        for key, value in args:
            if r.random() < 0.15:
                key = key.upper()
            parts.append(key + "=" + self.quote(value))
        sep = lambda: r.choice([" ", " ", " ", "  ", "\n", "\t"])
        body = "".join(sep() + p for p in parts)
        end = r.choice([" -->", " -->", "-->", "  -->"])
        return f"<!--#{name}{body}{end}"

    def set_value(self):
        return "".join(self.r.choice(SET_TOKENS) for _ in range(self.r.randint(1, 3)))

    def echo_var(self):
        r = self.r.random()
        if r < 0.45:
            return self.r.choice(VARS)
        if r < 0.75:
            return self.r.choice(SPECIAL)
        if r < 0.9:
            return str(self.r.randint(0, 3))  # regex captures
        return self.r.choice(["unset_var", "nope"])

    # -- expressions

    def legacy_operand(self):
        r = self.r
        return r.choice([
            lambda: r.choice(WORDS),
            lambda: "'" + r.choice(WORDS) + "'",
            lambda: "$" + r.choice(VARS),
            lambda: "${" + r.choice(VARS) + "}",
            lambda: "'$" + r.choice(VARS) + " and ${" + r.choice(VARS) + "}'",
            lambda: "$" + r.choice(["QUERY_STRING", "DOCUMENT_NAME", "DOCUMENT_ARGS"]),
            lambda: "''",
        ])()

    def compound(self, expr, depth, k):
        """The part both syntaxes share: two expressions joined by && or ||, or one in
        parentheses; None when the expression is to be a simple one."""
        if depth < 2 and k < 0.2:
            op = self.r.choice(["&&", "||"])
            return f"{expr(depth + 1)} {op} {expr(depth + 1)}"
        if depth < 2 and k < 0.3:
            return f"({expr(depth + 1)})"
        return None

    def legacy_expr(self, depth=0):
        r = self.r
        k = r.random()
        compound = self.compound(self.legacy_expr, depth, k)
        if compound:
            return compound
        if k < 0.4:  # Apache takes ! before a string or a group, not before a comparison
            inner = f"({self.legacy_expr(2)})" if r.random() < 0.5 else self.legacy_operand()
            return "!" + r.choice(["", " "]) + inner
        if k < 0.5:
            return self.legacy_operand()
        if k < 0.7:
            return f"{self.legacy_operand()} {r.choice(['=', '!='])} {r.choice(REGEXES)}"
        op = r.choice(["=", "!=", "<", "<=", ">", ">=", "=="])
        return f"{self.legacy_operand()} {op} {self.legacy_operand()}"

    def ap_operand(self, depth=0):
        r = self.r
        return r.choice([
            lambda: "v('" + r.choice(VARS + ["QUERY_STRING", "DOCUMENT_NAME"]) + "')",
            lambda: "'" + r.choice(WORDS) + "'",
            lambda: "'$" + str(r.randint(0, 2)) + "'",
            lambda: "''",
            lambda: r.choice(AP_STRINGS),
            lambda: (r.choice(AP_FUNCTIONS) + "(" + (self.ap_operand(1) if depth == 0 else "'x y'") + ")"),
            lambda: "%{" + r.choice(["ENV:", "env:"]) + r.choice(VARS) + "}",
            lambda: "%{" + r.choice(AP_FUNCTIONS) + ":" + r.choice(WORDS[:4]) + "}",
            lambda: "%{" + r.choice(["TIME_YEAR", "REQUEST_URI", "request_method", "QUERY_STRING",
                                     "SERVER_PROTOCOL", "DOCUMENT_URI", "IS_SUBREQ"]) + "}",
        ])()

    def ap_expr(self, depth=0):
        r = self.r
        k = r.random()
        compound = self.compound(self.ap_expr, depth, k)
        if compound:
            return compound
        if k < 0.38:
            return "!" + r.choice(["true", "false", f"({self.ap_expr(2)})"])
        if k < 0.45:
            return r.choice(["true", "false"])
        if k < 0.55:
            return f"{r.choice(['-n', '-z'])} {self.ap_operand()}"
        if k < 0.72:
            return f"{self.ap_operand()} {r.choice(['=~', '!~'])} {r.choice(REGEXES)}"
        if k < 0.8:
            left = r.choice([f"'{r.randint(-5, 20)}'"] * 2 + AP_STRINGS[6:] + ["''"])
            return f"{left} {r.choice(['-eq', '-ne', '-lt', '-le', '-gt', '-ge'])} '{r.randint(-5, 20)}'"
        if k < 0.83:
            return f"{r.choice(['-A', '-U', '-F'])} {r.choice(AP_URLS)}"
        if k < 0.86:
            return (f"{r.choice(['/a/b', 'a/b', 'ab', 'über'])!r} {r.choice(['-fnmatch', '-strmatch'])}"
                    f" {r.choice(['a*', '/a/*', 'a?', '*', '[a-z]*', '*b'])!r}")
        if k < 0.85:
            return f"{self.ap_operand()} in {{'hello', 'x', ''}}"
        op = r.choice(["==", "!=", "<", "<=", ">", ">="])
        return f"{self.ap_operand()} {op} {self.ap_operand()}"

    def expr(self):
        return self.ap_expr() if self.ap else self.legacy_expr()

    # -- paths

    def virtual_path(self, doc, target):
        r = self.r
        if r.random() < 0.5:
            path = "/" + target
        else:
            path = posixpath.relpath(target, posixpath.dirname(doc) or ".")
        k = r.random()
        if k < 0.4:
            path = urllib.parse.quote(path)
        elif k < 0.55:  # escape one plain letter as well
            i = r.randrange(len(path))
            if path[i].isalnum() and path[i].isascii():
                path = path[:i] + "%%%02X" % ord(path[i]) + path[i + 1:]
        if r.random() < 0.25:
            path += r.choice(["?a=1", "?a=1&b=x%20y", "?q=%C3%BC+%26", "?", "?x=$a"])
        if r.random() < 0.1:  # a fragment, which Apache drops
            path += r.choice(["#top", "#"])
        return path

    def file_path(self, doc, target):
        """A file= path to target when it lies in doc's folder or below, else None."""
        d = posixpath.dirname(doc)
        if d and not target.startswith(d + "/"):
            return None
        return target[len(d) + 1:] if d else target


class Site:
    def __init__(self, rng, ap_expr):
        self.g = Generator(rng, ap_expr)
        self.r = rng
        self.files = {}
        self.pages = []
        r = rng
        sub = r.choice(["sub", "docs", "news"])
        dirs = ["", sub, "my inc"]
        if r.random() < 0.6:
            dirs.append(sub + "/" + r.choice(["deep", "inner"]))
        self.data = ["data/z%d.dat" % n for n in SIZES]
        self.raw = ["menu.inc", sub + "/b.txt", "my inc/a b.inc", "\u00fcber.inc"]
        self.parsed = []
        for i in range(r.randint(2, 4)):
            d = r.choice(dirs)
            name = r.choice(["frag%d.shtml" % i, "part %d.shtml" % i, "gr\u00fc\u00dfe%d.shtml" % i])
            self.parsed.append(posixpath.join(d, name))
        n_pages = r.randint(3, 8)
        pages = ["index.shtml"] + [posixpath.join(r.choice(dirs), "page%d.shtml" % i)
                                   for i in range(1, n_pages)]
        self.pages = list(dict.fromkeys(pages))

        for n, path in zip(SIZES, self.data):
            self.files[path] = b"x" * n
        for path in self.raw:
            self.files[path] = self.raw_fragment(path)
        for i, path in enumerate(self.parsed):
            self.files[path] = self.document(path, self.parsed[i + 1:], page=False)
        for path in self.pages:
            self.files[path] = self.document(path, self.parsed, page=True)

    def raw_fragment(self, path):
        r = self.r
        lines = [f"raw {path}: <!--#echo var=\"DOCUMENT_NAME\" --> stays as it is",
                 r.choice(TEXT), "caf\u00e9 &amp; $a"]
        eol = r.choice(["\n", "\r\n"])
        return (eol.join(lines) + r.choice([eol, ""])).encode()

    def document(self, path, fragments, page):
        r, g = self.r, self.g
        items = []
        n = r.randint(6, 14) if page else r.randint(2, 5)
        for _ in range(n):
            items.append(self.item(path, fragments, 0))
        if page:
            for _ in range(r.choice([0, 0, 1, 2])):
                items.insert(r.randrange(len(items) + 1), self.broken(path))
            items.insert(0, f"<!DOCTYPE html>\n<html><head><title>{path}</title></head><body>")
            if r.random() < 0.08:  # an if that is never closed
                items.append(g.directive("if", [("expr", g.expr())]) + "tail after unclosed if")
            items.append("</body></html>")
        eol = r.choice(["\n", "\n", "\r\n", None])
        out = ""
        for item in items:
            out += item + (eol or r.choice(["\n", "\r\n", ""]))
        if not page and r.random() < 0.3:
            out = out.rstrip("\r\n")
        return out.encode()

    def item(self, doc, fragments, depth):
        r, g = self.r, self.g
        kinds = ["text", "echo", "echo", "set", "set", "config", "size", "include",
                 "include", "if", "comment", "unknown"]
        kind = r.choice(kinds)
        if kind == "text":
            return r.choice(TEXT)
        if kind == "echo":
            args = []
            for _ in range(r.randint(1, 3)):
                if r.random() < 0.7:
                    enc = r.choice(["none", "url", "entity", "url,entity", "entity, url", "none,url"])
                    args.append(("encoding", enc.upper() if r.random() < 0.1 else enc))
                args.append(("var", g.echo_var()))
            return g.directive("echo", args)
        if kind == "set":
            var = r.choice(VARS)
            return g.directive("set", [("var", var), ("value", g.set_value())])
        if kind == "config":
            choices = [("errmsg", lambda: r.choice(ERRMSGS)),
                       ("echomsg", lambda: r.choice(ECHOMSGS)),
                       ("timefmt", lambda: r.choice(TIMEFMTS)),
                       ("sizefmt", lambda: r.choice(["bytes", "abbrev"] * 4 + ["ABBREV", "Bytes"]))]
            picked = r.sample(choices, r.randint(1, 2))
            return g.directive("config", [(k, f()) for k, f in picked])
        if kind == "size":
            target = r.choice(self.data + self.data + self.raw + self.pages)
            name = r.choice(["fsize", "flastmod"])
            fp = g.file_path(doc, target)
            if fp is not None and r.random() < 0.4:
                return g.directive(name, [("file", fp)])
            return g.directive(name, [("virtual", g.virtual_path(doc, target))])
        if kind == "include":
            targets = fragments + self.raw
            target = r.choice(targets)
            fp = g.file_path(doc, target)
            if fp is not None and r.random() < 0.35:
                return g.directive("include", [("file", fp)])
            return g.directive("include", [("virtual", g.virtual_path(doc, target))])
        if kind == "if":
            if depth >= 3:
                return r.choice(TEXT)
            return self.if_block(doc, fragments, depth + 1)
        if kind == "comment":
            return g.directive("comment", [("text", r.choice(["note", "a $b c"]))])
        return g.directive(r.choice(["frobnicate", "foo", "ECHOX"]), [("x", "1")])

    def if_block(self, doc, fragments, depth):
        r, g = self.r, self.g

        def body():
            return "".join(self.item(doc, fragments, depth) for _ in range(r.randint(1, 3)))

        out = g.directive("if", [("expr", g.expr())]) + body()
        for _ in range(r.choice([0, 0, 1, 2])):
            out += g.directive("elif", [("expr", g.expr())]) + body()
        if r.random() < 0.5:
            out += g.directive("else") + body()
        out += g.directive("endif")
        if r.random() < 0.5:  # captures of the last regex
            out += g.directive("echo", [("var", str(r.randint(0, 3)))])
        return out

    def broken(self, doc):
        r, g = self.r, self.g
        bad_expr = "v('a'" if g.ap else "(a"
        bad_regex = "v('a') =~ /(/" if g.ap else "$a = /(/"
        return r.choice([
            lambda: g.directive("else") + "after stray else",
            lambda: g.directive("endif"),
            lambda: g.directive("elif", [("expr", "x")]) + "after stray elif",
            lambda: g.directive("if", [("expr", bad_expr)]) + "in bad if" + g.directive("endif"),
            lambda: (g.directive("if", [("expr", bad_regex)]) + "yes" + g.directive("else")
                     + "no" + g.directive("endif")),
            lambda: g.directive("include", [("virtual", "/missing.inc")]),
            lambda: g.directive("include", [("file", "missing.txt")]),
            lambda: g.directive("include", [("file", "../menu.inc")]),
            lambda: g.directive("include", [("virtual", "/my%2Finc/a%20b.inc")]),
            lambda: g.directive("echo"),
            lambda: g.directive("echo", [("encoding", r.choice(["base64", "rot13"])), ("var", "a")]),
            lambda: g.directive("echo", [("var", "a"), ("encoding", "none")]),
            lambda: g.directive("config", [("sizefmt", "weird")]),
            lambda: g.directive("set", [("var", "a")]),
            lambda: g.directive("fsize", [("file", "/etc/passwd")]),
            lambda: "<!--#echo var=\"a\"  unfinished",
        ])()

    def write(self, root):
        os.makedirs(root)
        for path, data in self.files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(data)
            t = self.r.randint(631152000, 2145916800)  # 1990 .. 2037
            os.utime(full, (t, t))


# ---------------------------------------------------------------------------
# Comparison


VISIBLE = {c: "\\x%02x" % c for c in range(0x80, 0xa0)} | {0x0d: "\\r"}


def show(data):
    """Lines for the diff: bytes as latin-1, CR made visible, a missing last newline marked."""
    lines = data.decode("latin-1").translate(VISIBLE).split("\n")
    last = lines.pop()
    lines = [line + "\n" for line in lines]
    if last:
        lines.append(last + " [no newline at end]\n")
    return lines


def report(site_dir, page, source, ours, theirs, note=""):
    print(f"=== {site_dir}: {page} differs{note}")
    print("--- source:")
    print(source.decode("utf-8", "replace").replace("\r", "\\r"))
    print("--- diff (apache vs orrinfold):")
    sys.stdout.writelines(difflib.unified_diff(show(theirs), show(ours), "apache", "orrinfold"))
    print()


def run(args):
    orrinfold = os.path.join(REPO, args.orrinfold) if not os.path.isabs(args.orrinfold) else args.orrinfold
    if not args.apache_only and not os.access(orrinfold, os.X_OK):
        print(f"compare: {orrinfold} not found (run make build)", file=sys.stderr)
        return 2
    seed = args.seed if args.seed is not None else int(time.time() * 1000) % 10**9
    print(f"seed {seed} (replay with --seed {seed})", flush=True)

    base = "/dev/shm" if os.path.isdir("/dev/shm") else None
    work = tempfile.mkdtemp(prefix="orrinfold-apache-", dir=base)
    os.chmod(work, 0o755)
    keep = os.path.abspath(args.keep) if args.keep else None
    sites_dir = keep or os.path.join(work, "sites")
    os.makedirs(sites_dir, exist_ok=True)
    docroot = os.path.join(work, "docroot")
    os.mkdir(docroot)
    apache = Apache(work, docroot, args.port or free_port(), legacy_expr=not args.ap_expr)
    n_pages = n_differ = n_crashed = 0
    try:
        apache.start()
        for i in range(1, args.sites + 1):
            site = Site(random.Random(f"{seed}/{i}"), args.ap_expr)
            site_dir = os.path.join(sites_dir, "site-%03d" % i)
            for d in (site_dir, site_dir + ".apache", site_dir + ".out"):
                shutil.rmtree(d, ignore_errors=True)
            site.write(site_dir)
            shutil.rmtree(docroot)
            shutil.copytree(site_dir, docroot)  # keeps the times

            served = {}
            for page in list(site.pages):
                status, body = apache.fetch(page)
                if status is None:
                    # Nothing to compare with: Apache itself failed on the page.
                    print(f"{site_dir}: {page}: Apache crashed serving it; left out{apache.log_tail(2)}")
                    site.pages.remove(page)
                    n_crashed += 1
                    continue
                if status != 200:
                    print(f"{site_dir}: {page}: Apache answered {status}{apache.log_tail(5)}")
                served[page] = body
                if keep:
                    out = os.path.join(site_dir + ".apache", page)
                    os.makedirs(os.path.dirname(out), exist_ok=True)
                    with open(out, "wb") as f:
                        f.write(body)
            n_pages += len(site.pages)
            if args.apache_only:
                continue

            out_dir = site_dir + ".out"
            cmd = [orrinfold, "--dialect", "apache", "-q"] + (["--ap-expr"] if args.ap_expr else [])
            proc = subprocess.run(cmd + [site_dir, out_dir], capture_output=True, timeout=300)
            if proc.returncode == 2:
                print(f"compare: {' '.join(cmd)} rejected its command line:", file=sys.stderr)
                sys.stderr.write(proc.stderr.decode(errors="replace"))
                return 2
            differ = 0
            for page in site.pages:
                try:
                    with open(os.path.join(out_dir, page), "rb") as f:
                        ours, note = f.read(), ""
                except OSError:
                    ours, note = b"", " (no output)"
                if ours != served[page]:
                    differ += 1
                    report(site_dir, page, site.files[page], ours, served[page], note)
            if differ and proc.returncode != 0:
                print(f"orrinfold exited with status {proc.returncode}:")
                sys.stdout.write(proc.stderr.decode(errors="replace")[-3000:])
            n_differ += differ
            if not keep:
                for d in (site_dir, out_dir):
                    shutil.rmtree(d, ignore_errors=True)
    except RuntimeError as e:
        print(f"compare: {e}", file=sys.stderr)
        return 2
    finally:
        apache.stop()
        if keep and os.path.exists(apache.log):
            shutil.copy(apache.log, os.path.join(keep, "apache-error.log"))
        shutil.rmtree(work, ignore_errors=True)
    if args.apache_only:
        print(f"{args.sites} sites, {n_pages} pages fetched")
        return 0
    crashed = f" ({n_crashed} left out: Apache crashed serving them)" if n_crashed else ""
    print(f"{args.sites} sites, {n_pages} pages, {n_differ} differ{crashed}")
    if n_differ and not keep:
        print(f"(keep the sites with --seed {seed} --keep DIR)")
    return 1 if n_differ else 0


def serve(args):
    root = os.path.abspath(args.serve)
    work = tempfile.mkdtemp(prefix="orrinfold-apache-")
    os.chmod(work, 0o755)
    apache = Apache(work, root, args.port or free_port(), legacy_expr=not args.ap_expr)
    try:
        apache.start()
        print(f"serving {root} at http://127.0.0.1:{apache.port}/ (log: {apache.log}); Ctrl-C stops")
        if os.getuid() == 0:
            print("(Apache runs as www-data: the folder and its parents must be readable by it)")
        while True:
            time.sleep(3600)
    except KeyboardInterrupt:
        return 0
    except RuntimeError as e:
        print(f"compare: {e}", file=sys.stderr)
        return 2
    finally:
        apache.stop()
        shutil.rmtree(work, ignore_errors=True)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0],
                                epilog=__doc__.split("\n\n", 1)[1],
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--orrinfold", default="build/orrinfold", metavar="PATH",
                   help="program to test, relative to the repository (default build/orrinfold)")
    p.add_argument("--sites", type=int, default=50, metavar="N", help="random sites (default 50)")
    p.add_argument("--seed", type=int, metavar="S", help="seed of the run (default: from the time)")
    p.add_argument("--keep", metavar="DIR", help="keep the sites and both outputs in DIR")
    p.add_argument("--port", type=int, metavar="P", help="Apache's port (default: a free one)")
    p.add_argument("--ap-expr", action="store_true",
                   help="ap_expr syntax in if/elif (SSILegacyExprParser off)")
    p.add_argument("--apache-only", action="store_true",
                   help="only generate and fetch the pages (with --keep, to look at them)")
    p.add_argument("--serve", metavar="DIR", help="serve DIR with Apache until Ctrl-C")
    args = p.parse_args()
    os.umask(0o022)  # Apache runs as www-data when we are root
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # still stop Apache
    sys.stdout.reconfigure(errors="backslashreplace")
    return serve(args) if args.serve else run(args)


if __name__ == "__main__":
    sys.exit(main())
