#!/usr/bin/python3
"""Colour benchmark: how close thumbnails of photos tagged with a wide-gamut ICC profile come to
the truth, as a colour-managed viewer shows them, for quorvane-thumb, vipsthumbnail and
ImageMagick; and what the tagged photos cost quorvane-thumb in time. Run through bench/colour.sh,
which installs the tools, builds in Release and makes the Display P3 profile first.

Each photo is copied four times by ImageMagick at quality 95: with no profile (its sRGB pixels)
and converted to Adobe RGB (1998), ProPhoto RGB and Display P3 with that profile embedded. The
reference for a copy is its full float-DCT decode converted to sRGB through its profile (Little
CMS, relative colorimetric), resampled in float with Lanczos3 to the thumbnail's size, rounded
and put through JPEG q75. A thumbnail is converted to sRGB through its own profile if it carries
one, else taken as sRGB; the two are compared pixel by pixel with CIEDE2000.
"""
import argparse
import io
import pathlib
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image, ImageCms

from quality import after_q75, full_decode, resample_float, rounded

COLORD = pathlib.Path("/usr/share/color/icc/colord")
SETS = {"untagged": None, "Adobe RGB": COLORD / "AdobeRGB1998.icc",
        "ProPhoto": COLORD / "ProPhotoRGB.icc", "Display P3": None}  # P3 given by --p3
TOOLS = ["ours", "vips", "IM"]
SRGB = ImageCms.createProfile("sRGB")
RELATIVE = 1  # relative colorimetric intent
BLACK_POINT_COMPENSATION = 0x2000  # cmsFLAGS_BLACKPOINTCOMPENSATION


def to_srgb(image, icc):
    """The image's pixels in sRGB: converted through its ICC profile (bytes), if it has one."""
    image = image.convert("RGB")
    if not icc:
        return image
    source = ImageCms.ImageCmsProfile(io.BytesIO(icc))
    return ImageCms.profileToProfile(image, source, SRGB, renderingIntent=RELATIVE,
                                     flags=BLACK_POINT_COMPENSATION)


def lab(rgb8):
    """CIELAB (D65 white) of 8-bit sRGB pixels: sRGB curve -> linear -> XYZ D65 -> Lab."""
    c = np.asarray(rgb8, dtype=np.float64) / 255
    linear = np.where(c <= 0.04045, c / 12.92, ((c + 0.055) / 1.055) ** 2.4)
    matrix = np.array([[0.4124564, 0.3575761, 0.1804375], [0.2126729, 0.7151522, 0.0721750],
                       [0.0193339, 0.1191920, 0.9503041]])
    t = linear @ matrix.T / matrix.sum(axis=1)  # relative to the white, (1, 1, 1) in RGB
    f = np.where(t > (6 / 29) ** 3, np.cbrt(t), t / (3 * (6 / 29) ** 2) + 4 / 29)
    return np.stack([116 * f[..., 1] - 16, 500 * (f[..., 0] - f[..., 1]),
                     200 * (f[..., 1] - f[..., 2])], axis=-1)


def ciede2000(lab1, lab2):
    """CIEDE2000 colour difference of each pair of pixels (kL = kC = kH = 1)."""
    (L1, a1, b1), (L2, a2, b2) = np.moveaxis(lab1, -1, 0), np.moveaxis(lab2, -1, 0)
    c7 = ((np.hypot(a1, b1) + np.hypot(a2, b2)) / 2) ** 7
    g = 0.5 * (1 - np.sqrt(c7 / (c7 + 25.0 ** 7)))
    a1, a2 = a1 * (1 + g), a2 * (1 + g)
    C1, C2 = np.hypot(a1, b1), np.hypot(a2, b2)
    h1, h2 = np.degrees(np.arctan2(b1, a1)) % 360, np.degrees(np.arctan2(b2, a2)) % 360
    grey = C1 * C2 == 0
    dh = h2 - h1
    dh = np.where(grey, 0, np.where(dh > 180, dh - 360, np.where(dh < -180, dh + 360, dh)))
    dL, dC = L2 - L1, C2 - C1
    dH = 2 * np.sqrt(C1 * C2) * np.sin(np.radians(dh / 2))
    L, C, hsum = (L1 + L2) / 2, (C1 + C2) / 2, h1 + h2
    h = np.where(grey, hsum, np.where(np.abs(h1 - h2) <= 180, hsum / 2,
                                      np.where(hsum < 360, hsum + 360, hsum - 360) / 2))
    T = (1 - 0.17 * np.cos(np.radians(h - 30)) + 0.24 * np.cos(np.radians(2 * h))
         + 0.32 * np.cos(np.radians(3 * h + 6)) - 0.20 * np.cos(np.radians(4 * h - 63)))
    SL = 1 + 0.015 * (L - 50) ** 2 / np.sqrt(20 + (L - 50) ** 2)
    SC, SH = 1 + 0.045 * C, 1 + 0.015 * C * T
    RT = (-2 * np.sqrt(C ** 7 / (C ** 7 + 25.0 ** 7))
          * np.sin(np.radians(60 * np.exp(-(((h - 275) / 25) ** 2)))))
    return np.sqrt((dL / SL) ** 2 + (dC / SC) ** 2 + (dH / SH) ** 2 + RT * (dC / SC) * (dH / SH))


def make_sets(photos, folder, profiles):
    """Each photo with no profile and converted to each profile, all at ImageMagick's q95."""
    srgb_icc = folder / "sRGB.icc"
    srgb_icc.write_bytes(ImageCms.ImageCmsProfile(SRGB).tobytes())
    sets = {}
    for name, profile in profiles.items():
        sets[name] = folder / "photos" / name.replace(" ", "")
        sets[name].mkdir(parents=True)
        convert = ["-intent", "Relative", "-profile", str(srgb_icc), "-profile", str(profile)]
        for photo in photos:
            subprocess.run(["convert", str(photo), *(convert if profile else []), "-quality", "95",
                            str(sets[name] / photo.name)], check=True)
    return sets


def make_thumbnails(args, sets, folder):
    """Each tool's thumbnails of each set: tool -> set -> {photo name: thumbnail}."""
    size, box = str(args.size), f"{args.size}x{args.size}"
    made = {}
    for tool in TOOLS:
        for name, photos in sets.items():
            out = folder / "thumbs" / tool / photos.name
            out.mkdir(parents=True)
            files = sorted(photos.iterdir())
            if tool == "ours":
                subprocess.run([args.thumb, "-s", size, "-o", str(out), str(photos)], check=True)
                made.setdefault(tool, {})[name] = {p.name: out / ("thumb_" + p.name) for p in files}
            elif tool == "vips":
                subprocess.run(["vipsthumbnail", "-s", size, "-o", f"{out}/%s.jpg[Q=75]",
                                *map(str, files)], check=True)
                made.setdefault(tool, {})[name] = {p.name: out / (p.stem + ".jpg") for p in files}
            else:
                for p in files:
                    subprocess.run(["convert", str(p), "-auto-orient", "-thumbnail", box,
                                    "-quality", "75", str(out / p.name)], check=True)
                made.setdefault(tool, {})[name] = {p.name: out / p.name for p in files}
    return made


def saturation(rgb8):
    """Mean HSV saturation of 8-bit RGB pixels."""
    rgb = np.asarray(rgb8, dtype=np.float64)
    high, low = rgb.max(axis=-1), rgb.min(axis=-1)
    return float(np.where(high > 0, (high - low) / np.maximum(high, 1), 0).mean())


def measure(sets, made):
    """Mean and 95th percentile of CIEDE2000 for each set, tool and photo; whether the thumbnail
    carried a profile; and against the same tool's thumbnail of the untagged photo, both as shown,
    the mean absolute difference (0-255) and the share of its saturation kept."""
    rows = {}
    untagged = {}  # (tool, photo name) -> the untagged photo's thumbnail as shown
    for name, photos in sets.items():
        for photo in sorted(photos.iterdir()):
            full = to_srgb(full_decode(photo), Image.open(photo).info.get("icc_profile"))
            references = {}
            for tool in TOOLS:
                with Image.open(made[tool][name][photo.name]) as opened:
                    icc = opened.info.get("icc_profile")
                    shown = to_srgb(opened, icc)
                if shown.size not in references:
                    truth = after_q75(rounded(resample_float(full, shown.size)))
                    references[shown.size] = lab(truth)
                error = ciede2000(lab(shown), references[shown.size])
                row = {"mean": float(error.mean()), "p95": float(np.percentile(error, 95)),
                       "icc": bool(icc)}
                pixels = np.asarray(shown, dtype=np.float64)
                if name == "untagged":
                    untagged[tool, photo.name] = pixels
                elif untagged[tool, photo.name].shape == pixels.shape:
                    plain = untagged[tool, photo.name]
                    row["abs"] = float(np.abs(pixels - plain).mean())
                    row["kept"] = saturation(pixels) / max(saturation(plain), 1e-9)
                rows[name, tool, photo.name] = row
            print(f"  {name}: {photo.name}", file=sys.stderr)
    return rows


def without_icc(jpeg):
    """The JPEG file's bytes without its ICC profile (APP2 ICC_PROFILE segments); the rest,
    compressed pixels and all, byte for byte."""
    out, i = bytearray(jpeg[:2]), 2
    while jpeg[i] == 0xFF and jpeg[i + 1] != 0xDA:  # the segments before the first scan
        end = i + 2 + int.from_bytes(jpeg[i + 2:i + 4], "big")
        if not (jpeg[i + 1] == 0xE2 and jpeg[i + 4:i + 16] == b"ICC_PROFILE\0"):
            out += jpeg[i:end]
        i = end
    return bytes(out + jpeg[i:])


def timings(args, sets, folder):
    """Processor time (user + system) of quorvane-thumb -j1 over each set's folder, and over each
    tagged set with its profiles taken out: the same compressed pixels, so that only the colour
    conversion differs (a photo converted to another space compresses to other data, quicker or
    slower to decode). Each round runs every folder, a tagged one beside its bare twin; the
    ratios are the medians of each round's. Processor time, not the clock, so that other work on
    the machine weighs less."""
    folders = {"untagged": sets["untagged"]}
    for name, photos in list(sets.items())[1:]:
        bare = folder / "bare" / photos.name
        bare.mkdir(parents=True)
        for photo in photos.iterdir():
            (bare / photo.name).write_bytes(without_icc(photo.read_bytes()))
        folders.update({name: photos, name + " bare": bare})
    seconds = {name: [] for name in folders}
    out = folder / "timed"
    for round_ in range(args.runs + 1):  # the first round warms up and is not counted
        for name, photos in folders.items():
            shutil.rmtree(out, ignore_errors=True)
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            subprocess.run([args.thumb, "-j1", "-s", str(args.size), "-o", str(out), str(photos)],
                           check=True)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            if round_:
                seconds[name].append(after.ru_utime + after.ru_stime
                                     - before.ru_utime - before.ru_stime)
    ratios = {name: {against: statistics.median(t / b for t, b in zip(seconds[name],
                                                                      seconds[base]))
                     for against, base in (("bare", name + " bare"), ("untagged", "untagged"))}
              for name in list(sets)[1:]}
    return {name: statistics.median(times) for name, times in seconds.items()}, ratios


def report(args, photos, rows, speed, ratio, verbose):
    count = len(photos)
    average = {(name, tool): {k: statistics.mean(rows[name, tool, p.name][k] for p in photos)
                              for k in ("mean", "p95")} for name in SETS for tool in TOOLS}
    print(f"\nColour of thumbnails at {args.size} px of {count} photos, as a colour-managed viewer "
          f"shows them: CIEDE2000 against the float reference in sRGB, mean and 95th percentile "
          f"per photo, averaged over the photos; 'vs untagged' is ours against its own untagged "
          f"figures. Time: processor time of quorvane-thumb -j1 over the set, median of "
          f"{args.runs} runs, and the median of each run's ratio to the same files with their "
          f"profiles taken out ('/bare') and to the untagged set.")
    head = (f"{'profile':<12}{'ours mean':>10}{'p95':>7}{'vs untagged':>14}"
            f"{'vips mean':>11}{'p95':>7}{'IM mean':>9}{'p95':>7}{'cpu ms':>9}{'/bare':>7}"
            f"{'/untagged':>10}")
    print(head)
    print("-" * len(head))
    base = average["untagged", "ours"]
    for name in SETS:
        ours = average[name, "ours"]
        versus = ("" if name == "untagged" else
                  f"{ours['mean'] - base['mean']:+.2f} {ours['p95'] - base['p95']:+.2f}")
        print(f"{name:<12}{ours['mean']:>10.2f}{ours['p95']:>7.2f}{versus:>14}"
              + "".join(f"{average[name, t]['mean']:>{w}.2f}{average[name, t]['p95']:>7.2f}"
                        for t, w in (("vips", 11), ("IM", 9)))
              + f"{speed[name] * 1000:>9.1f}"
              + ("" if name == "untagged" else
                 f"{ratio[name]['bare']:>7.2f}{ratio[name]['untagged']:>10.2f}"))
    print("-" * len(head))
    carried = {t: sum(rows[n, t, p.name]["icc"] for n in SETS if n != "untagged" for p in photos)
               for t in TOOLS}
    print("Thumbnails of tagged photos that carry a profile: "
          + ", ".join(f"{t} {carried[t]}/{(len(SETS) - 1) * count}" for t in TOOLS))

    print("\nAgainst each tool's own thumbnail of the untagged photo, both as a colour-managed "
          "viewer shows them: mean absolute difference (0-255) / saturation kept")
    head = f"{'profile':<12}" + "".join(f"{t:>15}" for t in TOOLS)
    print(head)
    print("-" * len(head))
    for name in list(SETS)[1:]:
        cells = []
        for t in TOOLS:
            found = [rows[name, t, p.name] for p in photos if "abs" in rows[name, t, p.name]]
            cells.append(f"{statistics.mean(r['abs'] for r in found):>8.1f} /"
                         f"{statistics.mean(r['kept'] for r in found):>5.2f}" if found else
                         f"{'-':>15}")
        print(f"{name:<12}" + "".join(cells))
    print("-" * len(head))

    if verbose:
        print("\nPer photo, CIEDE2000 mean / p95")
        head = f"{'photo':<26}{'profile':<12}" + "".join(f"{t:>15}" for t in TOOLS)
        print(head)
        print("-" * len(head))
        for p in photos:
            for name in SETS:
                print(f"{p.name[:25]:<26}{name:<12}" + "".join(
                    f"{rows[name, t, p.name]['mean']:>8.2f} /{rows[name, t, p.name]['p95']:>5.2f}"
                    for t in TOOLS))

    print("\nAgainst the targets (ours on tagged photos: mean within +0.3 and p95 within +0.6 of "
          "its untagged figures, time <= 1.1x the same files without a profile):")
    for name in list(SETS)[1:]:
        ours = average[name, "ours"]
        mean, p95 = ours["mean"] - base["mean"], ours["p95"] - base["p95"]
        slower = ratio[name]["bare"]
        verdict = "met" if mean <= 0.3 and p95 <= 0.6 and slower <= 1.1 else "NOT met"
        print(f"  {name}: mean {mean:+.2f}, p95 {p95:+.2f}, time {slower:.3f}x: {verdict}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--thumb", required=True, help="the quorvane-thumb to measure")
    parser.add_argument("--p3", required=True, help="the Display P3 profile (bench/make_p3.c)")
    parser.add_argument("--size", type=int, default=125)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--photos", type=int, default=6)
    parser.add_argument("--verbose", action="store_true", help="also a row per photo")
    parser.add_argument("folder")
    args = parser.parse_args()
    profiles = dict(SETS, **{"Display P3": pathlib.Path(args.p3)})
    for name, profile in profiles.items():
        if profile and not profile.is_file():
            sys.exit(f"no {name} profile at {profile}")
    originals = sorted(p for p in pathlib.Path(args.folder).rglob("*")
                       if p.suffix.lower() in (".jpg", ".jpeg") and not p.name.startswith("thumb_"))
    if not originals:
        sys.exit(f"no JPEG photos under {args.folder}")
    # Spread over the sorted list, so that a few photos are not all from one corner of it.
    count = min(args.photos, len(originals))
    photos = [originals[i * len(originals) // count] for i in range(count)]
    with tempfile.TemporaryDirectory(prefix="quorvane-colour-") as temp:
        folder = pathlib.Path(temp)
        print(f"Making tagged copies of {count} photos from {args.folder}...", file=sys.stderr)
        sets = make_sets(photos, folder, profiles)
        made = make_thumbnails(args, sets, folder)
        print("Comparing with the references...", file=sys.stderr)
        rows = measure(sets, made)
        print("Timing quorvane-thumb...", file=sys.stderr)
        speed, ratio = timings(args, sets, folder)
        report(args, photos, rows, speed, ratio, args.verbose)


if __name__ == "__main__":
    main()
