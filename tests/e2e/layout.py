"""The keyboard's geometry and drawing, every length and colour written out
here apart from the program's own, so that the tests check what it draws
against numbers it does not share with them."""
import numpy as np

WHITE_WIDTH, WHITE_HEIGHT = 70, 420
BLACK_WIDTH, BLACK_HEIGHT = 40, 270
BLACK_OFFSETS = (50, 120, 260, 330, 400, 540, 610, 750, 820, 890)
NO_BLACK_AT_LEFT = (0, 3, 7, 10, 14)

WHITE_KEYS = ("Tab", "q", "w", "e", "r", "t", "y", "u", "i", "o", "p",
              "bracketleft", "bracketright", "backslash", "Delete")
BLACK_KEYS = ("1", "2", "4", "5", "6", "8", "9", "minus", "equal", "BackSpace")
WHITE_SOUNDS = (40, 42, 44, 45, 47, 49, 51, 52, 54, 56, 57, 59, 61, 63, 64)
BLACK_SOUNDS = (41, 43, 46, 48, 50, 53, 55, 58, 60, 62)

WHITE, BLACK, GREY = (255, 255, 255), (0, 0, 0), (153, 153, 153)
TITLE_COLOUR, LABEL_COLOUR = (143, 169, 199), (102, 102, 102)
# The title's font: height, weight, italic, pitch and family (variable
# pitch, Swiss), face; and where the title, the rule and the labels stand
# above the keyboard.
TITLE_FONT = ("45", "900", "1", "34", "Arial")
TITLE_RISE, RULE_RISE, LABEL_RISE, LABEL_HEIGHT = 60, 10, 40, 20
# Each label's x from the keyboard's left edge and its width.
LABELS = {"link": (720, 200), "about": (930, 40), "help": (980, 40), "exit": (1020, 30)}


def keyboard_origin(screen_width, screen_height):
    left = int((screen_width - 1050) / 2)
    top = int((screen_height - 34 - 420) / 2)
    return (left if left >= 0 else 4), (top if top >= 0 else 100)


def white_key(i, origin):
    left, top = origin
    return (left + WHITE_WIDTH * i, top, left + WHITE_WIDTH * (i + 1), top + WHITE_HEIGHT)


def black_key(j, origin):
    left, top = origin
    return (left + BLACK_OFFSETS[j], top, left + BLACK_OFFSETS[j] + BLACK_WIDTH, top + BLACK_HEIGHT)


def label_box(name, origin):
    offset, width = LABELS[name]
    x, y = origin[0] + offset, origin[1] - LABEL_RISE
    return (x, y, x + width, y + LABEL_HEIGHT)


class Picture:
    """What a window's client area must show, pixel by pixel: each pixel's
    colour and the region that accounts for it. In a text region a pixel
    may also be any shade of the text's colour on the black background,
    since the font's renderer smooths its edges."""

    def __init__(self, width, height):
        self.colour = np.zeros((height, width, 3), np.int32)
        self.region = np.zeros((height, width), np.int32)
        self.text = np.zeros((height, width), bool)
        self.art = np.zeros((height, width), bool)
        self.names = ["background"]
        self.texts = set()
        self.arts = set()

    def fill(self, name, left, top, right, bottom, colour, text=False, shades=False, art=False):
        """A region of one colour; with `text`, a text in that colour that
        must show; with `shades`, any shade of the colour, as the platform's
        own drawing has them; with `art`, a picture of the platform's own on
        that colour, such as a message box's icon, whose pixels may be any
        colour but must not all be that one."""
        if name not in self.names:
            self.names.append(name)
        if text:
            self.texts.add(self.names.index(name))
        if art:
            self.arts.add(self.names.index(name))
        area = np.s_[max(top, 0):max(bottom, 0), max(left, 0):max(right, 0)]
        self.colour[area], self.region[area] = colour, self.names.index(name)
        self.text[area] = text or shades
        self.art[area] = art

    def line(self, name, x0, y0, x1, y1, colour, width=1):
        """A line from (x0, y0) up to, not including, (x1, y1). Wine's
        2-pixel pen covers the coordinate and the one before it across the
        line, and along it from one pixel before the start to the end."""
        w = width - 1
        if y0 == y1:
            self.fill(name, x0 - w, y0 - w, x1 + w, y0 + 1, colour)
        else:
            self.fill(name, x0 - w, y0 - w, x0 + 1, y1 + w, colour)

    def unaccounted(self, image):
        """The pixels of `image` that the picture does not account for, by
        region, with the first few coordinates; empty if there are none."""
        image = image[:self.colour.shape[0], :self.colour.shape[1]]
        scale = (image * self.colour).sum(2) / np.maximum((self.colour ** 2).sum(2), 1)
        shade = (np.abs(image - scale[..., None] * self.colour).max(2) <= 1) & (scale <= 1)
        inked = np.all(image == self.colour, axis=2)
        wrong = ~inked & ~(self.text & shade) & ~self.art
        report = []
        ys, xs = np.nonzero(wrong)
        for index in np.unique(self.region[ys, xs]):
            at = self.region[ys, xs] == index
            x, y = xs[at], ys[at]
            seen = ", ".join(f"({x},{y}) {tuple(image[y, x])}" for x, y in zip(x[:4], y[:4]))
            report.append(f"{self.names[index]}, expected {tuple(self.colour[y[0], x[0]])}: "
                          f"{len(x)} pixels, first {seen}")
        for index in sorted(self.texts):
            covered = self.region == index
            if covered.any() and inked[covered].mean() < 0.05:
                report.append(f"{self.names[index]}: no text in its colour")
        for index in sorted(self.arts):
            covered = self.region == index
            if covered.any() and inked[covered].all():
                report.append(f"{self.names[index]}: not drawn")
        return "\n".join(report)


def released_window(width, height, origin, title_box, frame_colour):
    """The client area of a window `width` x `height` with the keyboard at
    `origin` and every key released. The title's glyphs are the font's
    matter: only the box that its font may ink (`title_box`, from its
    top-left corner) may hold them. The labels' borders are the platform's
    window-frame colour."""
    picture = Picture(width, height)
    left, top = origin
    x0, y0, x1, y1 = title_box
    picture.fill("title", left + x0, top - TITLE_RISE + y0, left + x1, top - TITLE_RISE + y1,
                 TITLE_COLOUR, text=True)
    picture.line("rule", left, top - RULE_RISE, left + 15 * WHITE_WIDTH, top - RULE_RISE, WHITE)
    for name in LABELS:
        x0, y0, x1, y1 = label_box(name, origin)
        picture.fill(f"{name} label's border", x0, y0, x1, y1, frame_colour)
        picture.fill(f"{name} label's text", x0 + 1, y0 + 1, x1 - 1, y1 - 1, LABEL_COLOUR,
                     text=True)
    for i in range(15):
        L, T, R, B = white_key(i, origin)
        picture.fill(f"white key {i}", L, T, R, B, WHITE)
        picture.line(f"white key {i}'s separator", R - 1, T, R - 1, B - 1, BLACK, 2)
        picture.line(f"white key {i}'s lip", L + 1, B - 20, R - 4, B - 20, BLACK, 2)
    for j in range(10):
        L, T, R, B = black_key(j, origin)
        picture.fill(f"black key {j}", L, T, R, B, BLACK)
        for x0, y0, x1, y1 in ((L + 5, T, L + 5, B - 8), (R - 6, T, R - 6, B - 8),
                               (L + 5, B - 6, R - 7, B - 6)):
            picture.line(f"black key {j}'s outline", x0, y0, x1, y1, GREY, 2)
        picture.fill(f"black key {j}'s shadow", R, T, R + 8, B + 8, GREY)
        picture.fill(f"black key {j}'s shadow", L + 8, B, R, B + 8, GREY)
        picture.line(f"black key {j}'s separator", L + 19, B, L + 19, B + 8, BLACK, 2)
    return picture


def frequency(sound_number):
    return 440.0 * 2 ** ((sound_number - 49) / 12)
