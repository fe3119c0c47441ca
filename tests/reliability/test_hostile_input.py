"""The areafill program at the limits of what it takes, where the readers' own tests do not
reach: files that declare huge images in a few bytes (its peak memory stays under 200 MiB), TIFF
layouts and masks beyond the host's limits, and paths that are folders or cannot be written.
Each ends with exit 1 and one line on stderr, no output or scratch file, and every file of the
folder exactly as it was."""

import os
import struct
import sys
from pathlib import Path

import numpy as np
import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from program_runner import Program  # noqa: E402
from samples import pattern, png as png_of  # noqa: E402


def png(width, height, rows=1):
    """An 8-bit grey PNG declaring width × height, with data for `rows` rows."""
    return png_of(pattern(rows, width, 1, np.uint8), header=(width, height, 8, 0))


def tiff(width, height, samples=1, bits=8, photometric=1, sample_format=1, extra=(), strip=64):
    """A little-endian TIFF declaring width × height of the layout given, with one uncompressed
    strip of `strip` bytes."""
    tags = {256: [width], 257: [height], 258: [bits] * samples, 259: [1], 262: [photometric],
            273: [8], 277: [samples], 278: [height], 279: [strip], 339: [sample_format] * samples}
    if extra:
        tags[338] = list(extra)
    ifd = 8 + strip + strip % 2
    tail = ifd + 2 + 12 * len(tags) + 4
    entries, values = b"", b""
    for tag, numbers in sorted(tags.items()):
        kind, code = (4, "I") if tag in (256, 257, 273, 278, 279) else (3, "H")
        packed = struct.pack(f"<{len(numbers)}{code}", *numbers)
        if len(packed) > 4:
            entries += struct.pack("<HHII", tag, kind, len(numbers), tail + len(values))
            values += packed
        else:
            entries += struct.pack("<HHI", tag, kind, len(numbers)) + packed.ljust(4, b"\0")
    return (b"II*\0" + struct.pack("<I", ifd) + bytes([0x55]) * (strip + strip % 2)
            + struct.pack("<H", len(tags)) + entries + b"\0\0\0\0" + values)


CASES = {  # files made beside in.png (12 × 9 grey) and folder.png (a folder), the arguments,
    # and what the message says
    "huge PNG": ({"huge.png": png(32000, 32000)}, "huge.png -o out.png", "truncated or corrupt"),
    "huge TIFF": ({"huge.tif": tiff(32000, 32000)}, "huge.tif -o out.tif", ""),
    "huge mask": ({"m.png": png(30000, 30000)}, "in.png --mask m.png -o out.png", ""),
    "RGB in two samples": ({"t.tif": tiff(4, 4, 2, photometric=2)}, "t.tif -o o.tif", "too few"),
    "70 samples": ({"t.tif": tiff(2, 2, 70, strip=280)}, "t.tif -o o.tif", "samples per pixel"),
    "12-bit TIFF": ({"t.tif": tiff(4, 4, bits=12)}, "t.tif -o o.tif", "12-bit"),
    "signed TIFF": ({"t.tif": tiff(4, 4, bits=16, sample_format=2)}, "t.tif -o o.tif", "signed"),
    "mask with two extras": ({"m.tif": tiff(12, 9, 3, extra=[2, 0], strip=324)},
                            "in.png --mask m.tif -o out.png", "extra"),
    "float mask": ({"m.tif": tiff(12, 9, bits=32, sample_format=3, strip=432)},
                   "in.png --mask m.tif -o out.png", "32-bit"),
    "input is a folder": ({}, "folder.png -o out.png", "folder"),
    "output is a folder": ({}, "in.png -o folder.png", "folder"),
    "mask is a folder": ({}, "in.png --mask folder.png -o out.png", "folder"),
    "output cannot be written": ({}, "in.png -o /proc/areafill-cannot-write.png", ""),
    "recording into a folder": ({}, "in.png --method mean --record folder.png -o out.png", ""),
}


@pytest.mark.parametrize("files, args, says", CASES.values(), ids=CASES.keys())
def test_refused_in_one_line_with_bounded_memory_and_nothing_changed(tmp_path, files, args, says):
    assert os.environ.get("AREAFILL_CLI"), "ctest sets AREAFILL_CLI to the areafill program"
    program = Program(tmp_path)
    (tmp_path / "prefs").mkdir()
    (tmp_path / "folder.png").mkdir()
    (tmp_path / "in.png").write_bytes(png(12, 9, rows=9))
    for name, data in files.items():
        (tmp_path / name).write_bytes(data)

    def snapshot():
        return {p.name: p.read_bytes() if p.is_file() else None for p in tmp_path.iterdir()}
    before = snapshot()
    status, err, peak_kib = program.measured(*args.split(), "-q")
    assert status == 1, err
    assert err.startswith("areafill: ") and err.count("\n") == 1 and says in err, err
    assert peak_kib < 200 * 1024, f"{peak_kib} KiB"
    assert snapshot() == before, "the run left, changed or removed a file"
    # A refusal after the filter ran (an output that cannot be made) leaves the preferences.
    assert set(os.listdir(tmp_path / "prefs")) <= {"ZELKpref"}, "scratch file left"
