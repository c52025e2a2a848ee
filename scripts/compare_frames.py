#!/usr/bin/env python3
"""Compares two captures of the show frame by frame.

Frames are paired by their number k (frame_KKKKKK.png or .bmp in each folder; the Linux capture
writes PNG, the Windows one BMP). For each pair it prints the PSNR over the RGB channels, the
largest channel difference and the worst regions (blocks of the picture with the largest mean
difference), then a summary. Pictures are read through ImageMagick's `convert`.

Exit status: 0 when every compared frame reaches --min-psnr, 1 when one does not or no frame is
in both folders, 2 for bad arguments or unreadable pictures.
"""
import argparse
import math
import os
import re
import subprocess
import sys

FRAME = re.compile(r"^frame_(\d+)\.(png|bmp)$", re.IGNORECASE)


def frames(folder):
    found = {}
    for name in os.listdir(folder):
        m = FRAME.match(name)
        if m:
            found.setdefault(int(m.group(1)), os.path.join(folder, name))
    return found


def read_rgb(path):
    """(width, height, bytes of R, G, B per pixel, rows from the top)."""
    try:
        ppm = subprocess.run(["convert", path, "-depth", "8", "-alpha", "off", "ppm:-"],
                             check=True, capture_output=True).stdout
    except (OSError, subprocess.CalledProcessError) as e:
        sys.exit(f"compare_frames: cannot read {path}: {e}")
    # P6, width, height, maximum, one whitespace byte, then the pixels.
    fields = []
    at = 0
    while len(fields) < 4:
        while ppm[at:at + 1].isspace():
            at += 1
        if ppm[at:at + 1] == b"#":
            at = ppm.index(b"\n", at) + 1
            continue
        end = at
        while not ppm[end:end + 1].isspace():
            end += 1
        fields.append(ppm[at:end])
        at = end
    if fields[0] != b"P6" or fields[3] != b"255":
        sys.exit(f"compare_frames: {path} did not convert to 8-bit RGB")
    width, height = int(fields[1]), int(fields[2])
    pixels = ppm[at + 1:at + 1 + width * height * 3]
    return width, height, pixels


def compare(a, b, width, height, block):
    """PSNR in dB (inf when equal), largest difference, and per-block mean differences."""
    columns = (width + block - 1) // block
    rows = (height + block - 1) // block
    sums = [0] * (columns * rows)
    squared = 0
    largest = 0
    stride = width * 3
    for y in range(height):
        row_a = a[y * stride:(y + 1) * stride]
        row_b = b[y * stride:(y + 1) * stride]
        base = (y // block) * columns
        for x in range(width):
            i = x * 3
            d0 = abs(row_a[i] - row_b[i])
            d1 = abs(row_a[i + 1] - row_b[i + 1])
            d2 = abs(row_a[i + 2] - row_b[i + 2])
            d = d0 + d1 + d2
            if d:
                squared += d0 * d0 + d1 * d1 + d2 * d2
                largest = max(largest, d0, d1, d2)
                sums[base + x // block] += d
    mse = squared / (width * height * 3)
    psnr = math.inf if mse == 0 else 10 * math.log10(255 * 255 / mse)
    regions = []
    for r in range(rows):
        for c in range(columns):
            w = min(block, width - c * block)
            h = min(block, height - r * block)
            regions.append((sums[r * columns + c] / (w * h * 3), c * block, r * block, w, h))
    regions.sort(reverse=True)
    return psnr, largest, regions


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("first", help="folder of one capture (e.g. the Linux PNGs)")
    parser.add_argument("second", help="folder of the other capture (e.g. the Windows BMPs)")
    parser.add_argument("--block", type=int, default=32, help="region size in pixels (32)")
    parser.add_argument("--worst", type=int, default=3, help="worst regions shown per frame (3)")
    parser.add_argument("--min-psnr", type=float, default=0.0,
                        help="fail when a frame's PSNR is below this many dB (0: never)")
    args = parser.parse_args()
    if args.block < 1 or args.worst < 0:
        parser.error("--block must be at least 1 and --worst not negative")
    for folder in (args.first, args.second):
        if not os.path.isdir(folder):
            parser.error(f"{folder} is not a folder")

    first, second = frames(args.first), frames(args.second)
    common = sorted(set(first) & set(second))
    only = len(set(first) ^ set(second))
    if not common:
        print(f"compare_frames: no frame number is in both folders ({len(first)} and "
              f"{len(second)} frames)")
        return 1

    results = []
    for k in common:
        wa, ha, a = read_rgb(first[k])
        wb, hb, b = read_rgb(second[k])
        if (wa, ha) != (wb, hb):
            print(f"frame {k}: sizes differ ({wa}x{ha} and {wb}x{hb})")
            results.append((k, 0.0))
            continue
        psnr, largest, regions = compare(a, b, wa, ha, args.block)
        worst = ", ".join(f"({x},{y} {w}x{h}) {mean:.1f}"
                          for mean, x, y, w, h in regions[:args.worst] if mean > 0)
        shown = "identical" if psnr == math.inf else f"{psnr:6.2f} dB"
        print(f"frame {k:6d}: {shown}  max diff {largest:3d}" +
              (f"  worst regions (x,y size) mean diff: {worst}" if worst else ""))
        results.append((k, psnr))

    finite = [p for _, p in results if p != math.inf]
    low_k, low = min(results, key=lambda r: r[1])
    mean = sum(finite) / len(finite) if finite else math.inf
    print(f"compared {len(results)} frames ({only} in one folder only): lowest PSNR "
          f"{low:.2f} dB at frame {low_k}, mean {mean:.2f} dB over the "
          f"{len(finite)} frames that differ")
    failed = [k for k, p in results if p < args.min_psnr]
    if failed:
        print(f"compare_frames: {len(failed)} frames below {args.min_psnr} dB "
              f"(first: frame {failed[0]})")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
