"""One run of the demo updater against the demo download server, each in a
fresh directory: what was started, and what it left behind.

The scenario (the simulated controller, the manifest, change logs and
firmware image) comes from the demo server, as in `scripts/run --demo`.
"""

import os
import pathlib
import re
import shutil
import signal
import subprocess
import urllib.request

from desktop import Failure, wait_until

LOG_LINE = re.compile(r"^\d{4}-\d\d-\d\d_\d\d:\d\d:\d\d : (.*)$")
MANIFEST_PATH = "/TVDownloadSite/wp-content/uploads/versions.txt"


class Tools:
    """Where the programs under test are."""

    @staticmethod
    def add_arguments(parser):
        parser.add_argument("--updater", required=True, help="the demo updater (tavoro-updater-demo)")
        parser.add_argument("--server", required=True, help="the demo download server (tavoro-demo-server)")
        parser.add_argument("--opener", required=True, help="directory of the xdg-open stand-in")
        parser.add_argument("--clipboard", required=True, help="the clipboard reader (tavoro-e2e-clipboard)")
        parser.add_argument("--download-host", required=True, help="the download server's host name")

    @staticmethod
    def from_arguments(arguments):
        return Tools(arguments.updater, arguments.server, arguments.opener, arguments.clipboard,
                     arguments.download_host)

    def __init__(self, updater, server, opener_dir, clipboard, download_host):
        self.manifest_url = f"http://{download_host}{MANIFEST_PATH}"
        self.updater = pathlib.Path(updater)
        self.server = pathlib.Path(server)
        self.opener_dir = pathlib.Path(opener_dir)
        self.clipboard = pathlib.Path(clipboard)


class UpdaterRun:
    """The updater started from a program directory of its own, with a
    simulated controller and the download server as its web proxy.

    work/program   the program directory: a copy of the demo updater
    work/scenario  the server's files: sim.json, firmware.sb, reports.txt
    work/opened.txt  what the updater handed the desktop's opener
    """

    def __init__(self, tools, work, model, version, outcome, **server_options):
        """server_options: image_size, apply_ms, download_ms, unit (a list
        for several), fractional_versions=True; the demo's own values where
        not given."""
        self.tools = tools
        self.work = pathlib.Path(work)
        shutil.rmtree(self.work, ignore_errors=True)
        self.program_dir = self.work / "program"
        self.scenario_dir = self.work / "scenario"
        self.program_dir.mkdir(parents=True)
        self.program = self.program_dir / tools.updater.name
        shutil.copy2(tools.updater, self.program)
        self.model = model
        self.version = version
        self.server_args = ["--dir", self.scenario_dir, "--outcome", outcome]
        for name, values in server_options.items():
            for value in values if isinstance(values, list) else [values]:
                self.server_args += ["--" + name.replace("_", "-")] + ([] if value is True else [value])
        self.server_args += [model, version]
        self.server = self.updater = None
        self.server_output = self.updater_output = None

    def start(self):
        self.start_server()
        self.updater_output = open(self.work / "updater.out", "wb")
        self.updater = subprocess.Popen([self.program], cwd=self.work, env=self.environment(),
                                        stdout=self.updater_output, stderr=subprocess.STDOUT)
        return self

    def start_server(self):
        """Starts the demo server and waits until its scenario is in place."""
        self.server_output = open(self.work / "server.out", "wb")
        self.server = subprocess.Popen([self.tools.server, *map(str, self.server_args)],
                                       stdout=self.server_output, stderr=subprocess.STDOUT)
        proxy_file = self.scenario_dir / "proxy"

        def ready():
            if self.server.poll() is not None:
                raise Failure(f"the demo server ended with {self.server.returncode}: {self.server_log()}")
            return proxy_file.exists()
        wait_until(ready, 10, "the demo server")
        self.proxy = proxy_file.read_text().strip()

    def environment(self):
        """The program's environment: the simulated controller, the demo
        server as its web proxy, the xdg-open stand-in."""
        runtime_dir = self.work / "runtime"
        runtime_dir.mkdir(mode=0o700, exist_ok=True)
        return dict(os.environ,
                    QT_QPA_PLATFORM="xcb",
                    XDG_RUNTIME_DIR=str(runtime_dir),
                    TAVORO_HIDSIM_CONFIG=str(self.scenario_dir / "sim.json"),
                    TAVORO_OPENED_LOG=str(self.work / "opened.txt"),
                    PATH=f"{self.tools.opener_dir}{os.pathsep}{os.environ.get('PATH', '')}",
                    http_proxy=self.proxy,
                    no_proxy="")

    @property
    def pid(self):
        return self.updater.pid

    def is_running(self):
        return self.updater.poll() is None

    def wait_for_exit(self, timeout=15):
        """The updater's exit code once it has ended by itself."""
        try:
            return self.updater.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"the updater did not end within {timeout} s") from None

    def stop(self):
        """Ends whatever of the two processes still runs."""
        for process in (self.updater, self.server):
            if process and process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        for output in (self.updater_output, self.server_output):
            if output:
                output.close()

    # What the run left behind.

    def program_files(self):
        return sorted(p.name for p in self.program_dir.iterdir())

    def program_file(self, name):
        return (self.program_dir / name).read_bytes()

    def log_messages(self):
        """The messages of the program log (the one *.log file), without
        their time stamps; continuation lines of a message stay separate."""
        logs = list(self.program_dir.glob("*.log"))
        if len(logs) != 1:
            raise Failure(f"expected one program log, found {[p.name for p in logs]}")
        messages = []
        for line in logs[0].read_text("utf-8").splitlines():
            match = LOG_LINE.match(line)
            messages.append(match.group(1) if match else line)
        return messages

    def served_image(self):
        return (self.scenario_dir / "firmware.sb").read_bytes()

    def received_reports(self):
        """Every report the simulated controller received, 65 bytes each."""
        path = self.scenario_dir / "reports.txt"
        if not path.exists():
            return []
        return [bytes.fromhex(line) for line in path.read_text().split()]

    def server_log(self):
        return (self.work / "server.out").read_text("utf-8", "replace")

    def server_requests(self):
        """The targets the download server was asked for, in order."""
        return re.findall(r"^download server: GET (\S+)", self.server_log(), re.MULTILINE)

    def opened_addresses(self):
        path = self.work / "opened.txt"
        return path.read_text().splitlines() if path.exists() else []

    def fetch(self, url):
        """A file from the download server, asked for as the updater does."""
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({"http": self.proxy}))
        with opener.open(url, timeout=10) as reply:
            return reply.read().decode("utf-8")

    def manifest_entry(self, key):
        """An entry of the manifest the server hands out."""
        for line in self.fetch(self.tools.manifest_url).splitlines():
            name, _, value = line.partition("=")
            if name == key:
                return value
        raise Failure(f"the served manifest has no {key}")
