#!/usr/bin/env python3
"""Makes a documents folder full of small valid MP3 records, for the list benchmarks.

One short MP3 (half a second of a tone, 22050 Hz mono) is encoded once with ffmpeg or sox;
each record is that audio behind its own ID3 version 2.3 tag (artist, title, album), named as
the recorder names its files, with modification times a minute apart so the list has an order.
A tenth of them go into "Incoming" and a tenth into "Outgoing".

The folder is made once and reused: a stamp file records what it holds.

usage: make_records.py DOCUMENTS_FOLDER [--count N]
       (the records go into DOCUMENTS_FOLDER/My Quillory)
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

VERSION = 1
ARTISTS = ["Record", "Anna Petrova", "Bob Smith", "Carla Jones", "Dmitri Ivanov", "Eva Green",
           "Frank Miller", "Grace Hopper", "Hugo Weber", "Irina Volkova", "+44 20 7946 0958",
           "Jack O'Neil", "Karin Berg", "Lena Novak", "Marco Rossi", "(Nina) Office"]
WORDS = ["meeting", "shopping", "idea", "lecture", "interview", "call", "reminder", "song",
         "notes", "plan", "budget", "doctor", "garden", "travel", "review", "draft"]
MONTHS = ["January", "February", "March", "April", "May", "June", "July", "August",
          "September", "October", "November", "December"]


def base_audio(cache):
    """MPEG audio frames without any tag."""
    path = os.path.join(cache, "base.mp3")
    if not os.path.exists(path):
        tmp = path + ".tmp.mp3"
        if shutil.which("ffmpeg"):
            cmd = ["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                   "sine=frequency=440:duration=0.5", "-ac", "1", "-ar", "22050", "-b:a", "32k",
                   "-id3v2_version", "0", "-write_xing", "0", tmp]
        else:
            cmd = ["sox", "-n", "-r", "22050", "-c", "1", "-C", "32", tmp, "synth", "0.5",
                   "sine", "440"]
        subprocess.run(cmd, check=True)
        os.replace(tmp, path)
    with open(path, "rb") as f:
        data = f.read()
    if data[:3] == b"ID3":  # drop a tag the encoder wrote
        size = 0
        for b in data[6:10]:
            size = (size << 7) | (b & 0x7F)
        data = data[10 + size:]
    if data[-128:-125] == b"TAG":
        data = data[:-128]
    if len(data) < 4 or data[0] != 0xFF or (data[1] & 0xE0) != 0xE0:
        sys.exit("make_records: the encoder did not give plain MPEG frames")
    return data


def frame(frame_id, text):
    body = b"\x01" + text.encode("utf-16")  # UTF-16 with its byte-order mark
    return frame_id.encode("ascii") + struct.pack(">I", len(body)) + b"\x00\x00" + body


def id3(artist, title, album):
    frames = frame("TPE1", artist) + frame("TIT2", title) + frame("TALB", album) + \
        frame("TCON", "Quillory Vozir")
    size = len(frames) + 64  # some padding, as a renamed record has
    synchsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    return b"ID3\x03\x00\x00" + synchsafe + frames + b"\x00" * 64


def make(documents, count):
    folder = os.path.join(documents, "My Quillory")
    stamp = os.path.join(documents, ".records-stamp")
    want = f"{VERSION} {count}\n"
    try:
        with open(stamp) as f:
            if f.read() == want:
                return folder
    except FileNotFoundError:
        pass
    if os.path.exists(folder):
        shutil.rmtree(folder)
    for sub in ("", "Incoming", "Outgoing"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
    audio = base_audio(documents)
    now = time.time()
    for i in range(count):
        artist = ARTISTS[i % len(ARTISTS)]
        when = time.localtime(now - 60 * (count - i))
        title = (f"{when.tm_mday} {MONTHS[when.tm_mon - 1]} {when.tm_year} "
                 f"{when.tm_hour:02}:{when.tm_min:02}:{when.tm_sec:02} "
                 f"{WORDS[(i * 7) % len(WORDS)]} {i}")
        sub = "Incoming" if i % 10 == 3 else "Outgoing" if i % 10 == 7 else ""
        album = sub or "Record"
        name = f"{artist} {title}".replace(":", " ")
        path = os.path.join(folder, sub, name + ".mp3")
        with open(path, "wb") as f:
            f.write(id3(artist, title, album))
            f.write(audio)
        stamp_time = now - 60 * (count - i)
        os.utime(path, (stamp_time, stamp_time))
    with open(stamp, "w") as f:
        f.write(want)
    return folder


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("documents")
    parser.add_argument("--count", type=int, default=10000)
    args = parser.parse_args()
    os.makedirs(args.documents, exist_ok=True)
    start = time.monotonic()
    folder = make(args.documents, args.count)
    print(f"{args.count} records in {folder} ({time.monotonic() - start:.1f} s)")


if __name__ == "__main__":
    sys.exit(main())
