#!/usr/bin/python3
"""Draws the dock item's two animation strips, NoMail.png and NewMail.png.

Usage: art/draw_strips.py [OUTPUT_FOLDER]    (default: package/ in the repository)
Needs Debian's python3 with python3-pil, hence /usr/bin/python3 rather than env.

A strip is a row of 128 x 128 RGBA frames, shown left to right one every 75 ms
and looping. Both show an envelope afloat in a well: with no mail it bobs on a
slow tide; with new mail it leaps out of the water under a pulsing badge.
"""
import argparse
import math
import sys
from pathlib import Path

from PIL import Image, ImageChops, ImageDraw, ImageFilter

SIZE = 128
SCALE = 4  # drawn at 4x, then downsampled: anti-aliased edges
CENTER = SIZE / 2
WELL_RADIUS = 58
WATER_LEVEL = 80

CALM = {
    "well_top": (58, 74, 92), "well_bottom": (30, 40, 54), "rim": (132, 152, 172),
    "water": (74, 112, 142, 225), "crest": (160, 190, 212),
    "paper": (196, 208, 221), "flap": (160, 176, 195), "ink": (38, 50, 64),
}
ALERT = dict(CALM, paper=(255, 255, 255), flap=(226, 233, 242), crest=(255, 214, 150))
BADGE = (236, 72, 36)
GLOW = (255, 206, 110)
WHITE = (255, 255, 255)


def px(*values):
    """Scales 128-pixel coordinates to the 4x drawing canvas."""
    return [v * SCALE for v in values]


def thick(width):
    """A line width in 128-pixel units, on the 4x canvas."""
    return round(width * SCALE)


def layer():
    return Image.new("RGBA", (SIZE * SCALE, SIZE * SCALE), (0, 0, 0, 0))


def clip_to_well(image):
    mask = Image.new("L", image.size, 0)
    ImageDraw.Draw(mask).ellipse(px(CENTER - WELL_RADIUS, CENTER - WELL_RADIUS,
                                    CENTER + WELL_RADIUS, CENTER + WELL_RADIUS), fill=255)
    image.putalpha(ImageChops.multiply(image.getchannel("A"), mask))
    return image


def draw_well(colours):
    gradient = Image.linear_gradient("L").resize((SIZE * SCALE, SIZE * SCALE))
    inside = Image.composite(Image.new("RGBA", gradient.size, colours["well_bottom"]),
                             Image.new("RGBA", gradient.size, colours["well_top"]), gradient)
    return clip_to_well(inside)


def draw_rim(colours):
    image = layer()
    r = WELL_RADIUS
    ImageDraw.Draw(image).ellipse(px(CENTER - r, CENTER - r, CENTER + r, CENTER + r),
                                  outline=colours["rim"], width=thick(4))
    return image


def draw_water(colours, t, height):
    """Two waves at whole multiples of the loop's phase, so frame N equals frame 0."""
    def surface(x):
        return (WATER_LEVEL + height * math.sin(2 * math.pi * (x / 64 - t))
                + height * 0.5 * math.sin(2 * math.pi * (x / 37 + 2 * t)))

    points = [(x, surface(x)) for x in range(0, SIZE + 1, 2)]
    image = layer()
    draw = ImageDraw.Draw(image)
    draw.polygon([tuple(px(*p)) for p in points + [(SIZE, SIZE), (0, SIZE)]],
                 fill=colours["water"])
    draw.line([tuple(px(*p)) for p in points], fill=colours["crest"], width=thick(2),
              joint="curve")
    return clip_to_well(image)


def draw_glow(strength):
    image = layer()
    ImageDraw.Draw(image).ellipse(px(20, 14, 108, 84), fill=GLOW + (round(235 * strength),))
    return clip_to_well(image.filter(ImageFilter.GaussianBlur(thick(9))))


def draw_envelope(colours, center_y, tilt, squash=0.0):
    w, h = 70 * (1 + squash * 0.6), 46 * (1 - squash)
    bottom = center_y + 23  # squash keeps the envelope's bottom where it was
    x0, x1, y0, y1 = CENTER - w / 2, CENTER + w / 2, bottom - h, bottom
    image = layer()
    draw = ImageDraw.Draw(image)
    ink = thick(2.5)
    draw.rounded_rectangle(px(x0, y0, x1, y1), radius=thick(5), fill=colours["paper"],
                           outline=colours["ink"], width=ink)
    tip = (CENTER, y0 + h * 0.58)
    draw.polygon([tuple(px(x0 + 2, y0 + 2)), tuple(px(x1 - 2, y0 + 2)), tuple(px(*tip))],
                 fill=colours["flap"])
    draw.line([tuple(px(x0 + 1.5, y0 + 1.5)), tuple(px(*tip)), tuple(px(x1 - 1.5, y0 + 1.5))],
              fill=colours["ink"], width=ink, joint="curve")
    return image.rotate(tilt, resample=Image.BICUBIC, center=px(CENTER, center_y))


def draw_badge(scale):
    image = layer()
    draw = ImageDraw.Draw(image)
    cx, cy, r = 100, 28, 19 * scale
    draw.ellipse(px(cx - r, cy - r, cx + r, cy + r), fill=BADGE, outline=WHITE, width=thick(3))
    bar, dot = 3.2 * scale, 2.6 * scale
    draw.rounded_rectangle(px(cx - bar / 2, cy - 11 * scale, cx + bar / 2, cy + 3 * scale),
                           radius=thick(bar / 2), fill=WHITE)
    draw.ellipse(px(cx - dot, cy + 9 * scale - dot, cx + dot, cy + 9 * scale + dot), fill=WHITE)
    return image


# A frame is its layers, bottom first, for the time t in [0, 1) within the loop.
def no_mail_frame(t):
    angle = 2 * math.pi * t
    return [draw_well(CALM),
            draw_envelope(CALM, 60 + 1.5 * math.sin(angle), 3 * math.sin(angle + 1)),
            draw_water(CALM, t, 2.2), draw_rim(CALM)]


def new_mail_frame(t):
    # The envelope hops on |sin|, so it lands (and squashes) at the loop's seam.
    lift = math.sin(math.pi * t)
    squash = 0.14 * math.cos(math.pi * t) ** 16
    pulse = math.cos(2 * math.pi * t)
    return [draw_well(ALERT), draw_glow(0.75 + 0.25 * pulse),
            draw_envelope(ALERT, 58 - 22 * lift, 6 * math.sin(2 * math.pi * t), squash),
            draw_water(ALERT, t, 3.5 * (1 - 0.6 * lift)), draw_rim(ALERT),
            draw_badge(1 + 0.12 * pulse)]


def draw_strip(frame_layers, frames):
    strip = Image.new("RGBA", (SIZE * frames, SIZE), (0, 0, 0, 0))
    for i in range(frames):
        frame = layer()
        for part in frame_layers(i / frames):
            frame = Image.alpha_composite(frame, part)
        strip.paste(frame.resize((SIZE, SIZE), Image.LANCZOS), (i * SIZE, 0))
    return strip


STRIPS = [("NoMail.png", no_mail_frame, 20), ("NewMail.png", new_mail_frame, 12)]


def main(argv):
    parser = argparse.ArgumentParser(description="Draws NoMail.png and NewMail.png.")
    parser.add_argument("folder", nargs="?",
                        default=Path(__file__).resolve().parent.parent / "package",
                        help="folder to write the strips to (default: package/)")
    folder = parser.parse_args(argv).folder
    if folder == "":
        parser.error("the folder name is empty")
    folder = Path(folder)
    if folder.exists() and not folder.is_dir():
        parser.error(f"{folder} exists and is not a folder")
    try:
        folder.mkdir(parents=True, exist_ok=True)
    except OSError as error:
        parser.error(f"cannot create folder {folder}: {error.strerror}")

    for name, frame_layers, frames in STRIPS:
        path = folder / name
        strip = draw_strip(frame_layers, frames)
        strip.save(path, optimize=True)
        print(f"wrote {path}: {strip.width}x{strip.height}, {frames} frames of {SIZE}x{SIZE}"
              f" ({frames * 75} ms loop)")


if __name__ == "__main__":
    main(sys.argv[1:])
