#!/usr/bin/env python3
"""Writes the reference .tilu files of this folder, byte by byte from the record table.

Independent of the program's own code: run it from this folder and commit the output.

Record (328 bytes, little-endian):
  0 Mode, 4 SignalDelay, 8 RiseRate, 12 OutputOffset, 16 ResponseOnset, 20 UpperBound,
  24 LowerBound, 28 MultipleResponse, 32 PositiveDuration, 36 NegativeDuration (int32 each),
  40 Reserved (24 bytes), 64 SavedAt (IEEE double, OLE Automation date),
  72 description length (1 byte), 73 description (250 bytes, Windows-1251), 323 fill (5 bytes).
"""
import math
import struct

FLAG_ON = 0x88
FLAG_OFF = 0x37


def record(values, saved_at, description, *, length=None, reserved=bytes(24), tail=b"",
           fill=bytes(5)):
    """values: the ten int32 fields from Mode to NegativeDuration.
    tail: bytes of the description area behind the description itself."""
    assert len(values) == 10 and len(reserved) == 24 and len(fill) == 5
    text = description.encode("cp1251")
    area = (text + tail).ljust(250, b"\0")
    assert len(area) == 250
    data = struct.pack("<10i", *values) + reserved + struct.pack("<d", saved_at)
    data += bytes([len(text) if length is None else length]) + area + fill
    assert len(data) == 328
    return data


def ole(days, hours=0, minutes=0, seconds=0):
    return days + (hours * 3600 + minutes * 60 + seconds) / 86400


FILES = {
    # 2000-01-01 12:00 is day 36526.
    "osg_delay_on.tilu": record(
        [FLAG_ON, FLAG_ON, 6, 50, 30, 9, 1, FLAG_OFF, 20, 5], ole(36526, 12), "Заводская OSG"),
    # 2024-03-15 00:00 is day 45366: the timestamp shows the date alone.
    "laf_delay_off.tilu": record(
        [FLAG_OFF, FLAG_OFF, 12, 75, 45, 85, 35, FLAG_ON, 25, 7], ole(45366), "Стенд №2, ёлка"),
    # 2023-12-31 23:59:59 is day 45291.
    "reserved_and_fill.tilu": record(
        [FLAG_ON, FLAG_OFF, 20, 25, 50, 6, 4, FLAG_ON, 40, 10], ole(45291, 23, 59, 59), "abc",
        reserved=bytes(range(0xA0, 0xB8)), tail=b"left-over", fill=bytes(range(0xF1, 0xF6))),
    # Length byte 255: the last five characters lie in the fill. Mode 0 and a
    # MultipleResponse of 0x188 read as LAF and off. 1999-12-31 08:05:09 is day 36525.
    "length_255.tilu": record(
        [0, FLAG_ON, 2, 100, 5, 10, 40, 0x188, 5, 1], ole(36525, 8, 5, 9), "0123456789" * 25,
        length=255, fill="ЁЛКИ!".encode("cp1251")),
    # Values outside the step domains; 2010-06-01 10:20:30 is day 40330.
    "outside_domains.tilu": record(
        [FLAG_OFF, 0, 300, 0, 65566, -90, -5, FLAG_ON, 2147483647, -1], ole(40330, 10, 20, 30),
        "вне диапазона"),
    # SavedAt that is no date at all.
    "unshowable_date.tilu": record(
        [FLAG_ON, FLAG_ON, 7, 60, 35, 8, 2, FLAG_ON, 15, 3], math.nan, "без даты"),
}

if __name__ == "__main__":
    for name, data in FILES.items():
        with open(name, "wb") as f:
            f.write(data)
