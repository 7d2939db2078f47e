#!/usr/bin/env python3
"""Writes two weekly access logs: one whose request paths all collide under
the analyzer's old, unkeyed key hash, and one whose paths are random.

Usage: collide_paths.py OUTPUT_DIR [PATHS] [REQUESTS]

OUTPUT_DIR/colliding/access.1 and OUTPUT_DIR/random/access.1 each hold
REQUESTS records (default 60,000) over PATHS distinct paths (default 20,000),
every path requested about equally often, in the same order, from the same
clients at the same times; only the paths differ. Both sets of paths have the
same length (72 bytes) and the same characters (letters, digits, "-", "_").
The paths are written to OUTPUT_DIR/colliding.txt and OUTPUT_DIR/random.txt.

How the colliding paths are made. The old hash (old_unkeyed_hash below,
kept here only to attack it) took a text eight bytes at a time through the
step h = g((h ^ chunk) * K), with g(y) = y ^ (y >> 29): a step that anyone
can compute and invert. Take a 16-byte block of two chunks c1, c2 from a
state s: after c1 the state is v = step(s, c1), after c2 it is
g((v ^ c2) * K). Aim at a fixed 8-byte target T: every c1 whose v lies
within an allowed byte of T in each of its 8 bytes (v ^ T made of allowed
characters, one chance in 4^8 for 64 allowed characters) gives with
c2 = v ^ T the state g(T * K), the same for all of them. So each block has
as many variants as such c1 are found, all leaving the same state, and
blocks in a row multiply: 4 blocks of 12 variants give 12^4 = 20,736 paths
with the same 64-bit state, hence the same hash, of any length of index.
Finding them takes 4 * 12 * 4^8, about 3 million steps, some ten seconds.
A hash keyed with a secret per run, whose collisions depend on the secret,
leaves no such handle.
"""

import itertools
import os
import random
import sys

MASK = (1 << 64) - 1
K = 0x9E3779B97F4A7C15
ALPHABET = b"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
PREFIX = b"/static/"  # one whole chunk
BLOCKS = 4
PATH_LENGTH = len(PREFIX) + 16 * BLOCKS  # a multiple of 8: no tail load


def old_unkeyed_hash(text):
    """The analyzer's key hash before it was keyed (64 bits; the index took
    its low 32 bits and their low bits chose the bucket)."""
    size = len(text)
    h = (size * K) & MASK
    i = 0
    while i + 8 <= size:
        h = ((h ^ int.from_bytes(text[i:i + 8], "little")) * K) & MASK
        h ^= h >> 29
        i += 8
    tail = 0
    if size >= 8:
        if i < size:
            tail = int.from_bytes(text[size - 8:], "little")
    elif size >= 4:
        tail = (int.from_bytes(text[:4], "little") << 32) | int.from_bytes(text[size - 4:], "little")
    elif size > 0:
        tail = text[0] << 16 | text[size // 2] << 8 | text[size - 1]
    h = ((h ^ tail) * K) & MASK
    h ^= h >> 32
    h = (h * 0xD6E8FEB86659FD93) & MASK
    h ^= h >> 32
    return h


def old_step(state, chunk):
    h = ((state ^ chunk) * K) & MASK
    return h ^ (h >> 29)


def colliding_blocks(state, variants, rng):
    """`variants` 16-byte blocks of allowed characters that all take the
    chunk loop from `state` to one state; returns them and that state."""
    target = int.from_bytes(bytes(rng.choice(ALPHABET) for _ in range(8)), "little")
    # v ^ target is allowed when each byte of v lies in target_byte ^ ALPHABET.
    blocks = set()
    while len(blocks) < variants:
        c1 = bytes(rng.choices(ALPHABET, k=8))
        v = old_step(state, int.from_bytes(c1, "little"))
        c2 = (v ^ target).to_bytes(8, "little")
        if not c2.translate(None, ALPHABET):
            blocks.add(c1 + c2)
    return sorted(blocks), old_step(target, 0)


def colliding_paths(count, rng):
    variants = 2
    while variants ** BLOCKS < count:
        variants += 1
    state = old_step(PATH_LENGTH * K & MASK, int.from_bytes(PREFIX, "little"))
    choices = []
    for _ in range(BLOCKS):
        blocks, state = colliding_blocks(state, variants, rng)
        choices.append(blocks)
    paths = [PREFIX + b"".join(parts) for parts in itertools.product(*choices)]
    rng.shuffle(paths)
    return paths[:count]


def random_paths(count, rng):
    paths = set()
    while len(paths) < count:
        paths.add(PREFIX + bytes(rng.choices(ALPHABET, k=PATH_LENGTH - len(PREFIX))))
    return sorted(paths)


def write_log(path, paths, requests, rng):
    """REQUESTS records over `paths` within one ISO week (49 of 2026), in time
    order; `rng` decides order, clients and sizes, so that the same seed gives
    the same log but for the paths."""
    order = [i % len(paths) for i in range(requests)]
    rng.shuffle(order)
    step = 7 * 86400 / requests
    with open(path, "wb") as out:
        for i, p in enumerate(order):
            second = int(i * step)
            day, rest = divmod(second, 86400)
            client = rng.randrange(2000)
            line = '198.18.%d.%d - - [%02d/Dec/2026:%02d:%02d:%02d +0100] "GET %s HTTP/1.1" 200' \
                   ' %d www.example.org "-" "curl/8.5.0"\n' % (
                       client // 254, client % 254 + 1, 7 + day, rest // 3600, rest // 60 % 60,
                       rest % 60, paths[p].decode("ascii"), 1000 + rng.randrange(5000))
            out.write(line.encode("ascii"))


def main():
    if not 2 <= len(sys.argv) <= 4:
        sys.exit("usage: collide_paths.py OUTPUT_DIR [PATHS] [REQUESTS]")
    output = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
    requests = int(sys.argv[3]) if len(sys.argv) > 3 else 60000
    rng = random.Random(4711)
    sets = {"colliding": colliding_paths(count, rng), "random": random_paths(count, rng)}
    for name, paths in sets.items():
        os.makedirs(os.path.join(output, name), exist_ok=True)
        with open(os.path.join(output, name + ".txt"), "wb") as listing:
            listing.write(b"".join(p + b"\n" for p in paths))
        write_log(os.path.join(output, name, "access.1"), paths, requests, random.Random(42))
        hashes = {old_unkeyed_hash(p) for p in paths}
        print("%s: %d paths, %d distinct old hashes" % (name, len(paths), len(hashes)))


if __name__ == "__main__":
    main()
