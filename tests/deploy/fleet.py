#!/usr/bin/env python3
"""Checks the Ansible collection in deploy/ansible on this machine.

    fleet.py --collection DIR --flasher DEMO_FLASHER --server DEMO_SERVER --work DIR lint|fleet

lint: ansible-lint (offline) and a syntax check of every playbook, and
systemd-analyze verify on the station role's service as rendered.

fleet: three stations, each a local "host" with a program directory, a
record and simulated controllers of its own (the demo flasher against a
demo server of its own), one that does not answer, and one without the
flasher: flash.yml with a SHA-256 that is not the image's (nothing is sent
anywhere), then as it comes (only the stations that failed fail), then
collect.yml with one record torn in mid-line, into one fleet report.
"""

import argparse
import csv
import json
import os
import pathlib
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import traceback

from xml.etree import ElementTree

PLAYBOOKS = ("station", "flash", "collect")
# The demo's quick image: 501 reports, installed in 0.3 s.
SERVER_OPTIONS = ["--image-size", "30017", "--apply-ms", "300", "--download-ms", "0"]
# name: the demo server's outcome, model, version and further units.
STATIONS = {
    "bench-a": ("update", "EBONY", "12", ["CALYX4 12"]),
    "bench-b": ("wrong-md5", "EBONY", "12", []),
    "bench-c": ("update", "ARDEN", "12", []),
}


class Failure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise Failure(message)


class Fleet:
    def __init__(self, arguments):
        self.collection_source = pathlib.Path(arguments.collection).resolve()
        self.flasher = pathlib.Path(arguments.flasher)
        self.server = pathlib.Path(arguments.server)
        self.work = pathlib.Path(arguments.work)
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir(parents=True)
        # The collection as ansible-galaxy would install it, without a copy.
        collections = self.work / "collections"
        (collections / "ansible_collections" / "tavoro").mkdir(parents=True)
        (collections / "ansible_collections" / "tavoro" / "fleet").symlink_to(self.collection_source)
        home = self.work / "home"
        home.mkdir()
        self.environment = dict(os.environ, HOME=str(home), ANSIBLE_COLLECTIONS_PATH=str(collections),
                                ANSIBLE_NOCOLOR="1", ANSIBLE_FORCE_COLOR="0", ANSIBLE_HOST_KEY_CHECKING="False",
                                ANSIBLE_RETRY_FILES_ENABLED="False", ANSIBLE_FORKS="8", NO_COLOR="1",
                                ANSIBLE_LOCAL_TEMP=str(home / "tmp"), ANSIBLE_REMOTE_TEMP=str(home / "tmp"))
        self.servers = []

    def run(self, command, log, cwd=None):
        """Runs `command` to its end; returns (exit code, output), both also
        written to runs' log file `log`."""
        result = subprocess.run([str(c) for c in command], cwd=cwd or self.work, env=self.environment,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                timeout=240)
        output = result.stdout.decode("utf-8", "replace")
        (self.work / log).write_text(f"$ {' '.join(map(str, command))}\nexit code {result.returncode}\n{output}")
        print(f"--- {' '.join(map(str, command))}: exit code {result.returncode}\n{output}")
        return result.returncode, output

    # lint

    def lint(self):
        code, output = self.run(["ansible-lint", "--offline", "-p", "--nocolor"], "lint.log",
                                cwd=self.collection_source)
        expect(code == 0, "ansible-lint found faults")
        for playbook in PLAYBOOKS:
            code, _ = self.run(["ansible-playbook", "--syntax-check", "-i", "localhost,", f"tavoro.fleet.{playbook}"],
                               f"syntax-{playbook}.log")
            expect(code == 0, f"{playbook}.yml: the syntax check failed")
        defaults = self.collection_source / "roles/station/defaults/main.yml"
        flasher = self.work / "bin" / "tavoro-flash"
        flasher.parent.mkdir()
        shutil.copy2(self.flasher, flasher)
        variants = {
            "online": {},
            # Quotes, a specifier and a variable, a record outside the home.
            "approved": {"tavoro_station_firmware": "approved", "tavoro_station_image": "approved.sb",
                         "tavoro_station_image_sha256": "AB" * 32,
                         "tavoro_station_operator": 'Ana "A" 100% $HOME',
                         "tavoro_station_record": "/srv/tavoro/records.jsonl"},
        }
        for name, variables in variants.items():
            unit = self.work / name / "tavoro-station.service"
            unit.parent.mkdir()
            variables = dict(variables, tavoro_station_flasher=str(flasher))
            code, _ = self.run(["ansible", "localhost", "-c", "local", "-m", "ansible.builtin.template",
                                "-a", f"src={self.collection_source}/roles/station/templates/tavoro-station.service.j2 "
                                      f"dest={unit}",
                                "-e", f"@{defaults}", "-e", json.dumps(variables)], f"render-{name}.log")
            expect(code == 0, f"the {name} service did not render")
            text = unit.read_text()
            code, _ = self.run(["systemd-analyze", "verify", "--man=no", unit], f"verify-{name}.log")
            expect(code == 0, f"systemd-analyze verify refused the {name} service:\n{text}")
            if name == "approved":
                expect('--operator "Ana \\"A\\" 100%% $$HOME"' in text and "--sha256 " + "AB" * 32 in text
                       and "--file \"/var/lib/tavoro-station/approved.sb\"" in text
                       and "ReadWritePaths=/var/lib/tavoro-station /srv/tavoro\n" in text,
                       f"the approved station's service:\n{text}")

    # fleet

    def start_station(self, name, outcome, model, version, units):
        station = self.work / "stations" / name
        (station / "program").mkdir(parents=True)
        shutil.copy2(self.flasher, station / "program" / self.flasher.name)
        scenario = station / "scenario"
        command = [self.server, "--dir", scenario, "--outcome", outcome, *SERVER_OPTIONS]
        for unit in units:
            command += ["--unit", unit]
        output = open(station / "server.out", "wb")
        server = subprocess.Popen([str(c) for c in command + [model, version]], stdout=output,
                                  stderr=subprocess.STDOUT)
        self.servers.append((server, output))
        deadline = time.monotonic() + 10
        while not (scenario / "proxy").exists():
            expect(server.poll() is None, f"the demo server of {name} ended with {server.returncode}")
            expect(time.monotonic() < deadline, f"the demo server of {name} did not start")
            time.sleep(0.05)
        return {
            "ansible_connection": "local",
            "ansible_python_interpreter": sys.executable,
            "tavoro_station_flasher": str(station / "program" / self.flasher.name),
            "tavoro_station_home": str(station),
            "tavoro_station_record": str(station / "records.jsonl"),
            "tavoro_station_operator": "ana",
            "tavoro_station_environment": {"TAVORO_HIDSIM_CONFIG": str(scenario / "sim.json"),
                                           "http_proxy": (scenario / "proxy").read_text().strip(),
                                           "no_proxy": ""},
        }

    def received(self, name):
        reports = self.work / "stations" / name / "scenario" / "reports.txt"
        return len(reports.read_text().split()) if reports.exists() else 0

    def fleet(self):
        hosts = {name: self.start_station(name, *station) for name, station in STATIONS.items()}
        # Nothing listens at this port: the connection is refused at once.
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            closed_port = probe.getsockname()[1]
        hosts["bench-gone"] = {"ansible_connection": "ssh", "ansible_host": "127.0.0.1", "ansible_port": closed_port,
                               "ansible_ssh_common_args": "-o ConnectTimeout=5 -o BatchMode=yes"}
        hosts["bench-bare"] = dict(hosts["bench-a"], tavoro_station_flasher=str(self.work / "nowhere/tavoro-flash"),
                                   tavoro_station_home=str(self.work / "stations/bench-bare"),
                                   tavoro_station_record=str(self.work / "stations/bench-bare/records.jsonl"))
        # A directory where the record should be: refused before anything is flashed.
        hosts["bench-unrecorded"] = dict(hosts["bench-a"], tavoro_station_record=str(self.work / "stations"))
        inventory = self.work / "inventory.json"
        inventory.write_text(json.dumps({"stations": {"hosts": hosts, "vars": {"tavoro_fleet_become": False}}},
                                        indent=2))

        # A SHA-256 that no image has: every station refuses, none sends.
        code, output = self.run(["ansible-playbook", "-i", inventory, "tavoro.fleet.flash", "-l", ",".join(STATIONS),
                                 "-e", "tavoro_station_image_sha256=" + "ab" * 32,
                                 "-e", "tavoro_station_record={{ tavoro_station_home }}/refused.jsonl"],
                                "flash-refused.log")
        recap = self.recap(output)
        expect(code != 0 and all(recap[name]["failed"] == 1 for name in STATIONS), f"recap {recap}")
        expect(output.count("image-not-approved (exit code 23)") == 4, "not every unit was refused as not approved")
        expect(all(self.received(name) == 0 for name in STATIONS), "a controller received reports")

        code, output = self.run(["ansible-playbook", "-i", inventory, "tavoro.fleet.flash"], "flash.log")
        recap = self.recap(output)
        expect(code != 0, "a fleet with failed stations succeeded")
        expect([recap[name]["failed"] for name in ("bench-a", "bench-b", "bench-c")] == [0, 1, 0],
               f"recap {recap}")
        expect(recap["bench-gone"]["unreachable"] == 1, f"recap {recap}")
        expect(recap["bench-bare"]["failed"] == 1 and "tavoro-flash is not installed on this station" in output,
               "the station without the flasher did not say so")
        expect("rejected the image (wrong MD5)" in output, "the wrong-MD5 unit's message is not in its host's result")
        expect(recap["bench-unrecorded"]["failed"] == 1 and "Cannot open the record file" in output,
               "the station whose record cannot be written did not say so")
        expect("Fleet: 4 unit(s) on 4 station(s): installed 3, wrong-md5 1." in output, "the fleet's counts")
        expect("Not flashed (unreachable, or failed before flashing): bench-bare, bench-gone." in output,
               "the stations not flashed")
        expect(all(self.received(name) > 0 for name in STATIONS), "a station sent nothing")

        # Cut off in mid-line, as by a power cut.
        with open(self.work / "stations/bench-c/records.jsonl", "ab") as record:
            record.write(b'{"started":"2024-05-01T09:30:00.125Z","station":"bench-c","mod')
        control = self.work / "control"
        control.mkdir()
        shutil.copy2(self.flasher, control / self.flasher.name)
        report_dir = self.work / "report"
        code, output = self.run(["ansible-playbook", "-i", inventory, "tavoro.fleet.collect",
                                 "-e", f"tavoro_fleet_dir={report_dir}",
                                 "-e", f"tavoro_report_flasher={control / self.flasher.name}"], "collect.log")
        recap = self.recap(output)
        expect(recap["bench-gone"]["unreachable"] == 1 and recap["bench-bare"]["failed"] == 1
               and recap["bench-unrecorded"]["failed"] == 1
               and "No record at" in output, f"recap {recap}")
        expect(all(recap[name]["failed"] == 0 for name in STATIONS) and recap["localhost"]["failed"] == 0,
               f"recap {recap}")
        expect("1 torn last line(s) skipped" in output, "the torn line was not counted")
        rows = list(csv.DictReader((report_dir / "fleet-report.csv").open()))
        stations = sorted((row["station"], row["outcome"]) for row in rows)
        expect(stations == [("bench-a", "installed"), ("bench-a", "installed"), ("bench-b", "wrong-md5"),
                            ("bench-c", "installed")], f"CSV rows {stations}")
        expect(all(row["operator"] == "ana" for row in rows), "the operator is not on record")
        suites = ElementTree.parse(report_dir / "fleet-report.xml").getroot().findall("testsuite")
        expect(sorted((s.get("name"), s.get("tests"), s.get("failures")) for s in suites)
               == [("bench-a", "2", "0"), ("bench-b", "1", "1"), ("bench-c", "1", "0")], "JUnit suites")
        text = (report_dir / "fleet-report.txt").read_text()
        expect(re.search(r"installed\D+3", text) and re.search(r"wrong-md5\D+1", text), f"text report:\n{text}")

    @staticmethod
    def recap(output):
        """The PLAY RECAP's counts of each host."""
        recap = {}
        for host, counts in re.findall(r"^(\S+)\s+:\s+(ok=.*)$", output, re.MULTILINE):
            recap[host] = {key: int(value) for key, value in re.findall(r"(\w+)=(\d+)", counts)}
        return recap

    def stop(self):
        for server, output in self.servers:
            server.send_signal(signal.SIGTERM)
            try:
                server.wait(5)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()
            output.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--collection", required=True, help="the collection's directory (deploy/ansible)")
    parser.add_argument("--flasher", required=True, help="the demo flasher (tavoro-flash-demo)")
    parser.add_argument("--server", required=True, help="the demo download server (tavoro-demo-server)")
    parser.add_argument("--work", required=True, help="work directory of this run (emptied first)")
    parser.add_argument("case", choices=["lint", "fleet"])
    arguments = parser.parse_args()
    fleet = Fleet(arguments)
    try:
        getattr(fleet, arguments.case)()
    except Exception:
        traceback.print_exc()
        return 1
    finally:
        fleet.stop()
    print(f"{arguments.case}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
