#!/usr/bin/env python3
"""Writes the kit's test molecules: exactly symmetric geometries as XYZ files.

tests/kit/data/molecules/NAME.xyz   one molecule each, 10 decimals
tests/kit/data/molecules/index.tsv  name, file, formula, atoms, linear,
                                    point group, axes, kind (real/synthetic)
tests/kit/data/formats/NAME.{mol,sdf,pdb,cml}  the real molecules as Open
                                    Babel writes them (needs `obabel`)
tests/kit/data/formats/three_molecules.{xyz,sdf}  water, ammonia, methane
tests/kit/data/formats/water.log    water as a minimal Gaussian-style output
                                    (the banner lines Open Babel's output-file
                                    format looks for, one orientation table)

Every geometry is built from a symmetric construction: a few seed atoms with
textbook bond lengths and angles (gas-phase structures, rounded), completed
by the operations of the point group (a group closure of exact generators).
The point group of each written file is then found again from the written
digits by a brute-force search over all operations that map the atoms onto
themselves, and its order, proper rotations, inversion, mirror planes and
highest rotation order must match the group named; nearest neighbours must
lie 0.7-2.0 A apart and the bond graph (covalent radii + 0.45 A, as Open
Babel perceives bonds) must be connected. Symmetry elements all pass through
the origin; the centre of mass need not be there.

Synthetic molecules stand in for point groups no common small molecule has
(C3, C4, D3, S4, S6, T, Th, O, I): substituents of a real skeleton turned by
a generic angle so that the mirror planes of the skeleton are lost.

Run from anywhere: python3 tools/make_test_molecules.py
"""

import math
import os
import re
import shutil
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MOLECULES = os.path.join(ROOT, "tests", "kit", "data", "molecules")
FORMATS = os.path.join(ROOT, "tests", "kit", "data", "formats")

PHI = (1 + math.sqrt(5)) / 2
TETRA = math.degrees(math.acos(-1.0 / 3.0))  # 109.4712 degrees

# Covalent radii (A) of the elements used, as Open Babel's bond perception.
COVALENT = {"H": 0.31, "B": 0.84, "C": 0.76, "N": 0.71, "O": 0.66, "F": 0.57,
            "P": 1.07, "S": 1.05, "Cl": 1.02, "Br": 1.20}

# ------------------------------------------------------------------ vectors


def add(a, b): return tuple(x + y for x, y in zip(a, b))
def sub(a, b): return tuple(x - y for x, y in zip(a, b))
def scale(s, a): return tuple(s * x for x in a)
def dot(a, b): return sum(x * y for x, y in zip(a, b))
def norm(a): return math.sqrt(dot(a, a))
def unit(a): return scale(1.0 / norm(a), a)


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def matvec(m, v): return tuple(dot(row, v) for row in m)


def matmul(a, b):
    return tuple(tuple(sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3)) for i in range(3))


def det(m):
    return dot(m[0], cross(m[1], m[2]))


IDENTITY = ((1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, 1.0))
INVERSION = ((-1.0, 0.0, 0.0), (0.0, -1.0, 0.0), (0.0, 0.0, -1.0))
CYCLIC = ((0.0, 1.0, 0.0), (0.0, 0.0, 1.0), (1.0, 0.0, 0.0))  # C3 about (1,1,1): (x,y,z) -> (y,z,x)


def rotation(axis, degrees):
    """Rodrigues' rotation formula."""
    n = unit(axis)
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    x, y, z = n
    return ((c + x * x * (1 - c), x * y * (1 - c) - z * s, x * z * (1 - c) + y * s),
            (y * x * (1 - c) + z * s, c + y * y * (1 - c), y * z * (1 - c) - x * s),
            (z * x * (1 - c) - y * s, z * y * (1 - c) + x * s, c + z * z * (1 - c)))


def rz(degrees):
    """Rotation about z with exact entries for multiples of 30 degrees."""
    exact = {0: (1, 0), 30: (math.sqrt(3) / 2, 0.5), 60: (0.5, math.sqrt(3) / 2), 90: (0, 1),
             120: (-0.5, math.sqrt(3) / 2), 180: (-1, 0), 240: (-0.5, -math.sqrt(3) / 2),
             270: (0, -1)}
    c, s = exact.get(degrees % 360, (math.cos(math.radians(degrees)), math.sin(math.radians(degrees))))
    return ((c, -s, 0.0), (s, c, 0.0), (0.0, 0.0, 1.0))


def rx180(): return ((1.0, 0.0, 0.0), (0.0, -1.0, 0.0), (0.0, 0.0, -1.0))


def mirror(normal):
    n = unit(normal)
    return tuple(tuple((1.0 if i == j else 0.0) - 2 * n[i] * n[j] for j in range(3)) for i in range(3))


def close_group(generators):
    """All products of the generators (a finite point group)."""
    def key(m): return tuple(round(x, 6) for row in m for x in row)
    group = {key(IDENTITY): IDENTITY}
    frontier = [IDENTITY]
    while frontier:
        new = []
        for g in frontier:
            for h in generators:
                p = matmul(h, g)
                if key(p) not in group:
                    group[key(p)] = p
                    new.append(p)
        frontier = new
        if len(group) > 240:
            raise RuntimeError("generators do not close to a point group")
    return list(group.values())


def orbit(seeds, generators):
    """The seed atoms and all their images, images of one atom merged."""
    group = close_group(generators)
    atoms, seen = [], set()
    for element, position in seeds:
        for g in group:
            p = matvec(g, position)
            k = (element,) + tuple(round(x, 6) for x in p)
            if k not in seen:
                seen.add(k)
                atoms.append((element, p))
    return atoms


def place(a, b, c, bond, angle, dihedral):
    """The atom d with |cd| = bond, angle b-c-d and dihedral a-b-c-d (degrees)."""
    bc = unit(sub(c, b))
    n = unit(cross(sub(b, a), bc))
    m = cross(n, bc)
    th, ph = math.radians(angle), math.radians(dihedral)
    d2 = (-bond * math.cos(th), bond * math.sin(th) * math.cos(ph), bond * math.sin(th) * math.sin(ph))
    return add(c, add(scale(d2[0], bc), add(scale(d2[1], m), scale(d2[2], n))))


def cone(axis, polar, azimuth, length, reference=(0.0, 0.0, 1.0)):
    """length along the direction at polar angle from axis and azimuth about it
    (azimuth 0 towards the part of reference perpendicular to axis)."""
    a = unit(axis)
    r = sub(reference, scale(dot(reference, a), a))
    if norm(r) < 1e-9:
        r = sub((1.0, 0.0, 0.0), scale(a[0], a))
    e1 = unit(r)
    e2 = cross(a, e1)
    p, q = math.radians(polar), math.radians(azimuth)
    d = add(scale(math.cos(p), a), add(scale(math.sin(p) * math.cos(q), e1), scale(math.sin(p) * math.sin(q), e2)))
    return scale(length, d)


def pyramid_height(angle):
    """cos of the polar angle of three bonds about a C3 axis with the given
    angle between any two: cos(a) = (3u^2 - 1)/2."""
    return math.sqrt((2 * math.cos(math.radians(angle)) + 1) / 3)


# --------------------------------------------------------------- molecules
# Each returns (atoms, point group, axes, kind). Bond lengths in A, angles in
# degrees, from gas-phase structures (rounded to the digits given).


def triatomic_c2v(central, outer, r, angle):
    h = (outer, (0.0, r * math.sin(math.radians(angle / 2)), -r * math.cos(math.radians(angle / 2))))
    return orbit([(central, (0.0, 0.0, 0.0)), h], [rz(180), mirror((1, 0, 0))])


def linear(elements, lengths):
    z, atoms = 0.0, [(elements[0], (0.0, 0.0, 0.0))]
    for e, d in zip(elements[1:], lengths):
        z += d
        atoms.append((e, (0.0, 0.0, z)))
    # The midpoint of the chain at the origin (the inversion centre of D-inf-h).
    return [(e, (0.0, 0.0, p[2] - z / 2)) for e, p in atoms]


def water():
    return triatomic_c2v("O", "H", 0.9572, 104.52), "C2v", "C2 along z, molecular plane yz", "real"


def h2s():
    return triatomic_c2v("S", "H", 1.3356, 92.11), "C2v", "C2 along z, molecular plane yz", "real"


def ammonia():
    u = pyramid_height(106.67)
    h = ("H", (1.0124 * math.sqrt(1 - u * u), 0.0, -1.0124 * u))
    return orbit([("N", (0.0, 0.0, 0.0)), h], [rz(120), mirror((0, 1, 0))]), "C3v", \
        "C3 along z, N at the origin, one H in the xz plane", "real"


def methane():
    h = ("H", scale(1.087 / math.sqrt(3), (1, 1, 1)))
    return orbit([("C", (0.0, 0.0, 0.0)), h], td_generators()), "Td", \
        "C2 (S4) axes along x, y, z; H along (1,1,1) and its images", "real"


def td_generators():
    return [matmul(mirror((0, 0, 1)), rz(90)), CYCLIC, mirror((1, -1, 0))]


def ethylene():
    c = ("C", (0.0, 0.0, 1.339 / 2))
    h = ("H", add(c[1], (0.0, 1.086 * math.sin(math.radians(117.6 / 2)), 1.086 * math.cos(math.radians(117.6 / 2)))))
    return orbit([c, h], [rz(180), rx180(), INVERSION]), "D2h", "C=C along z, molecular plane yz", "real"


def benzene():
    return orbit([("C", (1.397, 0.0, 0.0)), ("H", (1.397 + 1.084, 0.0, 0.0))],
                 [rz(60), rx180(), mirror((0, 0, 1))]), "D6h", "C6 along z, ring in the xy plane, a C on x", "real"


def co2():
    return linear(["O", "C", "O"], [1.160, 1.160]), "Dinfh", "molecular axis z", "real"


def hcn():
    return linear(["H", "C", "N"], [1.0655, 1.1532]), "Cinfv", "molecular axis z", "real"


def acetylene():
    return linear(["H", "C", "C", "H"], [1.063, 1.203, 1.063]), "Dinfh", "molecular axis z", "real"


def hcl():
    return linear(["H", "Cl"], [1.2746]), "Cinfv", "molecular axis z", "real"


def n2():
    return linear(["N", "N"], [1.0977]), "Dinfh", "molecular axis z", "real"


def ocs():
    return linear(["O", "C", "S"], [1.1578, 1.5601]), "Cinfv", "molecular axis z", "real"


def sf6():
    return orbit([("S", (0.0, 0.0, 0.0)), ("F", (1.561, 0.0, 0.0))], oh_generators()), "Oh", \
        "C4 axes along x, y, z (the S-F bonds)", "real"


def oh_generators():
    return [rz(90), CYCLIC, INVERSION]


def allene():
    half = math.radians(118.2 / 2)
    h = ("H", (1.087 * math.sin(half), 0.0, 1.308 + 1.087 * math.cos(half)))
    return orbit([("C", (0.0, 0.0, 0.0)), ("C", (0.0, 0.0, 1.308)), h],
                 [matmul(mirror((0, 0, 1)), rz(90)), mirror((1, 0, 0))]), "D2d", \
        "C=C=C along z (S4), one CH2 in the xz plane, the other in yz", "real"


def cyclopropane():
    c = (1.510 / math.sqrt(3), 0.0, 0.0)
    half = math.radians(115.1 / 2)
    h = add(c, (1.089 * math.cos(half), 0.0, 1.089 * math.sin(half)))
    return orbit([("C", c), ("H", h)], [rz(120), mirror((0, 0, 1)), mirror((0, 1, 0))]), "D3h", \
        "C3 along z, ring in the xy plane, a C on x", "real"


def bf3():
    return orbit([("B", (0.0, 0.0, 0.0)), ("F", (1.307, 0.0, 0.0))],
                 [rz(120), mirror((0, 0, 1)), mirror((0, 1, 0))]), "D3h", "C3 along z, an F on x", "real"


def pf5():
    return orbit([("P", (0.0, 0.0, 0.0)), ("F", (0.0, 0.0, 1.577)), ("F", (1.534, 0.0, 0.0))],
                 [rz(120), mirror((0, 0, 1)), mirror((0, 1, 0))]), "D3h", \
        "C3 along z (axial F), an equatorial F on x", "real"


def h2o2():
    # O-O along x centred at the origin, C2 along z; the dihedral H-O-O-H is
    # the angle between the two O-H projections on the yz plane.
    d, r, angle, dihedral = 1.475, 0.950, 94.8, 111.5
    phi = math.radians((180 - dihedral) / 2)
    o = (d / 2, 0.0, 0.0)
    a = math.radians(angle)
    h = add(o, (-r * math.cos(a), r * math.sin(a) * math.cos(phi), r * math.sin(a) * math.sin(phi)))
    return orbit([("O", o), ("H", h)], [rz(180)]), "C2", "C2 along z, O-O along x", "real"


def hydrazine():
    # N-N along x, C2 along z; the lone pairs 90 degrees apart (gauche).
    d, r, hnn, hnh = 1.447, 1.008, 112.0, 106.0
    theta = math.radians(180 - hnn)  # N-H from the +x axis
    c = math.cos(theta)
    dphi = math.degrees(math.acos((math.cos(math.radians(hnh)) - c * c) / (1 - c * c)))
    n = (d / 2, 0.0, 0.0)
    hs = []
    for phi in (45 - dphi / 2, 45 + dphi / 2):
        p = math.radians(phi)
        hs.append(("H", add(n, (r * c, r * math.sin(theta) * math.cos(p), r * math.sin(theta) * math.sin(p)))))
    return orbit([("N", n)] + hs, [rz(180)]), "C2", "C2 along z, N-N along x", "real"


def ch3cl():
    u = pyramid_height(110.8)
    h = ("H", (1.090 * math.sqrt(1 - u * u), 0.0, -1.090 * u))
    return orbit([("C", (0.0, 0.0, 0.0)), ("Cl", (0.0, 0.0, 1.781)), h], [rz(120), mirror((0, 1, 0))]), \
        "C3v", "C3 along z (C-Cl), one H in the xz plane", "real"


def ch2cl2():
    cl, h = math.radians(112.0 / 2), math.radians(111.5 / 2)
    return orbit([("C", (0.0, 0.0, 0.0)), ("Cl", (1.765 * math.sin(cl), 0.0, 1.765 * math.cos(cl))),
                  ("H", (0.0, 1.087 * math.sin(h), -1.087 * math.cos(h)))],
                 [rz(180), mirror((1, 0, 0))]), "C2v", "C2 along z, Cl in the xz plane, H in yz", "real"


def ethane(twist=60.0):
    """Staggered at twist 60; the H of the upper methyl at azimuth twist/2,
    of the lower (by the C2 about x) at -twist/2."""
    c = (0.0, 0.0, 1.522 / 2)
    h = add(c, cone((0, 0, 1), 180 - 111.2, 0, 1.094))
    h = matvec(rz(twist / 2), h)
    return [("C", c), ("H", h)]


def staggered_ethane():
    return orbit(ethane(), [rz(120), rx180(), INVERSION]), "D3d", \
        "C3 along z (C-C), C2 axes along x and its images", "real"


def methanol():
    # C at the origin, O on z, mirror plane xz; O-H on +x, methyl H anti to it.
    o = (0.0, 0.0, 1.427)
    a = math.radians(108.5)
    ho = add(o, (0.956 * math.sin(a), 0.0, -0.956 * math.cos(a)))
    h_anti = cone((0, 0, 1), 109.5, 180, 1.096, reference=(1, 0, 0))
    h_out = cone((0, 0, 1), 109.5, 60, 1.096, reference=(1, 0, 0))
    return orbit([("C", (0.0, 0.0, 0.0)), ("O", o), ("H", ho), ("H", h_anti), ("H", h_out)],
                 [mirror((0, 1, 0))]), "Cs", "mirror plane xz, C-O along z", "real"


def formaldehyde():
    half = math.radians(116.5 / 2)
    return orbit([("C", (0.0, 0.0, 0.0)), ("O", (0.0, 0.0, 1.205)),
                  ("H", (0.0, 1.111 * math.sin(half), -1.111 * math.cos(half)))],
                 [rz(180), mirror((1, 0, 0))]), "C2v", "C2 along z (C=O), molecular plane yz", "real"


def naphthalene():
    # Two regular hexagons (C-C 1.40) sharing the bond on the y axis.
    r, ch = 1.40, 1.09
    cx = r * math.cos(math.radians(30))
    seeds = []
    for angle in (30, 90):
        v = (math.cos(math.radians(angle)), math.sin(math.radians(angle)), 0.0)
        seeds.append(("C", add((cx, 0.0, 0.0), scale(r, v))))
        seeds.append(("H", add((cx, 0.0, 0.0), scale(r + ch, v))))
    seeds.append(("C", (0.0, r / 2, 0.0)))
    return orbit(seeds, [rz(180), rx180(), mirror((0, 0, 1))]), "D2h", \
        "molecular plane xy, long axis x, the shared C-C bond on y", "real"


def adamantane():
    # The diamond lattice: CH at a(1,1,1), CH2 at (2a,0,0), a = r/sqrt(3).
    a = 1.54 / math.sqrt(3)
    ch = 1.09 / math.sqrt(3)
    seeds = [("C", (a, a, a)), ("H", (a + ch, a + ch, a + ch)),
             ("C", (2 * a, 0.0, 0.0)), ("H", (2 * a + ch, ch, -ch))]
    return orbit(seeds, td_generators()), "Td", "S4 axes along x, y, z (through the CH2 carbons)", "real"


def icosahedron_generators():
    # Icosahedron with vertices at the cyclic permutations of (0, +-1, +-phi).
    return [rz(180), CYCLIC, rotation((0, 1, PHI), 72)]


def c60_seed():
    """A vertex of the truncated icosahedron: on the icosahedron's edge from
    v1 to v2, at the fraction that makes pentagon edges 1.45 A and the
    hexagon-hexagon edges 1.40 A (edge L = 2*1.45 + 1.40)."""
    v1, v2 = (0.0, 1.0, PHI), (0.0, -1.0, PHI)
    s = (2 * 1.45 + 1.40) / 2.0  # the icosahedron above has edge 2
    f = 1.45 / (2 * 1.45 + 1.40)
    return scale(s, add(v1, scale(f, sub(v2, v1)))), unit(cross(v1, v2))


def c60():
    seed, _ = c60_seed()
    return orbit([("C", seed)], icosahedron_generators() + [INVERSION]), "Ih", \
        "C2 axes along x, y, z (the icosahedron with vertices (0, +-1, +-phi) and cyclic permutations)", "real"


def chfclbr():
    dirs = [(1, 1, 1), (1, -1, -1), (-1, 1, -1), (-1, -1, 1)]
    atoms = [("C", (0.0, 0.0, 0.0))]
    for (e, r), d in zip([("H", 1.09), ("F", 1.35), ("Cl", 1.77), ("Br", 1.93)], dirs):
        atoms.append((e, scale(r / math.sqrt(3), d)))
    return atoms, "C1", "C at the origin, bonds along the tetrahedral directions (1,1,1) ...", "real"


def diazene():
    n = (1.252 / 2, 0.0, 0.0)
    a = math.radians(106.9)
    h = add(n, (-1.028 * math.cos(a), 1.028 * math.sin(a), 0.0))
    return orbit([("N", n), ("H", h)], [rz(180), mirror((0, 0, 1))]), "C2h", \
        "C2 along z, molecular plane xy, N=N along x", "real"


def ethanol():
    # anti: C, C, O and the hydroxyl H in the mirror plane xy.
    c2, o = (0.0, 0.0, 0.0), (1.431, 0.0, 0.0)
    a = math.radians(107.8)
    c1 = (1.512 * math.cos(a), 1.512 * math.sin(a), 0.0)
    b = math.radians(108.9)
    ho = add(o, (-0.971 * math.cos(b), -0.971 * math.sin(b), 0.0))  # anti to C1
    h_methyl_in = place(o, c2, c1, 1.093, 110.5, 180)
    h_methyl_out = place(o, c2, c1, 1.093, 110.5, 60)
    h_methylene = place(ho, o, c2, 1.096, 110.0, 60)  # gauche to the hydroxyl H
    return orbit([("C", c1), ("C", c2), ("O", o), ("H", ho), ("H", h_methyl_in), ("H", h_methyl_out),
                  ("H", h_methylene)], [mirror((0, 0, 1))]), "Cs", "mirror plane xy (C, C, O, H of OH)", "real"


def acetone():
    cm = (0.0, 1.507 * math.sin(math.radians(116.7 / 2)), -1.507 * math.cos(math.radians(116.7 / 2)))
    o, c = (0.0, 0.0, 1.213), (0.0, 0.0, 0.0)
    h_in = place(o, c, cm, 1.087, 110.5, 0)
    h_out = place(o, c, cm, 1.087, 110.5, 120)
    return orbit([("C", c), ("O", o), ("C", cm), ("H", h_in), ("H", h_out)],
                 [rz(180), mirror((1, 0, 0))]), "C2v", "C2 along z (C=O), heavy atoms in the yz plane", "real"


def formic_acid():
    # syn (cis) formic acid, planar in xy.
    c, o1 = (0.0, 0.0, 0.0), (1.202, 0.0, 0.0)
    a = math.radians(124.9)
    o2 = (1.343 * math.cos(a), 1.343 * math.sin(a), 0.0)
    b = math.radians(124.1)
    hc = (1.097 * math.cos(b), -1.097 * math.sin(b), 0.0)
    ho = place(o1, c, o2, 0.972, 106.3, 0)
    ho = (ho[0], ho[1], 0.0)
    return [("C", c), ("O", o1), ("O", o2), ("H", hc), ("H", ho)], "Cs", "molecular plane xy (mirror), C=O along x", "real"


def ammonia_borane():
    b = (0.0, 0.0, 1.658)
    hn = cone((0, 0, 1), 110.3, 0, 1.014, reference=(1, 0, 0))
    hb = add(b, cone((0, 0, 1), 180 - 104.7, 60, 1.216, reference=(1, 0, 0)))
    return orbit([("N", (0.0, 0.0, 0.0)), ("B", b), ("H", hn), ("H", hb)], [rz(120), mirror((0, 1, 0))]), \
        "C3v", "C3 along z (N-B), staggered, an N-H in the xz plane", "real"


# ------------------------------------------------------ synthetic molecules


def ci_dihaloethane():
    # meso-1,2-dichloro-1,2-difluoroethane, anti: the inversion centre halfway along C-C.
    c = (0.77, 0.0, 0.0)
    seeds = [("C", c)]
    for (e, r), az in zip([("H", 1.09), ("F", 1.36), ("Cl", 1.77)], (17, 137, 257)):
        seeds.append((e, add(c, cone((1, 0, 0), 180 - TETRA, az, r))))
    return orbit(seeds, [INVERSION]), "Ci", "inversion centre at the origin, C-C along x", "real"


def ring_with_twisted_substituents(n, cc):
    r = cc / (2 * math.sin(math.pi / n))
    c = (r, 0.0, 0.0)
    f = add(c, scale(1.36, unit((0.45, 0.40, 0.80))))
    h = add(c, scale(1.09, unit((0.50, 0.30, -0.80))))
    return orbit([("C", c), ("F", f), ("H", h)], [rz(360 // n)])


def c3_ring():
    return ring_with_twisted_substituents(3, 1.51), "C3", \
        "C3 along z, ring in xy, F above and H below each C, both turned about the ring", "synthetic"


def c4_ring():
    return ring_with_twisted_substituents(4, 1.55), "C4", \
        "C4 along z, ring in xy, F above and H below each C, both turned about the ring", "synthetic"


def boric_acid():
    o = (1.361, 0.0, 0.0)
    a = math.radians(114.0)
    h = add(o, (-0.967 * math.cos(a), 0.967 * math.sin(a), 0.0))
    return orbit([("B", (0.0, 0.0, 0.0)), ("O", o), ("H", h)], [rz(120), mirror((0, 0, 1))]), "C3h", \
        "C3 along z, planar in xy, every O-H turned the same way", "real"


def twisted_ethane():
    return orbit(ethane(twist=25.0), [rz(120), rx180()]), "D3", \
        "C3 along z (C-C), methyls turned 25 degrees from eclipsed, C2 along x", "synthetic"


def biphenyl():
    # Rings twisted 44 degrees (22 each way from the xz plane), inter-ring bond on z.
    cc, ch, link = 1.397, 1.084, 1.48
    centre = link / 2 + cc
    seeds = []
    e = (math.cos(math.radians(22)), math.sin(math.radians(22)), 0.0)
    for angle in (180, 240, 300, 0):  # ipso, ortho, meta, para (from the ring centre, 0 = +z)
        t = math.radians(angle)
        v = add(scale(math.cos(t), (0, 0, 1)), scale(math.sin(t), e))
        seeds.append(("C", add((0.0, 0.0, centre), scale(cc, v))))
        if angle != 180:
            seeds.append(("H", add((0.0, 0.0, centre), scale(cc + ch, v))))
    return orbit(seeds, [rz(180), rx180()]), "D2", "C2 along z (the ring-ring bond), x and y", "real"


def s4_tetrakis():
    # C(CH2F)4 with every CH2F turned by 20 degrees: the S4 of the core only.
    core = scale(1.54 / math.sqrt(3), (1, 1, 1))
    seeds = [("C", (0.0, 0.0, 0.0)), ("C", core)]
    for e, r, az in (("F", 1.39, 20), ("H", 1.09, 140), ("H", 1.09, 260)):
        seeds.append((e, add(core, cone(core, 180 - TETRA, az, r))))
    return orbit(seeds, [matmul(mirror((0, 0, 1)), rz(90))]), "S4", \
        "S4 along z, the outer carbons along (1,1,1) and its images", "synthetic"


def s6_cyclohexane():
    # Chair cyclohexane C-C 1.53, CCC 111; each C with an F and an H turned by
    # 15 degrees about the bisector of its ring bonds.
    cc, ccc = 1.53, 111.0
    k = 1 - math.cos(math.radians(ccc))
    r = cc / math.sqrt(1 + 4 * (3 - 2 * k) / (8 * k))
    h = r * math.sqrt((3 - 2 * k) / (8 * k))
    s6 = matmul(mirror((0, 0, 1)), rz(60))
    c1 = (r, 0.0, h)
    n1 = unit(sub(matvec(s6, c1), c1))
    n2 = unit(sub((r * 0.5, -r * math.sqrt(3) / 2, -h), c1))
    u = scale(-1, unit(add(n1, n2)))
    v = unit(cross(n1, n2))
    turn = rotation(u, 15)
    half = math.radians(54.75)
    df = matvec(turn, add(scale(math.cos(half), u), scale(math.sin(half), v)))
    dh = matvec(turn, sub(scale(math.cos(half), u), scale(math.sin(half), v)))
    return orbit([("C", c1), ("F", add(c1, scale(1.38, df))), ("H", add(c1, scale(1.09, dh)))], [s6]), "S6", \
        "S6 along z, chair ring about z", "synthetic"


def t_neopentane():
    # C(CH3)4 with every methyl turned 20 degrees from staggered: T.
    core = scale(1.54 / math.sqrt(3), (1, 1, 1))
    h = add(core, cone(core, 180 - TETRA, 20, 1.09))
    return orbit([("C", (0.0, 0.0, 0.0)), ("C", core), ("H", h)], [rz(180), CYCLIC]), "T", \
        "C2 axes along x, y, z, methyl carbons along (1,1,1) and its images", "synthetic"


def th_hexaamide():
    # S(NH2)6: NH2 planes in xy for the N on x, yz for y, zx for z (pyritohedral).
    n = (1.70, 0.0, 0.0)
    h = add(n, (1.01 * 0.5, 1.01 * math.sqrt(3) / 2, 0.0))
    return orbit([("S", (0.0, 0.0, 0.0)), ("N", n), ("H", h)], [rz(180), CYCLIC, INVERSION]), "Th", \
        "C2 axes along x, y, z (S-N bonds), mirror planes xy, yz, zx", "synthetic"


def o_octamethylcubane():
    s = 1.57 / 2
    corner = (s, s, s)
    methyl = add(corner, scale(1.52 / math.sqrt(3), (1, 1, 1)))
    h = add(methyl, cone((1, 1, 1), 180 - TETRA, 25, 1.09))
    return orbit([("C", corner), ("C", methyl), ("H", h)], [rz(90), CYCLIC]), "O", \
        "C4 axes along x, y, z, cube corners on the (1,1,1) diagonals, methyls turned 25 degrees", "synthetic"


def i_twisted_c60():
    seed, normal = c60_seed()
    seed = add(seed, scale(0.12, normal))  # off the mirror plane: the mirror planes are lost
    return orbit([("C", seed)], icosahedron_generators()), "I", \
        "C2 axes along x, y, z (as c60), each atom moved 0.12 A off its mirror plane", "synthetic"


ALL = [
    ("water", water), ("ammonia", ammonia), ("methane", methane), ("ethylene", ethylene),
    ("benzene", benzene), ("co2", co2), ("hcn", hcn), ("acetylene", acetylene), ("sf6", sf6),
    ("allene", allene), ("cyclopropane", cyclopropane), ("bf3", bf3), ("h2o2", h2o2),
    ("ch3cl", ch3cl), ("ch2cl2", ch2cl2), ("ethane", staggered_ethane), ("pf5", pf5),
    ("methanol", methanol), ("formaldehyde", formaldehyde), ("naphthalene", naphthalene),
    ("adamantane", adamantane), ("c60", c60), ("chfclbr", chfclbr), ("diazene", diazene),
    ("ethanol", ethanol), ("acetone", acetone), ("hydrazine", hydrazine), ("formic_acid", formic_acid),
    ("hcl", hcl), ("n2", n2), ("ocs", ocs), ("h2s", h2s), ("ammonia_borane", ammonia_borane),
    ("meso_dichlorodifluoroethane", ci_dihaloethane), ("boric_acid", boric_acid),
    ("biphenyl", biphenyl),
    ("c3_ring", c3_ring), ("c4_ring", c4_ring), ("d3_ethane", twisted_ethane), ("s4_tetrakis", s4_tetrakis),
    ("s6_cyclohexane", s6_cyclohexane), ("t_neopentane", t_neopentane), ("th_hexaamide", th_hexaamide),
    ("o_octamethylcubane", o_octamethylcubane), ("i_twisted_c60", i_twisted_c60),
]

# The molecules also written as MOL, SDF, PDB and CML.
IN_FORMATS = [name for name, f in ALL if f()[3] == "real"]

# ------------------------------------------------------------------ checks


def symmetry_operations(atoms, tol=1e-6):
    """Every orthogonal matrix (about the origin) that maps the atoms onto
    themselves, element to element: each is fixed by the images of two
    atoms a, b with a x b != 0, and then checked on all atoms."""
    pts = [(e, p) for e, p in atoms]
    off = [(e, p) for e, p in pts if norm(p) > 1e-3]
    a = max(off, key=lambda t: norm(t[1]))
    b = max(off, key=lambda t: norm(cross(unit(a[1]), t[1])))
    if norm(cross(a[1], b[1])) < 1e-6:
        return None  # linear
    frame = (a[1], b[1], cross(a[1], b[1]))

    def columns(v1, v2, v3): return tuple(tuple(v[i] for v in (v1, v2, v3)) for i in range(3))

    def inverse(m):
        d = det(m)
        cols = [cross(m[1], m[2]), cross(m[2], m[0]), cross(m[0], m[1])]
        return tuple(tuple(cols[j][i] / d for j in range(3)) for i in range(3))

    f_inv = inverse(columns(*frame))
    ops = []
    for ea, pa in pts:
        if ea != a[0] or abs(norm(pa) - norm(a[1])) > tol:
            continue
        for eb, pb in pts:
            if eb != b[0] or abs(norm(pb) - norm(b[1])) > tol or abs(dot(pa, pb) - dot(a[1], b[1])) > 1e-5:
                continue
            for sign in (1, -1):
                m = matmul(columns(pa, pb, scale(sign, cross(pa, pb))), f_inv)
                if all(any(e2 == e and norm(sub(matvec(m, p), p2)) < 1e-5 for e2, p2 in pts) for e, p in pts):
                    ops.append(m)
    return ops


def rotation_order(m):
    p = m
    for k in range(1, 61):
        if max(abs(p[i][j] - IDENTITY[i][j]) for i in range(3) for j in range(3)) < 1e-6:
            return k
        p = matmul(p, m)
    raise RuntimeError("not a finite rotation")


def signature(ops):
    proper = [m for m in ops if det(m) > 0]
    inversion = any(max(abs(m[i][j] - INVERSION[i][j]) for i in range(3) for j in range(3)) < 1e-6 for m in ops)
    mirrors = sum(1 for m in ops if det(m) < 0 and abs(m[0][0] + m[1][1] + m[2][2] - 1) < 1e-6)
    return (len(ops), len(proper), inversion, max(rotation_order(m) for m in proper), mirrors)


def expected_signature(group):
    """(order, proper rotations, inversion, highest rotation order, mirror planes)."""
    fixed = {"C1": (1, 1, False, 1, 0), "Cs": (2, 1, False, 1, 1), "Ci": (2, 1, True, 1, 0),
             "T": (12, 12, False, 3, 0), "Td": (24, 12, False, 3, 6), "Th": (24, 12, True, 3, 3),
             "O": (24, 24, False, 4, 0), "Oh": (48, 24, True, 4, 9), "I": (60, 60, False, 5, 0),
             "Ih": (120, 60, True, 5, 15)}
    if group in fixed:
        return fixed[group]
    kind, n, tail = group[0], int("".join(ch for ch in group if ch.isdigit())), group.lstrip("CDS0123456789")
    top = n if n > 2 or kind == "C" else 2
    if kind == "S":
        return (n, n // 2, (n // 2) % 2 == 1, n // 2, 0)
    if kind == "C":
        return {"": (n, n, False, n, 0), "v": (2 * n, n, False, n, n),
                "h": (2 * n, n, n % 2 == 0, n, 1)}[tail]
    return {"": (2 * n, 2 * n, False, top, 0), "h": (4 * n, 2 * n, n % 2 == 0, top, n + 1),
            "d": (4 * n, 2 * n, n % 2 == 1, top, n)}[tail]


def check(name, atoms, group):
    """The written digits have exactly the group named, and make a sensible molecule."""
    ops = symmetry_operations(atoms)
    if ops is None:
        inv = all(any(e2 == e and norm(add(p, p2)) < 1e-6 for e2, p2 in atoms) for e, p in atoms)
        found = "Dinfh" if inv else "Cinfv"
        if found != group:
            raise RuntimeError(f"{name}: linear {found}, not {group}")
    elif signature(ops) != expected_signature(group):
        raise RuntimeError(f"{name}: operations {signature(ops)}, {group} has {expected_signature(group)}")
    n = len(atoms)
    bonded = [[j for j in range(n) if j != i and norm(sub(atoms[i][1], atoms[j][1])) <
               COVALENT[atoms[i][0]] + COVALENT[atoms[j][0]] + 0.45] for i in range(n)]
    for i in range(n):
        nearest = min(norm(sub(atoms[i][1], atoms[j][1])) for j in range(n) if j != i)
        if not 0.7 <= nearest <= 2.0:
            raise RuntimeError(f"{name}: atom {i + 1}'s nearest neighbour at {nearest:.3f} A")
    seen, stack = {0}, [0]
    while stack:
        for j in bonded[stack.pop()]:
            if j not in seen:
                seen.add(j)
                stack.append(j)
    if len(seen) != n:
        raise RuntimeError(f"{name}: the bonds do not connect all atoms")


def hill(elements):
    counts = {}
    for e in elements:
        counts[e] = counts.get(e, 0) + 1
    order = (["C", "H"] if "C" in counts else []) + sorted(e for e in counts if not ("C" in counts and e in "CH"))
    return "".join(e + (str(counts[e]) if counts[e] > 1 else "") for e in order if e in counts)


# ------------------------------------------------------------------ output


def fmt(x):
    s = f"{x:.10f}"
    return s[1:] if s == "-0.0000000000" else s


def write_xyz(path, atoms, title):
    with open(path, "w") as out:
        out.write(f"{len(atoms)}\n{title}\n")
        for e, p in atoms:
            out.write(f"{e:<2} {fmt(p[0]):>16} {fmt(p[1]):>16} {fmt(p[2]):>16}\n")


def read_xyz(path):
    with open(path) as f:
        lines = f.read().splitlines()
    return [(w[0], tuple(float(x) for x in w[1:4])) for w in (line.split() for line in lines[2:2 + int(lines[0])])]


ATOMIC_NUMBER = {"H": 1, "B": 5, "C": 6, "N": 7, "O": 8, "F": 9, "P": 15, "S": 16, "Cl": 17, "Br": 35}


def write_gaussian_style(path, atoms):
    rule = " " + "-" * 69
    lines = [" Entering Gaussian System, Link 0=g16",
             " Copyright (c) 1988-2019, Gaussian, Inc.  All Rights Reserved.",
             " #p hf/sto-3g", "", " water", "",
             "                         Standard orientation:", rule,
             " Center     Atomic      Atomic             Coordinates (Angstroms)",
             " Number     Number       Type             X           Y           Z", rule]
    for i, (e, p) in enumerate(atoms, 1):
        lines.append(f" {i:6d} {ATOMIC_NUMBER[e]:10d} {0:11d}    {p[0]:12.6f}{p[1]:12.6f}{p[2]:12.6f}")
    lines += [rule, " Normal termination of Gaussian 16"]
    with open(path, "w") as out:
        out.write("\n".join(lines) + "\n")


def undate(path):
    """The same files from every run: the date in each MOL header line fixed."""
    with open(path) as f:
        text = f.read()
    with open(path, "w") as out:
        out.write(re.sub(r"^( OpenBabel)\d{10}(\dD)", r"\g<1>0101000000\2", text, flags=re.M))


def main():
    os.makedirs(MOLECULES, exist_ok=True)
    index = ["# name\tfile\tformula\tatoms\tlinear\tpoint_group\taxes\tkind"]
    for name, build in ALL:
        atoms, group, axes, kind = build()
        path = os.path.join(MOLECULES, name + ".xyz")
        write_xyz(path, atoms, f"{name} {group}: {axes}")
        check(name, read_xyz(path), group)
        linear_flag = 1 if group in ("Cinfv", "Dinfh") else 0
        index.append(f"{name}\t{name}.xyz\t{hill([e for e, _ in atoms])}\t{len(atoms)}\t{linear_flag}\t{group}\t{axes}\t{kind}")
    with open(os.path.join(MOLECULES, "index.tsv"), "w") as out:
        out.write("\n".join(index) + "\n")

    if shutil.which("obabel") is None:
        sys.exit("obabel is needed for the files in other formats")
    os.makedirs(FORMATS, exist_ok=True)
    for name in IN_FORMATS:
        for ext in ("mol", "sdf", "pdb", "cml"):
            subprocess.run(["obabel", os.path.join(MOLECULES, name + ".xyz"), "-O",
                            os.path.join(FORMATS, f"{name}.{ext}")], check=True, capture_output=True)
            if ext in ("mol", "sdf"):
                undate(os.path.join(FORMATS, f"{name}.{ext}"))
    parts = [os.path.join(MOLECULES, n + ".xyz") for n in ("water", "ammonia", "methane")]
    with open(os.path.join(FORMATS, "three_molecules.xyz"), "w") as out:
        for p in parts:
            out.write(open(p).read())
    subprocess.run(["obabel"] + parts + ["-O", os.path.join(FORMATS, "three_molecules.sdf")],
                   check=True, capture_output=True)
    undate(os.path.join(FORMATS, "three_molecules.sdf"))
    write_gaussian_style(os.path.join(FORMATS, "water.log"), read_xyz(os.path.join(MOLECULES, "water.xyz")))
    print(f"{len(ALL)} molecules, {len(IN_FORMATS)} of them in four more formats")


if __name__ == "__main__":
    main()
