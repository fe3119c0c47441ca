// The Python module's docstrings: what `help(areafill)` shows, with examples.
#pragma once

namespace areafill_py {

inline constexpr const char* kModuleDoc =
    R"doc(Fill the selected area of an image from the pixels around it.

areafill runs the areafill filter module -- the same areafill-filter.so as the
areafill command-line program, under the same host rules -- on NumPy arrays.
Its heart is the membrane fill: every selected pixel becomes an
inverse-distance-weighted mean of the nearest edge pixel in each of 32
directions, smoothed by eight 3x3 passes.

Example:
    >>> import numpy as np, areafill
    >>> image = np.full((64, 64, 3), 200, np.uint8)
    >>> image[:, 32:] = 40                      # a dark right half
    >>> mask = np.zeros((64, 64), bool)
    >>> mask[20:40, 20:44] = True               # the hole to fill
    >>> filled = areafill.fill(image, mask)     # a new array; image is unchanged
    >>> filled.shape, filled.dtype
    ((64, 64, 3), dtype('uint8'))

Threads: fill() releases the GIL while the filter runs, so other Python
threads go on meanwhile. Fills in several threads of one process run one after
another: they share the filter's Preferences folder and scratch files. For
parallel fills use several processes (for example a Dask cluster of
processes; see examples/dask_batch.py).
)doc";

inline constexpr const char* kFillDoc =
    R"doc(Fill the selected area of `image` and return the result as a new array of
the same shape and dtype. `image` itself is never modified.

Arguments:
    image: H x W or H x W x C array; C = 1 (grey), 2 (grey + alpha),
        3 (RGB) or 4 (RGBA), alpha last. Samples uint8 (0..255), uint16
        (0..65535), float32 or float64 (0..1, or above 1 for HDR). 16-bit
        samples are handed to the filter on its 0..32768 scale and come back
        exactly where the filter left them untouched. Float images are
        filled through the filter's 16-bit mode, scaled by the largest
        sample of the filter area (at least 1); every sample the fill leaves
        alone keeps its exact value, alpha included.
    mask: H x W uint8 or bool selection. bool: True is selected. uint8: a
        soft selection, 0 none to 255 full; the filter fills pixels of 128
        and more and the result is blended by the rest. A uint8 mask whose
        only values are 0 and 1 is taken as 0 and 255 (with a
        RuntimeWarning). The filter area is the bounding box of
        the nonzero pixels, and the result is blended with the original by
        the mask as an image editor masks filter output. None: the whole
        image is the filter area, filled from its outer ring of pixels;
        but when some pixel of an image with alpha is fully transparent,
        the filter takes the alpha as the selection, as it does for the
        command-line program.
    method: one of areafill.METHODS:
        "membrane"   a smooth surface stretched over the selection's edge
        "mean"       the mean colour of the selected area
        "foreground" the foreground colour fg
        "black", "white"
        "hblend"     horizontal blend from fg (left) to bg (right)
        "vblend"     vertical blend from fg (top) to bg (bottom)
    fg, bg: foreground and background colours, three integers 0..255.
    raw: write the filter's rows as they are, without masking by `mask`.
    progress: callable(done, total) called as the filter works, with one
        steady count: total stays the same for the run, done never goes
        back, and the last call of a run that ends well is (total, total).
        Return True to cancel the run (areafill.Cancelled is raised), None
        or False to go on; any other value raises TypeError. An exception
        it raises cancels the run and is raised again.
    prefs: the filter's Preferences folder (its preferences file, which
        remembers the last method, and any scratch files), made when
        missing. None: a private folder of this process, removed when it
        ends, so that nothing is written outside what you asked for.
    float_mode: "fill" (the default) fills float images as above; "pass"
        hands them to the filter as they are, which returns them unfilled
        (a RuntimeWarning says so).

Raises:
    ValueError: a bad argument, with the command-line program's message,
        for example "mask: selection is empty". Shapes are told as H x W.
    RuntimeError: the filter failed, for example
        "filter failed while running: out of memory (-108)".
    areafill.Cancelled: `progress` asked to cancel.
    KeyboardInterrupt: Ctrl-C during the run.

Example:
    >>> import numpy as np, areafill
    >>> image = np.zeros((32, 32), np.uint16)
    >>> image[:, 16:] = 60000
    >>> mask = np.zeros((32, 32), np.uint8)
    >>> mask[8:24, 8:24] = 255
    >>> out = areafill.fill(image, mask, method="membrane")
    >>> int(out[16, 4]), int(out[16, 28])       # outside the mask: unchanged
    (0, 60000)
    >>> 0 < int(out[16, 16]) < 60000            # inside: between the edges
    True
)doc";

inline constexpr const char* kCancelledDoc =
    R"doc(Raised when a fill is cancelled through its progress callback.

A subclass of KeyboardInterrupt, like Ctrl-C: `except Exception` does not catch it.

Example:
    >>> try:  # doctest: +SKIP
    ...     areafill.fill(image, mask, progress=lambda done, total: True)
    ... except areafill.Cancelled:
    ...     print("cancelled")
)doc";

inline constexpr const char* kReadImageDoc =
    R"doc(Read a PNG or TIFF file with the areafill program's own reader: grey or RGB,
8 or 16 bits (uint8, uint16) or 32-bit float TIFF (float32), with at most one
alpha channel. Returns H x W for grey, else H x W x C. Palette and 1-, 2- and
4-bit images come as 8-bit grey or RGB (a RuntimeWarning says so). `page`
picks the image of a multi-page TIFF.

With info=True returns (array, info): info is a dict of what the file holds
besides its pixels (format, source, page, pages, compression, interlaced,
orientation 1..8, icc, exif, xmp, iptc as bytes, resolution as (x, y, unit),
text as (keyword, text) pairs, chunks as (name, bytes) pairs), for
write_image(..., info=info) to write back. The array is as stored; orientation
says how it is shown.

Raises OSError when the file cannot be read, ValueError for CMYK, Lab or
more than one extra channel.

Example:
    >>> image = areafill.read_image("scan.tif")  # doctest: +SKIP
)doc";

inline constexpr const char* kWriteImageDoc =
    R"doc(Write an image array (as fill() takes them) to a PNG or TIFF file, the format
chosen by the extension (.png, .tif, .tiff), with the areafill program's own
writer. The file is written beside `path` and renamed onto it, so a reader
never sees half a file. PNG cannot hold float32. `info` (as read_image(...,
info=True) returns it) is written too, as far as the format holds it: the
profile, resolution, orientation, EXIF, XMP, IPTC and text; written as the
format it came from, also its own chunks, its layout and a TIFF's other pages.

Raises ValueError for an array or name the format cannot take, OSError when
the file cannot be written.

Example:
    >>> areafill.write_image("scan-filled.tif", areafill.fill(image, mask))  # doctest: +SKIP
)doc";

inline constexpr const char* kReadMaskDoc =
    R"doc(Read a selection mask for an image of `shape` (height, width, ...), as the
areafill program reads --mask: grey at 1 to 16 bits, palette greys, RGB with
R = G = B, or transparency (selected where painted); a mask of 0 and 1 is
taken as 0 and 255 (a RuntimeWarning says so). The mask covers the image as
displayed under `orientation` (its info's) after the mask's own orientation,
and comes back in the image's stored layout, H x W uint8; stored=True takes
it as stored.

Raises ValueError when the file is not a usable mask or is another size.
)doc";

inline constexpr const char* kFilterModulePathDoc =
    R"doc(The path of the filter module (areafill-filter.so) that fill() runs, loading
it if it is not loaded yet. Raises RuntimeError when it cannot be loaded.
)doc";

}  // namespace areafill_py
