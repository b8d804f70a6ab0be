#!/usr/bin/env python3
"""Decodes a GIF or PNG with Pillow: every whole frame as it shows (RGB, top-down) into OUT.raw,
one after another, and a line "frames N durations D1,D2,... dpi X" on standard output. A frame
cut off (a recording killed while writing it) ends the file, as it does for a browser."""
import sys
from PIL import Image, ImageSequence

def main(path, out):
    image = Image.open(path)
    durations = []
    with open(out, "wb") as raw:
        try:
            for frame in ImageSequence.Iterator(image):
                pixels = frame.convert("RGB").tobytes()
                durations.append(int(frame.info.get("duration", 0)))
                raw.write(pixels)
        except (OSError, EOFError):
            pass
    dpi = image.info.get("dpi", (0, 0))[0]
    print("frames %d durations %s dpi %d" % (len(durations), ",".join(map(str, durations)), round(dpi)))

if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
