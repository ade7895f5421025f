#!/usr/bin/env python3
"""Writes the configuration files shipped in data/: unit2.dat, default.txt, dispchan.dat and
display.dat. Text files are Windows-1252 with CR LF line ends; display.dat holds eight 94-byte
little-endian records. Run from anywhere: python3 scripts/make-shipped-data.py"""
import pathlib
import struct

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"

# Unit code k is line k. Codes 1..10 are the ones meters send most; names stay within 10
# characters and Windows-1252.
UNITS = [
    "", "°C", "°F", "%RH", "V", "mV", "A", "mA", "Ohm", "kOhm", "Hz",
    "kHz", "MHz", "lux", "dB", "m/s", "km/h", "rpm", "kPa", "bar", "psi",
    "W", "kW", "pH", "ppm", "g", "kg", "N", "m", "mm", "%",
    "K", "µA", "kV", "MOhm", "Pa", "hPa", "mbar", "mmHg", "inH2O", "mmH2O",
    "dBA", "dBC", "fc", "ft/min", "mph", "knots", "Nm", "lb", "oz", "kgf",
    "VA", "kVA", "var", "Wh", "kWh", "nF", "µF", "mH", "H", "µS/cm",
    "mS/cm", "mg/L", "ppt", "%O2", "CO2 ppm", "g/m³", "m³/h", "L/min", "cm", "in",
]


assert all(len(name) <= 10 for name in UNITS) and len(UNITS) <= 301


def text_file(name, statements):
    lines = []
    for values in statements:
        fields = ['"%s"' % v if isinstance(v, str) else str(v) for v in values]
        lines.append(",".join(fields) + "\r\n")
    (DATA / name).write_bytes("".join(lines).encode("cp1252"))


def display_record():
    record = struct.pack("<5d", 0.0, 100.0, 10.0, 2.0, 20.0)  # gauge range and ticks
    record += bytes(16)  # two reserved fields
    record += struct.pack("<h3dh", 1, 90.0, 10.0, 1.0, -1)  # decimals, limits, scale, unit from meter
    record += b" " * 10  # manual unit
    assert len(record) == 94
    return record


def main():
    DATA.mkdir(exist_ok=True)
    text_file("unit2.dat", [(code, name) for code, name in enumerate(UNITS)])
    text_file("default.txt", [
        ("Comm. Port ", 1),
        ("Data File Name", "Data1.mdb"),
        ("System Scan Rate", 5),
        ("Max Record data", 65535),
        ("Text Display type", 0),
        ("Angular Display Channel", 0),
        ("Chart Display Channel", 1),
        ("Format 01 and Special Meter", 0),
    ])
    channels = [1, 1, 2, 1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 1, 1, 2, 1, 2, 3, 4]
    text_file("dispchan.dat", [(c,) for c in channels])
    (DATA / "display.dat").write_bytes(display_record() * 8)


if __name__ == "__main__":
    main()
