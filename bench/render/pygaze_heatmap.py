#!/usr/bin/python3
"""The peer of `quorvex-render heatmap`: a PyGaze-style heat map in NumPy.

One Gaussian stamped per point into a padded array (as PyGaze's
draw_heatmap does), normalised, mapped through a green-yellow-red table with
opacity rising with heat, and blended over the stimulus.
usage: pygaze_heatmap.py STIMULUS.png POINTS.csv SIGMA OUT.png
"""
import sys

import numpy as np
from PIL import Image


def gaussian(size, sigma):
    half = size // 2
    y, x = np.mgrid[-half:half + 1, -half:half + 1]
    return np.exp(-(x * x + y * y) / (2.0 * sigma * sigma))


def main():
    stimulus_path, points_path, sigma, out_path = sys.argv[1], sys.argv[2], float(sys.argv[3]), sys.argv[4]
    stimulus = np.asarray(Image.open(stimulus_path).convert("RGB"), dtype=np.float32) / 255.0
    height, width = stimulus.shape[:2]
    points = np.loadtxt(points_path, delimiter=",", ndmin=2)
    size = int(6 * sigma) | 1
    kernel = gaussian(size, sigma)
    pad = size // 2
    heat = np.zeros((height + 2 * pad, width + 2 * pad), dtype=np.float64)
    for x, y in points[:, :2]:
        ix, iy = int(x), int(y)
        if 0 <= ix < width and 0 <= iy < height:
            heat[iy:iy + size, ix:ix + size] += kernel
    heat = heat[pad:pad + height, pad:pad + width]
    heat /= heat.max() if heat.max() > 0 else 1.0
    table = np.array([[0, 1, 0], [0, 1, 0], [1, 1, 0], [1, 1, 0], [1, 0, 0]], dtype=np.float32)
    index = heat * (len(table) - 1)
    low = np.floor(index).astype(int).clip(0, len(table) - 1)
    high = (low + 1).clip(0, len(table) - 1)
    frac = (index - low)[..., None]
    colour = table[low] * (1 - frac) + table[high] * frac
    alpha = np.clip(heat, 0, 0.8)[..., None]
    picture = stimulus * (1 - alpha) + colour * alpha
    Image.fromarray((picture * 255 + 0.5).astype(np.uint8)).save(out_path, compress_level=1)


if __name__ == "__main__":
    main()
