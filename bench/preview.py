#!/usr/bin/python3
"""Preview benchmark: speed against djpeg at 1/8 scale, peak memory, and quality (luma PSNR).

Run through bench/preview.sh, which builds the Release bench tool first.
"""
import argparse
import math
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image

from quality import after_q75, luma, psnr, reference_rgb, rounded


def djpeg_median_ms(path, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(["djpeg", "-scale", "1/8", "-outfile", "/dev/null", str(path)], check=True)
        times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)


def peak_megabytes(command):
    result = subprocess.run(["/usr/bin/time", "-f", "%M", *command], check=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(result.stderr.strip().splitlines()[-1]) / 1024


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bench", required=True)
    parser.add_argument("--size", type=int, default=125)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("folder")
    args = parser.parse_args()

    photos = sorted(p for p in pathlib.Path(args.folder).rglob("*")
                    if p.suffix.lower() in (".jpg", ".jpeg"))
    if not photos:
        sys.exit(f"no JPEG photos under {args.folder}")
    with tempfile.TemporaryDirectory() as ppm_folder:
        ours = subprocess.run([args.bench, "--size", str(args.size), "--runs", str(args.runs),
                               "--ppm", ppm_folder, *map(str, photos)],
                              check=True, stdout=subprocess.PIPE, text=True).stdout
        rows = []
        for line, photo in zip(ours.splitlines(), photos):
            _, natural, drawn, median_ms, first_ms = line.split("\t")
            render = Image.open(pathlib.Path(ppm_folder) / (photo.stem + ".ppm")).convert("RGB")
            reference_float = reference_rgb(photo, render.size)
            reference = luma(reference_float)
            # The reference itself, rounded and through the same q75 encoding: what a perfect
            # drawing would score after q75.
            rows.append({
                "photo": photo.name, "natural": natural, "drawn": drawn,
                "ours": float(median_ms), "first": float(first_ms),
                "djpeg": djpeg_median_ms(photo, args.runs),
                "our_mb": peak_megabytes([args.bench, "--runs", "1", "--size", str(args.size), str(photo)]),
                "djpeg_mb": peak_megabytes(["djpeg", "-scale", "1/8", "-outfile", "/dev/null", str(photo)]),
                "psnr": psnr(luma(np.asarray(render)), reference),
                "psnr_q75": psnr(luma(np.asarray(after_q75(render))), reference),
                "floor_q75": psnr(luma(after_q75(rounded(reference_float))), reference),
            })

    print(f"Preview at {args.size} px: load + decode + resample, median of {args.runs} in one process "
          f"(first run in brackets); djpeg -scale 1/8 -outfile /dev/null, median of {args.runs} runs.")
    header = (f"{'photo':<28}{'size':>11}{'drawn':>8}{'ours ms':>16}{'djpeg ms':>10}{'ratio':>7}"
              f"{'our MB':>8}{'djpeg MB':>9}{'PSNR dB':>9}{'q75 dB':>8}{'ref q75':>9}")
    print(header)
    print("-" * len(header))
    for r in rows:
        ours_text = f"{r['ours']:.1f} ({r['first']:.0f})"
        print(f"{r['photo']:<28}{r['natural']:>11}{r['drawn']:>8}{ours_text:>16}{r['djpeg']:>10.1f}"
              f"{r['ours'] / r['djpeg']:>7.2f}{r['our_mb']:>8.0f}{r['djpeg_mb']:>9.0f}"
              f"{r['psnr']:>9.2f}{r['psnr_q75']:>8.2f}{r['floor_q75']:>9.2f}")
    print("-" * len(header))
    print(f"median luma PSNR: {statistics.median(r['psnr'] for r in rows):.2f} dB before JPEG q75 "
          f"(target > 40), {statistics.median(r['psnr_q75'] for r in rows):.2f} dB after (target >= 36.7); "
          f"the reference itself after q75: {statistics.median(r['floor_q75'] for r in rows):.2f} dB")
    largest = max(rows, key=lambda r: math.prod(map(int, r["natural"].split("x"))))
    print(f"largest photo {largest['photo']}: {largest['ours']:.1f} ms vs djpeg {largest['djpeg']:.1f} ms, "
          f"ratio {largest['ours'] / largest['djpeg']:.2f} (target < 1.3)")


if __name__ == "__main__":
    main()
