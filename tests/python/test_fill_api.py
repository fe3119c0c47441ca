"""The Python face of areafill.fill: argument checks and their messages, arrays left as they
were, progress and cancel, the GIL released, threads, and the Preferences folder."""

import os
import signal
import threading
import time

import numpy as np
import pytest

import areafill
from image_files import disc_mask, pattern

IMAGE = pattern(10, 12, 3, np.uint8)
MASK = disc_mask(10, 12)


DTYPES = "image: expected uint8, uint16 or float32 samples, got "


@pytest.mark.parametrize("kwargs, message", [
    ({"image": IMAGE.astype(np.float64)}, DTYPES + "float64"),
    ({"image": IMAGE.astype(np.int16)}, DTYPES + "int16"),
    ({"image": IMAGE.astype(">u2")}, DTYPES + ">u2"),
    ({"image": IMAGE.tolist()}, "image: expected a NumPy array, got list"),
    ({"image": IMAGE[None]}, "image: expected an HxW or HxWxC array, got 4 dimensions"),
    ({"image": IMAGE[0, :, 0]}, "image: expected an HxW or HxWxC array, got 1 dimensions"),
    ({"image": np.zeros((4, 4, 5), np.uint8)},
     "image: expected 1, 2, 3 or 4 channels (grey, grey+alpha, RGB, RGBA), got 5"),
    ({"image": np.zeros((0, 4), np.uint8)}, "image: image has no pixels (it is 4x0)"),
    ({"image": np.zeros((1, 32768), np.uint8)},
     "image: image is 32768 pixels wide; the largest supported is 32767"),
    ({"mask": MASK[:, :11]}, "mask: mask is 11x10 but the image is 12x10"),
    ({"mask": MASK[:, :, None]}, "mask: expected an HxW array, got 3 dimensions"),
    ({"mask": MASK.astype(np.float32)}, "mask: expected uint8 or bool samples, got float32"),
    ({"mask": np.zeros_like(MASK)}, "mask: selection is empty"),
    ({"method": "blur"}, "method: unknown method 'blur' (see areafill.METHODS)"),
    ({"fg": (0, 0, 2**70)}, 'fg: expected a colour like (26, 43, 60) or "#1a2b3c", got (0, 0, 1180591620717411303424)'),
    ({"bg": "#fffff"}, 'bg: expected a colour like (26, 43, 60) or "#1a2b3c", got \'#fffff\''),
    ({"bg": (1, 2)}, 'bg: expected a colour like (26, 43, 60) or "#1a2b3c", got (1, 2)'),
    ({"progress": 3}, "progress: expected a callable(done, total), got 3"),
])
def test_bad_arguments_raise_value_error_with_the_programs_words(kwargs, message):
    arguments = {"image": IMAGE, "mask": MASK, **kwargs}
    with pytest.raises(ValueError) as raised:
        areafill.fill(**arguments)
    assert str(raised.value) == message


def test_prefs_that_is_a_file_is_refused(tmp_path):
    (tmp_path / "file").write_text("")
    with pytest.raises(ValueError, match=r"^prefs: .*/file is not a folder$"):
        areafill.fill(IMAGE, MASK, prefs=tmp_path / "file")


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16, np.float32])
def test_input_arrays_are_left_as_they_were(dtype):
    image = pattern(10, 12, 4, dtype)
    mask = MASK.astype(bool)
    image_before, mask_before = image.copy(), mask.copy()
    with np.testing.suppress_warnings() as quiet:
        quiet.filter(RuntimeWarning)
        out = areafill.fill(image, mask)
    np.testing.assert_array_equal(image, image_before)
    np.testing.assert_array_equal(mask, mask_before)
    assert not np.shares_memory(out, image)


def test_views_and_bool_masks_give_the_same_pixels_as_packed_arrays():
    big = pattern(20, 24, 3, np.uint16)
    view = big[::2, ::2]  # not contiguous
    packed = np.ascontiguousarray(view)
    expected = areafill.fill(packed, MASK)
    np.testing.assert_array_equal(areafill.fill(view, MASK), expected)
    bool_mask = MASK >= 128
    byte_mask = np.where(bool_mask, 255, 0).astype(np.uint8)
    np.testing.assert_array_equal(areafill.fill(packed, bool_mask, raw=True),
                                  areafill.fill(packed, byte_mask, raw=True))


def test_progress_reports_and_cancels():
    calls = []

    def progress(done, total):
        calls.append((done, total))
        return len(calls) == 3

    with pytest.raises(areafill.Cancelled) as raised:
        areafill.fill(IMAGE, MASK, progress=progress)
    assert isinstance(raised.value, KeyboardInterrupt)
    assert not isinstance(raised.value, Exception)
    assert len(calls) == 3  # nothing is reported once cancelled
    assert all(0 <= done <= total for done, total in calls)

    # The next run starts clean and reports its way through to the end.
    calls.clear()
    areafill.fill(IMAGE, MASK, progress=lambda done, total: calls.append((done, total)))
    assert all(0 <= done <= total for done, total in calls)
    assert calls[-1][0] / calls[-1][1] > 0.9


def test_an_exception_in_progress_ends_the_run_and_is_raised():
    def progress(done, total):
        raise LookupError("from progress")

    with pytest.raises(LookupError, match="from progress"):
        areafill.fill(IMAGE, MASK, progress=progress)


def test_ctrl_c_ends_a_long_fill_with_keyboard_interrupt():
    image = pattern(3000, 3000, 3, np.uint16)
    mask = np.zeros((3000, 3000), np.uint8)
    mask[40:2960, 40:2960] = 255
    sender = threading.Timer(0.05, os.kill, (os.getpid(), signal.SIGINT))
    start = time.monotonic()
    sender.start()
    with pytest.raises(KeyboardInterrupt) as raised:
        try:
            areafill.fill(image, mask)
        finally:
            sender.join()
    assert not isinstance(raised.value, areafill.Cancelled)
    assert time.monotonic() - start < 5


def test_other_threads_run_while_the_filter_works():
    # A hole that keeps the membrane fill busy for a while; without the GIL released the
    # other thread could not tick in the middle of the run.
    image = pattern(1500, 1500, 3, np.uint16)
    mask = np.zeros((1500, 1500), np.uint8)
    mask[50:1450, 50:1450] = 255
    ticks, stop = [], threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.001)

    ticker = threading.Thread(target=tick)
    ticker.start()
    try:
        start = time.monotonic()
        areafill.fill(image, mask)
        end = time.monotonic()
    finally:
        stop.set()
        ticker.join()
    middle = [t for t in ticks if start + 0.25 * (end - start) < t < end - 0.25 * (end - start)]
    assert end - start > 0.05, "the run is too short to tell"
    assert len(middle) >= 5


def test_fills_in_threads_give_the_results_of_fills_one_after_another():
    images = [pattern(16, 14, c, np.uint16) for c in (1, 2, 3, 4)]
    mask = disc_mask(16, 14)
    expected = [areafill.fill(image, mask) for image in images]
    results = [None] * len(images)

    def work(i):
        results[i] = areafill.fill(images[i], mask)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(images))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got, want in zip(results, expected):
        np.testing.assert_array_equal(got, want)


def test_prefs_folder_is_made_and_used(tmp_path):
    folder = tmp_path / "made" / "here"
    areafill.fill(IMAGE, MASK, prefs=folder)
    assert (folder / "ZELKpref").is_file()
    assert sorted(p.name for p in folder.iterdir()) == ["ZELKpref"]  # no scratch file left
