#!/usr/bin/env python3
"""End-to-end runs of the command-line flasher as a user or a script runs it.

Each case starts the demo download server, adjusts the simulated
controllers it configured, runs the demo flasher from a program directory
of its own with the case's arguments, and checks its exit code, its
output, the program log and what the controllers received.

    python3 flash.py --flasher ... --server ... --opener ... \
        --download-host HOST --work DIR CASE
"""

import argparse
import base64
import csv
import hashlib
import io
import json
import signal
import subprocess
import sys
import time
import traceback

from xml.etree import ElementTree

import reports
from desktop import Failure
from session import Tools, UpdaterRun

SMALL = dict(image_size=30017, apply_ms=300, download_ms=0)
# Long enough (3334 data reports, over 3 s) to be stopped in mid-transfer.
LARGE = dict(image_size=200003, apply_ms=300, download_ms=0)
DEVICE_LOG = bytes(range(256)) * 3 + b"end of log"
UDEV_ADVICE = "70-tavoro-updater.rules"
# A station name a spreadsheet would run as a formula, with a quote and a line break.
HOSTILE_STATION = '=HYPERLINK("x")\nbench 2'


def sim_serial(path):
    """The serial number the simulator makes up for a device at `path`:
    "TV" and the FNV-1a hash of the path in hex."""
    value = 2166136261
    for byte in path.encode():
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return f"TV{value:08X}"


SERIAL1, SERIAL2 = sim_serial("/dev/hidsim1"), sim_serial("/dev/hidsim2")

# name: model, version, server outcome, scenario size, edits of the
# simulated devices, arguments, exit code, lines expected on standard
# output and standard error (substrings), JSON events expected in this
# order (kind and a subset of the fields), and what the controller must
# have received: "image" (the whole transfer), "nothing", or None. An edit
# is applied to every device, or as a list to the devices in search order
# (a pair: left half, then right half); an expected field of None must be
# absent.
CASES = {
    "list_pair": ("ARDEN", 12, "update", SMALL, None, ["list", "--json"], 0, [], [],
                  [("controller", {"model": "ARDEN", "firmware": "1.2"}),
                   ("result", {"exitCode": 0, "outcome": "listed"})], None),
    "check_pair_halves_differ": ("ARDEN", 12, "update", SMALL, [{"version": 11}], ["check", "--json"], 10, [], [],
                                [("controller", {"model": "ARDEN", "firmware": "1.1"}),
                                 ("firmware-available", {"firmware": "1.1", "offered": "1.3"})], None),
    "list_version_unread": ("EBONY", 12, "update", SMALL, {"sendsVersionReport": False}, ["list", "--json"], 0,
                            [], [], [("controller", {"model": "EBONY", "firmware": None})], None),
    "list_version_unread_text": ("EBONY", 12, "update", SMALL, {"sendsVersionReport": False}, ["list"], 0,
                                 ["EBONY  firmware unknown  /dev/hidsim1"], [], [], None),
    "no_controller": ("EBONY", 12, "no-controller", SMALL, None, ["list"], 3, [],
                      ["No Tavoro controller found"], [], None),
    "no_permission": ("EBONY", 12, "update", SMALL, {"openFails": True}, ["update", "--yes"], 4, [],
                      ["Permission denied", UDEV_ADVICE, "udevadm control --reload"], [], "nothing"),
    "several_refused": ("EBONY", 12, "update", SMALL, "second", ["update", "--yes"], 5,
                        ["EBONY  firmware 1.2  /dev/hidsim1", "CALYX4  firmware 1.2  /dev/hidsim2"],
                        ["choose one with --device"], [], "nothing"),
    "several_device": ("EBONY", 12, "update", SMALL, "second", ["check", "--device", "/dev/hidsim1", "--json"], 10,
                       [], [], [("controller", {"model": "EBONY", "paths": ["/dev/hidsim1"]}),
                                ("firmware-available", {"firmware": "1.2", "offered": "1.3"}),
                                ("result", {"exitCode": 10, "ok": True})], None),
    # A further controller of another model, from the demo server's --unit.
    "several_units": ("EBONY", 12, "update", dict(SMALL, unit="GLYPH PRO 13"), None,
                      ["check", "--device", "/dev/hidsim2", "--json"], 10, [], [],
                      [("controller", {"model": "GLYPH PRO", "firmware": "1.3", "paths": ["/dev/hidsim2"]}),
                       ("firmware-available", {"firmware": "1.3", "offered": "1.4"}),
                       ("result", {"exitCode": 10, "ok": True})], None),
    "check_up_to_date": ("EBONY", 12, "up-to-date", SMALL, None, ["check"], 0,
                         ["The controller runs the latest firmware, 1.2."], [], [], None),
    "check_newer_updater": ("EBONY", 12, "newer-updater", SMALL, None, ["check", "--json"], 11, [], [],
                            [("newer-updater", {"offered": "0.15"}), ("result", {"exitCode": 11})], None),
    "check_unreachable": ("EBONY", 12, "unreachable", SMALL, None, ["check"], 20, [],
                          ["Cannot reach the download server"], [], "nothing"),
    "check_manifest_incomplete": ("EBONY", 12, "incomplete-manifest", SMALL, None, ["check", "--json"], 22, [], [],
                                  [("result", {"exitCode": 22, "outcome": "manifest-incomplete"})], "nothing"),
    "update_json": ("CALYX4", 12, "update", SMALL, None, ["update", "--yes", "--json"], 0, [], [],
                    [("firmware-available", {"offered": "1.3"}), ("downloaded", {}),
                     ("transfer-started", {"reports": 501}),
                     ("progress", {"phase": "transfer", "percent": 50, "total": 501}),
                     ("transfer-completed", {}), ("result", {"exitCode": 0, "outcome": "installed"})], "image"),
    "update_pair_text": ("BRISK", 12, "update", SMALL, None, ["update", "--yes"], 0,
                         ["Firmware 1.3 is available", "transfer 0 %", "transfer 50 %", "transfer 100 %",
                          "Update installed."], [], [], "image"),
    "update_unconfirmed": ("EBONY", 12, "update", SMALL, None, ["update"], 30, [], ["add --yes"], [], "nothing"),
    "update_file_offline": ("EBONY", 12, "unreachable", SMALL, None, ["update", "--yes", "--file", "FIRMWARE"], 0,
                            ["Update installed."], [], [], "image"),
    "update_wrong_md5": ("EBONY", 12, "wrong-md5", SMALL, None, ["update", "--yes"], 41, [],
                         ["rejected the image (wrong MD5)"], [], None),
    "update_unplugged": ("EBONY", 12, "update", SMALL, {"unplugAfterWrites": 100}, ["update", "--yes"], 43, [],
                         ["disconnected in mid-transfer"], [], None),
    # The update file is removed before Ctrl+C: stopping does not read it.
    "update_interrupted": ("EBONY", 12, "update", LARGE, None, ["update", "--yes", "--json"], 130,
                           ["holds a partial image"], [],
                           [("transfer-started", {}), ("result", {"exitCode": 130, "outcome": "interrupted"})],
                           "partial"),
    # Verdict 0 means nothing: the controller has the image and stays silent.
    "update_interrupted_after_end": ("EBONY", 12, "update", SMALL, {"verdict": 0}, ["update", "--yes", "--json"],
                                     130, ["may be checking or installing it", "tavoro-flash list"], [], [], "image"),
    "update_silent_timeout": ("EBONY", 12, "update", SMALL, {"verdict": 0}, ["update", "--yes", "--timeout", "1"],
                              45, [], ["no result within 1 second(s)", "tavoro-flash list"], [], "image"),
    # Unplugged right after the end report, the 502nd.
    "update_unplugged_after_end": ("EBONY", 12, "update", SMALL, {"unplugAfterWrites": 502}, ["update", "--yes"],
                                   45, [], ["the result is unknown and it may be installing"], [], "image"),
    "update_empty_file": ("EBONY", 12, "update", SMALL, None, ["update", "--yes", "--file", "EMPTY"], 21, [],
                          ["is empty"], [], "nothing"),
    "log_output": ("GLYPH PRO", 12, "update", SMALL, {"log": base64.b64encode(DEVICE_LOG).decode()},
                   ["log", "--output", "OUTPUT", "--json"], 0, [], [],
                   [("log-saved", {}), ("log-saved", {}), ("result", {"outcome": "log-downloaded"})], None),
    # Directories stand at the names the device log could take.
    "log_unwritable": ("GLYPH PRO", 12, "update", SMALL, {"log": base64.b64encode(DEVICE_LOG).decode()},
                       ["log", "--json"], 21, [], [],
                       [("log-saved", None), ("result", {"exitCode": 21, "outcome": "file-problem"})], None),
    # The downloader gives up waiting for the log after 15 s.
    "log_silent": ("GLYPH PRO", 12, "update", SMALL, {"silent": True}, ["log"], 50, [],
                   ["did not send its whole log"], [], None),
    # A station: every controller at once, each with its model's firmware.
    "station_all": ("EBONY", 12, "update", dict(SMALL, unit="CALYX4 12"), [{"verdict": 12}, {}],
                    ["update", "--all", "--yes", "--json", "--station", HOSTILE_STATION, "--operator", "ana"], 41, [], [],
                    [("controller", {"model": "CALYX4", "serial": SERIAL2}),
                     ("planned", {"unit": f"CALYX4 {SERIAL2} /dev/hidsim2", "offered": "1.3"}),
                     ("planned", {"unit": f"EBONY {SERIAL1} /dev/hidsim1", "offered": "1.3"}),
                     ("summary", {"counts": {"installed": 1, "wrong-md5": 1}, "exitCode": 41})], None),
    # The second controller is plugged in 1.5 s after the first look.
    "station_watch": ("EBONY", 12, "update", dict(SMALL, unit="CALYX4 12 +1500"), None,
                      ["watch", "--yes", "--json"], 130, [], [],
                      [("watching", {}), ("tally", {"done": 2, "failed": 0}),
                       ("summary", {"counts": {"installed": 2}, "exitCode": 130})], None),
    # --serial chooses a controller as --device does.
    "update_serial": ("EBONY", 12, "update", SMALL, "second", ["update", "--serial", SERIAL1, "--yes", "--json"], 0,
                      [], [], [("controller", {"model": "EBONY", "serial": SERIAL1, "paths": ["/dev/hidsim1"]}),
                               ("result", {"exitCode": 0, "outcome": "installed"})], None),
    "list_serial_text": ("EBONY", 12, "update", SMALL, None, ["list"], 0,
                         [f"EBONY  firmware 1.2  /dev/hidsim1  serial {SERIAL1}"], [], [], None),
    # A directory as the record file: refused before anything is sent.
    "record_unopenable": ("EBONY", 12, "update", SMALL, None, ["update", "--yes", "--record", "WORK"], 21, [],
                          ["Cannot open the record file", "nothing was flashed"], [], "nothing"),
    "usage": ("EBONY", 12, "update", SMALL, None, ["check", "--yes"], 2, [], ["check does not take --yes"], [],
              None),
    "usage_json": ("EBONY", 12, "update", SMALL, None, ["check", "--yes", "--json"], 2, [], [],
                   [("result", {"exitCode": 2, "outcome": "usage"})], None),
}


# What each unit of a station row must end with, and the files it leaves:
# one firmware file per model, and the window's update file untouched.
STATION_RESULTS = {
    "station_all": {f"EBONY {SERIAL1} /dev/hidsim1": "wrong-md5", f"CALYX4 {SERIAL2} /dev/hidsim2": "installed"},
    "station_watch": {f"EBONY {SERIAL1} /dev/hidsim1": "installed", f"CALYX4 {SERIAL2} /dev/hidsim2": "installed"},
}
# What the record of station_all holds for each serial number.
STATION_RECORDS = {
    SERIAL1: {"model": "EBONY", "paths": ["/dev/hidsim1"], "outcome": "wrong-md5", "exitCode": 41,
              "controller": "old-firmware", "file": "EBONY_13.sb"},
    SERIAL2: {"model": "CALYX4", "paths": ["/dev/hidsim2"], "outcome": "installed", "exitCode": 0,
              "controller": "installed", "file": "CALYX4_13.sb"},
}
STATION_FILES = ["CALYX4_13.sb", "EBONY_13.sb"]


def expect(condition, message):
    if not condition:
        raise Failure(message)


def adjust_devices(run, edit):
    """Applies a case's edit to the simulator configuration the server wrote."""
    path = run.scenario_dir / "sim.json"
    config = json.loads(path.read_text())
    if edit == "second":
        config["devices"].append({"model": 0, "version": 12})
    elif isinstance(edit, list):
        for device, changes in zip(config["devices"], edit):
            device.update(changes)
    elif edit:
        for device in config["devices"]:
            device.update(edit)
    path.write_text(json.dumps(config))


def run_flasher(run, arguments, interrupt):
    """Runs the flasher to its end; returns (exit code, stdout, stderr).
    Sends SIGINT with `interrupt` "transfer" once a tenth of the transfer is
    done (after removing the update file), with "end" once the controller
    has received the end report."""
    process = subprocess.Popen([run.program, *arguments], cwd=run.work, env=run.environment(),
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    lines = []
    if interrupt == "transfer":
        for line in process.stdout:
            lines.append(line)
            event = json.loads(line)
            if event["event"] == "progress" and event["phase"] == "transfer" and event["percent"] >= 10:
                (run.program_dir / "updater.sb").unlink()
                process.send_signal(signal.SIGINT)
                break
    elif interrupt == "station":
        results = 0
        for line in process.stdout:
            lines.append(line)
            results += json.loads(line)["event"] == "result"
            if results == 2:
                process.send_signal(signal.SIGINT)
                break
        # The rest from the same buffered reader: communicate() reads the
        # pipe beneath it and would miss what this loop read ahead.
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            raise Failure("the flasher did not end within 30 s after Ctrl+C") from None
        lines.append(process.stdout.read())
    elif interrupt == "end":
        while len(run.received_reports()) < len(run.served_image()) // reports.DATA_BYTES + 2:
            time.sleep(0.02)
        process.send_signal(signal.SIGINT)
    try:
        out, err = process.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        process.kill()
        raise Failure("the flasher did not end within 30 s") from None
    return process.returncode, (b"".join(lines) + out).decode(), err.decode()


def check_events(stdout, expected):
    """Every line is a JSON object; the expected events appear in order (an
    event expected with fields None appears nowhere)."""
    events = [json.loads(line) for line in stdout.splitlines()]
    position = 0
    for kind, fields in expected:
        if fields is None:
            expect(all(event["event"] != kind for event in events), f"a {kind} event in:\n{stdout}")
            continue
        while position < len(events) and not (
                events[position]["event"] == kind
                and all(events[position].get(k) == v for k, v in fields.items())):
            position += 1
        expect(position < len(events), f"no {kind} event with {fields} in order in:\n{stdout}")
        position += 1
    last = "summary" if any(event["event"] == "summary" for event in events) else "result"
    expect(events[-1]["event"] == last, f"the last JSON line is not the {last}")
    return events


def check_received(run, layout_model, expected):
    received = run.received_reports()
    if expected == "nothing":
        expect(received == [], f"the controller received {len(received)} reports")
        return
    image = run.served_image()
    if layout_model in ("ARDEN", "BRISK"):
        received = reports.one_half(received)
    layout = reports.TRAILING_LAYOUT if layout_model in ("EBONY", "ARDEN", "BRISK") else reports.LEADING_LAYOUT
    if expected == "image":
        reports.check_report_transfer(received, image, layout)
        return
    # Stopped in mid-transfer: the start and some, not all, of the data.
    reports.check_start(reports.payloads(received[:1])[0], image, layout)
    data_reports = len(image) // reports.DATA_BYTES + 1
    expect(1 < len(received) < data_reports, f"{len(received)} reports for a transfer stopped early")


def check_station(run, stdout, outcomes):
    """One result per unit, each unit's transfer once, every line naming
    its unit; the firmware in a file per model."""
    events = [json.loads(line) for line in stdout.splitlines()]
    results = {e["unit"]: e["outcome"] for e in events if e["event"] == "result"}
    expect(results == outcomes, f"unit results {results}, expected {outcomes}")
    expect(len([e for e in events if e["event"] == "result"]) == len(outcomes), "more than one result for a unit")
    for unit in outcomes:
        started = [e for e in events if e["event"] == "transfer-started" and e["unit"] == unit]
        expect(len(started) == 1, f"{unit} was flashed {len(started)} times")
    expect(all("unit" in e for e in events if e["event"] not in ("watching", "tally", "summary")),
           "an event without its unit")
    firmware = sorted(p.name for p in run.program_dir.glob("*.sb"))
    expect(firmware == STATION_FILES, f"firmware files {firmware}, expected {STATION_FILES}")


def check_record(run, expected):
    """Every attempt of the run on record, a whole JSON line each, with the
    image's hashes; the report of it as CSV and JUnit."""
    lines = (run.program_dir / "records.jsonl").read_text().splitlines()
    records = {r["serial"]: r for r in map(json.loads, lines)}
    expect(len(lines) == len(expected) and set(records) == set(expected), f"records {lines}")
    for serial, fields in expected.items():
        record = records[serial]
        image = (run.program_dir / fields["file"]).read_bytes()
        expect(all(record[k] == v for k, v in fields.items() if k != "file"), f"record {record}, expected {fields}")
        expect(record["file"].endswith(fields["file"]) and record["size"] == len(image)
               and record["md5"] == hashlib.md5(image).hexdigest()
               and record["sha256"] == hashlib.sha256(image).hexdigest(), f"image of {record}")
        expect(record["station"] == HOSTILE_STATION and record["operator"] == "ana", f"station of {record}")
        expect(record["firmwareBefore"] == "1.2" and record["offered"] == "1.3" and record["source"] == "downloaded",
               f"versions of {record}")
        expect(record["reportsSent"] == record["reports"] == 501, f"reports of {record}")
    report = subprocess.run([run.program, "report", "--format", "csv"], cwd=run.work, env=run.environment(),
                            capture_output=True, check=True).stdout.decode()
    rows = list(csv.DictReader(io.StringIO(report)))
    expect(len(rows) == len(expected), f"CSV rows {rows}")
    expect(all(row["station"] == "'" + HOSTILE_STATION for row in rows), f"CSV station cells {rows}")
    junit = subprocess.run([run.program, "report", "--format", "junit"], cwd=run.work, env=run.environment(),
                           capture_output=True, check=True).stdout
    suites = ElementTree.fromstring(junit).findall("testsuite")
    expect([s.get("name") for s in suites] == [HOSTILE_STATION] and suites[0].get("failures") == "1",
           f"JUnit suites {junit}")


def run_case(tools, work, name):
    model, version, outcome, size, edit, arguments, code, out_lines, err_lines, events, received = CASES[name]
    run = UpdaterRun(tools, work, model, version, outcome, **size)
    try:
        run.start_server()
        adjust_devices(run, edit)
        (run.work / "empty.sb").write_bytes(b"")
        arguments = [{"FIRMWARE": str(run.scenario_dir / "firmware.sb"), "EMPTY": str(run.work / "empty.sb"),
                      "OUTPUT": str(run.work / "device.log"), "WORK": str(run.work)}.get(a, a) for a in arguments]
        if name == "log_unwritable":
            now = time.time()
            for second in range(15):
                name_taken = time.strftime("%Y-%m-%d_%H_%M_%S_log.enc", time.localtime(now + second))
                (run.program_dir / name_taken).mkdir()
        interrupt = {"update_interrupted": "transfer", "update_interrupted_after_end": "end",
                     "station_watch": "station"}.get(name)
        exit_code, stdout, stderr = run_flasher(run, arguments, interrupt)
        print(f"exit code {exit_code}\n--- stdout\n{stdout}--- stderr\n{stderr}---")

        expect(exit_code == code, f"exit code {exit_code}, expected {code}")
        for line in out_lines:
            expect(line in stdout, f"no {line!r} on standard output")
        for line in err_lines:
            expect(line in stderr, f"no {line!r} on standard error")
        expect(len(stderr.splitlines()) <= 1, "more than one line of error")
        if "--json" in arguments:
            expect(stderr == "", "JSON runs write nothing on standard error")
            check_events(stdout, events)
        if received:
            check_received(run, model, received)
        if name in STATION_RESULTS:
            check_station(run, stdout, STATION_RESULTS[name])
        if name == "log_output":
            expect((run.work / "device.log").read_bytes() == DEVICE_LOG, "--output does not hold the device log")
        messages = run.log_messages()
        expect(messages[0] == "program started", "the program log does not start with 'program started'")
        expect(any(m.startswith(f"flasher result {code} ") for m in messages),
               "the program log lacks the result")
        # Last: the report runs leave program logs of their own.
        if name == "station_all":
            check_record(run, STATION_RECORDS)
    finally:
        run.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--flasher", required=True, help="the demo flasher (tavoro-flash-demo)")
    parser.add_argument("--server", required=True, help="the demo download server (tavoro-demo-server)")
    parser.add_argument("--opener", required=True, help="directory of the xdg-open stand-in")
    parser.add_argument("--download-host", required=True, help="the download server's host name")
    parser.add_argument("--work", required=True, help="work directory of this run (emptied first)")
    parser.add_argument("case", choices=sorted(CASES))
    arguments = parser.parse_args()

    tools = Tools(arguments.flasher, arguments.server, arguments.opener, "", arguments.download_host)
    try:
        run_case(tools, arguments.work, arguments.case)
    except Exception:
        traceback.print_exc()
        return 1
    print(f"{arguments.case}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
