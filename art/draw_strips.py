#!/usr/bin/python3
"""Draws the dock item's two animation strips, NoMail.png and NewMail.png.

Usage: art/draw_strips.py [OUTPUT_FOLDER]    (default: package/ in the repository)
Needs Debian's python3 with python3-pil, hence /usr/bin/python3 rather than env.

A strip is a row of 128 x 128 RGBA frames, shown left to right one every 75 ms
and looping. Both show an envelope afloat in a well, rocking on the water as it
sloshes from side to side. With new mail the envelope is lit, a badge is up,
and once a loop it hops out of the water, then rocks gently for the rest.

The motions swing back and forth, so the way back repeats the frames of the
way out pixel for pixel, and the new-mail strip repeats its gentle rocking:
the docklet keeps one copy of each repeated frame, so the long new-mail loop
costs little memory.
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
WATER_LEVEL = 84
ENVELOPE_WIDTH, ENVELOPE_HEIGHT = 70, 46
# How far the envelope's bottom lies under the water: deeper than the ripple
# and the rounded corners rise, so no gap opens between envelope and water.
DEPTH = 6
SLOPE = 0.06       # the water's tilt at the height of a swing (about 3.5 degrees)
RIPPLE = 0.8       # height of the small wave riding on the tilt
# With Badge=1 the docklet draws the count over this mark, a disc of 44 flush
# with the top right corner that covers it as far as it grows in the hop:
# moved or made larger, it would show beside the count.
BADGE_CENTER, BADGE_RADIUS = (108, 20), 16
HOP_HEIGHT, HOP_DRIFT = 14, 8  # the hop's top keeps the envelope inside the rim and off the badge

CALM = {
    "well_top": (58, 74, 92), "well_bottom": (30, 40, 54), "rim": (132, 152, 172),
    "water": (74, 112, 142, 236), "crest": (160, 190, 212),
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


def surface(x, swing):
    """The water's height at x; swing in [-1, 1] is the slosh's phase as cos()."""
    return (WATER_LEVEL + swing * SLOPE * (x - CENTER)
            + RIPPLE * (2 * swing * swing - 1) * math.cos(2 * math.pi * (x - CENTER) / 40))


def draw_water(colours, swing):
    points = [(x, surface(x, swing)) for x in range(0, SIZE + 1, 2)]
    image = layer()
    draw = ImageDraw.Draw(image)
    draw.polygon([tuple(px(*p)) for p in points + [(SIZE, SIZE), (0, SIZE)]],
                 fill=colours["water"])
    draw.line([tuple(px(*p)) for p in points], fill=colours["crest"], width=thick(2),
              joint="curve")
    return clip_to_well(image)


def draw_glow(strength, center_x, center_y):
    image = layer()
    ImageDraw.Draw(image).ellipse(px(center_x - 44, center_y - 34, center_x + 44, center_y + 34),
                                  fill=GLOW + (round(235 * strength),))
    return clip_to_well(image.filter(ImageFilter.GaussianBlur(thick(9))))


def draw_envelope(colours, pivot, lift, tilt, squash=0.0):
    """The envelope with its bottom DEPTH under the pivot, raised by lift and
    turned by tilt degrees about the pivot; squash keeps its bottom in place."""
    w, h = ENVELOPE_WIDTH * (1 + squash * 0.6), ENVELOPE_HEIGHT * (1 - squash)
    center_x, waterline = pivot
    bottom = waterline + DEPTH - lift
    x0, x1, y0, y1 = center_x - w / 2, center_x + w / 2, bottom - h, bottom
    image = layer()
    draw = ImageDraw.Draw(image)
    ink = thick(2.5)
    draw.rounded_rectangle(px(x0, y0, x1, y1), radius=thick(5), fill=colours["paper"],
                           outline=colours["ink"], width=ink)
    tip = (center_x, y0 + h * 0.58)
    draw.polygon([tuple(px(x0 + 2, y0 + 2)), tuple(px(x1 - 2, y0 + 2)), tuple(px(*tip))],
                 fill=colours["flap"])
    draw.line([tuple(px(x0 + 1.5, y0 + 1.5)), tuple(px(*tip)), tuple(px(x1 - 1.5, y0 + 1.5))],
              fill=colours["ink"], width=ink, joint="curve")
    return image.rotate(tilt, resample=Image.BICUBIC, center=px(center_x, waterline - lift))


def draw_badge(scale):
    image = layer()
    draw = ImageDraw.Draw(image)
    (cx, cy), r = BADGE_CENTER, BADGE_RADIUS * scale
    draw.ellipse(px(cx - r, cy - r, cx + r, cy + r), fill=BADGE, outline=WHITE, width=thick(3))
    bar, dot = 3.2 * scale, 2.6 * scale
    draw.rounded_rectangle(px(cx - bar / 2, cy - 11 * scale, cx + bar / 2, cy + 3 * scale),
                           radius=thick(bar / 2), fill=WHITE)
    draw.ellipse(px(cx - dot, cy + 9 * scale - dot, cx + dot, cy + 9 * scale + dot), fill=WHITE)
    return image


def floating_tilt(swing):
    """The envelope lies along the water: it turns with the slope under it."""
    return -math.degrees(math.atan(swing * SLOPE))


# A frame is its layers, bottom first, for a pose: the pose's values decide
# every pixel, so poses that repeat give frames alike pixel for pixel.
def no_mail_frame(swing):
    return [draw_well(CALM),
            draw_envelope(CALM, (CENTER, surface(CENTER, swing)), 0, floating_tilt(swing)),
            draw_water(CALM, swing), draw_rim(CALM)]


def new_mail_frame(swing, hop, squash):
    """hop in [0, 1]: how far up the hop the envelope is."""
    lift = HOP_HEIGHT * hop
    center_x = CENTER - HOP_DRIFT * hop
    # Afloat it turns with the water; in the air it leans a little into the hop.
    tilt = floating_tilt(swing) * (1 - hop) - 3 * math.sin(math.pi * hop)
    waterline = surface(CENTER, swing)
    glow = min(1.0, 0.78 + 0.12 * swing + 0.3 * hop)
    return [draw_well(ALERT),
            draw_glow(glow, center_x, waterline + DEPTH - lift - ENVELOPE_HEIGHT / 2),
            draw_envelope(ALERT, (center_x, waterline), lift, tilt, squash),
            draw_water(ALERT, swing), draw_rim(ALERT), draw_badge(1 + 0.1 * hop)]


def swing_at(step, steps):
    """The slosh's phase after step of a back-and-forth of steps frames; the
    way back (steps - step) gives exactly the same value as the way out."""
    return math.cos(2 * math.pi * min(step, steps - step) / steps)


NO_MAIL_SWING = 20  # frames of one rock: 1.5 s
HOP_FRAMES = 12     # 0.9 s: crouch, rise, top, fall, land
GENTLE_SWING = 18   # 1.35 s
GENTLE_SWINGS = 2   # after the hop: 2.7 s of gentle rocking, a loop of 3.6 s


def no_mail_poses():
    return [(swing_at(i, NO_MAIL_SWING),) for i in range(NO_MAIL_SWING)]


def new_mail_poses():
    poses = []
    for i in range(HOP_FRAMES):
        # Up and down take the same frames; the crouch before the jump is the landing.
        step = min(i, HOP_FRAMES - i)
        # Out of the water at once, slowing towards the top.
        hop = 0.0 if step <= 1 else 1 - (1 - (step - 1) / (HOP_FRAMES / 2 - 1)) ** 3
        poses.append((swing_at(step, HOP_FRAMES), hop, 0.1 if step == 1 else 0.0))
    for _ in range(GENTLE_SWINGS):
        poses += [(swing_at(i, GENTLE_SWING), 0.0, 0.0) for i in range(GENTLE_SWING)]
    return poses


def draw_strip(frame_layers, poses):
    strip = Image.new("RGBA", (SIZE * len(poses), SIZE), (0, 0, 0, 0))
    drawn = {}
    for i, pose in enumerate(poses):
        if pose not in drawn:
            frame = layer()
            for part in frame_layers(*pose):
                frame = Image.alpha_composite(frame, part)
            drawn[pose] = frame.resize((SIZE, SIZE), Image.LANCZOS)
        strip.paste(drawn[pose], (i * SIZE, 0))
    return strip, len(drawn)


STRIPS = [("NoMail.png", no_mail_frame, no_mail_poses),
          ("NewMail.png", new_mail_frame, new_mail_poses)]


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

    for name, frame_layers, poses in STRIPS:
        path = folder / name
        strip, different = draw_strip(frame_layers, poses())
        strip.save(path, optimize=True)
        frames = strip.width // SIZE
        print(f"wrote {path}: {strip.width}x{strip.height}, {frames} frames of {SIZE}x{SIZE}"
              f" ({frames * 75} ms loop), {different} of them different")


if __name__ == "__main__":
    main(sys.argv[1:])
