#!/usr/bin/env python3
"""Writes the seed corpora of fuzz/corpus/<target>/ from the readable descriptions below.

    fuzz/make_seeds.py            rewrites every seed file it knows (others are left alone)

A fuzz input is read by FuzzedDataProvider: texts from its front (each ended by a backslash and
one more byte; a backslash inside is doubled), integers and choices from its back (the first one
read is the last bytes of the file, most significant byte first). Seed builds an input in the
order a harness reads it, so each description below follows its harness (fuzz/*.cpp and
fuzz/harness.cpp) step by step. A seed that no longer matches its harness after a change is
still a valid input, only a less typical one: run this again after changing what a harness reads.
"""
import os
import sys

INT32 = (-(2**31), 2**31 - 1)


class Seed:
    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()

    def integer(self, value, low, high):
        span = high - low
        assert low <= value <= high, (value, low, high)
        count = 0
        while count < 8 and (span >> (8 * count)) > 0:
            count += 1
        self.back += (value - low).to_bytes(count, "big") if count else b""
        return self

    def u8(self, value):
        return self.integer(value, 0, 255)

    def u16(self, value):
        return self.integer(value, 0, 65535)

    def u32(self, value):
        return self.integer(value, 0, 2**32 - 1)

    def i32(self, value):
        return self.integer(value, *INT32)

    def boolean(self, value):
        return self.u8(1 if value else 0)

    def text(self, value, max_length):
        data = value.encode("latin-1") if isinstance(value, str) else bytes(value)
        assert len(data) <= max_length
        self.front += data.replace(b"\\", b"\\\\")
        if len(data) < max_length:
            self.front += b"\\|"
        return self

    def raw(self, value):
        """The remaining bytes (read last, after every integer)."""
        self.front += value.encode("latin-1") if isinstance(value, str) else bytes(value)
        return self

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


# --- harness.cpp ------------------------------------------------------------------------------

def path_text(seed, value, max_length):
    """PathText: the text read whole, or ("fill", length, piece) repeated to a chosen length."""
    if isinstance(value, tuple):
        _, length, piece = value
        seed.u8(200).integer(length, 0, max_length).text(piece, 16)
    else:
        seed.u8(0).text(value, max_length)


def field_text(seed, value, array_size):
    path_text(seed, value, array_size + 8)


def one_of(seed, choices, value, max_length):
    if value in choices:
        seed.integer(choices.index(value), 0, len(choices))
    else:
        seed.integer(len(choices), 0, len(choices)).text(value, max_length)


def status(seed, value=0):
    if value == 0:
        seed.u8(0)
    else:
        seed.u8(224).i32(value)


def count(seed):
    seed.u8(0)  # the count the list has


def entries(seed, names, max_entries, max_length):
    seed.integer(len(names), 0, max_entries)
    for name in names:
        if name is None:
            seed.u8(0)
        else:
            seed.u8(100)
            path_text(seed, name, max_length)


def request(seed, method="GET", access=None):
    if access is None:
        seed.u8(0)
    else:
        seed.u8(192).u32(access)
    seed.u8({"GET": 0, "POST": 150}[method])
    seed.u8(0)  # the host fails nowhere
    seed.integer(0, 0, 6)  # log level: everything


# --- fuzz_cifsofm_method.cpp ------------------------------------------------------------------

VOLUME_CHOICES = ["VOL1", "SYS", "DATA"]
TYPICAL_FILES = [
    (3, "alice", ["/VOL1/docs/report.doc", "/VOL1/notes.txt"]),
    (7, "bob", ["/VOL1/docs/plan.doc"]),
]


def ofm(path, body="", method="GET", volume="VOL1", volumes=("VOL1", "SYS"), files=TYPICAL_FILES,
        closes=(), access=None):
    seed = Seed()
    request(seed, method, access)
    one_of(seed, VOLUME_CHOICES, volume, 64)
    seed.u8(0).text(path, 1400)
    seed.u8(0).text(body, 4096)
    seed.integer(len(volumes), 0, 4)
    for name in volumes:
        if name == volume:
            seed.boolean(True)
        else:
            seed.boolean(False)
            field_text(seed, name, 256)
    status(seed)
    count(seed)
    seed.integer(len(files), 0, 4)
    for conn, user, names in files:
        seed.u16(conn)
        field_text(seed, user, 256)
        entries(seed, names, 5, 1100)
        count(seed)
    status(seed)
    count(seed)
    seed.integer(len(closes), 0, 3)
    for result in closes:
        status(seed, result)
    return seed


def close_field(path):
    tagged = "<filename>" + path + "</filename>"
    return "FILENAME=" + "".join("%%%02X" % ord(c) for c in tagged)


OFM = {
    "volume_by_user": ofm("/cifsofm/UserName/VOL1"),
    "volume_by_file": ofm("/cifsofm/FileName/VOL1"),
    "volume_by_connection": ofm("/cifsofm/ConnectionNumber/VOL1"),
    "filter_post": ofm("/cifsofm/VOL1", "FILTER=*.doc", "POST"),
    "filter_all_post": ofm("/cifsofm/UserName/VOL1", "FILTER=*.*", "POST"),
    "main_page": ofm("/cifsofm"),
    "help": ofm("/cifsofm/help"),
    "help_help": ofm("/cifsofm/help/help"),
    "close_files": ofm("/cifsofm/CIFSCloseFiles/VOL1",
                       close_field("/VOL1/docs/report.doc") + "&" +
                       close_field("/VOL1/docs/plan.doc"), "POST", closes=(0, 5)),
    "browse_file": ofm("/cifsofm/CIFSBrowseFile/VOL1/docs/report.doc"),
    "no_access": ofm("/cifsofm/VOL1", access=0),
    "odd_records": ofm(
        "/cifsofm/VOL1", volumes=("VOL1", ("fill", 256, "V"), "<z>&\"'"),
        files=[(1, ("fill", 256, "u"), ["/VOL1/<z>.doc", None, ("fill", 600, "/VOL1/deep")]),
               (65535, "", [])]),
}


# --- fuzz_cifslogs_method.cpp -----------------------------------------------------------------

def logs(path, method="GET", body="", layout=0, files=(("B", 500), ("M", 3 << 20), ("G", 5 << 30)),
         access=None):
    seed = Seed()
    request(seed, method, access)
    seed.integer(layout, 0, 3)
    if layout != 1:
        for kind, size in files:
            if kind is None:
                seed.integer(1, 0, 3)  # missing
                continue
            seed.integer(0, 0, 3)
            mode = {"B": 0, "M": 1, "G": 2}[kind]
            seed.integer(mode, 0, 3)
            seed.integer(size, 0, {0: 4096, 1: 1 << 32, 2: 1 << 43}[mode])
    seed.u8(0).text(path, 1400)
    seed.text(body, 2048)
    return seed


LOGS = {
    "list": logs("/cifslogs"),
    "list_slash": logs("/cifslogs/", files=(("B", 0), ("G", 3 << 40), (None, 0))),
    "help": logs("/cifslogs/help"),
    "help_info": logs("/cifslogs/help/_info_"),
    "not_help": logs("/cifslogs/view"),
    "linked_directory": logs("/cifslogs", layout=2),
    "no_directory": logs("/cifslogs", layout=1),
    "declined": logs("/cifslogs", access=0x80000009),
    "post": logs("/cifslogs", "POST", "name=value&x=%41"),
}


# --- fuzz_decode_post_data.cpp ----------------------------------------------------------------

def decode(data, length_mode=0, extra=0, lower=False):
    return Seed().integer(length_mode, 0, 3).u8(extra).boolean(lower).raw(data)


DECODE = {
    "filter": decode("FILTER=%2A.doc"),
    "close_list": decode("FILENAME=%3Cfilename%3E%2FVOL1%2Fa+b.doc%3C%2Ffilename%3E", lower=True),
    "cut_escapes": decode("a%4+%zz%"),
    "nul_inside": decode("ab\0cd%41", length_mode=1, extra=40),
    "shorter_length": decode("FILTER=%2a.txt&volume=VOL1", length_mode=2, extra=9),
}


# --- fuzz_parse_close_files.cpp ---------------------------------------------------------------

def close_list(junk, names, tail=None, results=()):
    seed = Seed().u8(0)
    seed.integer(len(results), 0, 6)
    for result in results:
        status(seed, result)
    seed.text(junk[0], 64)
    seed.integer(len(names), 0, 6)
    for index, name in enumerate(names):
        path_text(seed, name, 1100)
        seed.text(junk[index + 1], 64)
    seed.boolean(tail is not None)
    if tail is not None:
        seed.text(tail, 64)
    return seed


def close_text(text, results=()):
    seed = Seed().u8(255)
    seed.integer(len(results), 0, 6)
    for result in results:
        status(seed, result)
    return seed.text(text, 8192)


PARSE = {
    "two_names": close_list(["FILENAME=", "&FILENAME=", ""], ["/VOL1/a.doc", "/VOL1/b c.txt"],
                            results=(5, 0)),
    "long_name": close_list(["", ""], [("fill", 600, "/VOL1/deep")]),
    "unclosed": close_list(["x", "y"], ["/VOL1/a"], tail="/VOL1/never"),
    "text": close_text("FILENAME=<filename>/VOL1/a.doc</filename>&FILENAME=<filename></filename>"),
}


# --- fuzz_process_log_level.cpp ---------------------------------------------------------------

def commands(*texts, openable=True):
    seed = Seed().u8(0 if openable else 255)
    for text in texts:
        seed.text(text, 96)
    return seed


LOG_LEVEL = {
    "levels": commands("DEBUG", "ERROR", "de", "LEVELDUMP", "ALL", "nothing"),
    "limits": commands("LIMIT=5000", "LIMIT 100", "LOG_MAXIMUM_FILE_SIZE = 4194304",
                       "LIMIT=99999999999"),
    "syslog_and_back": commands("SYSLOG", "DEBUG", "DEFAULT"),
    "reset_modes": commands("RESET", "MODE=TRUNCATE", "MODE=BACKUP", "TIMESTAMP=YES"),
    "blank_and_unknown": commands("  ", "\t", "bogus", "LOG_LEVEL"),
    "no_log_file": commands("SYSLOG", "INFO", "DEFAULT", "RESET", openable=False),
}


# --- fuzz_read_config_value.cpp ---------------------------------------------------------------

KEYS = ["LOG_LEVEL", "LOG_MAXIMUM_FILE_SIZE", "LOG_TIMESTAMPS"]
DEFAULTS = ["WARNING", "4194304", "YES"]
CONFIG_FILE = ("# plug-in settings\n"
               "; LOG_LEVEL ERROR\n"
               "LOG_LEVEL DEBUG\n"
               "LOG_MAXIMUM_FILE_SIZE\t4194304 bytes\n"
               "LOG_TIMESTAMPS YES\n")


def config(key, contents, limit=64, default=None):
    seed = Seed()
    one_of(seed, KEYS, key, 40)
    if 1 <= limit <= 80:
        seed.u8(0).integer(limit, 1, 80)
    else:
        seed.u8(255).i32(limit)
    seed.boolean(default is not None)
    if default is not None:
        one_of(seed, DEFAULTS, default, 120)
    return seed.raw(contents)


CONFIG = {
    "level": config("LOG_LEVEL", CONFIG_FILE, default="WARNING"),
    "size": config("LOG_MAXIMUM_FILE_SIZE", CONFIG_FILE, default="4194304"),
    "too_small": config("LOG_TIMESTAMPS", CONFIG_FILE, limit=3, default="YES"),
    "missing_key": config("LOG_LEVEL", "OTHER 1\n"),
    "no_capacity": config("LOG_LEVEL", CONFIG_FILE, limit=0),
    "long_line": config("LOG_LEVEL", "LOG_LEVEL " + "D" * 600 + "\nLOG_LEVEL INFO\n",
                        default="WARNING"),
}

# --- fuzz_cifscons_method.cpp -----------------------------------------------------------------

CONS_CONNECTIONS = [
    # connNumber, address, user, type, requests, read, written, login time
    (3, "10.0.0.3", "alice", "CIFS", 120, 4096, 2048, 1700000000),
    (7, "10.0.0.7", "", "CIFS", 5, 0, 0, 1700003600),
]
CONS_INFO = dict(address="10.0.0.3", privileges="Supervisor", status="Logged-In", user="alice",
                 type="CIFS", login=1700000000, files=["/VOL1/docs/report.doc", "/VOL1/a b.txt"],
                 sev=["admins.example", "staff.example"])


def wide(seed, value):
    seed.boolean(False).integer(value, 0, 2000000000)


def word(seed, known, value, array_size):
    if value in known:
        seed.boolean(True)
        one_of(seed, known, value, array_size + 8)
    else:
        seed.boolean(False)
        field_text(seed, value, array_size)


def cons(path, body="", method="GET", connection=3, connections=CONS_CONNECTIONS, info=CONS_INFO,
         closes=(), access=None):
    seed = Seed()
    request(seed, method, access)
    seed.u16(connection)
    seed.u8(0).text(path, 1400)
    seed.u8(0).text(body, 4096)
    seed.integer(len(connections), 0, 4)
    for number, address, user, kind, requests, read, written, login in connections:
        if number == connection:
            seed.boolean(True)
        else:
            seed.boolean(False).u16(number)
        field_text(seed, address, 16)
        field_text(seed, user, 256)
        field_text(seed, kind, 20)
        seed.u32(requests)
        wide(seed, read)
        wide(seed, written)
        wide(seed, login)
    status(seed)
    count(seed)
    if info is None:
        seed.u8(0)
    else:
        seed.u8(255)
        seed.boolean(True)  # the record is the connection asked for
        field_text(seed, info["address"], 16)
        word(seed, ["Supervisor", "Non-Supervisor"], info["privileges"], 32)
        word(seed, ["Logged-In", "Logging-In", "Not-Logged In", "New"], info["status"], 32)
        field_text(seed, info["user"], 256)
        field_text(seed, info["type"], 20)
        wide(seed, info["login"])
        entries(seed, info["files"], 5, 1100)
        count(seed)
        seed.boolean(info["sev"] is not None)
        if info["sev"] is not None:
            entries(seed, info["sev"], 4, 300)
        count(seed)
    status(seed)
    seed.integer(len(closes), 0, 3)
    for result in closes:
        status(seed, result)
    return seed


CONS = {
    "list": cons("/cifscons"),
    "list_by_name": cons("/cifscons/ConnectionName"),
    "list_by_activity": cons("/cifscons/FSActivity"),
    "list_by_login_time": cons("/cifscons/LoginTime"),
    "list_by_requests": cons("/cifscons/ZupRequest"),
    "list_by_type": cons("/cifscons/ConnectionType"),
    "help": cons("/cifscons/help"),
    "help_info": cons("/cifscons/help/_info_"),
    "detail": cons("/cifscons/00000003"),
    "detail_sorted": cons("/cifscons/ConnectionName/3"),
    "detail_from_ofm": cons("/cifscons/ConnectionNumber/00000003",
                            "FILTER=*.doc&volume=VOL1&sorttype=UserName", "POST"),
    "close_all_files": cons("/cifscons/CIFSCloseFiles/00000003/<closeallfiles>3</closeallfiles>"),
    "close_files": cons("/cifscons/CIFSCloseFiles/00000003",
                        close_field("/VOL1/docs/report.doc") + "&" + close_field("/VOL1/a b.txt"),
                        "POST", closes=(0, 2)),
    "clear_connections": cons("/cifscons/CIFSCloseConnections/<closeconn>3</closeconn>"),
    "no_details": cons("/cifscons/00000009", connection=9, info=None),
    "odd_details": cons("/cifscons/3", info=dict(
        address=("fill", 16, "1"), privileges=("fill", 32, "P"), status="<z>odd",
        user=("fill", 256, "u"), type=("fill", 20, "T"), login=0,
        files=[None, ("fill", 600, "/VOL1/x")], sev=None)),
}


# --- fuzz_close_files_for_connection.cpp ------------------------------------------------------

def close_all(before, blanks, sign, value, after, result=0):
    seed = Seed().u8(0)
    status(seed, result)
    seed.boolean(True).integer(blanks, 0, 2).integer(sign, 0, 2).integer(value, 0, 200000)
    return seed.text(before, 64).text(after, 64)


def close_all_text(text):
    return Seed().u8(255).u8(0).text(text, 4096)


CLOSE_ALL = {
    "number": close_all("/cifscons/CIFSCloseFiles/00000003/", 0, 0, 3, ""),
    "signed_and_blank": close_all("", 1, 1, 42, "/rest", result=5),
    "too_large": close_all("x", 0, 0, 70000, ""),
    "negative": close_all("", 0, 2, 1, ""),
    "text": close_all_text("/00000003/<closeallfiles>65535</closeallfiles>"),
}

# --- fuzz_console_text.cpp --------------------------------------------------------------------

FIELD_NAMES = ["name", "password", "next", "VOL", "a", ""]


def text_mode(mode):
    return Seed().integer(mode, 0, 7)


def component_path(path):
    seed = text_mode(0)
    path_text(seed, path, 1200)
    return seed


def known_form(fields, name, capacity):
    """fields: (name, value or None) pairs; a field without "=" has the value None."""
    seed = text_mode(1).integer(len(fields), 0, 6)
    first = True
    for field_name, value in fields:
        one_of(seed, FIELD_NAMES, field_name, 12)
        seed.u8(0 if value is not None else 250)
        if value is not None:
            path_text(seed, value, 300)
        if first:
            seed.u8(0)  # no separator before the first field
            first = False
        else:
            seed.u8(0)  # "&"
    one_of(seed, FIELD_NAMES, name, 12)
    return seed.integer(capacity, -2, 320)


def any_form(form, name, capacity):
    seed = text_mode(2)
    path_text(seed, form, 600)
    return seed.text(name, 16).integer(capacity, 1, 700)


def decode_round_trip(original, hows, terminated=False, extra=0):
    seed = text_mode(3)
    path_text(seed, original, 400)
    seed.boolean(terminated)
    for how in hows:
        seed.u8(how)
    if terminated:
        seed.integer(extra, 0, 64)
    return seed


def decode_any(encoded, length):
    seed = text_mode(4)
    path_text(seed, encoded, 600)
    return seed.integer(length, -3, len(encoded))


def target_round_trip(path, query="", with_query=False):
    seed = text_mode(5)
    path_text(seed, path, 700)
    return seed.text(query, 64).boolean(with_query)


def any_path(raw):
    seed = text_mode(6)
    path_text(seed, raw, 900)
    return seed


def local_target(choice, rest):
    seed = text_mode(7)
    one_of(seed, ["/", "//", "/\\", "/cifsofm", "/a b", "/%2F"], choice, 8)
    return seed.text(rest, 64)


CONSOLE_TEXT = {
    "components": component_path("/cifsofm/VOL1/dir/file.doc"),
    "components_empty": component_path("//a//"),
    "component_too_long": component_path("/a/" + "b" * 256),
    "component_255": component_path("/" + "c" * 255 + "/d"),
    "component_no_slash": component_path("cifsofm"),
    "form_second_of_two": known_form([("name", "admin"), ("name", "other")], "name", 64),
    "form_value_too_long": known_form([("password", "x" * 40)], "password", 40),
    "form_no_equals": known_form([("a", None), ("next", "%2F")], "a", 8),
    "form_missing": known_form([("VOL", "1")], "name", 16),
    "form_no_room": known_form([("name", "v")], "name", 0),
    "any_form": any_form("a=1&&=2&b&a=3", "a", 4),
    "decode_mixed": decode_round_trip("a b%+", [0, 0, 0, 200, 201]),
    "decode_terminated": decode_round_trip("x y", [200, 0, 200], True, 10),
    "decode_partial_escape": decode_any("%4%41%", 6),
    "target_query": target_round_trip("/cifsofm/VOL 1/\xe9t\xe9", "SORT=2", True),
    "target_nul": target_round_trip("/a\0b"),
    "target_long": target_round_trip("/" + "z" * 256),
    "path_encoded_slash": any_path("/a%2Fb/%41%4"),
    "local_target": local_target("/cifsofm", "/VOL1?x=1"),
    "local_other_host": local_target("//", "evil.example/"),
}


# --- fuzz_console_request.cpp -----------------------------------------------------------------

OPERATIONS = ["method", "path", "convert", "body", "open", "header", "write", "end", "error",
              "package", "hand-built", "add-headers", "send-headers", "throw"]
NUMBERS = [200, 302, 404, 500, 16, 17, 0, 599]
TARGETS = ["/", "/login", "/login?next=%2Ffuzzpage%2FVOL1", "/login?next=%2F%2Fevil.example",
           "/logout", "/fuzzpage", "/fuzzpage/VOL1/dir/file.doc", "/fuzzpage?SORT=2", "/FUZZPAGE",
           "/nothing", "/console/console.css", "/console/icon.png", "/opt/zantio/kel/sorted.png",
           "view-log", "view-link-out", "view-dot-dot", "view-encoded-dot-dot", "view-outside",
           "long-component", "encoded-nul"]
METHODS = ["GET", "POST", "HEAD", "PUT", "OPTIONS", "get"]
VERSIONS = ["HTTP/1.1", "HTTP/1.0", "HTTP/2.0"]
HOSTS = ["own", "localhost", "evil.example", "[::1]", ""]
COOKIES = ["", "live", "among-others", "quoted", "short", "long", "empty", "host-prefixed"]
ORIGINS = ["", "own", "localhost", "evil", "null"]
REFERERS = ["", "own", "own-prefix", "evil"]
SITES = ["", "same-origin", "cross-site", "same-site", "none"]


def step(seed, operation, number=200, text="", text2="", null=False):
    seed.integer(OPERATIONS.index(operation), 0, len(OPERATIONS) - 1)
    seed.u8(250 if null else 0)
    if number in NUMBERS:
        seed.u8(NUMBERS.index(number))
    else:
        seed.u8(220).i32(number)
    path_text(seed, text, 600)
    seed.text(text2, 64)


ACCOUNT_CHANGES = ["keep", "admin-without-rights", "admin-new-password", "admin-deleted",
                   "viewer-made-admin", "viewer-deleted", "broken-file"]


def console_request(steps=(), result=200, requests=(), changes=()):
    """steps: step() argument tuples; requests: dicts of the fields of one request; changes: the
    change to the account file made before each request (ACCOUNT_CHANGES)."""
    seed = Seed().integer(len(steps), 0, 10)
    for arguments in steps:
        step(seed, *arguments)
    if result == 200:
        seed.u8(0)
    elif result == 0:
        seed.u8(170)
    elif result == 500:
        seed.u8(210)
    else:
        seed.u8(230).i32(result)
    seed.integer(len(requests), 1, 3)
    for request in requests:
        method = request.get("method", "GET")
        one_of(seed, METHODS, method, 12)
        one_of(seed, TARGETS, request.get("target", "/fuzzpage"), 400)
        suffix = request.get("suffix")
        seed.u8(200 if suffix is not None else 0)
        if suffix is not None:
            path_text(seed, suffix, 600)
        one_of(seed, VERSIONS, request.get("version", "HTTP/1.1"), 12)
        host = request.get("host", "own")
        one_of(seed, HOSTS, host, 64)
        if host == "":
            seed.boolean(request.get("empty_host_header", False))
        one_of(seed, COOKIES, request.get("cookie", "live"), 200)
        one_of(seed, ORIGINS, request.get("origin", ""), 64)
        one_of(seed, REFERERS, request.get("referer", ""), 64)
        one_of(seed, SITES, request.get("site", ""), 16)
        login = request.get("login")
        body = request.get("body", "")
        if login is not None:
            seed.integer(1, 0, 3)
            name, password, next_target = login
            one_of(seed, ["admin", "viewer", "nobody", ""], name, 80)
            one_of(seed, ["fuzz-password-1", "wrong", ""], password, 80)
            seed.boolean(next_target is not None)
            if next_target is not None:
                one_of(seed, ["%2Ffuzzpage", "%2F%2Fevil.example", "http://evil"], next_target, 80)
            has_body = True
        elif body:
            seed.integer(2, 0, 3)
            path_text(seed, body, 4096)
            has_body = True
        else:
            seed.integer(0, 0, 3)
            has_body = False
        chunked = request.get("chunked", False)
        seed.u8(240 if chunked else 0)
        if not chunked and (has_body or method == "POST"):
            length = request.get("length", "exact")
            if length == "exact":
                seed.u8(0)
            elif length == "none":
                seed.u8(250)
            elif isinstance(length, int):
                seed.u8(210).integer(length, 1, 100)
            else:
                seed.u8(230)
                one_of(seed, ["99999999999999999999", "-1", "1048577", " 5", "0x10"], length, 24)
        seed.u8(0)  # a form's content type
        raw = request.get("raw")
        seed.u8(220 if raw is not None else 0)
        if raw is not None:
            seed.text(raw, 300)
    for change in changes:
        seed.integer(ACCOUNT_CHANGES.index(change), 0, len(ACCOUNT_CHANGES) - 1)
    return seed


PAGE_STEPS = (("open",), ("header", 17, "Title <b>", "Heading"), ("write", 200, "<p>row</p>"),
              ("end",))

CONSOLE_REQUEST = {
    "page": console_request(PAGE_STEPS, 200, [{"target": "/fuzzpage/VOL1/dir/file.doc"}]),
    "page_reads_everything": console_request(
        (("method",), ("path",), ("convert",), ("body", 200, "VOL"), ("open",), ("end",)), 200,
        [{"method": "POST", "origin": "own", "body": "VOL=1&x=%41"}]),
    "post_from_another_site": console_request(
        PAGE_STEPS, 200, [{"method": "POST", "origin": "evil", "body": "a=b"}]),
    "post_with_referer_only": console_request(
        PAGE_STEPS, 200, [{"method": "POST", "referer": "own", "body": "a=b"}]),
    "cross_site_fetch": console_request(PAGE_STEPS, 200, [{"site": "cross-site"}]),
    "no_session": console_request(PAGE_STEPS, 200, [{"cookie": "", "target": "/fuzzpage?SORT=2"}]),
    "cookie_among_others": console_request(PAGE_STEPS, 200, [{"cookie": "among-others"}]),
    "cookie_quoted": console_request(PAGE_STEPS, 200, [{"cookie": "quoted"}]),
    "login_then_page": console_request(PAGE_STEPS, 200, [
        {"method": "POST", "target": "/login", "cookie": "", "origin": "own",
         "login": ("admin", "fuzz-password-1", "%2Ffuzzpage")},
        {"target": "/"}]),
    "login_wrong_password": console_request((), 200, [
        {"method": "POST", "target": "/login", "cookie": "", "origin": "own",
         "login": ("admin", "wrong", "%2F%2Fevil.example")}] * 2),
    "login_page_next": console_request((), 200, [
        {"target": "/login?next=%2F%2Fevil.example", "cookie": ""}]),
    "logout": console_request((), 200, [{"target": "/logout"}]),
    "view_log": console_request((), 200, [{"target": "view-log"}]),
    "view_log_without_session": console_request((), 200, [{"target": "view-log", "cookie": ""}]),
    "view_outside": console_request((), 200, [
        {"target": "view-link-out"}, {"target": "view-dot-dot"}, {"target": "view-outside"}]),
    "hand_built_redirect": console_request(
        (("hand-built", 302), ("add-headers", 200, "Location: /x\r\nSet-Cookie: kelsession=x\r\n"),
         ("send-headers",)), 302, [{}]),
    "method_throws": console_request((("open",), ("write", 200, "half"), ("throw",)), 200, [{}]),
    "error_package": console_request((("package", 404, "<p>gone</p>"),), 404, [{}]),
    "error_response": console_request((("error", 599),), 599, [{}]),
    "declines": console_request((), 0, [{"target": "/FUZZPAGE"}]),
    "chunked_post": console_request(PAGE_STEPS, 200, [
        {"method": "POST", "origin": "own", "body": "a=b&c=d", "chunked": True}]),
    "huge_length": console_request(PAGE_STEPS, 200, [
        {"method": "POST", "origin": "own", "body": "a=b", "length": "99999999999999999999"}]),
    "length_shorter_than_body": console_request(PAGE_STEPS, 200, [
        {"method": "POST", "origin": "own", "body": "a=b\r\n\r\nGET / HTTP/1.1\r\n\r\n",
         "length": 21}]),
    "assets": console_request((), 200, [
        {"target": "/console/console.css", "cookie": ""}, {"target": "/opt/zantio/kel/sorted.png"},
        {"method": "POST", "target": "/console/icon.png", "origin": "own"}]),
    "odd_methods": console_request((), 200, [
        {"method": "PUT"}, {"method": "get"}, {"method": "HEAD", "target": "/"}]),
    "other_host": console_request(PAGE_STEPS, 200, [{"host": "evil.example"}]),
    "long_and_nul_paths": console_request((), 200, [
        {"target": "long-component"}, {"target": "encoded-nul"}]),
    "role_taken_between_requests": console_request(PAGE_STEPS, 200, [{}, {}, {}],
                                                   ["keep", "admin-without-rights", "keep"]),
    "password_changed_between_requests": console_request(PAGE_STEPS, 200, [{}, {}],
                                                         ["viewer-made-admin", "admin-new-password"]),
    "account_deleted_between_requests": console_request(PAGE_STEPS, 200, [{}, {}, {}],
                                                        ["broken-file", "keep", "admin-deleted"]),
    "raw_header_lines": console_request(PAGE_STEPS, 200, [
        {"raw": "Cookie: kelsession=forged\r\nOrigin: http://evil.example"}]),
}


CORPORA = {
    "fuzz_cifsofm_method": OFM,
    "fuzz_cifslogs_method": LOGS,
    "fuzz_decode_post_data": DECODE,
    "fuzz_parse_close_files": PARSE,
    "fuzz_process_log_level": LOG_LEVEL,
    "fuzz_read_config_value": CONFIG,
    "fuzz_cifscons_method": CONS,
    "fuzz_close_files_for_connection": CLOSE_ALL,
    "fuzz_console_text": CONSOLE_TEXT,
    "fuzz_console_request": CONSOLE_REQUEST,
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for target, seeds in CORPORA.items():
        directory = os.path.join(here, "corpus", target)
        os.makedirs(directory, exist_ok=True)
        for name, seed in seeds.items():
            with open(os.path.join(directory, name), "wb") as out:
                out.write(seed.bytes())
    return 0


if __name__ == "__main__":
    sys.exit(main())
