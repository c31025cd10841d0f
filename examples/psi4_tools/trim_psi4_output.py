#!/usr/bin/python3
"""Trims a psi4 1.3 output of these examples: the SCF of each optimization
step, the SCF and analytic Hessian at the optimized geometry, and the
calculations at the displaced geometries are left out, each place marked
with the line numbers of the full output.

    python3 trim_psi4_output.py full.out trimmed.out
"""
import sys

CUTS = [  # (line after which the cut starts, line at which it ends, what is left out)
    ('Memory set to', '**** Optimization is complete!',
     "the SCF and gradient of each optimization step"),
    ('Cleaning optimization helper files.', '==> Harmonic Vibrational Analysis <==',
     "the SCF and the analytic Hessian at the optimized geometry"),
    ('==> Finite differences:', '==> Finite-difference results <==',
     "the SCF, dipole and CPSCF polarizability at each displaced geometry and at the optimized one;"
     " their results are tabulated below"),
]


def main(source, target):
    lines = open(source).read().split('\n')
    out, i = [], 0
    for start, end, what in CUTS:
        while i < len(lines) and start not in lines[i]:
            out.append(lines[i])
            i += 1
        if i == len(lines):
            sys.exit('no line with %r in %s' % (start, source))
        out.append(lines[i])
        first = i + 2                       # 1-based number of the first line left out
        i += 1
        while i < len(lines) and end not in lines[i]:
            i += 1
        if i == len(lines):
            sys.exit('no line with %r in %s' % (end, source))
        out += ['', "  [lines %d-%d of psi4's output left out: %s]" % (first, i, what), '']
    out += lines[i:]
    open(target, 'w').write('\n'.join(out))


if __name__ == '__main__':
    main(sys.argv[1], sys.argv[2])
