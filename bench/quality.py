"""Picture quality for the benchmarks: a careful reference thumbnail and luma PSNR against it.

The reference is a full-size float-DCT decode (djpeg -dct float), turned upright, each channel
resampled in float with PIL's Lanczos (Lanczos3) to the size asked.
"""
import io
import math
import subprocess

import numpy as np
from PIL import Image

# What turns a photo upright for each EXIF orientation.
UPRIGHT = {2: Image.Transpose.FLIP_LEFT_RIGHT, 3: Image.Transpose.ROTATE_180,
           4: Image.Transpose.FLIP_TOP_BOTTOM, 5: Image.Transpose.TRANSPOSE,
           6: Image.Transpose.ROTATE_270, 7: Image.Transpose.TRANSVERSE,
           8: Image.Transpose.ROTATE_90}


def luma(rgb):
    rgb = np.asarray(rgb).astype(np.float64)
    return 0.299 * rgb[..., 0] + 0.587 * rgb[..., 1] + 0.114 * rgb[..., 2]


def full_decode(path):
    """The photo at full size, upright, decoded with the float DCT."""
    ppm = subprocess.run(["djpeg", "-dct", "float", "-ppm", str(path)], check=True,
                         stdout=subprocess.PIPE).stdout
    full = Image.open(io.BytesIO(ppm))
    orientation = Image.open(path).getexif().get(0x0112, 1)
    if orientation in UPRIGHT:
        full = full.transpose(UPRIGHT[orientation])
    return full.convert("RGB")


def resample_float(full, size):
    """Each channel resampled in float with Lanczos3 to size (width, height); floats out."""
    channels = [np.asarray(channel.convert("F").resize(size, Image.LANCZOS))
                for channel in full.split()]
    return np.stack(channels, axis=-1)


def reference_rgb(path, size):
    """Full-size float-DCT decode, then a float Lanczos3 resample of each channel (floats)."""
    return resample_float(full_decode(path), size)


def psnr(ours, reference):
    mse = np.mean((np.asarray(ours, dtype=np.float64) - reference) ** 2)
    return math.inf if mse == 0 else 10 * math.log10(255.0 ** 2 / mse)


def after_q75(image):
    """The image through JPEG quality 75 (4:2:0), as a thumbnail file holds it."""
    buffer = io.BytesIO()
    image.save(buffer, "JPEG", quality=75)
    return Image.open(io.BytesIO(buffer.getvalue())).convert("RGB")


def rounded(reference_float):
    """The float reference as an 8-bit picture."""
    return Image.fromarray(np.clip(np.rint(reference_float), 0, 255).astype(np.uint8))
