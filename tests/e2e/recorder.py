"""Records one sound stream for the end-to-end tests. ALSA's file plugin
starts this for every stream a player opens and pipes the stream's raw
samples into it; it closes the pipe, and waits for this to exit, when the
player closes the stream.

    recorder.py FOLDER

The samples go, as they come, into FOLDER/OPENED-PID.raw, which is renamed
FOLDER/OPENED-PID-CLOSED.raw once the stream has closed; OPENED and CLOSED
are the times on the system's monotonic clock, in nanoseconds. While a file
FOLDER/hold exists, a closed stream is held open to the player: the player
waits for its sound's end as long as a test needs."""
import os
import sys
import time

opened = time.monotonic_ns()
folder = sys.argv[1]
name = os.path.join(folder, f"{opened}-{os.getpid()}")
with open(name + ".raw", "wb", buffering=0) as out:
    while data := os.read(0, 1 << 16):
        out.write(data)
closed = time.monotonic_ns()
while os.path.exists(os.path.join(folder, "hold")):
    time.sleep(0.01)
os.rename(name + ".raw", f"{name}-{closed}.raw")
