"""Writes the golden cases' input images (run once; the files are committed). Smooth
gradients with a seeded grain, a disc selection with a soft edge, and a transparent hole."""
import numpy as np
import tifffile

import areafill

H, W = 40, 56
rng = np.random.default_rng(20261206)
y, x = np.mgrid[0:H, 0:W]
base = (x / W * 0.7 + y / H * 0.3)[..., None] * np.array([1.0, 0.8, 0.5]) + 0.1
picture = np.clip(base + rng.normal(0, 0.03, (H, W, 3)), 0, 1)
d = np.hypot(x - 30.5, y - 19.5)
mask = np.clip((12 - d) * 64, 0, 255).astype(np.uint8)  # a disc with a soft rim


def scaled(a, bits):
    return np.round(a * (2**bits - 1)).astype(np.uint8 if bits == 8 else np.uint16)


def tiff(name, data, photometric, **kw):
    tifffile.imwrite(f"inputs/{name}", data, photometric=photometric, **kw)


areafill.write_image("inputs/grey8.png", scaled(picture[..., 0], 8))
areafill.write_image("inputs/rgb16.png", scaled(picture, 16))
rgba = scaled(np.dstack([picture, np.ones((H, W))]), 8)
rgba[d < 9, 3] = 0  # transparency as the selection
areafill.write_image("inputs/rgba8.png", rgba)
areafill.write_image("inputs/mask.png", mask)
tiff("grey16.tif", scaled(picture[..., 1], 16), "minisblack", compression="zlib")
tiff("cmyk8.tif", scaled(np.dstack([1 - picture, picture[..., :1] * 0.2]), 8), "separated")
lab = np.dstack([picture[..., 0] * 65535, (picture[..., 1] - 0.5) * 20000,
                 (picture[..., 2] - 0.5) * 20000]).astype(np.int32)
tiff("lab16.tif", lab.astype(np.uint16), "cielab")
tiff("rgb8-extras.tif", scaled(np.dstack([picture, picture[..., :2]]), 8), "rgb",
     extrasamples=[2, 0])
