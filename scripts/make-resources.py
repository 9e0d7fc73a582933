#!/usr/bin/python3
"""Draws the tool's images: the window icon (also as PNG files for the desktop's
icon theme), the button background and the loading animation. Run once after
changing them; the results are committed. Needs python3-pil."""
import math
import os

from PIL import Image, ImageDraw

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
ICON_NAME = "tembra-update-tool.png"
ACCENT = (0, 122, 153)
ACCENT_DARK = (0, 84, 110)


def icon():
    size = 256
    img = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    # A watch: strap, round case, two hands.
    d.rounded_rectangle((88, 8, 168, 248), radius=24, fill=ACCENT_DARK)
    d.ellipse((36, 36, 220, 220), fill=ACCENT, outline=(255, 255, 255), width=10)
    d.line((128, 128, 128, 70), fill=(255, 255, 255), width=12)
    d.line((128, 128, 170, 150), fill=(255, 255, 255), width=10)
    d.ellipse((116, 116, 140, 140), fill=(255, 255, 255))
    img.save(os.path.join(ROOT, "Logo", "Logo.ico"),
             sizes=[(16, 16), (32, 32), (48, 48), (64, 64), (128, 128), (256, 256)])
    # The same drawing for the desktop's icon theme, one file per usual size.
    for n in ICON_SIZES:
        folder = os.path.join(ROOT, "icons", "hicolor", "%dx%d" % (n, n), "apps")
        os.makedirs(folder, exist_ok=True)
        scaled = img if n == size else img.resize((n, n), Image.LANCZOS)
        scaled.save(os.path.join(folder, ICON_NAME), optimize=True)


def suffix(scale):
    """Qt picks "name@2x.png" for a screen scaled by 2 (and images read from
    such a file carry that pixel ratio)."""
    return "" if scale == 1 else "@%dx" % scale


def button(scale=1):
    w, h, r = 211 * scale, 45 * scale, 8 * scale
    img = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    grad = Image.new("RGBA", (w, h))
    gd = ImageDraw.Draw(grad)
    for y in range(h):
        t = y / (h - 1)
        colour = tuple(int(ACCENT[i] * (1 - t) + ACCENT_DARK[i] * t) for i in range(3)) + (255,)
        gd.line((0, y, w, y), fill=colour)
    mask = Image.new("L", (w, h), 0)
    ImageDraw.Draw(mask).rounded_rectangle((0, 0, w - 1, h - 1), radius=r, fill=255)
    img.paste(grad, (0, 0), mask)
    ImageDraw.Draw(img).rounded_rectangle((0, 0, w - 1, h - 1), radius=r,
                                          outline=(255, 255, 255, 90), width=scale)
    img.save(os.path.join(ROOT, "Logo", "btnupdatefirmware2121%s.png" % suffix(scale)))


def loading(scale=1):
    size, frames, dots = 28 * scale, 12, 12
    images = []
    for f in range(frames):
        # Palette index 0 is transparent, so the page shows through.
        img = Image.new("P", (size, size), 0)
        palette = [255, 255, 255]
        d = ImageDraw.Draw(img)
        for k in range(dots):
            angle = 2 * math.pi * k / dots
            # The dot at the head of the turn is darkest; the trail fades.
            age = (f - k) % dots
            shade = int(40 + 200 * age / dots)
            palette += [shade, min(255, shade + 50), min(255, shade + 70)]
            cx = size / 2 + 10 * scale * math.cos(angle)
            cy = size / 2 + 10 * scale * math.sin(angle)
            rad = 2.2 * scale
            d.ellipse((cx - rad, cy - rad, cx + rad, cy + rad), fill=k + 1)
        img.putpalette(palette + [0, 0, 0] * (256 - len(palette) // 3))
        images.append(img)
    images[0].save(os.path.join(ROOT, "Btn", "loading%s.gif" % suffix(scale)), save_all=True,
                   append_images=images[1:], duration=80, loop=0, transparency=0,
                   disposal=2)


if __name__ == "__main__":
    icon()
    for s in (1, 2):
        button(s)
        loading(s)
