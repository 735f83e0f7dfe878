#!/usr/bin/env python3
"""Logs in to a running kelconsole and loads every page of the CIFS plug-in, checking each
against the demo state file the console serves.

    pages.py URL PASSWORD STATE_FILE TOKEN

TOKEN is a read API token: the Find Open Files page answers it as JSON, a close it may not make.

Prints one line a page; exits 1 at the first page that is wrong."""
import html
import json
import re
import sys
import urllib.error
import urllib.parse
import urllib.request

url, password, state_file, token = sys.argv[1:5]
state = json.load(open(state_file, encoding="utf-8"))


class NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


opener = urllib.request.build_opener(NoRedirect)


def fetch(path, data=None, cookie=None, language=None, bearer=None):
    headers = {"Origin": url}
    if bearer:
        headers = {"Authorization": "Bearer " + bearer}
    if language:
        headers["Accept-Language"] = language
    if cookie:
        headers["Cookie"] = cookie
    body = urllib.parse.urlencode(data).encode() if data is not None else None
    request = urllib.request.Request(url + path, data=body, headers=headers)
    try:
        with opener.open(request, timeout=30) as response:
            return response.status, response.headers, response.read().decode("utf-8", "replace")
    except urllib.error.HTTPError as error:
        return error.code, error.headers, error.read().decode("utf-8", "replace")


def fail(text):
    print("pages: " + text, file=sys.stderr)
    sys.exit(1)


def page(path, cookie, *expected, language=None):
    status, _, body = fetch(path, cookie=cookie, language=language)
    if status != 200:
        fail(f"{path}: status {status}")
    for text in expected:
        if html.escape(text, quote=True) not in body and text not in body:
            fail(f"{path}: {text!r} is not on the page")
    print(f"pages: {path}: 200, {len(body)} bytes")
    return body


# Without a session the pages are not shown.
status, _, body = fetch("/cifsofm")
if status == 200 and "SYS" in body and "Manage Open Files" in body and "<select" in body:
    fail("/cifsofm answers without a login")

status, headers, _ = fetch("/login", {"name": "admin", "password": password})
cookie = (headers.get("Set-Cookie") or "").split(";")[0]
if not cookie:
    fail(f"the login gave no session (status {status})")

# A connection with an open file whose name needs no escaping, on some volume.
plain = re.compile(r"^[A-Za-z0-9 ._-]+$")
choice = None
for connection in state["connections"]:
    for group in connection["openFiles"]:
        for path in group["paths"]:
            name = path.rsplit("/", 1)[-1]
            if choice is None and plain.match(name):
                choice = (connection, group["volume"], name)
if choice is None:
    fail("the demo state has no open file with a plain name")
connection, volume, name = choice

page("/cifsofm", cookie, *[v["name"] for v in state["volumes"]])
page("/cifsofm/" + urllib.parse.quote(volume), cookie, name)
page("/cifscons", cookie, connection["user"])
page(f"/cifscons/ConnectionNumber/{connection['number']:08X}", cookie, connection["user"], name)
page("/cifslogs", cookie, "libkel2cifs.log")

# The installed catalogues: a German and a French browser get their language.
page("/cifsofm", cookie, "CIFS: Geöffnete Dateien verwalten", 'lang="de"', language="de-DE,de;q=0.9")
page("/cifsofm", cookie, "Gérer les fichiers ouverts CIFS", 'lang="fr"', language="fr")

# The administration plug-in and the audit trail, for a script with the read token.
status, headers, body = fetch("/cifsfind?format=json&size=1000&q=" + urllib.parse.quote(name),
                              bearer=token)
if status != 200 or not headers.get("Content-Type", "").startswith("application/json"):
    fail(f"/cifsfind as JSON: status {status}, {headers.get('Content-Type')}")
items = json.loads(body)["items"]
if not any(item["connection"] == connection["number"] and item["path"].endswith("/" + name)
           for item in items):
    fail(f"/cifsfind as JSON does not list {name} of connection {connection['number']}")
print(f"pages: /cifsfind?format=json: {len(items)} items")
target = f"{connection['number']}:{items[0]['path']}"
status, _, _ = fetch("/cifsfind?format=json", {"close": target}, bearer=token)
if status != 403:
    fail(f"a read token's close was answered {status}")
page("/cifssessions", cookie, connection["user"])
status, _, body = fetch("/audit?format=json", bearer=token)
if status != 200 or not any(item["account"] == "package-test" and item["status"] == 403
                            for item in json.loads(body)["items"]):
    fail(f"the audit trail lacks the refused close (status {status})")
print("pages: /audit?format=json: the refused close is recorded")
