"""The Python face of areafill.fill: its signature, argument checks and their messages, the
Preferences folder, arrays left as they were, float images and 0/1 masks, progress and cancel,
other threads and Ctrl-C during a fill, and fills in threads."""
import inspect
import os
import signal
import threading
from concurrent.futures import ThreadPoolExecutor
import time
import warnings

import numpy as np
import pytest

import areafill
from samples import disc_mask, pattern

IMAGE, MASK = pattern(10, 12, 3, np.uint8), disc_mask(10, 12)
DTYPES = "image: expected uint8, uint16, float32 or float64 samples, got "
COLOUR = 'a colour like (26, 43, 60) or "#1a2b3c"'


@pytest.mark.parametrize("kwargs, message", [
    ({"image": IMAGE.astype(np.int32)}, DTYPES + "int32"),
    ({"image": IMAGE.astype(">u2")}, DTYPES + ">u2"),
    ({"image": IMAGE.tolist()}, "image: expected a NumPy array, got list"),
    ({"image": IMAGE[None]}, "image: expected an HxW or HxWxC array, got 4 dimensions"),
    ({"image": np.zeros((4, 4, 5), np.uint8)},
     "image: expected 1, 2, 3 or 4 channels (grey, grey+alpha, RGB, RGBA), got 5"),
    ({"image": np.zeros((0, 4), np.uint8)}, "image: image has no pixels (it is 4x0)"),
    ({"mask": MASK[:, :11]}, "mask: the mask is 10x11 (HxW) but the image is 10x12"),
    ({"float_mode": "keep"}, 'float_mode: expected "fill" or "pass", got \'keep\''),
    ({"mask": MASK.astype(np.float32)}, "mask: expected uint8 or bool samples, got float32"),
    ({"mask": np.zeros_like(MASK)}, "mask: selection is empty"),
    ({"method": "blur"}, "method: unknown method 'blur' (see areafill.METHODS)"),
    ({"fg": (0, 0, 2**70)}, f"fg: expected {COLOUR}, got (0, 0, {2**70})"),
    ({"fg": (0, 256, 0)}, f"fg: expected {COLOUR}, got (0, 256, 0)"),
    ({"bg": "#fffff"}, f"bg: expected {COLOUR}, got '#fffff'"),
    ({"progress": 3}, "progress: expected a callable(done, total), got 3"),
])
def test_bad_arguments_raise_value_error_with_the_programs_words(kwargs, message):
    assert list(inspect.signature(areafill.fill).parameters)[-1] == "float_mode"
    with pytest.raises(ValueError) as raised:
        areafill.fill(**{"image": IMAGE, "mask": MASK, **kwargs})
    assert str(raised.value) == message


def test_a_prefs_that_is_a_file_is_refused_and_a_new_one_is_made(tmp_path):
    (tmp_path / "file").write_text("")
    with pytest.raises(ValueError, match=r"^prefs: .*/file is not a folder$"):
        areafill.fill(IMAGE, MASK, prefs=tmp_path / "file")
    areafill.fill(IMAGE, MASK, prefs=tmp_path / "made" / "here")
    assert os.listdir(tmp_path / "made" / "here") == ["ZELKpref"]  # no scratch file left


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
@pytest.mark.parametrize("dtype", [np.uint8, np.uint16, np.float32])
def test_arrays_are_left_as_they_were_and_views_and_bool_masks_are_taken(dtype):
    big = pattern(20, 24, 4, dtype)
    image, mask = big[::2, ::2], MASK >= 128  # a view that is not contiguous, a bool mask
    before = big.copy()
    out = areafill.fill(image, mask, raw=True)
    assert (big == before).all() and (mask == (MASK >= 128)).all()
    assert not np.shares_memory(out, big)
    packed, bytes_mask = np.ascontiguousarray(image), np.where(mask, 255, 0).astype(np.uint8)
    np.testing.assert_array_equal(out, areafill.fill(packed, bytes_mask, raw=True))


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_float_images_are_filled_and_keep_every_other_sample_exact(dtype):
    image = pattern(10, 12, 4, dtype) * dtype(3.7)  # HDR values above 1
    image[..., 3] = np.linspace(0, 1, 120, dtype=dtype).reshape(10, 12)  # alpha, kept exactly
    out = areafill.fill(image, MASK >= 128)
    assert out.dtype == dtype and (out[..., 3] == image[..., 3]).all()
    assert (out[MASK < 128] == image[MASK < 128]).all() and (out != image).any()
    assert out[..., :3].max() <= image[..., :3].max() * (1 + 1e-6)
    with pytest.warns(RuntimeWarning, match="no fill"):
        assert (areafill.fill(image, MASK >= 128, float_mode="pass") == image).all()


def test_a_mask_of_zeros_and_ones_selects_as_zeros_and_255s():
    with pytest.warns(RuntimeWarning, match="only 0 and 1"):
        ones = areafill.fill(IMAGE, (MASK >= 128).astype(np.uint8))
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a bool mask is no 0/1 byte mask: True is 255
        np.testing.assert_array_equal(ones, areafill.fill(IMAGE, MASK >= 128))


def test_progress_is_one_steady_count_cancels_on_true_and_passes_on_its_exception():
    calls = []
    with pytest.raises(areafill.Cancelled) as raised:
        areafill.fill(IMAGE, MASK, progress=lambda *done: calls.append(done) or len(calls) == 3)
    assert isinstance(raised.value, KeyboardInterrupt) and not isinstance(raised.value, Exception)
    assert len(calls) == 3  # nothing is reported once cancelled
    calls.clear()  # the next run starts clean and reports its way through to the end
    areafill.fill(pattern(40, 30, 3, np.uint8), disc_mask(40, 30),
                  progress=lambda *done: calls.append(done))
    done = [d for d, _ in calls]
    assert {t for _, t in calls} == {calls[-1][1]} and calls[-1] == (calls[-1][1],) * 2
    assert done == sorted(done) and len(set(done)) == len(done) > 10

    def fail(done, total):
        raise LookupError("from progress")

    with pytest.raises(LookupError, match="from progress"):
        areafill.fill(IMAGE, MASK, progress=fail)
    with pytest.raises(TypeError, match="return True to cancel.*got 'no'"):
        areafill.fill(IMAGE, MASK, progress=lambda done, total: "no")


def test_other_threads_run_during_a_fill_and_ctrl_c_ends_it():
    # The fill's progress goes to dict.__setitem__, which runs no Python code: the other thread
    # and the signal are served while the fill itself runs.
    reported = {}

    def tick_then_interrupt():
        while len(reported) < 3:
            time.sleep(0.001)
        for _ in range(20):
            time.sleep(0.001)
        os.kill(os.getpid(), signal.SIGINT)

    thread = threading.Thread(target=tick_then_interrupt)
    thread.start()
    with pytest.raises(KeyboardInterrupt) as raised:
        areafill.fill(pattern(1600, 1600, 3, np.uint16),
                      np.pad(np.full((1500, 1500), 255, np.uint8), 50),
                      progress=reported.__setitem__)
    thread.join()
    assert not isinstance(raised.value, areafill.Cancelled)
    assert max(reported) < max(reported.values()) / 2  # stopped long before the end


def test_fills_in_threads_give_the_results_of_fills_one_after_another():
    images, mask = [pattern(16, 14, c, np.uint16) for c in (1, 2, 3, 4)], disc_mask(16, 14)
    with ThreadPoolExecutor(4) as pool:
        results = list(pool.map(lambda image: areafill.fill(image, mask), images))
    for got, image in zip(results, images):
        np.testing.assert_array_equal(got, areafill.fill(image, mask))
