#!/usr/bin/python3
"""Writes an ORCA-style .hess file from one of these formatted checkpoints:
$hessian (hartree/bohr^2, blocks of five columns, indices from 0), the
harmonic wavenumbers, $atoms (symbol, mass in u, x y z in bohr) and
$dipole_derivatives (3N rows of d mu_x, d mu_y, d mu_z in e).

    python3 fchk_to_orca_hess.py NAME.fchk NAME.hess

The masses are the fchk's "Real atomic weights" (psi4's isotopic masses,
which its wavenumbers use); ORCA itself would write average atomic weights.
No $normal_modes block is written.
"""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from analyse_fchk import analyse, read_fchk  # noqa: E402

SYMBOLS = {1: 'H', 5: 'B', 6: 'C', 7: 'N', 8: 'O', 9: 'F', 16: 'S'}


def main(source, target):
    s = read_fchk(source)
    z = s['Atomic numbers']
    n = 3 * len(z)
    h = np.zeros((n, n))
    h[np.tril_indices(n)] = s['Cartesian Force Constants']
    h = h + h.T - np.diag(np.diag(h))
    r = analyse(source)
    w = [0.0] * r['removed'] + r['wavenumber']
    x = s['Current cartesian coordinates'].reshape(-1, 3)
    o = ['', '$orca_hessian_file', '', '$act_atom', '  0', '', '$act_coord', '  0', '',
         '$act_energy', '  %.10f' % s['Total Energy'][0] if 'Total Energy' in s else '  0.0', '',
         '$hessian', '%d' % n]
    for c0 in range(0, n, 5):
        cols = range(c0, min(c0 + 5, n))
        o.append('        ' + ''.join('%18d' % c for c in cols))
        for row in range(n):
            o.append('%6d  ' % row + ''.join('%18.10E' % h[row, c] for c in cols))
    o += ['', '$vibrational_frequencies', '%d' % n]
    o += ['%6d  %16.6f' % (k, v) for k, v in enumerate(w)]
    o += ['', '#', '# The atoms: symbol, mass (u), x y z (bohr)', '#', '$atoms', '%d' % len(z)]
    for k, zz in enumerate(z):
        o.append(' %-2s %12.8f %20.12f %20.12f %20.12f' % (SYMBOLS[int(zz)], s['Real atomic weights'][k], *x[k]))
    o += ['', '$actual_temperature', '  0.000000', '']
    o += ['$dipole_derivatives', '%d' % n]
    d = s['Dipole Derivatives'].reshape(n, 3)
    o += ['%16.8E%16.8E%16.8E' % tuple(row) for row in d]
    o += ['', '$end', '']
    open(target, 'w').write('\n'.join(o))


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
