#!/usr/bin/python3
"""What a user might write instead of spirell-render: the colours of a formula
over a whole image at once with numpy's vectorised sin, cos, tan and power.

It computes the 8-bit levels of "pebble" (routine dune) and "quest" (routine
qwin) for the boxes 1, 1, 1024, 1, 150 (position, size, zoom, brightness) and
prints, for each, the best of three times of the computation alone, from the
world coordinates to the 8-bit image; nothing is written unless --save asks
for it. numpy's functions give the last bits of a value as the machine's code
for them does, so a few levels may differ by one from the program's, which are
the same everywhere.

The rules come from the program: the per-pixel functions from
src/formulas/dune.hpp and qwin.hpp, the view from src/drawing/ViewParams.cpp,
each formula's multipliers and level scale from src/formulas/Catalogue.cpp,
and the channel rule (a level that is not a number gives 0, then it is clamped
to 0..255 and rounded half to even) from src/lanes/BatchKernels.hpp.

Usage: bench/numpy_peer.py [--size N] [--repeat N] [--save FOLDER] [routine ...]
Needs Debian's python3-numpy.
"""

import argparse
import os
import time

import numpy as np

# 44 / 7 stands where a full turn would: close to, but not, 2 pi.
TURN = 44.0 / 7.0


def standard_angle(zoom, coordinate):
    return zoom * ((coordinate / 200) * TURN)


def dune(X, Y, zoom):
    angle_y = standard_angle(zoom, Y)
    angle_x = standard_angle(zoom, X)
    term_a = np.abs(np.tan(np.cos(angle_x + angle_y) + (angle_x - angle_y)))
    term_b = np.abs(np.tan(np.cos(angle_y - angle_x) + (angle_x + angle_y)))
    return (0.9 * term_a + 0.1 * term_b,
            0.3 * term_a + 0.2 * term_b,
            0.05 * term_a + 0.4 * term_b)


def qwin(X, Y, zoom):
    sin, cos, tan = np.sin, np.cos, np.tan
    ax = standard_angle(zoom, X)
    ay = standard_angle(zoom, Y)
    # The zoom does not reach this ratio.
    ratio = ((X / 200) * TURN) / (((Y / 200) * TURN) + 0.000123)

    term_a = sin((ay - ax) - cos(ax * cos(ax - sin(ay * sin(ay * cos(
        ax * sin(ay * sin(ay - cos(ax - ay))))))))) + 0.2
    cos_a = cos(term_a)
    cos_sum = cos(ax + ay)
    term_b = cos((0.1 + ratio) - sin(ay + cos(term_a * (
        cos((ax - ay) + (cos_a + sin(ay * sin(term_a)))) - sin(term_a + ax))))) - 0.2
    term_c = np.abs(tan(term_b * sin(ay * cos(ax * (
        cos(ax / (term_b + 0.000123)) * cos(ax * sin(ay * sin(ay * cos(ax)))))))))
    term_d = np.abs(tan(ax - ay * cos(ay / (
        (ax + 0.000123) + term_b * sin(ay + (ax * cos_sum) * cos(term_b))))))
    term_e = np.abs(tan(term_d - term_c * cos(ay / (
        (ax + 0.000123) + term_b * sin(ay + (ax * cos_sum) * cos_a)))))
    term_f = sin(np.power(np.abs(term_b / (term_d + TURN)), 0.5))

    return (0.02 * term_c + 0.07 * term_d + 0.1 * term_f + 0.03 * term_b + 0.004 * term_e,
            0.07 * term_c + 0.03 * term_d + 0.2 * term_f + 0.13 * term_b + 0.02 * term_e,
            0.19 * term_c + 0.01 * term_d + 0.03 * term_f + 0.19 * term_b + 0.07 * term_e)


# routine: (caption, function, zoom multiplier, brightness multiplier,
# level scale, level offsets); both formulas centre the image on the position.
FORMULAS = {
    "dune": ("pebble", dune, 2.0, 0.5, 1.0, (0.0, 0.0, 0.0)),
    "qwin": ("quest", qwin, 3.0, 0.5, 4.0, (0.0, 0.0, 0.0)),
}


def world_coordinates(position, size):
    """The world values of the columns (or rows): the position is the middle,
    and the first value lies one past the origin."""
    origin = position - size / 2
    return origin + 1 + np.arange(size, dtype=np.float64)


def image(routine, size, position=(1.0, 1.0), zoom_box=1.0, brightness_box=150.0):
    """The size x size x 3 image of 8-bit levels, rows top to bottom."""
    _, function, zoom_multiplier, brightness_multiplier, level_scale, offsets = FORMULAS[routine]
    zoom = zoom_multiplier * zoom_box
    brightness = brightness_box * brightness_multiplier
    X, Y = np.meshgrid(world_coordinates(position[0], size),
                       world_coordinates(position[1], size))
    with np.errstate(all="ignore"):  # tan's poles and 0 / 0 give what they give
        mixtures = function(X, Y, zoom)
        channels = []
        for mixture, offset in zip(mixtures, offsets):
            level = (mixture * brightness) * level_scale + offset
            level = np.clip(np.nan_to_num(level, nan=0.0), 0.0, 255.0)
            channels.append(np.rint(level).astype(np.uint8))  # half to even
    return np.stack(channels, axis=-1)


def save_ppm(path, pixels):
    height, width, _ = pixels.shape
    with open(path, "wb") as file:
        file.write(b"P6\n%d %d\n255\n" % (width, height))
        file.write(pixels.tobytes())


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("routines", nargs="*", metavar="routine",
                        help="dune, qwin or both (the default)")
    parser.add_argument("--size", type=int, default=1024, help="image size box (default 1024)")
    parser.add_argument("--repeat", type=int, default=3, help="runs, the best counts (default 3)")
    parser.add_argument("--save", metavar="FOLDER",
                        help="also write each image as FOLDER/<routine>.ppm")
    options = parser.parse_args()
    if options.size < 1 or options.repeat < 1:
        parser.error("--size and --repeat need a whole number from 1")
    for routine in options.routines:
        if routine not in FORMULAS:
            parser.error("unknown routine %r: give dune or qwin" % routine)
    routines = options.routines or list(FORMULAS)

    print("numpy %s, %d x %d pixels, computation only, best of %d:"
          % (np.__version__, options.size, options.size, options.repeat))
    for routine in routines:
        best = float("inf")
        for _ in range(options.repeat):
            start = time.perf_counter()
            pixels = image(routine, options.size)
            best = min(best, time.perf_counter() - start)
        print('%s ("%s"): %.3f s' % (routine, FORMULAS[routine][0], best))
        if options.save:
            save_ppm(os.path.join(options.save, routine + ".ppm"), pixels)


if __name__ == "__main__":
    main()
