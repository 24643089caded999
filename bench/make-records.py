#!/usr/bin/env python3
"""Writes a record file of N attempts (default 1,000,000) for timing
`tavoro-flash report`: two stations, four models, 20,000 serial numbers
each flashed about N/20,000 times, one attempt in 50 a wrong MD5.

    python3 make-records.py OUT [N]
"""

import json
import sys
from datetime import datetime, timedelta, timezone

MODELS = [("CALYX4", 0), ("EBONY", 12), ("GLYPH PRO", 9), ("ARDEN", 3)]


def main():
    out, count = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    start = datetime(2024, 5, 1, tzinfo=timezone.utc)
    with open(out, "w") as file:
        for i in range(count):
            model, unit_type = MODELS[i % len(MODELS)]
            started = start + timedelta(seconds=i * 2)
            ended = started + timedelta(seconds=6.5)
            failed = i % 50 == 0
            record = {
                "started": started.isoformat(timespec="milliseconds").replace("+00:00", "Z"),
                "ended": ended.isoformat(timespec="milliseconds").replace("+00:00", "Z"),
                "station": f"bench {i % 2 + 1}", "operator": "ana", "model": model, "unitType": unit_type,
                "paths": [f"/dev/hidraw{i % 24}"], "serial": f"TV{i % 20000:08X}", "firmwareBefore": "1.2",
                "offered": "1.3", "file": f"/opt/tavoro/{model}_13.sb", "size": 307200,
                "md5": "30bfddcdb2d17b3c4c73606ea517d9b9",
                "sha256": "f8d2230b98dc24b19fe08880a3ea2c599f20ae0ee085bba7f0bb1bd6c3ff8b1a",
                "source": "downloaded", "outcome": "wrong-md5" if failed else "installed",
                "exitCode": 41 if failed else 0, "controller": "old-firmware" if failed else "installed",
                "reportsSent": 5122, "reports": 5122, "seconds": 6.5, "version": "0.14"}
            file.write(json.dumps(record, separators=(",", ":")) + "\n")


if __name__ == "__main__":
    main()
