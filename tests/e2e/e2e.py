#!/usr/bin/env python3
"""End-to-end runs of the updater as a person meets it.

Each case starts the demo updater and the demo download server as
processes on an X display, presses the window's buttons and answers its
boxes with clicks and keys, reads the boxes' texts by copying them, and
then checks what the run left: the program log, the files in the program
directory, the requests the server saw and every report the simulated
controller received. On a failure the screen is saved as failure.png in
the case's work directory.

    xvfb-run -a python3 e2e.py --updater ... --server ... --opener ... \
        --clipboard ... --download-host HOST --work DIR CASE
"""

import argparse
import pathlib
import sys
import time
import traceback

import reports
from desktop import Desktop, Failure, Window, wait_until
from session import Tools, UpdaterRun

# A small image, a short install and no pacing keep each case to seconds.
# 30017 bytes: 500 data reports and an end report with 17 bytes.
SCENARIO_SIZE = dict(image_size=30017, apply_ms=1500, download_ms=0)

TITLE = "Tavoro updater v. 14"
CONNECT = (125, 425)          # button centres in the main window
UPDATE_DEVICE = (365, 425)

UPDATE_INSTALLED = ("Update installed correctly, please close program, and disconnect/power off your controller.\n"
                    "When reconnected/power ON your device will have the latest software.")
LIBRARY_UPDATE_STARTED = ("Updating started, please close program, and wait for device updating automatically "
                          "finished.\nPlease do NOT power off device until updating finished.")


def expect(condition, message):
    if not condition:
        raise Failure(message)


def expect_equal(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}: expected {expected!r}, got {actual!r}")


class Person:
    """Someone in front of one run of the updater."""

    def __init__(self, run, desktop):
        self.run = run
        self.desktop = desktop
        self.window = desktop.wait_for_window(run.pid, lambda w: True, "the updater's window")
        expect_equal(self.window.title, TITLE, "the window title")

    def press_connect(self):
        self.desktop.click(self.window, *CONNECT)

    def press_update_device(self):
        self.desktop.click(self.window, *UPDATE_DEVICE)

    def box(self, title):
        """Waits for a message box titled `title`; None: an untitled box."""
        def is_box(window):
            if window.wid == self.window.wid:
                return False
            return window.title == title if title else window.title not in ("Info", "Error")
        return self.desktop.wait_for_window(self.run.pid, is_box, f"a box titled {title!r}")

    def read_box(self, title, text):
        """Waits for the box, checks its text and returns the box."""
        box = self.box(title)
        expect_equal(self.desktop.copy_box_text(box), text, f"the text of the {title or 'untitled'} box")
        return box

    def close_box(self, title, text):
        self.desktop.press(self.read_box(title, text), "Return")

    def show_details(self, box):
        """Opens the box's details with its rightmost button, "Show
        Details..."."""
        self.desktop.click(box, box.width - 50, box.height - 23)
        wait_until(lambda: Window(box.wid).height > box.height, 5, "the box's details")

    def read_details(self, box):
        self.show_details(box)
        return self.desktop.copy_all(box)

    def accept_offer(self, text):
        """Reads the untitled offer box and its details, then answers Yes;
        returns the details."""
        offer = self.read_box(None, text)
        details = self.read_details(offer)
        self.desktop.press(offer, "alt+y")
        return details

    def stays_open(self):
        """The program has not ended by itself: it still runs a while later
        with its window shown."""
        time.sleep(1)
        expect(self.run.is_running(), "the updater ended")
        expect(any(w.wid == self.window.wid for w in self.desktop.windows(self.run.pid)),
               "the updater's window is gone")


def version_text(tenths):
    return f"{tenths // 10}.{tenths % 10}"


def check_program_start(run):
    messages = run.log_messages()
    expect_equal(messages[0] if messages else None, "program started", "the first line of the program log")
    return messages


def check_program_files(run, *expected):
    """The program directory holds the program, its one log, the given
    files, and its one device log file, empty (no log was fetched)."""
    files = run.program_files()
    logs = [name for name in files if name.endswith(".log")]
    device_logs = [name for name in files if name.endswith("_log.enc")]
    expect(len(device_logs) == 1, f"not exactly one device log file: {device_logs}")
    for name in device_logs:
        expect_equal(run.program_file(name), b"", f"the device log file {name}")
    expect_equal(sorted(set(files) - set(device_logs)), sorted([run.program.name, *logs[:1], *expected]),
                 "the files in the program directory")


def full_update(run, person, model_key, layout, halves=1, library=False):
    person.press_connect()
    person.close_box("Info", f"{run.model} connected")
    change_log = person.accept_offer(f"Your unit current version: {version_text(run.version)}\n"
                                     f"Latest version: {version_text(run.version + 1)}")

    wait_until(lambda: (run.program_dir / "updater.sb").exists(), 15, "the downloaded update file")
    person.press_update_device()
    person.close_box("Info", LIBRARY_UPDATE_STARTED if library else UPDATE_INSTALLED)
    expect_equal(run.wait_for_exit(), 0, "the updater's exit code")

    # What the server saw, before the checks below ask it anything.
    requests = run.server_requests()
    change_log_url = run.manifest_entry(f"{model_key}ChangeLog")
    expect_equal(requests, [run.tools.manifest_url, change_log_url, run.manifest_entry(f"{model_key}Bin")],
                 "the requests to the download server")
    expect_equal(change_log, run.fetch(change_log_url), "the change log in the offer's details")

    image = run.served_image()
    check_program_files(run, "updater.sb")
    expect(run.program_file("updater.sb") == image, "updater.sb is not the served image")

    messages = check_program_start(run)
    update_file = f"{run.program_dir}/updater.sb"
    expected_lines = [f'file opened "{update_file}"']
    if library:
        expected_lines += ["updateThruUTP try", f"UTP: device 3a52:010c, file {update_file}",
                           f"UTP: {len(image)} bytes sent", "updateThruUTP result 0"]
    else:
        expected_lines += [f"byteArray.size()= {len(image)}"]
        sent = [m for m in messages if m.startswith("start report is send bytes  65")]
        expect_equal(len(sent), halves, "start reports logged as sent")
    for line in expected_lines:
        expect(line in messages, f"no {line!r} in the program log")

    received = run.received_reports()
    if halves == 2:
        received = reports.one_half(received)
    if library:
        reports.check_library_transfer(received, image, layout)
    else:
        reports.check_report_transfer(received, image, layout)


CASES = {}


def case(model, version, outcome):
    """Registers a case run against `model` at `version` with the server's `outcome`."""
    def register(function):
        CASES[function.__name__] = (function, model, version, outcome)
        return function
    return register


@case("CALYX4", 12, "update")
def full_update_calyx4(run, person):
    full_update(run, person, "CALYX4", reports.LEADING_LAYOUT)


@case("ARDEN", 12, "update")
def full_update_arden(run, person):
    full_update(run, person, "EBONY", reports.TRAILING_LAYOUT, halves=2)


@case("MOSS", 12, "update")
def full_update_moss(run, person):
    full_update(run, person, "MOSS", reports.LEADING_LAYOUT, library=True)


@case("EBONY", 12, "no-controller")
def no_controller(run, person):
    person.press_connect()
    person.close_box("Error", "Device is not found.\nPlease connect.")
    person.stays_open()
    expect_equal(run.server_requests(), [], "the requests to the download server")
    check_program_start(run)
    check_program_files(run)


@case("EBONY", 12, "unreachable")
def server_unreachable(run, person):
    person.press_connect()
    person.close_box("Info", "EBONY connected")
    person.close_box("Error", "Problem with internet connection\n")
    expect_equal(run.wait_for_exit(), 0, "the updater's exit code")
    messages = check_program_start(run)
    expect(any(m.startswith("Error by download info file") for m in messages),
           "the log does not tell that the manifest could not be fetched")
    check_program_files(run)
    expect_equal(run.received_reports(), [], "the reports the controller received")


@case("EBONY", 12, "up-to-date")
def up_to_date(run, person):
    person.press_connect()
    person.close_box("Info", "EBONY connected")
    person.close_box("Info", "Your unit has the latest software")
    person.stays_open()
    expect_equal(run.server_requests(), [run.tools.manifest_url], "the requests to the download server")
    check_program_start(run)
    check_program_files(run)


@case("EBONY", 12, "newer-updater")
def newer_updater(run, person):
    person.press_connect()
    person.close_box("Info", "EBONY connected")
    change_log = person.accept_offer("Your Tavoro updater version: 0.14\nLatest version: 0.15")
    person.close_box("Info", "Wait for download new Tavoro Updater.\nClose program and insall new version "
                             "Tavoro Updater.\nTry again update unit.")
    expect_equal(run.wait_for_exit(), 0, "the updater's exit code")

    expect_equal(run.opened_addresses(), [run.manifest_entry("WinMainBin")], "the addresses handed to xdg-open")
    expect_equal(change_log, run.fetch(run.manifest_entry("MainChangeLog")), "the change log in the offer's details")
    check_program_start(run)
    check_program_files(run)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    Tools.add_arguments(parser)
    parser.add_argument("--work", required=True, help="work directory of this run (emptied first)")
    parser.add_argument("case", choices=sorted(CASES))
    arguments = parser.parse_args()

    case, model, version, outcome = CASES[arguments.case]
    tools = Tools.from_arguments(arguments)
    desktop = Desktop(tools.clipboard)
    run = UpdaterRun(tools, arguments.work, model, version, outcome, **SCENARIO_SIZE)
    try:
        desktop.wait_for_display()
        run.start()
        case(run, Person(run, desktop))
    except Exception:
        screenshot = pathlib.Path(arguments.work) / "failure.png"
        try:
            desktop.screenshot(screenshot)
        except Exception as error:
            print(f"no screenshot: {error}")
        traceback.print_exc()
        print(f"\nscreen at the failure: {screenshot}\nprogram output: {run.work / 'updater.out'}\n"
              f"server output:\n{run.server_log()}")
        return 1
    finally:
        run.stop()
    print(f"{arguments.case}: passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
