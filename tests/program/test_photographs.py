"""A photograph's files through the program, grouped by kind: float images, masks as users make
them, inputs of every kind, orientation, and what the file carries besides its pixels. The corpus
is made here from examples/ladybird.png, with ImageMagick, libtiff's tools and exiftool writing
and judging the files."""
import json
import subprocess
from pathlib import Path

import numpy as np
import pytest
import tifffile

from conftest import block
from samples import pattern

LADYBIRD = Path(__file__).resolve().parents[2] / "examples" / "ladybird.png"
WARNING = "areafill: warning: "


def tool(*args, cwd=None):
    """Runs an independent tool; returns its stdout as bytes."""
    done = subprocess.run([str(a) for a in args], capture_output=True, timeout=120, cwd=cwd)
    assert done.returncode == 0, done.stderr
    return done.stdout


def pixels(folder, name, channels):
    """The 8-bit samples of a file as ImageMagick decodes them: 80x96xchannels."""
    raw = tool("convert", name, "-depth", "8", ("gray:-", None, "rgb:-")[channels - 1], cwd=folder)
    return np.frombuffer(raw, np.uint8).reshape(80, 96, channels)


@pytest.fixture
def photo(program):
    """The program, with a 96x80 piece of the ladybird (c.png) and its hard mask (m.png)."""
    for name, source in (("c.png", LADYBIRD), ("m.png", LADYBIRD.with_name("ladybird-mask.png"))):
        tool("convert", source, "-crop", "96x80+400+165", "+repage", "-strip",
             *(["-threshold", "50%"] if name == "m.png" else []), name, cwd=program.folder)
    return program


def run(program, *args):
    done = program(*args, "--method", "white", "-q")
    assert done.returncode == 0, done.stderr
    return done.stderr


# Float images: filled on the 16-bit scale with s = the largest colour sample of the filter
# area, so HDR values survive; --float pass leaves them unfilled, and says so under --quiet.
def test_float_images_are_filled_keeping_hdr_values_unless_passed(program):
    image = pattern(9, 12, 4, np.float32) * np.array([4, 2, 1, 1], np.float32)
    s = image[2:7, 3:10, :3].max()
    said, out = program.fill(image, block(), "--method", "white", "-q", kind="rgba")
    want = image.copy()
    want[2:7, 3:10, :3] = s  # white is 32768 on the 16-bit scale: s itself
    assert said == "" and s > 1 and (out == want).all()
    said, out = program.fill(image, block(), "--method", "white", "-q", "--float", "pass",
                             kind="rgba")
    assert said == WARNING + "32-bit float image written back unfilled (--float pass)\n"
    assert (out == image).all()


# Masks as users make them: each form of the same selection fills the same pixels.
MASKS = {  # name: the command that makes it from m.png (0 and 255), or None for numpy
    "m1.png": ["convert", "m.png", "-depth", "1", "m1.png"],
    "m2.png": ["convert", "m.png", "-depth", "2", "m2.png"],
    "m16.tif": ["convert", "m.png", "-depth", "16", "m16.tif"],
    "palette.png": ["convert", "m.png", "PNG8:palette.png"],
    "rgb.png": ["convert", "m.png", "-type", "TrueColor", "PNG24:rgb.png"],
    "group4.tif": ["convert", "m.png", "-compress", "Group4", "group4.tif"],  # min-is-white
    "paint.png": ["convert", "m.png", "-alpha", "copy", "-fill", "red", "-colorize", "100",
                  "PNG32:paint.png"],  # red paint where selected, clear elsewhere
    "ones.tif": None}


@pytest.mark.parametrize("name", MASKS)
def test_masks_in_every_form_select_the_same_pixels(photo, name):
    if MASKS[name]:
        tool(*MASKS[name], cwd=photo.folder)
    else:
        photo.write(name, pixels(photo.folder, "m.png", 1)[..., 0] // 255)
    said = run(photo, "c.png", "-o", "want.tif", "--mask", "m.png")
    assert said == ""
    said = run(photo, "c.png", "-o", "got.tif", "--mask", name)
    assert (photo.read("got.tif") == photo.read("want.tif")).all()
    assert said == (WARNING + "ones.tif: the mask holds only 0 and 1; taken as 0 and 255\n"
                    if name == "ones.tif" else "")


# Inputs of every kind: palette, low-bit and min-is-white grey and YCbCr JPEG-in-TIFF are read
# as 8-bit grey or RGB (as ImageMagick decodes them) and written so, with a warning.
INPUTS = {  # name: the commands that make it from c.png, its channels, the warning's words
    "palette.png": ([["convert", "c.png", "PNG8:palette.png"]], 3, "palette image read as 8-bit RGB"),
    "grey4.png": ([["convert", "c.png", "-colorspace", "Gray", "-depth", "4", "grey4.png"]], 1,
                  "4-bit grey image read as 8-bit grey"),
    "palette.tif": ([["convert", "c.png", "-type", "Palette", "palette.tif"]], 3,
                    "palette image read as 8-bit RGB"),
    "white.tif": ([["convert", "c.png", "-colorspace", "Gray", "-depth", "1", "-compress",
                    "Group4", "white.tif"]], 1, "1-bit min-is-white grey image read as 8-bit grey"),
    "ycbcr.tif": ([["convert", "c.png", "-compress", "none", "rgb.tif"],
                   ["tiffcp", "-c", "jpeg", "-r", "16", "rgb.tif", "ycbcr.tif"]], 3,
                  "YCbCr JPEG-compressed image read as RGB")}


@pytest.mark.parametrize("name", INPUTS)
def test_inputs_of_every_kind_are_read_as_8_bit_grey_or_rgb(photo, name):
    commands, channels, words = INPUTS[name]
    for command in commands:
        tool(*command, cwd=photo.folder)
    output = "out" + name[-4:]
    said = run(photo, name, "-o", output, "--mask", "m.png")
    assert said.startswith(f"{WARNING}{name}: {words}"), said
    out = pixels(photo.folder, output, channels)
    want, selected = pixels(photo.folder, name, channels), pixels(photo.folder, "m.png", 1) > 0
    error = np.abs(out.astype(int) - want)[~selected[..., 0]]
    assert error.max() <= (2 if name == "ycbcr.tif" else 0)  # JPEG decoders may round apart
    assert (out[selected[..., 0]] == 255).all()


# Orientation: the output keeps the stored layout and its tag; the mask covers the image as
# displayed, after its own tag, unless --mask-orientation stored.
def test_the_mask_covers_the_image_as_displayed_and_the_orientation_is_kept(photo):
    for command in (["c.png", "-orient", "RightTop", "o6.tif"], ["m.png", "-rotate", "90", "md.png"],
                    ["m.png", "-orient", "RightTop", "m6.tif"]):
        tool("convert", *command, cwd=photo.folder)
    run(photo, "c.png", "-o", "want.tif", "--mask", "m.png")
    for out, mask, *how in [("a.tif", "md.png"), ("b.tif", "m6.tif"),
                            ("c.tif", "m.png", "--mask-orientation", "stored")]:
        run(photo, "o6.tif", "-o", out, "--mask", mask, *how)
        assert (photo.read(out) == photo.read("want.tif")).all(), out
    assert b"Orientation: row 0 rhs, col 0 top" in tool("tiffinfo", "a.tif", cwd=photo.folder)
    done = photo("o6.tif", "-o", "d.tif", "--mask", "m.png", "--method", "white")
    assert "m.png: mask is 96x80 but the image as displayed (orientation 6) is 80x96" in done.stderr


# Metadata: what exiftool reads from the input, it reads from the output, within a format and
# across; what the output format cannot hold is named in a warning.
TAGS = ["ICC_Profile:ProfileDescription", "XMP-dc:Title", "IPTC:Keywords", "PNG:Author",
        "IFD0:Artist", "IFD0:ImageDescription", "IFD0:Orientation", "PNG:WhitePointX",
        "PNG:BackgroundColor", "IFD0:WhitePoint", "IFD0:XResolution", "IFD0:ResolutionUnit",
        "PNG-pHYs:PixelsPerUnitX", "ExifIFD:ExposureTime", "ExifIFD:ExifVersion"]


def tags(folder, name):
    found = tool("exiftool", "-j", "-n", "-G1", *[f"-{t}" for t in TAGS], name, cwd=folder)
    # libtiff keeps EXIF fractions as floats: 1/125 comes back as 0.00800000038.
    return {k: round(v, 6) if isinstance(v, float) else v
            for k, v in json.loads(found)[0].items() if k != "SourceFile"}


@pytest.mark.parametrize("source, output, lost", [
    ("in.png", "out.png", []), ("in.tif", "out.tif", []),
    ("in.png", "out.tif", ["the text date:create, date:modify cannot be carried into a TIFF",
                           "of the EXIF block only its EXIF directory and the orientation go "
                           "into a TIFF",
                           "the input's own bKGD cannot be carried into a TIFF"]),
    ("in.tif", "out.png", [])])
def test_metadata_is_carried_as_far_as_the_output_can_hold_it(photo, source, output, lost):
    icc = "/usr/share/color/icc/ghostscript/a98.icc"  # an Adobe RGB profile
    tool("convert", "c.png", "-profile", icc, "-density", "300", "-units", "PixelsPerInch",
         *(["-compress", "lzw"] if source == "in.tif" else []), source, cwd=photo.folder)
    tool("exiftool", "-q", "-overwrite_original", "-Artist=Ann", "-ImageDescription=A ladybird",
         "-XMP-dc:Title=Ladybird", "-IPTC:Keywords=beetle", "-Orientation#=8",
         "-ExposureTime=1/125", source, cwd=photo.folder)
    said = run(photo, source, "-o", output)
    assert said == "".join(f"{WARNING}{output}: {line}\n" for line in lost)
    want, got = tags(photo.folder, source), tags(photo.folder, output)
    if source[-3:] != output[-3:]:  # across formats: what both hold, the white point by value
        white = [float(str(t.get("PNG:WhitePointX", t.get("IFD0:WhitePoint"))).split()[0])
                 for t in (want, got)]
        assert abs(white[0] - white[1]) < 1e-4
        both = ["ICC_Profile:ProfileDescription", "XMP-dc:Title", "IFD0:Orientation",
                "IPTC:Keywords", "ExifIFD:ExposureTime"]
        want, got = ({k: tags[k] for k in both} for tags in (want, got))
    assert got == want and len(want) >= 3


# Pages and layout: the page asked for is filled, every other page is copied unchanged, and
# the file keeps its compression, predictor and strips, and about its size.
def test_one_page_is_filled_and_the_others_and_the_layout_are_kept(photo):
    tool("convert", "c.png", "(", "c.png", "-flip", ")", "(", "c.png", "-flop", ")", "-compress",
         "zip", "-define", "tiff:predictor=2", "in.tif", cwd=photo.folder)
    assert run(photo, "in.tif", "-o", "out.tif", "--mask", "m.png", "--page", "2") == ""
    was, got = (tifffile.TiffFile(photo.folder / n).pages for n in ("in.tif", "out.tif"))
    assert len(got) == 3 and (got[0].asarray() == was[0].asarray()).all()
    assert (got[2].asarray() == was[2].asarray()).all()
    selected = pixels(photo.folder, "m.png", 1)[..., 0] > 0
    assert (got[1].asarray()[~selected] == was[1].asarray()[~selected]).all()
    assert (got[1].asarray()[selected] == 255).all()
    assert [(p.compression, p.predictor, p.rowsperstrip) for p in got] == [
        (p.compression, p.predictor, p.rowsperstrip) for p in was]
    size = lambda n: (photo.folder / n).stat().st_size
    assert size("out.tif") < size("in.tif") * 1.05
    said = run(photo, "in.tif", "-o", "out.png", "--page", "3")
    assert said == (WARNING + "out.png: the input's other 2 page(s) cannot be carried into a PNG; "
                    "write a .tif to keep them\n")
    done = photo("in.tif", "-o", "out.tif", "--page", "4")
    assert done.returncode == 1 and "in.tif: has 3 pages; there is no page 4" in done.stderr
    with tifffile.TiffWriter(photo.folder / "sub.tif") as tiff:  # a thumbnail, a private tag
        tiff.write(got[1].asarray(), photometric="rgb", subifds=1,
                   extratags=[(65000, "s", 0, "ours", True), (33550, "d", 3, (0.5, 0.5, 0), True)])
        tiff.write(got[1].asarray()[::4, ::4], photometric="rgb", subfiletype=1)
    said = run(photo, "sub.tif", "-o", "out.tif")
    assert said == (WARNING + "sub.tif: 1 sub-image(s) of the page (thumbnails, previews) are kept "
                    "as they were in a TIFF output: they show the unfilled image\n")
    page = tifffile.TiffFile(photo.folder / "out.tif").pages[0]
    assert (page.pages[0].asarray() == got[1].asarray()[::4, ::4]).all()
    assert (page.tags[65000].value, page.tags[33550].value) == ("ours", (0.5, 0.5, 0))
