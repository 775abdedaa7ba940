#!/usr/bin/python3
"""Thumbnail benchmark: quorvane-thumb against vipsthumbnail, ImageMagick, GraphicsMagick and the
floor of bare decoding (djpeg -scale 1/8): time per picture, batch throughput, peak memory,
quality. Run through bench/thumbs.sh, which installs the tools and builds in Release first.
"""
import argparse
import json
import math
import os
import pathlib
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from PIL import Image

from quality import after_q75, full_decode, luma, psnr, resample_float, rounded

PEERS = ["vips", "IM", "GM"]


def decode_scale(photo, size):
    """The scale in eighths quorvane-thumb decodes a JPEG at: the smallest that keeps both sides
    of the decoded picture at least twice the drawn size."""
    width, height = Image.open(photo).size
    if width >= height:
        drawn = (size, max(1, round(height * size / width)))
    else:
        drawn = (max(1, round(width * size / height)), size)
    for eighths in range(1, 9):
        if all(-(-side * eighths // 8) >= 2 * d for side, d in zip((width, height), drawn)):
            return eighths
    return 8


def commands(thumb, photo, size):
    """Each tool's command for one photo; every thumbnail is a quality-75 JPEG beside it."""
    hint = f"{2 * size}x{2 * size}"
    box = f"{size}x{size}"
    return {
        "ours": [thumb, "-s", str(size), str(photo)],
        "vips": ["vipsthumbnail", "-s", str(size), str(photo), "-o", f"%s.vips.jpg[Q=75]"],
        "IM": ["convert", "-define", f"jpeg:size={hint}", str(photo), "-thumbnail", box,
               "-quality", "75", f"{photo}.im.jpg"],
        "GM": ["gm", "convert", "-size", hint, str(photo), "-thumbnail", box, "-quality", "75",
               f"{photo}.gm.jpg"],
        "djpeg": ["djpeg", "-scale", "1/8", "-outfile", "/dev/null", str(photo)],
        # Bare decoding at the scale ours decodes at (1/4 where 1/8 is under twice the size).
        "djpeg same": ["djpeg", "-scale", f"{decode_scale(photo, size)}/8", "-outfile",
                       "/dev/null", str(photo)],
    }


def outputs(photo):
    return {"ours": photo.with_name("thumb_" + photo.name),
            "vips": photo.with_name(photo.stem + ".vips.jpg"),
            "IM": pathlib.Path(f"{photo}.im.jpg"), "GM": pathlib.Path(f"{photo}.gm.jpg")}


def hyperfine(named, runs, shell=False, prepare=None):
    """Median seconds of each command (name -> argv, or a shell line with shell=True); `prepare`
    is a shell line run before each run, not timed."""
    with tempfile.NamedTemporaryFile(suffix=".json") as report:
        line = ["hyperfine", "--style", "none", "--runs", str(runs), "--warmup", "1",
                "--export-json", report.name]
        if prepare:
            line += ["--prepare", prepare]
        if not shell:
            line.append("-N")
        for name, command in named.items():
            line += ["-n", name, command if shell else shlex.join(command)]
        # Its warnings about noisy runs are left out; the medians say enough.
        done = subprocess.run(line, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        if done.returncode != 0:
            sys.exit(f"hyperfine failed: {done.stderr}")
        results = json.load(open(report.name))["results"]
    return {result["command"]: result["median"] for result in results}


def peak_mb(command):
    result = subprocess.run(["/usr/bin/time", "-f", "%M", *command], check=True,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(result.stderr.strip().splitlines()[-1]) / 1024


def is_progressive(photo):
    return Image.open(photo).info.get("progressive", 0) != 0


def quality_row(photo, files, size):
    """Luma PSNR of each tool's thumbnail against the reference at that thumbnail's size."""
    full = full_decode(photo)
    references = {}
    row = {}
    for tool, path in files.items():
        thumbnail = Image.open(path).convert("RGB")
        if thumbnail.size not in references:
            references[thumbnail.size] = resample_float(full, thumbnail.size)
        row[tool] = psnr(luma(thumbnail), luma(references[thumbnail.size]))
    ours_size = Image.open(files["ours"]).size
    reference = references[ours_size]
    row["ref q75"] = psnr(luma(after_q75(rounded(reference))), luma(reference))
    return row


def alternating(named, files, runs):
    """Each command (name -> argv) run in turn, round after round, after one round of warm-up, so
    that the machine's drift falls on all of them alike; each tool's own output (`files`) is
    removed, untimed, before its run. Median seconds of each, and the median over the rounds of
    ours' time over each other's."""
    seconds = {name: [] for name in named}
    for round_ in range(runs + 1):
        for name, command in named.items():
            if name in files:
                files[name].unlink(missing_ok=True)
            start = time.perf_counter()
            subprocess.run(command, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            if round_ > 0:
                seconds[name].append(time.perf_counter() - start)
    ratios = {name: statistics.median(o / t for o, t in zip(seconds["ours"], taken))
              for name, taken in seconds.items()}
    return {name: statistics.median(taken) for name, taken in seconds.items()}, ratios


def per_picture(args, photos):
    rows = []
    for photo in photos:
        named = commands(args.thumb, photo, args.size)
        # Each run writes a new file, as for a folder seen the first time.
        files = outputs(photo)
        times, ratios = alternating(named, files, args.runs)
        memory = {tool: peak_mb(command) for tool, command in named.items() if tool != "djpeg same"}
        row = {"photo": photo.name, "size": "x".join(map(str, Image.open(photo).size)),
               "progressive": is_progressive(photo), "ratio": ratios,
               "ms": {tool: seconds * 1000 for tool, seconds in times.items()}, "mb": memory,
               "bytes": {tool: path.stat().st_size for tool, path in files.items()},
               "psnr": quality_row(photo, files, args.size)}
        rows.append(row)
        print(f"  {photo.name}: ours {row['ms']['ours']:.1f} ms, djpeg {row['ms']['djpeg']:.1f} ms",
              file=sys.stderr)
    return rows


def start_up(args, folder):
    small = folder / "small16.jpg"
    Image.new("RGB", (16, 16), (200, 40, 30)).save(small, quality=90)
    named = {"true": ["true"], "ours --version": [args.thumb, "--version"],
             "ours 16x16": [args.thumb, str(small)],
             "djpeg 16x16": ["djpeg", "-scale", "1/8", "-outfile", "/dev/null", str(small)]}
    made = shlex.quote(str(folder / "thumb_small16.jpg"))
    return {name: seconds * 1000
            for name, seconds in hyperfine(named, 30, prepare=f"rm -f {made}").items()}


def batch(args, photos, folder):
    files = " ".join(shlex.quote(str(p)) for p in photos)
    hint, box = f"{2 * args.size}x{2 * args.size}", f"{args.size}x{args.size}"
    xargs = f"printf '%s\\n' {files} | xargs -P2 -I{{}}"
    lines = {
        "ours -j2": f"{shlex.quote(args.thumb)} -j2 -s {args.size} {files}",
        "vips": f"vipsthumbnail -s {args.size} -o '%s.vips.jpg[Q=75]' {files}",
        "IM -P2": f"{xargs} convert -define jpeg:size={hint} {{}} -thumbnail {box} -quality 75 {{}}.im.jpg",
        "GM -P2": f"{xargs} gm convert -size {hint} {{}} -thumbnail {box} -quality 75 {{}}.gm.jpg",
        "djpeg -P2": f"{xargs} djpeg -scale 1/8 -outfile /dev/null {{}}",
    }
    seconds = hyperfine(lines, args.runs, shell=True)
    rates = {name: len(photos) / s for name, s in seconds.items()}
    # Slow media: every sync call 15 ms late (an SD card, a USB stick, a network share). A run
    # syncs once, so the delay weighs less the more it makes: also over the photos four times
    # (hard links in four folders), a card's worth rather than a handful. Runs with and without
    # the delay alternate, and the share is the median of each pair's, so that the machine's
    # drift between runs does not count as the delay's cost.
    copies = folder / "copies"
    for i in range(4):
        (copies / str(i)).mkdir(parents=True)
        for photo in photos:
            os.link(photo, copies / str(i) / photo.name)
    four = " ".join(shlex.quote(str(copies / str(i) / p.name)) for i in range(4) for p in photos)
    ours = lines["ours -j2"]
    ours4 = f"{shlex.quote(args.thumb)} -j2 -s {args.size} {four}"
    slow = f"LD_PRELOAD={shlex.quote(args.slow_sync)} QUORVANE_SYNC_DELAY_MS=15"
    rounds = 2 * args.runs + 1
    shares = {"slow": paired_share(ours, f"{slow} {ours}", rounds),
              "slow x4": paired_share(ours4, f"{slow} {ours4}", rounds),
              "slow, each": paired_share(ours, f"{slow} {ours} --sync=each", rounds)}
    # Peak memory over the corpus, and with one worker over it once and three times (three of
    # the folders of links): a worker keeps what the largest picture needed, and no more.
    memory = {
        "-j2": peak_mb([args.thumb, "-j2", "-s", str(args.size), *map(str, photos)]),
        "-j1": peak_mb([args.thumb, "-j1", "-s", str(args.size), *map(str, photos)]),
        "-j1 x3": peak_mb([args.thumb, "-j1", "-s", str(args.size), "-r",
                           *(str(copies / str(i)) for i in range(3))]),
    }
    return rates, shares, memory


def paired_share(fast, slow, rounds):
    """The median over `rounds` pairs of runs (fast, then slow; shell lines) of fast's time as a
    share of slow's: the throughput kept."""
    def seconds(line):
        start = time.perf_counter()
        subprocess.run(line, shell=True, check=True, stdout=subprocess.DEVNULL)
        return time.perf_counter() - start
    seconds(fast), seconds(slow)  # warm-up
    return statistics.median(seconds(fast) / seconds(slow) for _ in range(rounds))


def report(args, rows, startup, rates, shares, memory):
    tools = ["ours", *PEERS, "djpeg", "djpeg same"]
    print(f"\nThumbnails at {args.size} px of {len(rows)} photos; one process per picture, "
          f"median of {args.runs} rounds, the tools in turn in each; 'ratio' and 'same' are the "
          f"median of the rounds' ours/djpeg; peak resident memory of one run.")
    head = (f"{'photo':<26}{'size':>10}{'prog':>5}"
            + "".join(f"{t.replace('djpeg same', 'dj same') + ' ms':>9}" for t in tools)
            + f"{'ratio':>7}{'same':>6}" + "".join(f"{t + ' MB':>9}" for t in ["ours", "djpeg", "vips", "IM"]))
    print(head)
    print("-" * len(head))
    for r in rows:
        print(f"{r['photo'][:25]:<26}{r['size']:>10}{'yes' if r['progressive'] else '':>5}"
              + "".join(f"{r['ms'][t]:>9.1f}" for t in tools)
              + f"{r['ratio']['djpeg']:>7.2f}{r['ratio']['djpeg same']:>6.2f}"
              + "".join(f"{r['mb'][t]:>9.1f}" for t in ["ours", "djpeg", "vips", "IM"]))
    print("-" * len(head))
    median = {t: statistics.median(r["ms"][t] for r in rows) for t in tools}
    ratio = {t: statistics.median(r["ratio"][t] for r in rows) for t in ("djpeg", "djpeg same")}
    print(f"{'median':<41}" + "".join(f"{median[t]:>9.1f}" for t in tools)
          + f"{ratio['djpeg']:>7.2f}{ratio['djpeg same']:>6.2f}")

    print(f"\nLuma PSNR (dB) against a float Lanczos3 reference at each thumbnail's size; "
          f"'ref q75' is the reference itself through JPEG q75; file bytes")
    quality_tools = ["ours", *PEERS, "ref q75"]
    head = f"{'photo':<26}" + "".join(f"{t:>9}" for t in quality_tools) + "".join(
        f"{t + ' B':>9}" for t in ["ours", *PEERS])
    print(head)
    print("-" * len(head))
    for r in rows:
        print(f"{r['photo'][:25]:<26}" + "".join(f"{r['psnr'][t]:>9.2f}" for t in quality_tools)
              + "".join(f"{r['bytes'][t]:>9}" for t in ["ours", *PEERS]))
    print("-" * len(head))
    for label, pick in (("median", statistics.median), ("worst", min)):
        print(f"{label:<26}" + "".join(f"{pick(r['psnr'][t] for r in rows):>9.2f}"
                                      for t in quality_tools)
              + ("".join(f"{statistics.median(r['bytes'][t] for r in rows):>9.0f}"
                         for t in ["ours", *PEERS]) if label == "median" else ""))

    largest = max(rows, key=lambda r: (r["progressive"], math.prod(map(int, r["size"].split("x")))))
    extra = max(r["mb"]["ours"] - r["mb"]["djpeg"] for r in rows)
    q = {t: statistics.median(r["psnr"][t] for r in rows) for t in quality_tools}
    worst = min(r["psnr"]["ours"] for r in rows)
    print("\nAgainst the targets:")
    print(f"  per picture: median {median['ours']:.1f} ms; {ratio['djpeg']:.2f}x djpeg "
          f"(median {median['djpeg']:.1f} ms; target <= 1.0x), {ratio['djpeg same']:.2f}x djpeg at "
          f"the scale ours decodes at (medians of each photo's paired ratio); "
          f"vips {median['vips']:.1f}, IM {median['IM']:.1f}, GM {median['GM']:.1f}")
    # Bare decoding at that scale, by libjpeg-turbo's own tool: the floor under a thumbnail of
    # that quality.
    floor = statistics.median(r["ms"]["djpeg same"] / r["ms"]["djpeg"] for r in rows)
    print(f"  the floor, djpeg at the scale ours decodes at: {floor:.2f}x djpeg -scale 1/8 "
          f"(median over the photos)")
    print(f"  largest progressive ({largest['photo']}): {largest['ms']['ours']:.1f} ms = "
          f"{largest['ms']['ours'] / largest['ms']['djpeg']:.2f}x djpeg's "
          f"{largest['ms']['djpeg']:.1f} (target <= 0.25x)")
    print(f"  start-up: --version {startup['ours --version']:.1f} ms, a 16x16 JPEG "
          f"{startup['ours 16x16']:.1f} ms (target < 5); djpeg on it {startup['djpeg 16x16']:.1f}, "
          f"an empty process (true) {startup['true']:.1f}")
    print("  batch, pictures/s: " + ", ".join(f"{name} {rate:.1f}" for name, rate in rates.items())
          + f" (target >= 36 and >= 2x vips: {rates['ours -j2'] / rates['vips']:.1f}x)")
    print(f"  slow media (each sync 15 ms): {shares['slow']:.0%} of the throughput without the "
          f"delay over the photos, {shares['slow x4']:.0%} over them four times (target >= 90%); "
          f"syncing each file: {shares['slow, each']:.0%}")
    print(f"  memory: ours at most {extra:+.1f} MB over djpeg on a photo (target <= +16); over the "
          f"corpus -j2 {memory['-j2']:.1f} MB, -j1 {memory['-j1']:.1f} MB, -j1 over it three "
          f"times {memory['-j1 x3']:.1f} MB (flat)")
    print(f"  quality: ours {q['ours']:.2f} dB median, {worst:.2f} worst (target >= 36.7 and 31.9, "
          f"above every peer: vips {q['vips']:.2f}, IM {q['IM']:.2f}, GM {q['GM']:.2f}); "
          f"the reference itself after q75 {q['ref q75']:.2f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--thumb", required=True, help="the quorvane-thumb to measure")
    parser.add_argument("--slow-sync", required=True, help="bench/slow_sync.so, the slow-media shim")
    parser.add_argument("--size", type=int, default=125)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("folder")
    args = parser.parse_args()
    originals = sorted(p for p in pathlib.Path(args.folder).rglob("*")
                       if p.suffix.lower() in (".jpg", ".jpeg"))
    if not originals:
        sys.exit(f"no JPEG photos under {args.folder}")
    with tempfile.TemporaryDirectory(prefix="quorvane-thumbs-") as temp:
        folder = pathlib.Path(temp)
        (folder / "photos").mkdir()
        # Copies, so that every tool writes beside its input; read once so all start cached.
        photos = []
        for original in originals:
            photo = folder / "photos" / original.name
            shutil.copyfile(original, photo)
            photos.append(photo)
        print(f"Measuring {len(photos)} photos from {args.folder}...", file=sys.stderr)
        rows = per_picture(args, photos)
        startup = start_up(args, folder)
        rates, shares, memory = batch(args, photos, folder)
        report(args, rows, startup, rates, shares, memory)


if __name__ == "__main__":
    main()
