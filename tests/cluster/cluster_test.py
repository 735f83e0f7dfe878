#!/usr/bin/env python3
"""The console on a three-node CTDB cluster of Samba servers (scripts/ctdb-cluster), end to end.

    cluster_test.py SOURCE_DIR BUILD_DIR

The console runs on node 0 (in its network namespace) with the plug-ins of BUILD_DIR; smbclient
processes hold files open on all three nodes. Checked: every node's sessions and open files are
listed once, with their node and connection numbers unique across the cluster; a file close, a
connection's Close All Files and a session's end act on the node that holds them; a stopped node
and a killed one leave the pages answering with the other nodes' data and a notice naming the
node, and a node that is back is listed again. The cluster is removed at the end, whatever
happened, and nothing of it may be left.

Needs root and network namespaces. Without them it exits 77 (skipped) with the reason, unless CI
is "true" in the environment: there it fails, so that CI never passes without the test."""
import html
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import urllib.error
import urllib.parse
import urllib.request

SOURCE, BUILD = (os.path.abspath(p) for p in sys.argv[1:3])
PREFIX = "kelclt"
NET = "10.214.0"
DIR = "/tmp/kelclt"
PASSWORD = "Kel2cifs-ctdb-1"
PORT = 8431
CONSOLE = f"http://{NET}.1:{PORT}"
TOOL_TIMEOUT = 10
SCRIPT = os.path.join(SOURCE, "scripts", "ctdb-cluster")
ROOT = os.path.join(BUILD, "cluster-test")
PATH = "/usr/sbin:/usr/bin:/sbin:/bin:" + os.environ.get("PATH", "")
CLUSTER_ENV = dict(os.environ, KELCTDB_PREFIX=PREFIX, KELCTDB_NET=NET, PATH=PATH)


def say(text):
    print(f"cluster: {text}", flush=True)


def node_ip(node):
    return f"{NET}.{node + 1}"


def cannot_run(reason):
    if os.environ.get("CI") == "true":
        say(f"cannot run in CI: {reason}")
        sys.exit(1)
    say(f"skipped: {reason}")
    sys.exit(77)


def preconditions():
    if os.geteuid() != 0:
        cannot_run("needs root (network namespaces, ctdbd, smbd)")
    for tool in ("ip", "unshare", "ctdb", "ctdbd", "smbd", "smbclient", "smbpasswd", "net"):
        if shutil.which(tool, path=PATH) is None:
            cannot_run(f"{tool} is missing (Debian packages iproute2, ctdb, samba, smbclient)")
    probe = PREFIX + "probe"
    made = subprocess.run(["ip", "netns", "add", probe], capture_output=True, text=True,
                          env=CLUSTER_ENV)
    if made.returncode != 0:
        cannot_run(f"network namespaces cannot be made here: {made.stderr.strip()}")
    subprocess.run(["ip", "netns", "delete", probe], env=CLUSTER_ENV)


def cluster(*args, check=True):
    started = time.monotonic()
    done = subprocess.run([SCRIPT, *args], env=CLUSTER_ENV, capture_output=True, text=True,
                          timeout=240)
    if check and done.returncode != 0:
        raise Failure(f"ctdb-cluster {' '.join(args)} failed:\n{done.stdout}{done.stderr}")
    say(f"ctdb-cluster {' '.join(args)}: {time.monotonic() - started:.1f} s")
    return done


def ctdb(node, *args):
    env = dict(CLUSTER_ENV, CTDB_SOCKET=f"{DIR}/node{node}/run/ctdb/ctdbd.socket")
    return subprocess.run(["ctdb", *args], env=env, capture_output=True, text=True, timeout=60)


class Failure(Exception):
    pass


def check(condition, text):
    if not condition:
        raise Failure(text)


def wait_for(what, seconds, probe):
    """Calls probe until it returns something true; that, or a Failure naming what."""
    deadline = time.monotonic() + seconds
    while True:
        result = probe()
        if result:
            return result
        if time.monotonic() > deadline:
            raise Failure(f"{what} within {seconds} s")
        time.sleep(0.3)


class Client:
    """smbclient holding a session to one node; its commands are written to its input."""

    def __init__(self, name, node):
        self.name, self.node = name, node
        self.log = open(os.path.join(ROOT, f"client-{name}.log"), "wb")
        self.process = subprocess.Popen(
            ["smbclient", f"//{node_ip(node)}/data", "-U", f"root%{PASSWORD}", "-s",
             os.path.join(ROOT, "client.conf")],
            stdin=subprocess.PIPE, stdout=self.log, stderr=subprocess.STDOUT, env=CLUSTER_ENV,
            start_new_session=True)

    def send(self, command):
        self.process.stdin.write((command + "\n").encode())
        self.process.stdin.flush()

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
        self.process.wait()
        self.log.close()


class NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


class Console:
    """kelconsole on node 0, with both plug-ins and the Samba backend on node 0's smb.conf."""

    def __init__(self):
        plugins = os.path.join(ROOT, "plugins")
        os.makedirs(plugins)
        for sub in ("opt/zantio/lib", "var/opt/zantio/log"):
            os.makedirs(os.path.join(ROOT, sub))
        for name in ("libkel2cifs.so", "libkel2cifs_admin.so"):
            shutil.copy(os.path.join(BUILD, name), plugins)
        auth = os.path.join(ROOT, "rpc-auth")
        with open(os.open(auth, os.O_WRONLY | os.O_CREAT, 0o600), "w") as out:
            out.write(f"username = root\npassword = {PASSWORD}\n")
        self.accounts = os.path.join(ROOT, "accounts")
        self.env = dict(CLUSTER_ENV, KEL2CIFS_ROOT=ROOT, CIFSMONITORING_BACKEND="samba",
                        CIFSMONITORING_SAMBA_CONF=f"{DIR}/node0/smb.conf",
                        CIFSMONITORING_SAMBA_RPC_AUTH=auth,
                        CIFSMONITORING_SAMBA_RPC_SERVER=node_ip(0),
                        CIFSMONITORING_SAMBA_INTERVAL_MS="0",
                        CIFSMONITORING_SAMBA_TIMEOUT=str(TOOL_TIMEOUT))
        self.env.pop("CIFSMONITORING_STATE", None)
        self.log_path = os.path.join(ROOT, "kelconsole.out")
        self.log = open(self.log_path, "wb")
        kelconsole = os.path.join(BUILD, "console", "kelconsole")
        self.process = subprocess.Popen(
            ["ip", "netns", "exec", PREFIX + "0", kelconsole, f"--listen={node_ip(0)}:{PORT}",
             "--allow-insecure-remote", f"--plugins={plugins}", f"--accounts={self.accounts}"],
            stdout=self.log, stderr=subprocess.STDOUT, env=self.env, start_new_session=True)
        self.opener = urllib.request.build_opener(NoRedirect)
        output = wait_for("kelconsole did not serve", 30, self.serving)
        secret = re.search(r"password \(shown only now\): (\S+)", output)
        check(secret, f"kelconsole printed no password:\n{output}")
        status, headers, _ = self.fetch("/login", {"name": "admin", "password": secret[1]})
        self.cookie = (headers.get("Set-Cookie") or "").split(";")[0]
        check(self.cookie, f"the login gave no session (status {status})")
        made = subprocess.run([kelconsole, "token", "create", f"--accounts={self.accounts}",
                               "--role=admin", "cluster-test"],
                              env=self.env, capture_output=True, text=True, timeout=30)
        check(made.returncode == 0, f"token create failed: {made.stderr}")
        self.token = made.stdout.strip()

    def serving(self):
        output = open(self.log_path, encoding="utf-8", errors="replace").read()
        check(self.process.poll() is None, f"kelconsole ended:\n{output}")
        return output if "serving http://" in output else None

    def fetch(self, path, data=None, bearer=None, cookie=None):
        headers = {"Origin": CONSOLE}
        if bearer:
            headers = {"Authorization": "Bearer " + bearer}
        if cookie:
            headers["Cookie"] = cookie
        body = urllib.parse.urlencode(data).encode() if data is not None else None
        request = urllib.request.Request(CONSOLE + path, data=body, headers=headers)
        try:
            with self.opener.open(request, timeout=120) as response:
                return response.status, response.headers, response.read().decode()
        except urllib.error.HTTPError as error:
            return error.code, error.headers, error.read().decode("utf-8", "replace")

    def page(self, path):
        status, _, body = self.fetch(path, cookie=self.cookie)
        check(status == 200, f"{path}: status {status}\n{body}")
        return body

    def data(self, path, form=None):
        status, _, body = self.fetch(path, form, bearer=self.token)
        check(status == 200, f"{path}: status {status}\n{body}")
        return json.loads(body)

    def stop(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
        self.log.close()


def connection_path(number):
    return f"/cifscons/ConnectionNumber/{number:08X}"


class Cluster:
    """What the test holds: the console, the clients and the files each holds open."""

    def __init__(self, console):
        self.console = console
        self.clients = {}
        self.files = {}  # client name -> file names it holds open
        self.numbers = {}  # client name -> connection number

    def client(self, name, node, files):
        client = Client(name, node)
        self.clients[name] = client
        self.files[name] = []
        for file in files:
            with open(f"{DIR}/shared/data/{file}", "w") as out:
                out.write(f"held by {name} on node {node}\n")
            os.chmod(f"{DIR}/shared/data/{file}", 0o666)
            # Each open is waited for before the next is sent: opens sent together were not
            # all made.
            client.send(f"open {file}")
            self.files[name].append(file)
            wait_for(f"{file} of client {name} (node {node}) never opened", 30,
                     lambda: self.item(file, self.find()))
        self.numbers[name] = self.item(files[0], self.find())["connection"]
        return client

    def find(self):
        return self.console.data("/cifsfind?format=json&size=1000")

    def sessions(self):
        return self.console.data("/cifssessions?format=json&size=1000")

    @staticmethod
    def items(file, listing):
        return [i for i in listing["items"] if i["path"] == f"{DIR}/shared/data/{file}"]

    def item(self, file, listing):
        found = self.items(file, listing)
        check(len(found) <= 1, f"{file} is listed {len(found)} times: {found}")
        return found[0] if found else None

    def session(self, name, listing):
        found = [s for s in listing["items"] if s["connection"] == self.numbers[name]]
        check(len(found) <= 1, f"session of {name} is listed {len(found)} times")
        return found[0] if found else None

    def expect(self, held, gone=(), absent_nodes=()):
        """The listings show exactly the files in held (client name -> files) once each, on
        their client's node and connection, and none of gone; every client of held has its
        session listed once, and no session of a node in absent_nodes is listed."""
        listing, sessions = self.find(), self.sessions()
        for name, files in held.items():
            client = self.clients[name]
            for file in files:
                item = self.item(file, listing)
                check(item, f"{file} of {name} is not listed: {listing}")
                check(item.get("node") == client.node,
                      f"{file} of {name} is on node {item.get('node')}, not {client.node}")
                check(item["connection"] == self.numbers[name],
                      f"{file} of {name} has connection {item['connection']}, not "
                      f"{self.numbers[name]}")
            session = self.session(name, sessions)
            check(session, f"the session of {name} is not listed: {sessions}")
            check(session.get("node") == client.node, f"session of {name}: {session}")
            check(session["openFiles"] == len(files), f"session of {name}: {session}")
        for file in gone:
            check(not self.items(file, listing), f"{file} is still listed")
        for item in listing["items"] + sessions["items"]:
            check(item.get("node") not in absent_nodes, f"listed from a stopped node: {item}")
        return listing, sessions


def listing_and_nodes(c):
    c.client("a", 0, ["a1.txt"])
    c.client("b", 1, ["b1.txt", "b2.txt"])
    c.client("c", 1, ["c1.txt"])
    c.client("d", 2, ["d1.txt", "d2.txt", "d3.txt"])
    numbers = list(c.numbers.values())
    check(len(set(numbers)) == len(numbers), f"connection numbers repeat: {c.numbers}")
    listing, _ = c.expect(c.files)
    say(f"listed: {len(listing['items'])} open files, connections {c.numbers}")

    # The first plug-in's pages: every connection once, every file once on its volume's page.
    connections = c.console.page("/cifscons")
    for name, number in c.numbers.items():
        count = connections.count(connection_path(number) + ">")
        check(count == 1, f"/cifscons lists connection {number} of {name} {count} times")
    volume = c.console.page("/cifsofm/data")
    for files in c.files.values():
        for file in files:
            count = volume.count(f"align=left>{DIR}/shared/data/{file}</td>")
            check(count == 1, f"/cifsofm/data lists {file} {count} times")
    # The second plug-in's pages show the node.
    sessions = c.console.page("/cifssessions?sort=node")
    check(">Node<" in sessions, "the Sessions page has no Node column")
    check(">Node<" in c.console.page("/cifsfind"), "the Find page has no Node column")


def close_file(c, name, file):
    path = f"{DIR}/shared/data/{file}"
    answer = c.console.data("/cifsfind?format=json", {"close": f"{c.numbers[name]}:{path}"})
    check([r["status"] for r in answer["results"]] == ["closed"], f"close of {file}: {answer}")
    c.files[name].remove(file)


def closes_on_the_right_node(c):
    # One file on node 1 and one on node 2: the other files of the same sessions stay open.
    close_file(c, "b", "b1.txt")
    close_file(c, "d", "d1.txt")
    wait_for("b1.txt and d1.txt still listed after their close", 20,
             lambda: not c.items("b1.txt", c.find()) and not c.items("d1.txt", c.find()))
    c.expect(c.files, gone=["b1.txt", "d1.txt"])
    say("single files closed on nodes 1 and 2")

    # Close All Files of the connection on node 2, through its page's confirmation link (a
    # browser sends < and > percent-encoded).
    detail = c.console.page(connection_path(c.numbers["d"]))
    action = re.search(r"ConfirmClearFilesForConnection\('(/cifscons/CIFSCloseFiles/[^']*)'",
                       detail)
    check(action, f"no Close All Files on the page of d's connection:\n{detail}")
    target = html.unescape(action[1]).replace("<", "%3C").replace(">", "%3E")
    status, _, body = c.console.fetch(target, cookie=c.console.cookie)
    check(status in (200, 303), f"Close All Files: status {status}\n{body}")
    gone = list(c.files["d"])
    c.files["d"] = []
    wait_for("d's files still listed after Close All Files", 20,
             lambda: not any(c.items(f, c.find()) for f in gone))
    c.expect(c.files, gone=gone)
    say("all files of the connection on node 2 closed, its session kept")

    # The end of c's session on node 1; b's session on the same node stays.
    answer = c.console.data("/cifssessions?format=json", {"end": str(c.numbers["c"])})
    check([r["status"] for r in answer["results"]] == ["ended"], f"end of c's session: {answer}")
    del c.files["c"]
    wait_for("c's session still listed after its end", 20,
             lambda: c.session("c", c.sessions()) is None)
    check(not c.items("c1.txt", c.find()), "c1.txt still listed after the end of its session")
    c.expect(c.files)
    say("the session on node 1 ended")


def node_absent(c, node, how):
    """The pages while node is down: answered in time, the other nodes' data, a notice."""
    held = {n: f for n, f in c.files.items() if c.clients[n].node != node}
    for path in ("/cifssessions?format=json", "/cifsfind?format=json"):
        started = time.monotonic()
        answer = c.console.data(path)
        took = time.monotonic() - started
        say(f"{path} with node {node} {how}: {took:.2f} s")
        check(took < TOOL_TIMEOUT, f"{path} took {took:.1f} s with node {node} {how}")
        notice = answer.get("notice", "")
        check(f"node {node} ({node_ip(node)}) did not answer" in notice,
              f"{path}: no notice of node {node}: {answer}")
    c.expect(held, absent_nodes=[node])
    started = time.monotonic()
    page = c.console.page("/cifscons")
    say(f"/cifscons with node {node} {how}: {time.monotonic() - started:.2f} s")
    for name in held:
        check(connection_path(c.numbers[name]) + ">" in page, f"/cifscons lacks {name}")
    sessions = c.console.page("/cifssessions")
    check(f"node {node} ({node_ip(node)}) did not answer" in sessions,
          "the Sessions page does not name the node that did not answer")


def node_back(c, node, name, file):
    """A client of the node that is back is listed, and the notice is gone."""
    wait_for(f"node {node} never accepted a client", 60, lambda: try_client(c, name, node, file))
    listing, sessions = c.expect(c.files)
    check("notice" not in listing and "notice" not in sessions,
          f"a notice with every node back: {listing.get('notice')} {sessions.get('notice')}")
    say(f"node {node} back: {file} of a new client listed")


def try_client(c, name, node, file):
    # A node that has just rejoined may refuse a first connection while it recovers.
    try:
        c.client(name, node, [file])
        return True
    except Failure as failure:
        say(f"client {name} on node {node}: {failure}")
        c.clients.pop(name).stop()
        c.files.pop(name, None)
        return False


def node_failures(c):
    # ctdb stop: the node stays up but leaves the cluster's service.
    done = ctdb(2, "stop")
    check(done.returncode == 0, f"ctdb stop: {done.stdout}{done.stderr}")
    wait_for("node 2 never showed as stopped", 30,
             lambda: "STOPPED" in ctdb(0, "status").stdout)
    dropped = {n: c.files.pop(n) for n in list(c.files) if c.clients[n].node == 2}
    node_absent(c, 2, "stopped")
    done = ctdb(2, "continue")
    check(done.returncode == 0, f"ctdb continue: {done.stdout}{done.stderr}")
    # A stopped node's smbd drops its clients (d's smbclient reports the disconnection); what
    # the test expects of node 2 from here on is a new client's session.
    say(f"sessions of node 2 before the stop, not checked after it: {sorted(dropped)}")
    node_back(c, 2, "e", "e1.txt")
    listed = [n for n in dropped if c.session(n, c.sessions())]
    say(f"sessions of node 2 from before the stop listed again: {listed or 'none'}")

    # Its daemons killed, as in a crash.
    cluster("kill-node", "2", DIR)
    c.files.pop("e")
    node_absent(c, 2, "killed")
    cluster("start-node", "2", DIR)
    node_back(c, 2, "f", "f1.txt")


def leftovers():
    """What of the test's cluster is still on the machine."""
    left = []
    namespaces = subprocess.run(["ip", "netns", "list"], capture_output=True, text=True,
                                env=CLUSTER_ENV).stdout
    left += [line.split()[0] for line in namespaces.splitlines() if line.startswith(PREFIX)]
    links = subprocess.run(["ip", "-o", "link", "show"], capture_output=True, text=True,
                           env=CLUSTER_ENV).stdout
    left += [w for w in re.findall(r"^\d+: ([^:@]+)", links, re.M) if w.startswith(PREFIX)]
    if os.path.exists(DIR):
        left.append(DIR)
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            environment = open(f"/proc/{pid}/environ", "rb").read().split(b"\0")
        except OSError:
            continue
        if any(re.fullmatch(rb"KELCTDB_NODE=" + PREFIX.encode() + rb"\d+", v)
               for v in environment):
            left.append(f"process {pid}")
    return left


def main():
    preconditions()
    shutil.rmtree(ROOT, ignore_errors=True)
    os.makedirs(ROOT)
    with open(os.path.join(ROOT, "client.conf"), "w") as out:
        out.write("[global]\n\tclient min protocol = SMB2\n")
    console = None
    c = None
    result = 1
    try:
        cluster("start", DIR)
        console = Console()
        c = Cluster(console)
        listing_and_nodes(c)
        closes_on_the_right_node(c)
        node_failures(c)
        result = 0
    except Failure as failure:
        say(f"FAILED: {failure}")
        for name in ("kelconsole.out",):
            path = os.path.join(ROOT, name)
            if os.path.exists(path):
                say(f"{name}:\n" + open(path, errors="replace").read()[-4000:])
    finally:
        for client in (c.clients.values() if c else ()):
            client.stop()
        if console:
            console.stop()
        if result != 0:
            status = cluster("status", DIR, check=False)
            say(f"the cluster at the failure:\n{status.stdout}{status.stderr}")
        cluster("stop", DIR, check=False)
    left = leftovers()
    if left:
        say(f"FAILED: left behind: {left}")
        result = 1
    say("passed" if result == 0 else "failed")
    return result


if __name__ == "__main__":
    sys.exit(main())
