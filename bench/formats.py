#!/usr/bin/python3
"""Thumbnails of PNG, WebP, TIFF, HEIC and AVIF pictures: quorvane-thumb against vipsthumbnail,
time per picture and luma PSNR against a float Lanczos3 reference. The pictures are made from the
JPEG photos given (ImageMagick for PNG and TIFF, cwebp, heif-enc). Run through bench/formats.sh,
which installs the tools and builds in Release first.

For WebP, HEIC and AVIF the floor is timed too: quorvane-decodefloor has the decoding library
decode the picture as quorvane-thumb does, and does nothing more. Where the floor alone is over
half vipsthumbnail's time, the decoding library itself keeps the thumbnail over.
"""
import argparse
import io
import pathlib
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile

from PIL import Image

from quality import luma, psnr, resample_float
from thumbs import hyperfine

# How each format is made from a JPEG photo: argv with {src} and {dst}.
MAKERS = {
    "png": ["convert", "{src}", "{dst}"],
    "webp": ["cwebp", "-quiet", "-q", "90", "{src}", "-o", "{dst}"],
    "tif": ["convert", "{src}", "{dst}"],
    "heic": ["heif-enc", "-q", "90", "{src}", "-o", "{dst}"],
    # As a phone writes them: with a 320-pixel thumbnail inside.
    "heic-t320": ["heif-enc", "-q", "90", "-t", "320", "{src}", "-o", "{dst}"],
    "avif": ["heif-enc", "-A", "-q", "90", "-p", "speed=8", "{src}", "-o", "{dst}"],
}


def make(formats, photos, folder):
    """Each photo in each format, one folder a format (vipsthumbnail names by the stem)."""
    made = {f: [] for f in formats}
    for fmt in formats:
        (folder / fmt).mkdir()
        for photo in photos:
            dst = folder / fmt / f"{photo.stem}.{fmt.split('-')[0]}"
            argv = [a.format(src=photo, dst=dst) for a in MAKERS[fmt]]
            subprocess.run(argv, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            made[fmt].append(dst)
        print(f"  made {len(photos)} {fmt} pictures", file=sys.stderr)
    return made


def full_decode(path):
    """The picture at full size as 8-bit RGB, decoded by PIL, or heif-convert for HEIF."""
    if path.suffix in (".heic", ".avif"):
        with tempfile.NamedTemporaryFile(suffix=".png") as png:
            subprocess.run(["heif-convert", str(path), png.name], check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            return Image.open(png.name).convert("RGB")
    return Image.open(path).convert("RGB")


# The formats whose decoding library's time quorvane-decodefloor measures.
FLOORED = (".webp", ".heic", ".avif")


def measure(args, picture):
    size = str(args.size)
    ours_out = picture.with_name(f"thumb_{picture.name}.jpg")
    vips_out = picture.with_name(f"{picture.stem}.vips.jpg")
    named = {"ours": [args.thumb, "-s", size, str(picture)],
             "vips": ["vipsthumbnail", "-s", size, str(picture), "-o", "%s.vips.jpg[Q=75]"]}
    if picture.suffix in FLOORED:
        named["floor"] = [args.floor, size, str(picture)]
    prepare = "rm -f " + shlex.quote(str(ours_out)) + " " + shlex.quote(str(vips_out))
    times = hyperfine(named, args.runs, prepare=prepare)
    for command in (named["ours"], named["vips"]):  # the files to compare, made once more
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    full = full_decode(picture)
    row = {"picture": picture.name, "size": "x".join(map(str, full.size)),
           "ms": {k: v * 1000 for k, v in times.items()}, "psnr": {}}
    for tool, path in (("ours", ours_out), ("vips", vips_out)):
        thumbnail = Image.open(path).convert("RGB")
        row["psnr"][tool] = psnr(luma(thumbnail), luma(resample_float(full, thumbnail.size)))
    return row


def report(args, rows):
    print(f"\nThumbnails at {args.size} px; one process per picture, median of {args.runs} runs "
          f"(hyperfine); luma PSNR (dB) against a float Lanczos3 resample of the full decode.")
    print("'floor': the decoding library alone, as quorvane-thumb calls it (WebP, HEIC, AVIF).")
    head = (f"{'picture':<30}{'size':>11}{'ours ms':>9}{'vips ms':>9}{'ratio':>7}"
            f"{'floor ms':>9}{'floor':>7}{'ours dB':>9}{'vips dB':>9}")
    print(head)
    print("-" * len(head))
    for fmt, fmt_rows in rows.items():
        for r in fmt_rows:
            name = r['picture'] if '-' not in fmt else fmt + ' ' + r['picture']
            floor = (f"{r['ms']['floor']:>9.1f}{r['ms']['floor'] / r['ms']['vips']:>7.2f}"
                     if "floor" in r["ms"] else f"{'':>16}")
            print(f"{name[:29]:<30}{r['size']:>11}{r['ms']['ours']:>9.1f}"
                  f"{r['ms']['vips']:>9.1f}{r['ms']['ours'] / r['ms']['vips']:>7.2f}{floor}"
                  f"{r['psnr']['ours']:>9.2f}{r['psnr']['vips']:>9.2f}")
    print("-" * len(head))
    print("\nBy format (target: time <= 0.5x vips on every picture, PSNR >= vips); 'over': pictures"
          " over 0.5x vips, 'floor over': those whose floor alone is too")
    head = (f"{'format':<10}{'n':>4}{'ours ms':>9}{'vips ms':>9}{'ratio':>7}{'worst':>7}"
            f"{'over':>6}{'floor over':>12}{'ours dB':>9}{'vips dB':>9}{'dB >= vips':>12}")
    print(head)
    print("-" * len(head))
    for fmt, fmt_rows in rows.items():
        ratios = [r["ms"]["ours"] / r["ms"]["vips"] for r in fmt_rows]
        ours = statistics.median(r["ms"]["ours"] for r in fmt_rows)
        vips = statistics.median(r["ms"]["vips"] for r in fmt_rows)
        better = sum(r["psnr"]["ours"] >= r["psnr"]["vips"] for r in fmt_rows)
        over = [r for r in fmt_rows if r["ms"]["ours"] > 0.5 * r["ms"]["vips"]]
        floored = (str(sum(r["ms"]["floor"] > 0.5 * r["ms"]["vips"] for r in over))
                   if all("floor" in r["ms"] for r in fmt_rows) else "-")
        print(f"{fmt:<10}{len(fmt_rows):>4}{ours:>9.1f}{vips:>9.1f}{statistics.median(ratios):>7.2f}"
              f"{max(ratios):>7.2f}{len(over):>6}{floored:>12}"
              f"{statistics.median(r['psnr']['ours'] for r in fmt_rows):>9.2f}"
              f"{statistics.median(r['psnr']['vips'] for r in fmt_rows):>9.2f}"
              f"{better:>8}/{len(fmt_rows)}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--thumb", required=True, help="the quorvane-thumb to measure")
    parser.add_argument("--floor", required=True, help="quorvane-decodefloor, built beside it")
    parser.add_argument("--size", type=int, default=125)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--formats", default="png,webp,tif,heic,heic-t320,avif")
    parser.add_argument("folder")
    args = parser.parse_args()
    formats = args.formats.split(",")
    originals = sorted(p for p in pathlib.Path(args.folder).rglob("*")
                       if p.suffix.lower() in (".jpg", ".jpeg"))
    if not originals:
        sys.exit(f"no JPEG photos under {args.folder}")
    with tempfile.TemporaryDirectory(prefix="quorvane-formats-") as temp:
        folder = pathlib.Path(temp)
        print(f"Making {len(originals)} photos from {args.folder} in {', '.join(formats)}...",
              file=sys.stderr)
        made = make(formats, originals, folder)
        rows = {}
        for fmt in formats:
            rows[fmt] = [measure(args, picture) for picture in made[fmt]]
            print(f"  measured {fmt}", file=sys.stderr)
        report(args, rows)


if __name__ == "__main__":
    main()
