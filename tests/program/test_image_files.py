"""The image files through the program, run with the stand-in module, which changes nothing:
files from other writers (tifffile, and PNG written here) come back as they were in every model,
depth and layout (predictor, tiles, planes, byte order, interlace), with their compression and
extra channels; damaged and unsupported files are refused in one line; 16-bit masks; and an
output replaced only when whole."""
import io
import os
import resource
import shutil
import signal
import struct
import zlib

import numpy as np
import pytest
import tifffile

from samples import pattern, png

def tiff(width, height, strip_bytes):
    """A little-endian 8-bit grey TIFF of one strip of `strip_bytes` bytes."""
    entries = [(256, 4, width), (257, 4, height), (258, 3, 8), (259, 3, 1), (262, 3, 1),
               (273, 4, 122), (277, 3, 1), (278, 4, height), (279, 4, strip_bytes)]
    return (b"II*\0\x08\0\0\0\x09\0" + b"".join(struct.pack("<HHII", t, k, 1, v) for t, k, v in entries)
            + b"\0\0\0\0" + b"\x55" * strip_bytes)


def copy(program, name, output):
    shutil.copy(os.environ["AREAFILL_PROBE_MODULE"], program.folder / "probe.so")
    done = program(name, "-o", output, "--plugin", "probe.so", "-q")
    assert done.returncode == 0, done.stderr


@pytest.mark.parametrize("dtype, channels, interlaced", [
    (np.uint8, 1, False), (np.uint16, 2, False), (np.uint8, 3, True), (np.uint16, 4, True)])
def test_png_files_come_back_as_they_were(program, dtype, channels, interlaced):
    image = pattern(23, 37, channels, dtype)  # odd sizes: partial passes, strips and tiles
    (program.folder / "in.png").write_bytes(png(image, interlaced))
    copy(program, "in.png", "out.PNG")
    assert (program.folder / "out.PNG").read_bytes()[28] == interlaced  # IHDR's interlace
    copy(program, "out.PNG", "out.tif")  # deflate-compressed, alpha as unassociated alpha
    page = tifffile.TiffFile(program.folder / "out.tif").pages[0]
    assert page.compression == 8 and list(page.extrasamples) == [2] * (1 - channels % 2)
    assert (page.asarray() == image).all()
    assert sorted(os.listdir(program.folder)) == ["home", "in.png", "out.PNG", "out.tif", "prefs",
                                                  "probe.so"]


@pytest.mark.parametrize("dtype, channels, kinds", [  # kinds: tifffile's words for the layout
    (np.uint16, 1, dict(photometric="minisblack", compression="zlib", predictor=True, tile=(16, 16))),
    (np.uint8, 3, dict(photometric="rgb", compression="zlib", planarconfig="separate")),
    (np.float32, 3, dict(photometric="rgb", tile=(16, 16), byteorder=">")),
    (np.uint8, 4, dict(photometric="rgb", compression="zlib", planarconfig="separate",
                       tile=(16, 16), extrasamples=[2])),
    (np.uint16, 5, dict(photometric="separated", planarconfig="separate", extrasamples=[2])),
    (np.uint8, 3, dict(photometric="cielab")),
    (np.uint16, 3, dict(photometric="cielab", compression="zlib", tile=(16, 16))),
    (np.float32, 2, dict(photometric="minisblack", planarconfig="contig", extrasamples=[2])),
    (np.uint8, 1, dict(photometric="minisblack", compression="lzma"))])  # written as deflate
def test_tiff_files_come_back_as_they_were_with_their_compression(program, dtype, channels, kinds):
    image = pattern(23, 37, channels, dtype)
    separate = kinds.get("planarconfig") == "separate"
    tifffile.imwrite(program.folder / "in.tif", image.transpose(2, 0, 1) if separate else image,
                     **kinds)
    copy(program, "in.tif", "out.tif")
    page = tifffile.TiffFile(program.folder / "out.tif").pages[0]
    was = tifffile.TiffFile(program.folder / "in.tif").pages[0]
    assert (page.asarray() == (image.transpose(2, 0, 1) if separate else image)).all()
    assert (page.photometric, page.extrasamples) == (was.photometric, was.extrasamples)
    layout = lambda p: (p.predictor, p.planarconfig, p.tilewidth, p.tilelength, p.parent.byteorder)
    assert layout(page) == layout(was)
    assert page.compression == (8 if was.compression == 34925 else was.compression)


def tiff_of(image, **kinds):
    out = io.BytesIO()
    tifffile.imwrite(out, image, **kinds)
    return out.getvalue()


WHOLE, GREY = png(pattern(64, 64, 3, np.uint8)), np.zeros((4, 50), np.uint8)
WHOLE_TIFF = tiff_of(pattern(64, 64, 3, np.uint8), photometric="rgb", compression="zlib")


# (Huge sizes declared by small files, folders and layouts beyond the host's limits: in the
# reliability tests, which also bound the program's memory.)
@pytest.mark.parametrize("name, data, says", [  # data None: no file
    ("missing.png", None, "cannot open: No such file or directory"),
    ("empty.tif", b"", "file is empty"),
    ("text.png", b"hello", "not a PNG, TIFF or JPEG image"),
    ("half.png", WHOLE[:len(WHOLE) // 2], "file is truncated: the PNG data ends early"),
    ("short.png", png(GREY, header=(500, 500, 8, 0)), "the header declares 500x500 pixels"),
    ("half.tif", WHOLE_TIFF[:len(WHOLE_TIFF) // 2], "cannot read row "),
    ("floatcmyk.tif", tiff_of(np.zeros((2, 2, 4), np.float32), photometric="separated"),
     "32-bit float samples are supported for grey and RGB only"),
    ("wide.png", png(GREY, header=(40000, 1, 8, 0)), "image is 40000 pixels wide; the largest"),
    ("none.png", png(GREY, header=(0, 5, 8, 0)), "image has no pixels (it is 0x5)"),
    ("none.tif", tiff(0, 5, 0), "image has no pixels (it is 0x5)"),
    ("tall.tif", tiff(1, 40000, 40000), "image is 40000 pixels tall; the largest supported is 32767")])

def test_damaged_and_unsupported_files_are_refused_in_one_line(program, name, data, says):
    if data is not None:
        (program.folder / name).write_bytes(data)
    done = program(name, "-o", "out.tif")
    assert done.returncode == 1 and done.stderr.startswith(f"areafill: {name}: {says}"), done.stderr
    assert done.stderr.count(name) == 1 and done.stderr.count("\n") == 1, done.stderr


def test_a_sixteen_bit_mask_selects_by_its_high_byte(program):
    program.write("in.tif", pattern(2, 3, 1, np.uint8))
    program.write("mask16.tif", np.array([[0x00FF, 0x0100, 0], [0x8000, 0, 0x00FF]], np.uint16))
    done = program("in.tif", "-o", "out.tif", "--mask", "mask16.tif", "--method", "white", "--raw")
    want = pattern(2, 3, 1, np.uint8)
    want[1, 0] = 255  # selected: a high byte of 128
    assert done.returncode == 0 and (program.read("out.tif") == want).all(), done.stderr


def test_an_output_is_replaced_whole_keeping_its_permissions_and_never_through_a_link(program):
    program.write("in.tif", pattern(256, 256, 1, np.uint8))
    for name in ("target", "kept.tif"):
        (program.folder / name).write_bytes(b"old")
    os.chmod(program.folder / "kept.tif", 0o444)
    os.symlink("target", program.folder / "link.tif")
    for name in ("link.tif", "kept.tif", "new.tif"):
        copy(program, "in.tif", name)
    assert not os.path.islink(program.folder / "link.tif")
    assert (program.folder / "target").read_bytes() == b"old"
    umask = os.umask(0)
    os.umask(umask)
    assert [os.stat(program.folder / n).st_mode & 0o777 for n in ("kept.tif", "new.tif")] == [
        0o444, 0o666 & ~umask]

    def small_files():  # a write that the file-size limit stops part way
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, resource.RLIM_INFINITY))
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

    before = {p.name: p.read_bytes() for p in program.folder.iterdir() if p.is_file()}
    done = program("in.tif", "-o", "kept.tif", "--plugin", "probe.so", "-q",
                   preexec_fn=small_files)
    assert done.returncode == 1 and done.stderr.startswith("areafill: kept.tif: "), done.stderr
    assert {p.name: p.read_bytes() for p in program.folder.iterdir() if p.is_file()} == before
