#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (corpus/core, corpus/gateway).

Seeds are byte strings in the targets' own encoding (see fuzz_input.hpp):
a few valid calls and parameter sets, special values, and random bytes. The
fuzzer grows its working corpus from them; they are committed so that every
run starts from the same place.
"""
import os
import random
import struct

here = os.path.dirname(os.path.abspath(__file__))
rng = random.Random(5)


def write(target, name, data):
    path = os.path.join(here, "corpus", target)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as f:
        f.write(bytes(data))


def dbl(x):
    return list(struct.pack("<d", x))


# Core: pass-through (3 raw doubles, 2 sign bytes), barrel (2 x 3 bytes),
# pincushion (2 x 3 bytes), then a scene.
def core_seed(raw_scene, specials):
    b = dbl(0.25) + dbl(-0.5) + dbl(specials[0]) + [1, 0]
    b += [1, 0x40, 0x80, 2, 0x00, 0x90]
    b += [1, 0x20, 0x70, 2, 0x10, 0xA0]
    b += [0 if raw_scene else 1]
    scalars = [5e-6, 5.2e-6, 1.01, 320, 240, 0.008, specials[1]]
    R = [1, 0, 0, 0, 1, 0, 0, 0, 1]
    T = [0.01, -0.02, 0.6]
    for x in scalars + R + T:
        b += dbl(x) if raw_scene else [1 if x >= 0 else 0x81,
                                       rng.randrange(256), rng.randrange(256)]
    b += [2, 3]
    for k in range(6):
        for x in (0.0 if k == 4 else 0.05 * (k + 1), 0.01 * k, 0.002):
            b += dbl(x) if raw_scene else [1, rng.randrange(256),
                                           rng.randrange(256)]
    return b


write("core", "plain", core_seed(True, [0.0, 1e4]))
write("core", "pincushion", core_seed(True, [-1e4, -4e4]))
write("core", "nan", core_seed(True, [float("nan"), float("inf")]))
write("core", "domain", core_seed(False, [1.0, 1.0]))
for i in range(4):
    write("core", "random%d" % i,
          [rng.randrange(256) for _ in range(rng.randrange(16, 400))])


# Gateway: module, nlhs, from-valid, nrhs, M, N, then per argument a keep
# byte and the values (raw doubles: tag byte 1 then 8 bytes).
def gateway_seed(which, nlhs, M, N, replace=()):
    b = [which, nlhs, 1, 1, M, N]
    counts = [M * N] * 3 + [1] * 7 + [9, 3]
    values = {3: 5e-6, 4: 5.2e-6, 5: 1.01, 6: 320, 7: 240, 8: 0.008,
              9: 1e4 if which else -1e4}
    for i, n in enumerate(counts):
        if i in replace:
            b += [0] + replace[i]
            continue
        b += [1]
        for k in range(n):
            if i == 0:
                x = 0.0 if k == 1 else 0.05 * (k + 1)
            elif i < 3:
                x = 0.01 * k
            elif i < 10:
                x = values[i]
            elif i == 10:
                x = 1.0 if k in (0, 4, 8) else 0.0
            else:
                x = [0.01, -0.02, 0.6][k]
            b += [1] + dbl(x)
    return b


write("gateway", "plain", gateway_seed(0, 2, 2, 3))
write("gateway", "grad", gateway_seed(1, 3, 3, 2))
write("gateway", "one_output", gateway_seed(1, 0, 1, 4))
write("gateway", "empty_grid", gateway_seed(0, 2, 0, 3))
# A single-precision Yw and an int8 dx (class index in the table, 2-D).
write("gateway", "wrong_class",
      gateway_seed(1, 3, 2, 2, {1: [1, 1, 0, 4, 4], 3: [1, 2, 0, 1, 1]}))
for i in range(4):
    write("gateway", "random%d" % i,
          [rng.randrange(256) for _ in range(rng.randrange(16, 600))])
