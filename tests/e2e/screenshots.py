#!/usr/bin/env python3
"""Takes the README's pictures of a demo update, stage by stage: the model
announcement, the offer with its change log, the download, the transfer,
the update bar and the final message. Each picture is cropped to the
window it shows. Run under xvfb-run (the build's `readme-screenshots`
target does).
"""

import argparse
import pathlib
import sys
import time

from desktop import Desktop, Window, wait_until
from e2e import Person
from session import Tools, UpdaterRun

MODEL, VERSION = "EBONY", 12


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    Tools.add_arguments(parser)
    parser.add_argument("--work", required=True, help="work directory (emptied first)")
    parser.add_argument("--out", required=True, help="where the PNG files go")
    arguments = parser.parse_args()
    out = pathlib.Path(arguments.out)
    tools = Tools.from_arguments(arguments)
    desktop = Desktop(tools.clipboard)

    # The demo's own sizes and times, as `scripts/run --demo` shows them.
    run = UpdaterRun(tools, arguments.work, MODEL, VERSION, "update").start()
    try:
        person = Person(run, desktop)

        def shoot(name, *windows):
            desktop.screenshot(out / f"demo-{name}.png", [Window(w.wid) for w in windows])
            print(f"demo-{name}.png")

        person.press_connect()
        box = person.box("Info")
        shoot("1-connected", person.window, box)
        desktop.press(box, "Return")

        offer = person.box(None)
        person.show_details(offer)
        shoot("2-offer", offer)
        desktop.press(offer, "alt+y")

        time.sleep(1.2)
        shoot("3-download", person.window)

        wait_until(lambda: (run.program_dir / "updater.sb").exists(), 15, "the downloaded update file")
        person.press_update_device()
        image_reports = len(run.served_image()) // 60 + 1
        wait_until(lambda: len(run.received_reports()) > image_reports // 2, 30, "half the transfer")
        shoot("4-transfer", person.window)

        wait_until(lambda: len(run.received_reports()) > image_reports, 30, "the end of the transfer")
        time.sleep(3)
        shoot("5-update", person.window)

        box = person.box("Info")
        shoot("6-installed", person.window, box)
        desktop.press(box, "Return")
        run.wait_for_exit()
    finally:
        run.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
