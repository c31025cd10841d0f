#!/usr/bin/env python3
"""Writes the largest problem the deck's fields allow, for timing runs:
333 atoms, 999 internal coordinates of every kind (no atom in more than 12
of them), three mass sets, the second reading a U matrix of 998 rows in four
blocks and the third reusing it from the scratch file. With --atoms N the
same problem on N atoms (N >= 20): 3N coordinates and a U of 3N - 1 rows.

usage: make_largest_deck.py OUT.DAT [seed] [--atoms N]
"""
import math
import random
import sys


def i3(*v):
    return ''.join('%3d' % x for x in v)


def entry(no, code, i=0, j=0, k=0, l=0, ix=0, jx=0):
    return i3(no, code, i, j, k, l, ix, jx)


def f12(v):
    return ('%12.6f' % v)[:12]


def main():
    args = sys.argv[1:]
    n_atoms = 333
    if '--atoms' in args:
        at = args.index('--atoms')
        n_atoms = int(args[at + 1])
        del args[at:at + 2]
    assert 20 <= n_atoms <= 333, n_atoms
    out = args[0]
    rng = random.Random(int(args[1]) if len(args) > 1 else 1)
    nic = 3 * n_atoms
    helix_end = n_atoms - 12            # atoms 1..321 on a helix, 322..333 on a straight line
    pos = {}
    for a in range(1, helix_end + 1):
        t = math.radians(100.0 * a)
        pos[a] = (1.1 * math.cos(t), 1.1 * math.sin(t), 0.45 * a)
    x0, y0, z0 = pos[helix_end]
    for a in range(helix_end + 1, n_atoms + 1):
        pos[a] = (x0 + 1.3 * (a - helix_end), y0 + 0.4, z0 + 0.2)

    entries = []                       # (code, i, j, k, l, ix, jx, reference point or None)
    for a in range(1, n_atoms):
        entries.append((1, a, a + 1, 0, 0, 0, 0, None))
    for a in range(2, helix_end + 2):
        ix, jx = (a - 1, a + 1) if a % 7 == 0 else (0, 0)
        entries.append((2, a - 1, a, a + 1, 0, ix, jx, None))
    for b in range(helix_end + 2, n_atoms):   # linear bends along the straight end: two rows each
        x, y, z = pos[b]
        entries.append((5, 0, b - 1, b, b + 1, 0, 0, (x, y + 1.0, z)))
    for b in range(helix_end + 2, n_atoms):   # and once more, one row each, towards z
        x, y, z = pos[b]
        entries.append((6, b - 1, b, b + 1, 0, 0, 0, (x, y, z + 2.0)))
    # Out-of-plane angles at the helix's end, as many as leave room (90 of 333).
    for j in range(helix_end + 1 - min(90, (n_atoms - 7) * 90 // 326), helix_end + 1):
        entries.append((3, j + 1, j, j - 1, j + 2 if j + 2 <= helix_end else j - 2, 0, 0, None))
    rows = sum(2 if e[0] == 5 else 1 for e in entries)
    a = 1
    while rows < nic:
        entries.append((4, a, a + 1, a + 2, a + 3, a, a + 3, None))
        rows += 1
        a += 1
    use = {}
    for e in entries:
        for atom in e[1:5]:
            if atom:
                use[atom] = use.get(atom, 0) + 1
    assert rows == nic and max(use.values()) <= 12, (rows, max(use.values()))

    count = nic - 1
    cards = ['    the largest problem: %d atoms, %d coordinates, a U of %d rows' % (n_atoms, nic, count), ' -9',
             '%3d%6d%4d%4d%4d' % (0, 1, n_atoms, nic, 1),
             'LARGEST PROBLEM THE FIELDS ALLOW' if n_atoms == 333 else 'THE LARGEST PROBLEM ON %d ATOMS' % n_atoms,
             'HELIX OF %d ATOMS AND A STRAIGHT END OF 12' % helix_end]
    triples = []
    for a in range(1, n_atoms + 1):
        for r in range(3):
            triples.append('%3d%3d%s' % (r + 1, a, f12(pos[a][r])))
    triples.append('%3d%3d%s' % (-1, 0, f12(0.0)))
    for k in range(0, len(triples), 4):
        cards.append(''.join(triples[k:k + 4]))
    row = 0
    pending = []
    for e in entries:
        pending.append(e)
        if len(pending) == 3:
            cards.append(''.join(entry(1, *p[:7]) for p in pending))
            cards += ['%s%s%s' % tuple(f12(c) for c in p[7]) for p in pending if p[7]]
            pending = []
    cards.append(''.join(entry(1, *p[:7]) for p in pending) + entry(-1, 0))
    cards += ['%s%s%s' % tuple(f12(c) for c in p[7]) for p in pending if p[7]]

    def masses(m):
        for k in range(0, n_atoms, 6):
            cards.append(''.join(f12(v) for v in m[k:k + 6]))

    base = [12.0 if a % 3 else 14.003074 for a in range(1, n_atoms + 1)]
    cards.append(i3(-6, 0, 0, 0) + 'MASS SET 1')
    masses(base)
    blocks = [1] + [k * (count + 2) // 4 for k in (1, 2, 3)] + [count + 1]
    cards.append(i3(-6, 1, len(blocks), count) + 'MASS SET 2 WITH A U OF %d ROWS' % count)
    masses([m * 1.1 for m in base])
    u = []
    for s in range(1, count + 1):
        band = range(max(1, s - 8), min(nic, s + 8) + 1)
        # The first rows' bands hold fewer than 12 columns: the count drawn
        # is cut to the band after the draw, so that every seed's sequence of
        # draws (and the decks of seeds 0 and 1, which never drew past a
        # band) stays as it was.
        cols = sorted(rng.sample(band, min(rng.randint(1, 12), len(band))))
        for c in cols:
            u.append('%3d%3d%s' % (s, c, f12(rng.uniform(-1.0, 1.0))))
    u.append('%3d%3d%s' % (-3, 0, f12(0.0)))
    for k in range(0, len(u), 4):
        cards.append(''.join(u[k:k + 4]))
    cards.append(i3(*blocks))
    cards.append(i3(-6, -1, len(blocks), count) + 'MASS SET 3 REUSING THE U MATRIX')
    masses([m * 2.0 for m in base])
    cards.append(i3(*blocks))
    cards.append(i3(999))
    with open(out, 'w') as f:
        f.write('\n'.join(cards) + '\n')


if __name__ == '__main__':
    main()
