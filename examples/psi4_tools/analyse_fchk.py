#!/usr/bin/python3
"""Harmonic analysis of one of these formatted checkpoints, independent of
psi4: wavenumbers, IR intensities from "Dipole Derivatives" and Raman
activities from "Polarizability Derivatives".

    python3 analyse_fchk.py NAME.fchk [NAME.out] [--json]

Masses: the fchk's "Real atomic weights" (psi4 writes its isotopic masses).
Constants: CODATA 2018. Translations and rotations are removed by working in
the orthonormal complement of their mass-weighted vectors.

IR intensity (integrated absorption coefficient, km/mol), for each mode k:
    A_k = N_A / (12 eps0 c^2) * |d mu / d Q_k|^2        (SI)
        = N_A pi / (3 c^2) * |d mu / d Q_k|^2          (Gaussian units)
with Q_k the mass-weighted normal coordinate; with d mu / d Q in e u^-1/2
the factor is K_IR = 974.8802 km/mol (e^2/u)^-1, i.e. 42.25609 km/mol per
(D/A)^2/u. It is evaluated three ways below (SI, cgs, atomic units).
Raman activity (A^4/u): S_k = 45 a'^2 + 7 g'^2, a' the mean and g'^2 the
anisotropy of d alpha / d Q_k.
If NAME.out is given, psi4's printed wavenumbers and "IR activ" (from its
analytic dipole derivatives) are set beside ours.
"""
import json
import math
import re
import sys

import numpy as np

# CODATA 2018
NA = 6.02214076e23          # 1/mol
C = 299792458.0             # m/s
EPS0 = 8.8541878128e-12     # F/m
E = 1.602176634e-19         # C
U = 1.66053906660e-27       # kg
A0 = 5.29177210903e-11      # m
EH = 4.3597447222071e-18    # J
ME_U = 5.48579909065e-4     # electron mass in u
ALPHA = 7.2973525693e-3     # fine-structure constant
DEBYE = 1e-21 / C           # C m


def ir_factors():
    """km/mol per (e^2/u), three ways."""
    si = NA / (12 * EPS0 * C**2) * E**2 / U / 1e3
    e_esu = E * 10 * C                      # statcoulomb
    c_cgs = C * 100                         # cm/s
    cgs = NA * math.pi / (3 * c_cgs**2) * e_esu**2 / (U * 1e3) / 1e5
    # atomic units: e^2/(4 pi eps0) = alpha hbar c and hbar = m_e c alpha a0, so
    # N_A pi/(3 c^2) e^2/(4 pi eps0 u) = N_A pi alpha^2 a0 (m_e/u) / 3
    au = NA * math.pi * ALPHA**2 * A0 * ME_U / 3 / 1e3
    return si, cgs, au


K_IR = ir_factors()[0]


def read_fchk(path):
    lines = open(path).read().split('\n')
    sections = {}
    i = 0
    while i < len(lines):
        m = re.match(r'^(\S.{0,39}?)\s+([IR])\s+N=\s*(\d+)\s*$', lines[i])
        if m:
            title, kind, count = m.group(1).strip(), m.group(2), int(m.group(3))
            values = []
            i += 1
            while len(values) < count:
                values += [float(t) if kind == 'R' else int(t) for t in lines[i].split()]
                i += 1
            sections[title] = np.array(values)
        else:
            m = re.match(r'^(\S.{0,39}?)\s+([IR])\s+(\S+)\s*$', lines[i])
            if m:  # a scalar: "Total Energy   R   -7.6e+01"
                sections[m.group(1).strip()] = np.array([float(m.group(3))])
            i += 1
    return sections


def vibrational_basis(x, m):
    """Orthonormal basis (3N x nvib) of the mass-weighted vibrational space."""
    n = len(m)
    sq = np.sqrt(m)
    com = (m[:, None] * x).sum(axis=0) / m.sum()
    r = x - com
    tr = []
    for k in range(3):
        t = np.zeros((n, 3))
        t[:, k] = sq
        tr.append(t.reshape(-1))
    for k in range(3):
        axis = np.eye(3)[k]
        tr.append((np.cross(axis, r) * sq[:, None]).reshape(-1))
    tr = np.array(tr).T
    u, s, _ = np.linalg.svd(tr, full_matrices=True)
    rank = int((s > 1e-6 * s.max()).sum())
    return u[:, rank:], rank


def analyse(fchk_path):
    s = read_fchk(fchk_path)
    z = s['Atomic numbers']
    n_atoms = len(z)
    n = 3 * n_atoms
    x = s['Current cartesian coordinates'].reshape(n_atoms, 3)
    m = s['Real atomic weights']
    h = np.zeros((n, n))
    h[np.tril_indices(n)] = s['Cartesian Force Constants']
    h = h + h.T - np.diag(np.diag(h))
    minv = 1 / np.sqrt(np.repeat(m, 3))
    hmw = h * minv[:, None] * minv[None, :]                 # Eh / (bohr^2 u)
    d, rank = vibrational_basis(x, m)
    lam, v = np.linalg.eigh(d.T @ hmw @ d)
    l = d @ v                                                # mass-weighted normal modes
    to_cm = math.sqrt(EH / (A0**2 * U)) / (2 * math.pi * C * 100)
    wavenumber = np.sign(lam) * np.sqrt(np.abs(lam)) * to_cm
    cart = l * minv[:, None]                                 # dx/dQ, u^-1/2
    result = {'file': fchk_path, 'atoms': n_atoms, 'removed': rank, 'wavenumber': wavenumber.tolist()}
    if 'Dipole Derivatives' in s:
        dmu = s['Dipole Derivatives'].reshape(n, 3)
        dmu_dq = cart.T @ dmu                                # e u^-1/2
        result['dmu_dQ'] = dmu_dq.tolist()
        result['ir'] = (K_IR * (dmu_dq**2).sum(axis=1)).tolist()
        result['translation_sum'] = float(np.abs(dmu.reshape(n_atoms, 3, 3).sum(axis=0)).max())
    if 'Polarizability Derivatives' in s:
        p = s['Polarizability Derivatives'].reshape(n, 6)
        full = np.zeros((n, 3, 3))
        for k, (a, b) in enumerate([(0, 0), (0, 1), (1, 1), (0, 2), (1, 2), (2, 2)]):
            full[:, a, b] = p[:, k]
            full[:, b, a] = p[:, k]
        da = np.einsum('ik,iab->kab', cart, full)             # bohr^2 u^-1/2
        mean = np.trace(da, axis1=1, axis2=2) / 3
        aniso = 0.5 * ((da[:, 0, 0] - da[:, 1, 1])**2 + (da[:, 1, 1] - da[:, 2, 2])**2 +
                       (da[:, 2, 2] - da[:, 0, 0])**2 +
                       6 * (da[:, 0, 1]**2 + da[:, 0, 2]**2 + da[:, 1, 2]**2))
        result['raman'] = ((45 * mean**2 + 7 * aniso) * (A0 * 1e10)**4).tolist()
        result['polarizability_translation_sum'] = float(np.abs(full.reshape(n_atoms, 3, 3, 3).sum(axis=0)).max())
    return result


def psi4_printed(out_path):
    freq, ir = [], []
    for line in open(out_path):
        if line.startswith('  Freq [cm^-1]'):
            freq += [float(t.replace('i', 'j')) if 'i' not in t else -float(t[:-1]) for t in line.split()[2:]]
        if line.startswith('  IR activ [km/mol]'):
            ir += [float(t) for t in line.split()[3:]]
    return freq, ir


def groups(w, tol=0.01):
    """Indices of degenerate sets (wavenumbers within tol cm-1)."""
    out = []
    for k, v in enumerate(w):
        if out and abs(w[out[-1][-1]] - v) < tol:
            out[-1].append(k)
        else:
            out.append([k])
    return out


def main(argv):
    r = analyse(argv[1])
    printed = psi4_printed(argv[2]) if len(argv) > 2 and not argv[2].startswith('--') else None
    if '--json' in argv:
        print(json.dumps(r, indent=1))
        return
    si, cgs, au = ir_factors()
    print('K_IR = %.6f (SI) = %.6f (cgs) = %.6f (atomic units) km/mol per e^2/u; %.6f per (D/A)^2/u'
          % (si, cgs, au, si * (DEBYE / (E * 1e-10))**2))
    print('%s: %d atoms, %d translations and rotations removed' % (r['file'], r['atoms'], r['removed']))
    w = r['wavenumber']
    head = ' mode  wavenumber/cm-1'
    if printed:
        head += '   psi4 printed'
    if 'ir' in r:
        head += '   IR km/mol  (deg. set)'
        if printed and printed[1]:
            head += '   psi4 IR activ'
    if 'raman' in r:
        head += '   Raman A^4/u  (deg. set)'
    print(head)
    for g in groups(w):
        for j, k in enumerate(g):
            line = '%5d  %15.4f' % (k + 1, w[k])
            if printed:
                line += '  %13.4f' % printed[0][k]
            if 'ir' in r:
                tot = sum(r['ir'][q] for q in g)
                line += '  %10.4f  %10s' % (r['ir'][k], ('%.4f' % tot) if (j == 0 and len(g) > 1) else '')
                if printed and printed[1]:
                    line += '  %14.4f' % printed[1][k]
            if 'raman' in r:
                tot = sum(r['raman'][q] for q in g)
                line += '  %12.4f  %10s' % (r['raman'][k], ('%.4f' % tot) if (j == 0 and len(g) > 1) else '')
            print(line)
    if 'translation_sum' in r:
        print('largest element of sum over atoms of d mu/d(translation): %.2e e' % r['translation_sum'])
    if 'polarizability_translation_sum' in r:
        print('largest element of sum over atoms of d alpha/d(translation): %.2e bohr^2'
              % r['polarizability_translation_sum'])


if __name__ == '__main__':
    main(sys.argv)
