#!/usr/bin/env python3
"""Writes the example decks of KORVEN under examples/<name>/<NAME>.DAT.

Every deck is built here from the molecule's equilibrium geometry, its
internal coordinates, its mass sets and (where they apply) its symmetry
coordinates, and written card by card in fixed columns, so that a deck never
has a field in the wrong columns. Each deck folder also gets an empty
expected/status, the marker that makes the end-to-end tests run the deck
once its golden listing is in place.

    python3 tools/make_decks.py            # (re)write every deck
    python3 tools/make_decks.py benzene    # only the named deck folder(s)

Geometries are experimental equilibrium (r_e) structures, lengths in
angstrom; masses are atomic masses of the isotopes in u.

Card layouts used (column numbers 1-based):
  comment card      columns 1-3 blank, text from column 4 (skipped by the
                    search for the first problem, so never -9 or 999)
  -9 card           "-9" in columns 2-3: the next card is a problem card
  problem card      (I3,I6,5I4): 0, problem number, atoms N, coordinates
                    NIC, save flag
  title cards       two cards of up to 80 characters
  X-matrix cards    (4(2I3,F12.6)): row (1 x, 2 y, 3 z), atom, value; the
                    triple with row -1 ends the X matrix
  coordinate cards  (24I3): three entries of NO, CODE, I, J, K, L, IX, JX;
                    the entry with NO = -1 ends the list; each CODE 5 or 6
                    entry is followed (after its card) by its reference
                    point card (3F12.6), in entry order
  mass-set card     (4I3,A): -6, U mode, boundary count, symmetry
                    coordinate count, title (60 characters)
  mass cards        (6F12.6)
  U-matrix cards    (4(2I3,F12.6)): symmetry coordinate, internal
                    coordinate, coefficient (normalised by the program);
                    the triple with row -3 ends the U matrix
  block card        (24I3): first symmetry coordinate of each block, then
                    one past the last
  closing card      -9 (next problem) or 999 (end of the deck)
"""

import math
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXAMPLES = os.path.join(ROOT, "examples")

# Atomic masses (u).
H = 1.007825
D = 2.014102
C = 12.000000
C13 = 13.003355
N = 14.003074
N15 = 15.000109
O = 15.994915
O18 = 17.999160
F = 18.998403
S = 31.972071
CL = 34.968853
CL37 = 36.965903

DEG = math.pi / 180.0


# ---------------------------------------------------------------- fields


def fi(value, width=3):
    text = "%*d" % (width, value)
    assert len(text) == width, (value, width)
    return text


def ff(value):
    """A real in 12 columns with six decimals (F12.6), never a negative zero."""
    value = round(value, 6) + 0.0
    text = "%12.6f" % value
    if text.strip() == "-0.000000":
        text = "%12.6f" % 0.0
    assert len(text) == 12, value
    return text


def triples(items):
    """Cards of (I3,I3,F12.6) triples, four to a card."""
    cards = []
    for start in range(0, len(items), 4):
        cards.append("".join(fi(a) + fi(b) + ff(v) for a, b, v in items[start:start + 4]))
    return cards


# ---------------------------------------------------------------- geometry


def vadd(a, b):
    return tuple(x + y for x, y in zip(a, b))


def polar(r, theta_deg, phi_deg):
    """Cartesian vector of length r, polar angle theta from +z, azimuth phi from +x."""
    t, p = theta_deg * DEG, phi_deg * DEG
    return (r * math.sin(t) * math.cos(p), r * math.sin(t) * math.sin(p), r * math.cos(t))


# ---------------------------------------------------------------- entries


def stretch(i, j):
    return (1, i, j, 0, 0, 0, 0, None)


def bend(i, apex, k, ix=0, jx=0):
    return (2, i, apex, k, 0, ix, jx, None)


def wag(i, centre, k, l, ix=0, jx=0):
    """Out-of-plane angle of the bond centre->i from the plane k-centre-l."""
    return (3, i, centre, k, l, ix, jx, None)


def torsion(i, j, k, l, ix=0, jx=0):
    return (4, i, j, k, l, ix, jx, None)


def linear(code, i, j, k, l, point):
    """Linear bend: CODE 5 or 6; L = 0: I, J (centre), K; L > 0: J, K (centre), L."""
    return (code, i, j, k, l, 0, 0, point)


class Coordinate:
    """One internal coordinate: an opening entry and its continuation entries."""

    def __init__(self, *entries):
        self.entries = entries


class MassSet:
    def __init__(self, title, masses, umode=0, u=None, blocks=None):
        assert len(title) <= 60, title
        self.title, self.masses, self.umode = title, masses, umode
        self.u, self.blocks = u, blocks


class Problem:
    def __init__(self, number, title1, title2, atoms, coordinates, mass_sets, save=0, nic=None):
        assert len(title1) <= 80 and len(title2) <= 80
        self.number, self.title1, self.title2 = number, title1, title2
        self.atoms, self.coordinates, self.mass_sets = atoms, coordinates, mass_sets
        self.save = save
        self.nic = nic if nic is not None else count_rows(coordinates)
        # The save flag must be set wherever a U matrix is used again.
        if any(m.umode < 0 for m in mass_sets):
            assert save > 0, "a negative U mode needs the save flag"


def count_rows(coordinates):
    rows = 0
    for c in coordinates:
        rows += 2 if c.entries[0][0] == 5 else 1
    return rows


# ---------------------------------------------------------------- cards


def comment(text):
    card = "   " + text
    assert len(card) <= 80, text
    return card


def problem_cards(p, x_extra=None):
    """The cards of one problem, up to and including its last mass set."""
    cards = [fi(-9)]
    cards.append(fi(0) + fi(p.number, 6) + fi(len(p.atoms), 4) + fi(p.nic, 4) + fi(p.save, 4))
    cards += [p.title1, p.title2]
    cards += x_extra if x_extra is not None else x_cards(p.atoms)
    cards += coord_cards(p.coordinates)
    for m in p.mass_sets:
        cards += mass_set_cards(p, m)
    return cards


def x_cards(atoms):
    items = []
    for a, (_, xyz) in enumerate(atoms, start=1):
        for k, v in enumerate(xyz, start=1):
            if abs(round(v, 6)) > 0.0:
                items.append((k, a, v))
    items.append((-1, 0, 0.0))
    return triples(items)


def coord_cards(coordinates):
    """Coordinate cards, three entries to a card, each card followed by the
    reference-point cards of its linear-bend entries in entry order. Every
    coordinate starts with NO = its row number; continuations have NO = 0."""
    entries = []
    row = 0
    for c in coordinates:
        row += 1
        for n, e in enumerate(c.entries):
            entries.append((row if n == 0 else 0,) + e)
        if c.entries[0][0] == 5:
            row += 1
    entries.append((-1, 0, 0, 0, 0, 0, 0, 0, None))
    cards = []
    for start in range(0, len(entries), 3):
        chunk = entries[start:start + 3]
        cards.append("".join("".join(fi(f) for f in e[:8]) for e in chunk).rstrip())
        for e in chunk:
            if e[0] >= 0 and e[1] in (5, 6):
                cards.append("".join(ff(v) for v in e[8]))
    return cards


def mass_set_cards(p, m):
    nblocks = len(m.blocks) if m.blocks else 0
    nsym = (m.blocks[-1] - 1) if m.blocks else 0
    cards = [(fi(-6) + fi(m.umode) + fi(nblocks) + fi(nsym) + m.title).rstrip()]
    masses = list(m.masses)
    assert len(masses) == len(p.atoms)
    for start in range(0, len(masses), 6):
        cards.append("".join(ff(v) for v in masses[start:start + 6]))
    if m.umode > 0:
        cards += u_cards(m.u, nsym)
    if m.umode != 0:
        cards += block_cards(m.blocks)
    return cards


def u_cards(u, nsym):
    """U rows as lists of (internal coordinate, coefficient)."""
    assert len(u) == nsym, (len(u), nsym)
    items = []
    for s, row in enumerate(u, start=1):
        assert row and any(abs(v) > 0 for _, v in row), s
        items += [(s, col, v) for col, v in row if v != 0]
    items.append((-3, 0, 0.0))
    return triples(items)


def block_cards(blocks):
    return ["".join(fi(b) for b in blocks[start:start + 24]) for start in range(0, len(blocks), 24)]


def write_deck(folder, name, cards):
    assert len(name) <= 8 and name == name.upper()
    path = os.path.join(EXAMPLES, folder)
    os.makedirs(os.path.join(path, "expected"), exist_ok=True)
    for card in cards:
        assert len(card) <= 80, card
    with open(os.path.join(path, name + ".DAT"), "w", newline="\n") as f:
        for card in cards:
            f.write(card.rstrip() + "\n")
    status = os.path.join(path, "expected", "status")
    if not os.path.exists(status):
        open(status, "w").close()


# ---------------------------------------------------------------- formaldehyde


def formaldehyde():
    r_co, r_ch, hch = 1.2047, 1.1003, 116.13
    hco = 180.0 - hch / 2.0
    # In the xy plane, the C2 axis along y, C at the origin.
    h = (r_ch * math.sin(hco * DEG), r_ch * math.cos(hco * DEG), 0.0)
    atoms = [("C", (0.0, 0.0, 0.0)), ("O", (0.0, r_co, 0.0)),
             ("H", h), ("H", (-h[0], h[1], 0.0))]
    coords = [
        Coordinate(stretch(1, 2)),             # 1 r(CO)
        Coordinate(stretch(1, 3)),             # 2 r(CH3)
        Coordinate(stretch(1, 4)),             # 3 r(CH4)
        Coordinate(bend(3, 1, 2, 1, 3)),       # 4 H3-C-O, scaled by r(CH)
        Coordinate(bend(4, 1, 2, 1, 4)),       # 5 H4-C-O, scaled by r(CH)
        Coordinate(wag(2, 1, 3, 4)),           # 6 O out of the HCH plane
    ]
    u = [
        [(1, 1.0)],                            # A1  C=O stretch
        [(2, 1.0), (3, 1.0)],                  # A1  CH stretch
        [(4, 1.0), (5, 1.0)],                  # A1  HCO bend (CH2 scissor)
        [(6, 1.0)],                            # B1  out-of-plane wag
        [(2, 1.0), (3, -1.0)],                 # B2  CH stretch
        [(4, 1.0), (5, -1.0)],                 # B2  HCO bend (CH2 rock)
    ]
    blocks = [1, 4, 5, 7]
    p = Problem(1, "FORMALDEHYDE H2CO  C2V  R(CO) 1.2047  R(CH) 1.1003 A  HCH 116.13 DEG",
                "ATOMS 1 C, 2 O, 3 H, 4 H IN THE XY PLANE; BENDS SCALED BY R(CH); BLOCKS A1 B1 B2",
                atoms, coords,
                [MassSet("H2CO  A1(3) B1(1) B2(2)", [C, O, H, H], 1, u, blocks),
                 MassSet("D2CO", [C, O, D, D], -1, None, blocks),
                 MassSet("H2(13C)O", [C13, O, H, H], -1, None, blocks)],
                save=1)
    cards = [
        comment("Formaldehyde H2CO (C2v): stretches, HCO bends scaled by r(CH), and the"),
        comment("out-of-plane wag of C=O (CODE 3); symmetry coordinates in the blocks A1, B1,"),
        comment("B2 for H2CO, then D2CO and H2(13C)O with the same U matrix (negative U mode)."),
    ]
    cards += problem_cards(p) + ["999"]
    write_deck("formaldehyde", "H2CO", cards)


# ---------------------------------------------------------------- ethylene


def ethylene():
    r_cc, r_ch, hch = 1.3305, 1.0805, 117.2
    hcc = 180.0 - hch / 2.0
    # In the xy plane, C=C along x.
    c = r_cc / 2.0
    hx = c + r_ch * math.cos((180.0 - hcc) * DEG)
    hy = r_ch * math.sin((180.0 - hcc) * DEG)
    atoms = [("C", (-c, 0.0, 0.0)), ("C", (c, 0.0, 0.0)),
             ("H", (-hx, hy, 0.0)), ("H", (-hx, -hy, 0.0)),
             ("H", (hx, hy, 0.0)), ("H", (hx, -hy, 0.0))]
    coords = [
        Coordinate(stretch(1, 2)),                      # 1 r(C=C)
        Coordinate(stretch(1, 3)),                      # 2 r(C1H3)
        Coordinate(stretch(1, 4)),                      # 3 r(C1H4)
        Coordinate(stretch(2, 5)),                      # 4 r(C2H5)
        Coordinate(stretch(2, 6)),                      # 5 r(C2H6)
        Coordinate(bend(3, 1, 2)),                      # 6 H3-C1-C2
        Coordinate(bend(4, 1, 2)),                      # 7 H4-C1-C2
        Coordinate(bend(5, 2, 1)),                      # 8 H5-C2-C1
        Coordinate(bend(6, 2, 1)),                      # 9 H6-C2-C1
        Coordinate(torsion(3, 1, 2, 5), torsion(4, 1, 2, 6),   # 10 twist: mean of
                   torsion(3, 1, 2, 6), torsion(4, 1, 2, 5)),  # the four HCCH
        Coordinate(wag(2, 1, 3, 4)),                    # 11 C2 out of plane H3 C1 H4
        Coordinate(wag(1, 2, 5, 6)),                    # 12 C1 out of plane H5 C2 H6
    ]
    # Symmetry coordinates of D2h, named with x along C=C and z out of the
    # plane (so that the CH2 wags are B1u and B2g): Ag, Au, B1g, B1u, B2g,
    # B2u, B3u.
    u = [
        [(1, 1.0)],                                              # Ag  C=C stretch
        [(2, 1.0), (3, 1.0), (4, 1.0), (5, 1.0)],                # Ag  CH stretch
        [(6, 1.0), (7, 1.0), (8, 1.0), (9, 1.0)],                # Ag  CH2 scissor
        [(10, 1.0)],                                             # Au  twist
        [(2, 1.0), (3, -1.0), (4, -1.0), (5, 1.0)],              # B1g CH stretch
        [(6, 1.0), (7, -1.0), (8, -1.0), (9, 1.0)],              # B1g CH2 rock
        [(11, 1.0), (12, -1.0)],                                 # B1u CH2 wag
        [(11, 1.0), (12, 1.0)],                                  # B2g CH2 wag
        [(2, 1.0), (3, -1.0), (4, 1.0), (5, -1.0)],              # B2u CH stretch
        [(6, 1.0), (7, -1.0), (8, 1.0), (9, -1.0)],              # B2u CH2 rock
        [(2, 1.0), (3, 1.0), (4, -1.0), (5, -1.0)],              # B3u CH stretch
        [(6, 1.0), (7, 1.0), (8, -1.0), (9, -1.0)],              # B3u CH2 scissor
    ]
    blocks = [1, 4, 5, 7, 8, 9, 11, 13]
    p = Problem(1, "ETHYLENE C2H4  D2H  R(CC) 1.3305  R(CH) 1.0805 A  HCH 117.2 DEG",
                "C1 C2 ALONG X, H3 H4 ON C1, H5 H6 ON C2; TWIST = MEAN OF 4 HCCH TORSIONS",
                atoms, coords,
                [MassSet("C2H4  AG(3) AU(1) B1G(2) B1U(1) B2G(1) B2U(2) B3U(2)", [C, C, H, H, H, H], 1, u, blocks),
                 MassSet("C2D4", [C, C, D, D, D, D], -1, None, blocks),
                 MassSet("CIS-CHD=CHD  NO U MATRIX", [C, C, H, D, H, D])],
                save=1)
    cards = [
        comment("Ethylene C2H4 (D2h): the twist is one coordinate made of four torsion"),
        comment("entries (CODE 4, three of them continuation entries, so it is their mean);"),
        comment("the CH2 wags are out-of-plane angles (CODE 3). C2H4 and C2D4 share one U"),
        comment("matrix in seven symmetry blocks; cis-CHD=CHD has no U matrix."),
    ]
    cards += problem_cards(p) + ["999"]
    write_deck("ethylene", "C2H4", cards)


# ---------------------------------------------------------------- hydrogen peroxide


def peroxide():
    r_oo, r_oh, ooh, tau = 1.4556, 0.9627, 99.86, 112.5
    # O-O along z, the C2 axis along x.
    z = r_oo / 2.0
    o1, o2 = (0.0, 0.0, -z), (0.0, 0.0, z)
    h3 = vadd(o1, polar(r_oh, ooh, tau / 2.0))
    h4 = vadd(o2, polar(r_oh, 180.0 - ooh, -tau / 2.0))
    atoms = [("O", o1), ("O", o2), ("H", h3), ("H", h4)]
    coords = [
        Coordinate(stretch(1, 2)),          # 1 r(OO)
        Coordinate(stretch(1, 3)),          # 2 r(O1H3)
        Coordinate(stretch(2, 4)),          # 3 r(O2H4)
        Coordinate(bend(3, 1, 2)),          # 4 H3-O1-O2
        Coordinate(bend(4, 2, 1)),          # 5 H4-O2-O1
        Coordinate(torsion(3, 1, 2, 4)),    # 6 H3-O1-O2-H4
    ]
    u = [
        [(1, 1.0)],                 # A  O-O stretch
        [(2, 1.0), (3, 1.0)],       # A  OH stretch
        [(4, 1.0), (5, 1.0)],       # A  OOH bend
        [(6, 1.0)],                 # A  torsion
        [(2, 1.0), (3, -1.0)],      # B  OH stretch
        [(4, 1.0), (5, -1.0)],      # B  OOH bend
    ]
    blocks = [1, 5, 7]
    p = Problem(1, "HYDROGEN PEROXIDE H2O2  C2  R(OO) 1.4556  R(OH) 0.9627 A  OOH 99.86 DEG",
                "DIHEDRAL HOOH 112.5 DEG; O-O ALONG Z, C2 AXIS ALONG X; BLOCKS A(4) B(2)",
                atoms, coords,
                [MassSet("HOOH  A(4) B(2)", [O, O, H, H], 1, u, blocks),
                 MassSet("DOOD", [O, O, D, D], -1, None, blocks),
                 MassSet("HOOD  NO U MATRIX", [O, O, H, D])],
                save=1)
    cards = [
        comment("Hydrogen peroxide H2O2 (C2): the HOOH torsion (CODE 4) in a non-planar"),
        comment("molecule; HOOH and DOOD share one U matrix (blocks A and B), HOOD has none."),
    ]
    cards += problem_cards(p) + ["999"]
    write_deck("peroxide", "H2O2", cards)


# ---------------------------------------------------------------- carbon dioxide


def carbon_dioxide():
    r = 1.1600
    atoms = [("O", (0.0, 0.0, -r)), ("C", (0.0, 0.0, 0.0)), ("O", (0.0, 0.0, r))]
    coords = [
        Coordinate(stretch(2, 1)),                                # 1 r(C-O1)
        Coordinate(stretch(2, 3)),                                # 2 r(C-O3)
        Coordinate(linear(5, 0, 1, 2, 3, (1.0, 0.0, 0.0))),       # 3 bend toward x, 4 toward y
    ]
    u = [
        [(1, 1.0), (2, 1.0)],       # Sigma g+ stretch
        [(1, 1.0), (2, -1.0)],      # Sigma u+ stretch
        [(3, 1.0)],                 # Pi u bend, x
        [(4, 1.0)],                 # Pi u bend, y
    ]
    blocks = [1, 2, 3, 4, 5]
    p = Problem(1, "CARBON DIOXIDE CO2  LINEAR, D-INF-H  R(CO) 1.1600 A  ALONG Z",
                "LINEAR BEND: CODE 5, J K L = 1 2 3, REFERENCE POINT ON X; ROWS 3 (X) AND 4 (Y)",
                atoms, coords,
                [MassSet("12C16O2  SG+(1) SU+(1) PU X(1) PU Y(1)", [O, C, O], 1, u, blocks),
                 MassSet("13C16O2", [O, C13, O], -1, None, blocks),
                 MassSet("16O12C18O  NO U MATRIX", [O, C, O18])],
                save=1)
    cards = [
        comment("Carbon dioxide CO2 (linear): one linear-bend entry (CODE 5, L > 0) gives"),
        comment("both perpendicular bends, row 3 toward its reference point on x and row 4"),
        comment("(the pair row) toward y; 12C16O2 and 13C16O2 share one U matrix."),
    ]
    cards += problem_cards(p) + ["999"]
    write_deck("co2", "CO2", cards)


# ---------------------------------------------------------------- acetylene


def acetylene():
    r_cc, r_ch = 1.2030, 1.0620
    zc = r_cc / 2.0
    zh = zc + r_ch
    atoms = [("H", (0.0, 0.0, -zh)), ("C", (0.0, 0.0, -zc)),
             ("C", (0.0, 0.0, zc)), ("H", (0.0, 0.0, zh))]
    at_c2_x = (1.0, 0.0, -zc)
    at_c2_y = (0.0, 1.0, -zc)
    at_c3_x = (1.0, 0.0, zc)
    at_c3_y = (0.0, 1.0, zc)
    coords = [
        Coordinate(stretch(2, 1)),                               # 1 r(C2H1)
        Coordinate(stretch(3, 4)),                               # 2 r(C3H4)
        Coordinate(stretch(2, 3)),                               # 3 r(CC)
        # CODE 5 with L = 0 takes rows 4 and 5 and writes row 4 only (bend at
        # C2 toward x); the continuation entry (CODE 6, L = 0) adds the bend
        # at C3 toward y to row 5, which is then divided by 2.
        Coordinate(linear(5, 1, 2, 3, 0, at_c2_x), linear(6, 2, 3, 4, 0, at_c3_y)),
        Coordinate(linear(6, 1, 2, 3, 0, at_c2_y)),              # 6 bend at C2 toward y
        Coordinate(linear(6, 2, 3, 4, 0, at_c3_x)),              # 7 bend at C3 toward x
    ]
    u = [
        [(1, 1.0), (2, 1.0)],       # Sigma g+  CH stretch
        [(3, 1.0)],                 # Sigma g+  CC stretch
        [(1, 1.0), (2, -1.0)],      # Sigma u+  CH stretch
        [(4, 1.0), (7, -1.0)],      # Pi g  trans bend, x
        [(6, 1.0), (5, -2.0)],      # Pi g  trans bend, y (row 5 is half the C3 bend)
        [(4, 1.0), (7, 1.0)],       # Pi u  cis bend, x
        [(6, 1.0), (5, 2.0)],       # Pi u  cis bend, y
    ]
    blocks = [1, 3, 4, 6, 8]
    p = Problem(1, "ACETYLENE HCCH  LINEAR, D-INF-H  R(CC) 1.2030  R(CH) 1.0620 A  ALONG Z",
                "ROWS 4 C2 BEND X, 5 HALF THE C3 BEND Y, 6 C2 BEND Y, 7 C3 BEND X",
                atoms, coords,
                [MassSet("C2H2  SG+(2) SU+(1) PG(2) PU(2)", [H, C, C, H], 1, u, blocks),
                 MassSet("C2D2", [D, C, C, D], -1, None, blocks),
                 MassSet("HCCD  NO U MATRIX", [H, C, C, D])],
                save=1)
    cards = [
        comment("Acetylene HCCH (linear): a CODE 5 entry with L = 0 takes rows 4 and 5 but"),
        comment("fills only row 4 (the bend at C2 toward x); its continuation entry (NO = 0,"),
        comment("CODE 6, L = 0) puts the bend at C3 toward y into row 5, which is then halved"),
        comment("(two entries). Rows 6 and 7 are single CODE 6 entries (C2 toward y, C3"),
        comment("toward x). The U matrix weights row 5 by 2 to undo the halving; its y rows"),
        comment("(1, -2) and (1, 2) are normalised by 1/SQRT(5), its x rows by 1/SQRT(2), so"),
        comment("in the Pi g and Pi u blocks each y element is 2/5 of the x one. C2H2 and"),
        comment("C2D2 share the U matrix; HCCD has none."),
    ]
    cards += problem_cards(p) + ["999"]
    write_deck("acetylene", "C2H2", cards)


# ---------------------------------------------------------------- methyl chloride


def c3v_hydrogens(r, axis_angle, phis=(90.0, 210.0, 330.0)):
    return [polar(r, axis_angle, phi) for phi in phis]


def methyl_chloride():
    r_ccl, r_ch, hch = 1.7760, 1.0854, 110.35
    # Angle between C-H and the C3 axis (+z, away from Cl).
    t = math.acos(math.sqrt((2.0 * math.cos(hch * DEG) + 1.0) / 3.0)) / DEG
    hs = c3v_hydrogens(r_ch, t)
    atoms = [("C", (0.0, 0.0, 0.0)), ("CL", (0.0, 0.0, -r_ccl))] + [("H", h) for h in hs]
    coords = [
        Coordinate(stretch(1, 2)),                                       # 1 r(CCl)
        Coordinate(stretch(1, 3)), Coordinate(stretch(1, 4)), Coordinate(stretch(1, 5)),  # 2-4 r(CH)
        Coordinate(bend(4, 1, 5), bend(3, 1, 5), bend(3, 1, 4)),         # 5 mean HCH: sym. deformation
        Coordinate(bend(4, 1, 5)), Coordinate(bend(3, 1, 5)), Coordinate(bend(3, 1, 4)),  # 6-8 HCH
        Coordinate(bend(3, 1, 2)), Coordinate(bend(4, 1, 2)), Coordinate(bend(5, 1, 2)),  # 9-11 HCCl
    ]
    # Coordinates 6, 7, 8 are the HCH angles opposite H3, H4, H5.
    u = [
        [(1, 1.0)],                                   # A1 C-Cl stretch
        [(2, 1.0), (3, 1.0), (4, 1.0)],               # A1 CH stretch
        [(5, 1.0)],                                   # A1 CH3 deformation (the mean)
        [(2, 2.0), (3, -1.0), (4, -1.0)],             # E  CH stretch (a)
        [(6, 2.0), (7, -1.0), (8, -1.0)],             # E  CH3 deformation (a)
        [(9, 2.0), (10, -1.0), (11, -1.0)],           # E  CH3 rock (a)
        [(3, 1.0), (4, -1.0)],                        # E  CH stretch (b)
        [(7, 1.0), (8, -1.0)],                        # E  CH3 deformation (b)
        [(10, 1.0), (11, -1.0)],                      # E  CH3 rock (b)
    ]
    blocks = [1, 4, 7, 10]
    p = Problem(1, "METHYL CHLORIDE CH3CL  C3V  R(CCL) 1.7760  R(CH) 1.0854 A  HCH 110.35 DEG",
                "COORDINATE 5 = MEAN OF THE THREE HCH BENDS (ONE ENTRY AND TWO CONTINUATIONS)",
                atoms, coords,
                [MassSet("CH3(35)CL  A1(3) E(3) E(3)", [C, CL, H, H, H], 1, u, blocks),
                 MassSet("CD3(35)CL", [C, CL, D, D, D], -1, None, blocks),
                 MassSet("CH3(37)CL", [C, CL37, H, H, H], -1, None, blocks)],
                save=1)
    cards = [
        comment("Methyl chloride CH3Cl (C3v): a combined coordinate. Coordinate 5 is one"),
        comment("bend entry and two continuation entries (NO = 0), the three HCH angles,"),
        comment("so its row is their mean: the symmetric CH3 deformation. The single HCH"),
        comment("bends 6-8 are kept for the E blocks, so coordinate 5 is redundant with"),
        comment("them; the U matrix uses it for A1. Mass sets CH3(35)Cl, CD3(35)Cl, CH3(37)Cl."),
    ]
    cards += problem_cards(p) + ["999"]
    write_deck("methyl_chloride", "CH3CL", cards)


# ---------------------------------------------------------------- ammonia


def ammonia():
    r_nh, hnh = 1.0116, 106.68
    t = math.acos(math.sqrt((2.0 * math.cos(hnh * DEG) + 1.0) / 3.0)) / DEG
    hs = c3v_hydrogens(r_nh, 180.0 - t)
    atoms = [("N", (0.0, 0.0, 0.0))] + [("H", h) for h in hs]
    coords = [
        Coordinate(stretch(1, 2)), Coordinate(stretch(1, 3)), Coordinate(stretch(1, 4)),  # 1-3 r(NH)
        Coordinate(bend(3, 1, 4)), Coordinate(bend(2, 1, 4)), Coordinate(bend(2, 1, 3)),  # 4-6 HNH opposite H2, H3, H4
    ]
    u = [
        [(1, 1.0), (2, 1.0), (3, 1.0)],       # A1 NH stretch
        [(4, 1.0), (5, 1.0), (6, 1.0)],       # A1 umbrella
        [(1, 2.0), (2, -1.0), (3, -1.0)],     # E(a) NH stretch
        [(4, 2.0), (5, -1.0), (6, -1.0)],     # E(a) HNH bend
        [(2, 1.0), (3, -1.0)],                # E(b) NH stretch
        [(5, 1.0), (6, -1.0)],                # E(b) HNH bend
    ]
    blocks = [1, 3, 5, 7]
    p = Problem(1, "AMMONIA NH3  C3V  R(NH) 1.0116 A  HNH 106.68 DEG  C3 AXIS ALONG Z",
                "N AT THE ORIGIN, H2 IN THE YZ PLANE; BLOCKS A1, E(A), E(B)",
                atoms, coords,
                [MassSet("NH3  A1(2) E(2) E(2)", [N, H, H, H], 1, u, blocks),
                 MassSet("ND3", [N, D, D, D], -1, None, blocks),
                 MassSet("(15)NH3", [N15, H, H, H], -1, None, blocks),
                 MassSet("NH2D  NO U MATRIX", [N, H, H, D])],
                save=1)
    cards = [
        comment("Ammonia NH3 (C3v): three stretches and three HNH bends, symmetry blocks"),
        comment("A1 and the two components of E (equal blocks); NH3, ND3 and (15)NH3 share"),
        comment("one U matrix, NH2D has none."),
    ]
    cards += problem_cards(p) + ["999"]
    write_deck("ammonia", "NH3", cards)


# ---------------------------------------------------------------- methane


def methane():
    r = 1.0858
    a = r / math.sqrt(3.0)
    signs = [(1, 1, 1), (1, -1, -1), (-1, 1, -1), (-1, -1, 1)]
    atoms = [("C", (0.0, 0.0, 0.0))] + [("H", tuple(s * a for s in sg)) for sg in signs]
    pairs = [(1, 2), (1, 3), (1, 4), (2, 3), (2, 4), (3, 4)]   # H numbers 1-4 are atoms 2-5
    coords = [Coordinate(stretch(1, h + 1)) for h in range(1, 5)]
    coords += [Coordinate(bend(i + 1, 1, j + 1)) for i, j in pairs]
    col = {p: 5 + n for n, p in enumerate(pairs)}           # bend (i, j) is coordinate col[(i, j)]
    u = [
        [(1, 1.0), (2, 1.0), (3, 1.0), (4, 1.0)],                               # A1 stretch
        [(col[p], 1.0) for p in pairs],                                         # A1 bends: redundant
        [(col[(1, 2)], 2.0), (col[(1, 3)], -1.0), (col[(1, 4)], -1.0),
         (col[(2, 3)], -1.0), (col[(2, 4)], -1.0), (col[(3, 4)], 2.0)],         # E(a)
        [(col[(1, 3)], 1.0), (col[(1, 4)], -1.0), (col[(2, 3)], -1.0), (col[(2, 4)], 1.0)],  # E(b)
        [(1, 1.0), (2, 1.0), (3, -1.0), (4, -1.0)],                             # F2(x) stretch
        [(col[(1, 2)], 1.0), (col[(3, 4)], -1.0)],                              # F2(x) bend
        [(1, 1.0), (2, -1.0), (3, 1.0), (4, -1.0)],                             # F2(y) stretch
        [(col[(1, 3)], 1.0), (col[(2, 4)], -1.0)],                              # F2(y) bend
        [(1, 1.0), (2, -1.0), (3, -1.0), (4, 1.0)],                             # F2(z) stretch
        [(col[(1, 4)], 1.0), (col[(2, 3)], -1.0)],                              # F2(z) bend
    ]
    blocks = [1, 3, 4, 5, 7, 9, 11]
    p = Problem(1, "METHANE CH4  TD  R(CH) 1.0858 A, TETRAHEDRAL ANGLES",
                "CH STRETCHES 1-4, HCH BENDS 5-10 (ONE REDUNDANCY, A1); H AT R(+-1,+-1,+-1)/SQRT3",
                atoms, coords,
                [MassSet("CH4  A1(2) E(1) E(1) F2(2) F2(2) F2(2)", [C, H, H, H, H], 1, u, blocks),
                 MassSet("CD4", [C, D, D, D, D], -1, None, blocks),
                 MassSet("(13)CH4", [C13, H, H, H, H], -1, None, blocks),
                 MassSet("CH3D  NO U MATRIX", [C, H, H, H, D])],
                save=1)
    cards = [
        comment("Methane CH4 (Td): ten coordinates for nine vibrations. The sum of the six"),
        comment("HCH bends (second A1 symmetry coordinate) is the redundancy: its row of the"),
        comment("symmetrized G is zero. Blocks A1, E (two components), F2 (three components)"),
        comment("for CH4, CD4 and (13)CH4 with one U matrix; CH3D has none."),
    ]
    cards += problem_cards(p) + ["999"]
    write_deck("methane", "CH4", cards)


# ---------------------------------------------------------------- benzene


def benzene_patterns():
    """Integer coefficient patterns over i = 1..6 for the C6 index k.

    Atom-centred coordinates sit at 60(i-1) degrees, bond-centred ones (ring
    bond C(i)-C(i+1)) at 60(i-1)+30 degrees. Components: (a) is symmetric
    under the vertical mirror through C1, (b) antisymmetric. Coordinates
    symmetric under the mirror through their own centre (stretches, CCC
    bends, wags) take (cos, sin); antisymmetric ones (in-plane CH bends,
    ring torsions) take (sin, -cos)."""
    atom = {
        (1, "cos"): [2, 1, -1, -2, -1, 1], (1, "sin"): [0, 1, 1, 0, -1, -1],
        (2, "cos"): [2, -1, -1, 2, -1, -1], (2, "sin"): [0, 1, -1, 0, 1, -1],
    }
    bond = {
        (1, "cos"): [1, 0, -1, -1, 0, 1], (1, "sin"): [1, 2, 1, -1, -2, -1],
        (2, "cos"): [1, -2, 1, 1, -2, 1], (2, "sin"): [1, 0, -1, 1, 0, -1],
    }
    return atom, bond


def benzene():
    r_cc, r_ch = 1.3915, 1.0800
    atoms = []
    for i in range(6):
        phi = 60.0 * i * DEG
        atoms.append(("C", (r_cc * math.cos(phi), r_cc * math.sin(phi), 0.0)))
    for i in range(6):
        phi = 60.0 * i * DEG
        atoms.append(("H", ((r_cc + r_ch) * math.cos(phi), (r_cc + r_ch) * math.sin(phi), 0.0)))

    def cn(i):        # carbon i, i taken round the ring
        return (i - 1) % 6 + 1

    coords = []
    coords += [Coordinate(stretch(cn(i), cn(i + 1))) for i in range(1, 7)]                    # 1-6 R(i)
    coords += [Coordinate(stretch(i, i + 6)) for i in range(1, 7)]                              # 7-12 r(i)
    coords += [Coordinate(bend(cn(i - 1), i, cn(i + 1))) for i in range(1, 7)]                # 13-18 CCC
    coords += [Coordinate(bend(i + 6, i, cn(i + 1))) for i in range(1, 7)]                    # 19-24 HCC
    coords += [Coordinate(wag(i + 6, i, cn(i - 1), cn(i + 1))) for i in range(1, 7)]          # 25-30 wag
    coords += [Coordinate(torsion(cn(i - 1), i, cn(i + 1), cn(i + 2))) for i in range(1, 7)]  # 31-36 tors
    R, r, th, a, w, t = 0, 6, 12, 18, 24, 30     # column offsets

    def row(offset, pattern):
        return [(offset + i + 1, float(c)) for i, c in enumerate(pattern) if c != 0]

    def chbend(pattern, half=True):
        """In-plane CH bend (HCC(i,i+1) - HCC(i,i-1))/2 = HCC(i,i+1) + CCC(i)/2 - pi."""
        out = [(a + i + 1, float(c)) for i, c in enumerate(pattern) if c != 0]
        if half:
            out += [(th + i + 1, c / 2.0) for i, c in enumerate(pattern) if c != 0]
        return out

    atom, bond = benzene_patterns()
    ones = [1] * 6
    alt = [1, -1, 1, -1, 1, -1]
    neg = lambda p: [-c for c in p]

    def d6h_u(half=True):
        g = []
        blocks = [1]

        def block(rows):
            g.extend(rows)
            blocks.append(blocks[-1] + len(rows))

        block([row(R, ones), row(r, ones), row(th, ones)])                               # A1g (Sum CCC redundant)
        block([chbend(ones, half)])                                                      # A2g
        block([row(w, alt), row(t, alt)])                                                # B2g
        block([row(w, atom[(1, "cos")]), row(t, bond[(1, "sin")])])                      # E1g a
        block([row(w, atom[(1, "sin")]), row(t, neg(bond[(1, "cos")]))])                 # E1g b
        block([row(R, bond[(2, "cos")]), row(r, atom[(2, "cos")]), row(th, atom[(2, "cos")]),
               chbend(atom[(2, "sin")], half)])                                          # E2g a
        block([row(R, bond[(2, "sin")]), row(r, atom[(2, "sin")]), row(th, atom[(2, "sin")]),
               chbend(neg(atom[(2, "cos")]), half)])                                     # E2g b
        block([row(t, ones)])                                                            # A1u (redundant)
        block([row(w, ones)])                                                            # A2u
        block([row(r, alt), row(th, alt)])                                               # B1u
        block([row(R, alt), chbend(alt, half)])                                          # B2u
        block([row(R, bond[(1, "cos")]), row(r, atom[(1, "cos")]), row(th, atom[(1, "cos")]),
               chbend(atom[(1, "sin")], half)])                                          # E1u a
        block([row(R, bond[(1, "sin")]), row(r, atom[(1, "sin")]), row(th, atom[(1, "sin")]),
               chbend(neg(atom[(1, "cos")]), half)])                                     # E1u b
        block([row(w, atom[(2, "cos")]), row(t, bond[(2, "sin")])])                      # E2u a
        block([row(w, atom[(2, "sin")]), row(t, neg(bond[(2, "cos")]))])                 # E2u b
        return g, blocks

    u_sym, blocks_sym = d6h_u()
    u_local = [[(n, 1.0)] for n in range(1, 37)]
    blocks_local = [1, 25, 37]
    u_wrong, blocks_wrong = d6h_u(half=False)
    masses_h = [C] * 6 + [H] * 6
    masses_d = [C] * 6 + [D] * 6
    p = Problem(1, "BENZENE C6H6  D6H  R(CC) 1.3915  R(CH) 1.0800 A  RING IN THE XY PLANE",
                "R(CC) 1-6, R(CH) 7-12, CCC 13-18, HCC 19-24, CH WAG 25-30, CCCC TORSION 31-36",
                atoms, coords,
                [MassSet("C6H6  D6H SYMMETRY, 15 BLOCKS", masses_h, 1, u_sym, blocks_sym),
                 MassSet("C6D6  D6H SYMMETRY, 15 BLOCKS", masses_d, -1, None, blocks_sym),
                 MassSet("C6H6  IN-PLANE (24) AND OUT-OF-PLANE (12) BLOCKS", masses_h, 1,
                         u_local, blocks_local),
                 MassSet("C6H6  WRONG U: CH BENDS WITHOUT CCC/2, DOES NOT FACTOR", masses_h, 1,
                         u_wrong, blocks_wrong)],
                save=1)
    cards = [
        comment("Benzene C6H6 (D6h), twelve atoms, 36 internal coordinates for 30"),
        comment("vibrations. The in-plane CH bend of symmetry coordinates is HCC(i,i+1) plus"),
        comment("half of CCC(i). Mass sets: C6H6 and C6D6 in the 15 D6h symmetry blocks (the"),
        comment("A1g ring-angle sum and the A1u torsion sum are redundant: zero rows); C6H6"),
        comment("in an in-plane block of 24 and an out-of-plane block of 12 coordinates (more"),
        comment("than 100 elements in one block); and C6H6 with a U matrix that leaves out"),
        comment("the CCC/2 terms, so the ERRORS UPON ERRORS reports of that set are intended."),
    ]
    cards += problem_cards(p) + ["999"]
    write_deck("benzene", "C6H6", cards)


# ---------------------------------------------------------------- input errors


def bent_triatomic(r, angle):
    """Atoms 1 (centre) at the origin, 2 and 3 in the xy plane, C2 axis along y."""
    half = angle / 2.0 * DEG
    return (r * math.sin(half), r * math.cos(half))


def errors():
    cards = [
        comment("Input errors between good problems: the listing shows each error report and"),
        comment("the next problem is found at its -9 card. Problems 2 (X matrix), 4 (internal"),
        comment("coordinate) and 6 (U matrix) are broken on purpose; 1, 3, 5, 7 are good."),
    ]
    c2v3 = [Coordinate(stretch(1, 2)), Coordinate(stretch(1, 3)), Coordinate(bend(2, 1, 3))]
    u3 = [[(1, 1.0), (2, 1.0)], [(3, 1.0)], [(1, 1.0), (2, -1.0)]]

    # 1 good: hydrogen sulfide.
    x, y = bent_triatomic(1.3356, 92.11)
    atoms = [("S", (0.0, 0.0, 0.0)), ("H", (x, y, 0.0)), ("H", (-x, y, 0.0))]
    p1 = Problem(1, "HYDROGEN SULFIDE H2S  C2V  R(SH) 1.3356 A  HSH 92.11 DEG",
                 "GOOD PROBLEM", atoms, c2v3,
                 [MassSet("H2S  A1(2) B2(1)", [S, H, H], 1, u3, [1, 3, 4]),
                  MassSet("D2S", [S, D, D], -1, None, [1, 3, 4])], save=1)
    cards += problem_cards(p1)

    # 2 X-matrix error: sulfur dioxide with a triple whose row reads -2.
    x, y = bent_triatomic(1.4308, 119.33)
    atoms = [("S", (0.0, 0.0, 0.0)), ("O", (x, y, 0.0)), ("O", (-x, y, 0.0))]
    p2 = Problem(2, "SULFUR DIOXIDE SO2  C2V  R(SO) 1.4308 A  OSO 119.33 DEG",
                 "BROKEN ON PURPOSE: THE THIRD TRIPLE OF THE FIRST X CARD HAS ROW -2", atoms, c2v3,
                 [MassSet("SO2", [S, O, O], 1, u3, [1, 3, 4]),
                  MassSet("S(18)O2", [S, O18, O18], -1, None, [1, 3, 4])], save=1)
    xc = x_cards(atoms)
    first = xc[0]
    xc[0] = first[:36] + fi(-2) + first[39:]
    cards += problem_cards(p2, x_extra=xc)

    # 3 good: hydrogen cyanide, linear, with both bends from one CODE 5 entry.
    atoms = [("H", (0.0, 0.0, -1.0655)), ("C", (0.0, 0.0, 0.0)), ("N", (0.0, 0.0, 1.1532))]
    coords = [Coordinate(stretch(2, 1)), Coordinate(stretch(2, 3)),
              Coordinate(linear(5, 0, 1, 2, 3, (0.0, 1.0, 0.0)))]
    p3 = Problem(3, "HYDROGEN CYANIDE HCN  LINEAR, C-INF-V  R(CH) 1.0655  R(CN) 1.1532 A",
                 "GOOD PROBLEM; BEND ROWS 3 (TOWARD Y) AND 4 (X, THE PAIR ROW)", atoms, coords,
                 [MassSet("HCN  SIGMA(2) PI(1) PI(1)", [H, C, N], 1,
                          [[(1, 1.0)], [(2, 1.0)], [(3, 1.0)], [(4, 1.0)]], [1, 3, 4, 5]),
                  MassSet("DCN", [D, C, N], -1, None, [1, 3, 4, 5])], save=1)
    cards += problem_cards(p3)

    # 4 internal coordinate error: carbon disulfide bent with an ordinary angle bend.
    atoms = [("C", (0.0, 0.0, 0.0)), ("S", (0.0, 0.0, -1.5526)), ("S", (0.0, 0.0, 1.5526))]
    p4 = Problem(4, "CARBON DISULFIDE CS2  LINEAR  R(CS) 1.5526 A",
                 "BROKEN ON PURPOSE: AN ORDINARY ANGLE BEND (CODE 2) OF 180 DEG, JOKER 2", atoms, c2v3,
                 [MassSet("CS2", [C, S, S], 1, u3, [1, 3, 4])])
    cards += problem_cards(p4)

    # 5 good: oxygen difluoride.
    x, y = bent_triatomic(1.4053, 103.07)
    atoms = [("O", (0.0, 0.0, 0.0)), ("F", (x, y, 0.0)), ("F", (-x, y, 0.0))]
    p5 = Problem(5, "OXYGEN DIFLUORIDE OF2  C2V  R(OF) 1.4053 A  FOF 103.07 DEG",
                 "GOOD PROBLEM", atoms, c2v3,
                 [MassSet("OF2  A1(2) B2(1)", [O, F, F], 1, u3, [1, 3, 4])])
    cards += problem_cards(p5)

    # 6 U-matrix error: ozone with a triple of row 2 after row 3.
    x, y = bent_triatomic(1.2716, 116.78)
    atoms = [("O", (0.0, 0.0, 0.0)), ("O", (x, y, 0.0)), ("O", (-x, y, 0.0))]
    p6 = Problem(6, "OZONE O3  C2V  R(OO) 1.2716 A  OOO 116.78 DEG",
                 "BROKEN ON PURPOSE: U ROW 2 COMES AGAIN AFTER ROW 3 (SECOND U CARD, FIELD 2)", atoms, c2v3,
                 [MassSet("(16)O3", [O, O, O], 1, u3, [1, 3, 4]),
                  MassSet("(18)O3", [O18, O18, O18], -1, None, [1, 3, 4])], save=1)
    body = problem_cards(p6)
    ucards = triples([(1, 1, 1.0), (1, 2, 1.0), (2, 3, 1.0), (3, 1, 1.0),
                      (3, 2, -1.0), (2, 3, 1.0), (-3, 0, 0.0)])
    good_u = u_cards(u3, 3)
    start = body.index(good_u[0])
    body[start:start + len(good_u)] = ucards
    cards += body

    # 7 good: hypochlorous acid, no U matrix.
    atoms = [("O", (0.0, 0.0, 0.0)), ("H", (0.9643, 0.0, 0.0)),
             ("CL", (1.6891 * math.cos(102.96 * DEG), 1.6891 * math.sin(102.96 * DEG), 0.0))]
    coords = [Coordinate(stretch(1, 2)), Coordinate(stretch(1, 3)), Coordinate(bend(2, 1, 3))]
    p7 = Problem(7, "HYPOCHLOROUS ACID HOCL  CS  R(OH) 0.9643  R(OCL) 1.6891 A  HOCL 102.96 DEG",
                 "GOOD PROBLEM", atoms, coords,
                 [MassSet("HO(35)CL", [O, H, CL]), MassSet("DO(35)CL", [O, D, CL])])
    cards += problem_cards(p7)
    cards.append("999")
    write_deck("errors", "ERRORS", cards)


DECKS = {
    "formaldehyde": formaldehyde,
    "ethylene": ethylene,
    "peroxide": peroxide,
    "co2": carbon_dioxide,
    "acetylene": acetylene,
    "methyl_chloride": methyl_chloride,
    "ammonia": ammonia,
    "methane": methane,
    "benzene": benzene,
    "errors": errors,
}


def main(argv):
    names = argv[1:] or list(DECKS)
    for name in names:
        if name not in DECKS:
            sys.exit("unknown deck %s; known: %s" % (name, " ".join(DECKS)))
        DECKS[name]()


if __name__ == "__main__":
    main(sys.argv)
