"""The keyboard's geometry as the design gives it, worked out independently
of the program so that the tests can check what it draws."""

WHITE_WIDTH, WHITE_HEIGHT = 70, 420
BLACK_WIDTH, BLACK_HEIGHT = 40, 270
BLACK_OFFSETS = (50, 120, 260, 330, 400, 540, 610, 750, 820, 890)
NO_BLACK_AT_LEFT = (0, 3, 7, 10, 14)

WHITE_KEYS = ("Tab", "q", "w", "e", "r", "t", "y", "u", "i", "o", "p",
              "bracketleft", "bracketright", "backslash", "Delete")
BLACK_KEYS = ("1", "2", "4", "5", "6", "8", "9", "minus", "equal", "BackSpace")
WHITE_SOUNDS = (40, 42, 44, 45, 47, 49, 51, 52, 54, 56, 57, 59, 61, 63, 64)
BLACK_SOUNDS = (41, 43, 46, 48, 50, 53, 55, 58, 60, 62)


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


def frequency(sound_number):
    return 440.0 * 2 ** ((sound_number - 49) / 12)
