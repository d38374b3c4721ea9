#!/usr/bin/env python3
"""Whole-picture palettes of the box and neural-net quantizers, worked out independently.

Written from the quantizers' description alone, in plain integer/float Python, to check the
library's quantizers on pictures large enough to exercise the learning schedule and the box
error term. Run from this folder:  python3 palettes.py > palettes.txt
Each picture is a seeded gradient plus noise; the C++ test builds the same pictures.
"""


def picture(w, h, seed):
    """Pixels as (b, g, r), row by row; noise from a 32-bit LCG."""
    s = seed
    px = []
    for y in range(h):
        for x in range(w):
            s = (s * 1103515245 + 12345) & 0xFFFFFFFF
            n = s >> 16
            r = min(255, max(0, x * 255 // (w - 1) + (n & 31) - 16))
            g = min(255, max(0, y * 255 // (h - 1) + ((n >> 5) & 31) - 16))
            b = min(255, max(0, (x + y) * 255 // (w + h - 2) + ((n >> 10) & 31) - 16))
            px.append((b, g, r))
    return px


# ---- box quantizer -------------------------------------------------------------------------
class Box:
    def __init__(self):
        self.err = 0.0
        self.mean = [0.0, 0.0, 0.0]
        self.count = 0
        self.marg = [[0] * 32 for _ in range(3)]
        self.lo = [0, 0, 0]
        self.hi = [32, 32, 32]

    def copy(self):
        c = Box()
        c.err, c.mean, c.count = self.err, self.mean[:], self.count
        c.marg = [m[:] for m in self.marg]
        c.lo, c.hi = self.lo[:], self.hi[:]
        return c


def box_quantize(px, ncol):
    npix = len(px)
    hist = [0] * 32768
    b0 = Box()
    for (b, g, r) in px:
        r5, g5, b5 = r >> 3, g >> 3, b >> 3
        hist[(r5 << 10) | (g5 << 5) | b5] += 1
        b0.marg[0][r5] += 1
        b0.marg[1][g5] += 1
        b0.marg[2][b5] += 1

    def stats(bx):
        bx.err = 0.0
        if bx.count == 0:
            return
        for a in range(3):
            s1 = 0.0
            s2 = 0.0
            for i in range(bx.lo[a], bx.hi[a]):
                s1 += i * bx.marg[a][i]
                s2 += i * i * bx.marg[a][i]
            bx.mean[a] = s1 / bx.count
            bx.err += s2 - bx.mean[a] * bx.mean[a] * bx.count
        bx.err = bx.err / npix

    def split_axis(bx, a):
        if bx.lo[a] + 1 == bx.hi[a]:
            return None
        start = round((bx.lo[a] + bx.mean[a]) * 0.5)
        end = round((bx.hi[a] + bx.mean[a]) * 0.5)
        cum = sum(bx.marg[a][bx.lo[a]:start])
        acc = 0.0
        best = -1.0
        split_at, split_count = start, bx.count
        for i in range(start, end + 1):
            cum += bx.marg[a][i]
            if cum == bx.count:
                break
            acc += i * bx.marg[a][i] / bx.count
            v = cum / (bx.count - cum) * (bx.mean[a] - acc) ** 2
            if v > best:
                best, split_at, split_count = v, i, cum
        low, up = bx.copy(), bx.copy()
        low.count = split_count
        low.hi[a] = split_at + 1
        up.count = bx.count - split_count
        up.lo[a] = split_at + 1
        if low.count == 0 or up.count == 0:
            return None
        low.marg = [[0] * 32 for _ in range(3)]
        for r5 in range(low.lo[0], low.hi[0]):
            for g5 in range(low.lo[1], low.hi[1]):
                for b5 in range(low.lo[2], low.hi[2]):
                    c = hist[(r5 << 10) | (g5 << 5) | b5]
                    if c:
                        for ax, lv in ((0, r5), (1, g5), (2, b5)):
                            low.marg[ax][lv] += c
                            up.marg[ax][lv] -= c
        for h in (low, up):
            for ax in range(3):
                occ = [i for i in range(32) if h.marg[ax][i] != 0]
                if occ:
                    h.lo[ax], h.hi[ax] = occ[0], occ[-1] + 1
                else:
                    h.lo[ax], h.hi[ax] = 32, 1
            stats(h)
        return low, up

    b0.count = npix
    stats(b0)
    boxes = [b0]
    while len(boxes) < ncol:
        best, which = 0.0, -1
        for i, bx in enumerate(boxes):
            if bx.err > best:
                best, which = bx.err, i
        if which < 0:
            break
        bx = boxes[which]
        score, halves = 17523.6, None
        if bx.err != 0 and bx.count != 0:
            for a in range(3):
                res = split_axis(bx, a)
                s = 17523.6 if res is None else res[0].err + res[1].err
                if s < score:
                    score, halves = s, res
        if halves is None:
            bx.err = 0.0
            continue
        boxes[which] = halves[0]
        boxes.append(halves[1])
    return [((round(b.mean[2]) << 3) & 255, (round(b.mean[1]) << 3) & 255, (round(b.mean[0]) << 3) & 255)
            for b in boxes]


# ---- neural net ----------------------------------------------------------------------------
def tdiv(a, b):
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def net_quantize(px, w, h, netsize):
    pixels = w * h
    if pixels < 2000:
        fac = 1
    else:
        fac = min(30, max(1, round((pixels - 2000) * 13 / 148000 + 2)))
    length = pixels * 3
    initrad = netsize >> 3
    net = [[(i << 12) // netsize] * 3 for i in range(netsize)]  # b, g, r
    freq = [65536 // netsize] * netsize
    bias = [0] * netsize
    alphadec = 30 + (fac - 1) // 3
    samples = length // (3 * fac)
    delta = max(samples // 100, 1)
    alpha = 1024
    radius = initrad << 6

    def radof(rd):
        v = rd >> 6
        return 0 if v < 2 else v

    def powers(rad, al):
        return [((rad * rad - k * k) << 8) // (rad * rad) * al for k in range(rad)]

    rad = radof(radius)
    radpower = powers(rad, alpha)
    if length % 499:
        step = 499
    elif length % 491:
        step = 491
    elif length % 487:
        step = 487
    else:
        step = 503
    pos = 0
    for s in range(1, samples + 1):
        pb, pg, pr = px[pos]
        c = (pb << 4, pg << 4, pr << 4)
        bestd = bestbd = 2147483647
        bestpos = bestbpos = -1
        for i in range(netsize):
            n = net[i]
            d = abs(n[0] - c[0]) + abs(n[1] - c[1]) + abs(n[2] - c[2])
            if d < bestd:
                bestd, bestpos = d, i
            bd = d - (bias[i] >> 12)
            if bd < bestbd:
                bestbd, bestbpos = bd, i
            bf = freq[i] >> 10
            freq[i] -= bf
            bias[i] += bf << 10
        freq[bestpos] += 64
        bias[bestpos] -= 65536
        j = bestbpos
        net[j] = [net[j][k] - tdiv((net[j][k] - c[k]) * alpha, 1024) for k in range(3)]
        if rad > 0:
            lo, hi = max(j - rad, -1), min(j + rad, netsize)
            up, dn, m = j + 1, j - 1, 1
            while up < hi or dn > lo:
                a = radpower[m]
                m += 1
                if up < hi:
                    net[up] = [net[up][k] - tdiv((net[up][k] - c[k]) * a, 262144) for k in range(3)]
                    up += 1
                if dn > lo:
                    net[dn] = [net[dn][k] - tdiv((net[dn][k] - c[k]) * a, 262144) for k in range(3)]
                    dn -= 1
        pos += step
        if pos >= pixels:
            pos -= pixels
        if s % delta == 0:
            alpha -= alpha // alphadec
            radius -= radius // 30
            rad = radof(radius)
            radpower = powers(rad, alpha)
    return [tuple(v >> 4 for v in n) for n in net]


PICTURES = [(600, 500, 1), (512, 400, 77)]

if __name__ == "__main__":
    for (w, h, seed) in PICTURES:
        px = picture(w, h, seed)
        for name, pal in (("box 64", box_quantize(px, 64)), ("net 256", net_quantize(px, w, h, 256))):
            print(f"picture {w} {h} {seed} {name} {len(pal)}")
            for (b, g, r) in pal:
                print(b, g, r)
