"""The firmware transfer as the simulated controller received it: checks
of the reports in the simulator's record file against the served image."""

import hashlib

from desktop import Failure

# (command offset, data offset) in the 64-byte payload
LEADING_LAYOUT = (0, 4)
TRAILING_LAYOUT = (60, 0)

DATA_BYTES = 60


def one_half(reports):
    """Both halves of a pair receive every report, one right after the
    other; returns the sequence each half received."""
    firsts, seconds = reports[0::2], reports[1::2]
    if len(firsts) != len(seconds) or firsts != seconds:
        raise Failure(f"the two halves did not receive the same {len(reports)} reports in turn")
    return firsts


def payloads(reports):
    for index, report in enumerate(reports):
        if len(report) != 65 or report[0] != 0:
            raise Failure(f"report {index} is not report ID 0 and 64 bytes: {report.hex()}")
    return [report[1:] for report in reports]


def start_payload(image, layout):
    command, _ = layout
    payload = bytearray(64)
    payload[command] = 0x80
    payload[1:33] = hashlib.md5(image).hexdigest().encode("ascii")
    return bytes(payload)


def check_start(payload, image, layout):
    if payload != start_payload(image, layout):
        raise Failure(f"the start report is not 0x80 with the image's MD5 text: {payload.hex()}")


def check_report_transfer(reports, image, layout):
    """The whole transfer: the start report with the image's MD5 text, data
    reports numbered from 1, an end report with the next number and the
    remaining bytes; together their data is the image."""
    command, data = layout
    sent = payloads(reports)
    if len(sent) < 2:
        raise Failure(f"the controller received {len(sent)} reports, too few for a transfer")
    check_start(sent[0], image, layout)

    received = bytearray()
    for number, payload in enumerate(sent[1:-1], start=1):
        if payload[command] >> 4 != 0:
            raise Failure(f"report {number} after the start is not a data report: {payload.hex()}")
        carried = int.from_bytes(payload[command:command + 4], "big")
        if carried != number:
            raise Failure(f"data report {number} carries the packet number {carried}")
        received += payload[data:data + DATA_BYTES]

    end = sent[-1]
    end_number = len(sent) - 1
    count = end[command + 1]
    carried = int.from_bytes(end[command + 2:command + 4], "big")
    if end[command] != 0xD0 or count >= DATA_BYTES or carried != end_number & 0xFFFF:
        raise Failure(f"the last report is not an end report numbered {end_number}: {end.hex()}")
    if any(end[data + count:data + DATA_BYTES]):
        raise Failure(f"the end report's data area is not empty after its {count} bytes")
    received += end[data:data + count]

    if bytes(received) != image:
        raise Failure(f"the data of the reports ({len(received)} bytes) is not the served image ({len(image)} bytes)")


def check_library_transfer(reports, image, layout):
    """The closed library moves the image itself; the controller receives
    only the start report and an end report with no data."""
    sent = payloads(reports)
    if len(sent) != 2:
        raise Failure(f"expected a start and an end report, the controller received {len(sent)}")
    check_start(sent[0], image, layout)
    if sent[1] != bytes([0xD0]) + bytes(63):
        raise Failure(f"the end report is not 0xD0 and zeros: {sent[1].hex()}")
