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
import pathlib
import signal
import subprocess
import sys
import threading
import time
import traceback

from xml.etree import ElementTree

import reports
from desktop import Failure
from session import Tools, UpdaterRun

SMALL = dict(image_size=30017, apply_ms=300, download_ms=0)
# Long enough (3334 data reports, over 3 s) to be stopped in mid-transfer.
LARGE = dict(image_size=200003, apply_ms=300, download_ms=0)
# Installs for far longer than a case runs: stopped while it installs.
INSTALLING = dict(image_size=30017, apply_ms=600000, download_ms=0)
# A download that takes 4 s: units wait for their firmware meanwhile.
SLOW_DOWNLOAD = dict(image_size=30017, apply_ms=300, download_ms=4000)
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


def unit(model, path):
    """How a station names the simulated controller at `path`."""
    return f"{model} {sim_serial(path)} {path}"

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
    # An empty image from the server, or placed by hand (PLACED), is never sent.
    "update_empty_download": ("EBONY", 12, "update", dict(SMALL, image_size=0), None, ["update", "--yes"], 21, [],
                              ["is empty", "not touched"], [], "nothing"),
    "update_empty_placed": ("EBONY", 12, "update", SMALL, None, ["update", "--yes", "--json"], 21, [], [],
                            [("override-file", {}), ("transfer-started", None),
                             ("result", {"exitCode": 21, "outcome": "file-problem"})], "nothing"),
    # A pair stopped in mid-transfer: both halves hold part of the image.
    "update_pair_interrupted": ("ARDEN", 12, "update", LARGE, None, ["update", "--yes", "--json"], 130,
                                ["holds a partial image"], [],
                                [("transfer-started", {}), ("result", {"exitCode": 130, "outcome": "interrupted"})],
                                "partial"),
    # Stopped once the controller reported that it installs the update.
    "update_interrupted_installing": ("EBONY", 12, "update", INSTALLING, None, ["update", "--yes", "--json"], 130,
                                      ["is installing the update. Do not power it off"], [],
                                      [("transfer-completed", {}),
                                       ("result", {"exitCode": 130, "outcome": "interrupted"})], "image"),
    # Stopped while the closed library moves the image (a second per 64 KiB):
    # the stop waits for the call, after which the controller has it all.
    "update_moss_interrupted_in_library": ("MOSS", 12, "update", LARGE, {"libraryBytesPerSecond": 65536},
                                           ["update", "--yes", "--json"], 45,
                                           ["already had the whole image", "do not power it off"], [],
                                           [("result", {"exitCode": 45, "outcome": "result-unknown"})], None),
    # Gone right after the start report: the wait for its answer ends.
    "update_unplugged_at_start": ("EBONY", 12, "update", SMALL, {"unplugAfterWrites": 1}, ["update", "--yes"], 43,
                                  [], [], [], None),
    "log_output": ("GLYPH PRO", 12, "update", SMALL, {"log": base64.b64encode(DEVICE_LOG).decode()},
                   ["log", "--output", "OUTPUT", "--json"], 0, [], [],
                   [("log-saved", {}), ("log-saved", {}), ("result", {"outcome": "log-downloaded"})], None),
    # Two runs at once, while the file of an earlier run has each name they
    # could take: each writes a file of its own, and the earlier files stay.
    "log_same_second": ("GLYPH PRO", 12, "update", SMALL, {"log": base64.b64encode(DEVICE_LOG).decode()},
                        ["log", "--json"], 0, [], [],
                        [("log-saved", {}), ("result", {"outcome": "log-downloaded"})], None),
    # Directories stand at the names the device log could take.
    "log_unwritable": ("GLYPH PRO", 12, "update", SMALL, {"log": base64.b64encode(DEVICE_LOG).decode()},
                       ["log", "--json"], 21, [], [],
                       [("log-saved", None), ("result", {"exitCode": 21, "outcome": "file-problem"})], None),
    # The same with a controller whose log is empty: nothing is written,
    # and the file that could not be opened still ends the run.
    "log_unwritable_empty": ("GLYPH PRO", 12, "update", SMALL, None, ["log", "--json"], 21, [], [],
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
    "station_empty_download": ("EBONY", 12, "update", dict(SMALL, image_size=0), None,
                               ["update", "--all", "--yes", "--json"], 21, [], [],
                               [("summary", {"counts": {"file-problem": 1}, "exitCode": 21})], "nothing"),
    "station_moss_alone": ("MOSS", 12, "update", SMALL, None, ["update", "--all", "--yes", "--json"], 0, [], [],
                           [("summary", {"counts": {"installing": 1}, "exitCode": 0})], None),
    # A second MOSS plugged in while the first one's library call runs waits
    # for it: the library is told only the model.
    "station_watch_second_moss": ("MOSS", 12, "update", dict(LARGE, unit="MOSS 12 +1000"),
                                  {"libraryBytesPerSecond": 65536}, ["watch", "--yes", "--json"], 130, [], [],
                                  [("summary", {"counts": {"installing": 2}, "exitCode": 130})], None),
    # Two controllers of one model, one file for both.
    "station_file_one_model": ("EBONY", 12, "update", dict(SMALL, unit="EBONY 12"), None,
                               ["update", "--all", "--yes", "--file", "FIRMWARE", "--json"], 0, [], [],
                               [("summary", {"counts": {"installed": 2}, "exitCode": 0})], None),
    # The file is for the first model found; the CALYX4 comes 1.5 s later.
    "station_watch_file_two_models": ("EBONY", 12, "update", dict(SMALL, unit="CALYX4 12 +1500"), None,
                                      ["watch", "--yes", "--file", "FIRMWARE", "--json"], 5, [], [],
                                      [("summary", {"counts": {"installed": 1, "several-models": 1},
                                                    "exitCode": 5})], None),
    # The manifest writes "13.0" for version 1.3.
    "station_fractional_version": ("EBONY", 12, "update", dict(SMALL, fractional_versions=True), None,
                                   ["update", "--all", "--yes", "--json"], 0, [], [],
                                   [("planned", {"unit": unit("EBONY", "/dev/hidsim1"), "firmware": "1.2",
                                                 "offered": "1.3"}),
                                    ("summary", {"counts": {"installed": 1}, "exitCode": 0})], "image"),
    # Unplugged 1 s into the 4 s download and plugged back a second later:
    # the unit that waited ends, and the controller back at its path gets
    # one new unit.
    "station_watch_replugged": ("EBONY", 12, "update", SLOW_DOWNLOAD, {"unplugAfterMs": 1000, "replugAfterMs": 1000},
                                ["watch", "--yes", "--json"], 43, [], [],
                                [("result", {"outcome": "controller-gone",
                                             "message": "The controller was unplugged before its update started; "
                                                        "it was not touched and keeps its old firmware."}),
                                 ("transfer-started", {}), ("result", {"outcome": "installed"}),
                                 ("summary", {"counts": {"controller-gone": 1, "installed": 1}, "exitCode": 43})],
                                None),
    # Both flashed, unplugged and plugged back: the EBONY on the version it
    # was sent, the CALYX4 on its old one, which is then flashed again.
    "station_watch_checked": ("EBONY", 12, "update", dict(SMALL, unit="CALYX4 12"),
                              [{"unplugAfterMs": 2500, "replugAfterMs": 500, "replugVersion": 13},
                               {"unplugAfterMs": 2500, "replugAfterMs": 500}],
                              ["watch", "--yes", "--json"], 130, [], [],
                              [("tally", {"notVerified": 1}),
                               ("summary", {"counts": {"installed": 3, "verified": 1, "not-verified": 1},
                                            "exitCode": 130})], None),
    # The site's approved image by its SHA-256 (FIRMWARE_SHA256, in upper
    # case): another download is never sent, the approved file is.
    "station_sha256_refused": ("EBONY", 12, "update", dict(SMALL, unit="CALYX4 12"), None,
                               ["update", "--all", "--yes", "--json", "--sha256", "ab" * 32], 23, [], [],
                               [("transfer-started", None),
                                ("summary", {"counts": {"image-not-approved": 2}, "exitCode": 23})], "nothing"),
    "update_sha256_approved": ("EBONY", 12, "unreachable", SMALL, None,
                               ["update", "--yes", "--file", "FIRMWARE", "--sha256", "FIRMWARE_SHA256"], 0,
                               ["Update installed."], [], [], "image"),
    "usage": ("EBONY", 12, "update", SMALL, None, ["check", "--yes"], 2, [], ["check does not take --yes"], [],
              None),
    "usage_json": ("EBONY", 12, "update", SMALL, None, ["check", "--yes", "--json"], 2, [], [],
                   [("result", {"exitCode": 2, "outcome": "usage"})], None),
}


# What each unit of a station row must end with (a controller plugged in
# again at its path gets a unit each time), how many of those units sent it
# a transfer, and the firmware files left in the program directory: one per
# model downloaded, and the window's update file untouched (None: not checked).
STATION_RESULTS = {
    "station_all": ({unit("EBONY", "/dev/hidsim1"): (["wrong-md5"], 1), unit("CALYX4", "/dev/hidsim2"): (["installed"], 1)},
                    ["CALYX4_13.sb", "EBONY_13.sb"]),
    "station_watch": ({unit("EBONY", "/dev/hidsim1"): (["installed"], 1), unit("CALYX4", "/dev/hidsim2"): (["installed"], 1)},
                      ["CALYX4_13.sb", "EBONY_13.sb"]),
    "station_empty_download": ({unit("EBONY", "/dev/hidsim1"): (["file-problem"], 0)}, ["EBONY_13.sb"]),
    "station_moss_alone": ({unit("MOSS", "/dev/hidsim1"): (["installing"], 1)}, ["MOSS_13.sb"]),
    "station_watch_second_moss": ({unit("MOSS", "/dev/hidsim1"): (["installing"], 1),
                                   unit("MOSS", "/dev/hidsim2"): (["installing"], 1)}, ["MOSS_13.sb"]),
    "station_file_one_model": ({unit("EBONY", "/dev/hidsim1"): (["installed"], 1), unit("EBONY", "/dev/hidsim2"): (["installed"], 1)},
                               []),
    "station_watch_file_two_models": ({unit("EBONY", "/dev/hidsim1"): (["installed"], 1),
                                       unit("CALYX4", "/dev/hidsim2"): (["several-models"], 0)}, []),
    "station_fractional_version": ({unit("EBONY", "/dev/hidsim1"): (["installed"], 1)}, ["EBONY_13.sb"]),
    "station_sha256_refused": ({unit("EBONY", "/dev/hidsim1"): (["image-not-approved"], 0),
                                unit("CALYX4", "/dev/hidsim2"): (["image-not-approved"], 0)},
                               ["CALYX4_13.sb", "EBONY_13.sb"]),
    "station_watch_replugged": ({unit("EBONY", "/dev/hidsim1"): (["controller-gone", "installed"], 1)}, ["EBONY_13.sb"]),
    "station_watch_checked": ({unit("EBONY", "/dev/hidsim1"): (["installed", "verified"], 1),
                               unit("CALYX4", "/dev/hidsim2"): (["installed", "not-verified", "installed"], 2)},
                              ["CALYX4_13.sb", "EBONY_13.sb"]),
}
# What the record of station_all holds for each serial number.
STATION_RECORDS = {
    SERIAL1: {"model": "EBONY", "paths": ["/dev/hidsim1"], "outcome": "wrong-md5", "exitCode": 41,
              "controller": "old-firmware", "file": "EBONY_13.sb"},
    SERIAL2: {"model": "CALYX4", "paths": ["/dev/hidsim2"], "outcome": "installed", "exitCode": 0,
              "controller": "installed", "file": "CALYX4_13.sb"},
}

# Files placed in the program directory before the run.
PLACED = {
    "update_empty_placed": {"SUPER_MEGA_UPDATE.sb": b""},
}

# When a case stops the flasher with Ctrl+C: "end" once the controller has
# received the end report; otherwise after the JSON events that match, and
# how many of them: "transfer" a tenth of the transfer done (the update file
# is removed first: stopping does not read it), "library" the closed
# library's first progress, "completed" the transfer-completed event,
# "result" a unit's result.
INTERRUPTS = {
    "update_interrupted": ("transfer", 1),
    "update_pair_interrupted": ("transfer", 1),
    "update_interrupted_after_end": ("end", 1),
    "update_interrupted_installing": ("completed", 1),
    "update_moss_interrupted_in_library": ("library", 1),
    "station_watch": ("result", 2),
    "station_watch_file_two_models": ("result", 2),
    "station_watch_replugged": ("result", 2),
    "station_watch_checked": ("result", 5),
    "station_watch_second_moss": ("result", 2),
}


def interrupts_at(kind, event):
    if kind == "transfer":
        return event["event"] == "progress" and event["phase"] == "transfer" and event["percent"] >= 10
    if kind == "library":
        return event["event"] == "progress" and event["phase"] == "transfer"
    return event["event"] == {"completed": "transfer-completed", "result": "result"}[kind]


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
    """Runs the flasher to its end, sending SIGINT as `interrupt` (an entry
    of INTERRUPTS, or None) says; returns (exit code, stdout, stderr)."""
    process = subprocess.Popen([run.program, *arguments], cwd=run.work, env=run.environment(),
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if not interrupt:
        try:
            out, err = process.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            raise Failure("the flasher did not end within 30 s") from None
        return process.returncode, out.decode(), err.decode()

    kind, count = interrupt
    lines = []
    if kind == "end":
        while len(run.received_reports()) < len(run.served_image()) // reports.DATA_BYTES + 2:
            time.sleep(0.02)
    else:
        # A flasher that never gets there would keep the loop waiting.
        watchdog = threading.Timer(30, process.kill)
        watchdog.start()
        for line in process.stdout:
            lines.append(line)
            count -= interrupts_at(kind, json.loads(line))
            if count == 0:
                break
        watchdog.cancel()
        expect(count == 0, f"the flasher ended or was killed before Ctrl+C was due:\n{b''.join(lines).decode()}")
        if kind == "transfer":
            (run.program_dir / "updater.sb").unlink()
    process.send_signal(signal.SIGINT)
    # The rest from the same buffered reader: communicate() reads the pipe
    # beneath it and would miss what the loop above read ahead.
    try:
        process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        process.kill()
        raise Failure("the flasher did not end within 30 s after Ctrl+C") from None
    lines.append(process.stdout.read())
    return process.returncode, b"".join(lines).decode(), process.stderr.read().decode()


def run_flashers_at_once(run, arguments):
    """Runs two flashers side by side to their ends; returns (exit code,
    stdout, stderr) of each."""
    processes = [subprocess.Popen([run.program, *arguments], cwd=run.work, env=run.environment(),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                 for _ in range(2)]
    results = []
    for process in processes:
        try:
            out, err = process.communicate(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            raise Failure("a flasher did not end within 30 s") from None
        results.append((process.returncode, out.decode(), err.decode()))
    return results


def check_same_second(run, stdouts, earlier):
    """Each run saved the whole log under a name of its own; the earlier
    files are untouched; each run logged its result."""
    saved = [event["path"] for stdout in stdouts for event in map(json.loads, stdout.splitlines())
             if event["event"] == "log-saved"]
    expect(len(set(saved)) == 2, f"the two runs saved {saved}")
    for path in saved:
        expect(pathlib.Path(path).read_bytes() == DEVICE_LOG, f"{path} does not hold the device log")
    for path, content in earlier.items():
        expect(path.read_bytes() == content, f"{path.name} of an earlier run was overwritten")
    results = sum(log.read_text().count("flasher result 0 ") for log in run.program_dir.glob("*.log"))
    expect(results == 2, f"{results} results in the program logs")


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


def check_station(run, stdout, expected):
    """Each unit's results in order, its transfers, every line naming its
    unit; the firmware in a file per model."""
    units, files = expected
    events = [json.loads(line) for line in stdout.splitlines()]
    results = {}
    for event in events:
        if event["event"] == "result":
            results.setdefault(event["unit"], []).append(event["outcome"])
    outcomes = {unit: outcomes for unit, (outcomes, _) in units.items()}
    expect(results == outcomes, f"unit results {results}, expected {outcomes}")
    for unit, (_, transfers) in units.items():
        started = [e for e in events if e["event"] == "transfer-started" and e["unit"] == unit]
        expect(len(started) == transfers, f"{unit} was flashed {len(started)} times, expected {transfers}")
    expect(all("unit" in e for e in events if e["event"] not in ("watching", "tally", "summary")),
           "an event without its unit")
    if files is not None:
        firmware = sorted(p.name for p in run.program_dir.glob("*.sb"))
        expect(firmware == files, f"firmware files {firmware}, expected {files}")


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
                      "FIRMWARE_SHA256": hashlib.sha256(run.served_image()).hexdigest().upper(),
                      "OUTPUT": str(run.work / "device.log"), "WORK": str(run.work)}.get(a, a) for a in arguments]
        for placed, content in PLACED.get(name, {}).items():
            (run.program_dir / placed).write_bytes(content)
        if name in ("log_unwritable", "log_unwritable_empty"):
            now = time.time()
            for second in range(15):
                name_taken = time.strftime("%Y-%m-%d_%H_%M_%S_log.enc", time.localtime(now + second))
                (run.program_dir / name_taken).mkdir()
        earlier = {}
        if name == "log_same_second":
            now = time.time()
            for second in range(15):
                path = run.program_dir / time.strftime("%Y-%m-%d_%H_%M_%S_log.enc", time.localtime(now + second))
                earlier[path] = f"earlier run {second}".encode()
                path.write_bytes(earlier[path])
        if name == "log_same_second":
            results = run_flashers_at_once(run, arguments)
        else:
            results = [run_flasher(run, arguments, INTERRUPTS.get(name))]
        for exit_code, stdout, stderr in results:
            print(f"exit code {exit_code}\n--- stdout\n{stdout}--- stderr\n{stderr}---")
            expect(exit_code == code, f"exit code {exit_code}, expected {code}")
        if earlier:
            check_same_second(run, [stdout for _, stdout, _ in results], earlier)
        exit_code, stdout, stderr = results[-1]
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
        if earlier:
            return  # two runs: their results were counted in the program logs
        messages = run.log_messages()
        expect(messages[0] == "program started", "the program log does not start with 'program started'")
        expect(any(m.startswith(f"flasher result {code} ") for m in messages),
               "the program log lacks the result")
        # Last: the report runs leave program logs of their own.
        if name == "station_all":
            check_record(run, STATION_RECORDS)
        if name == "station_watch_checked":
            lines = [json.loads(line) for line in (run.program_dir / "records.jsonl").read_text().splitlines()]
            outcomes = {serial: [r["outcome"] for r in lines if r["serial"] == serial] for serial in (SERIAL1, SERIAL2)}
            expect(outcomes == {SERIAL1: ["installed", "verified"], SERIAL2: ["installed", "not-verified", "installed"]},
                   f"recorded {outcomes}")
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
