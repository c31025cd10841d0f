#!/usr/bin/env python3
"""The dense baseline: the products a user would write with numpy for the
deck that korven_phases exported, G = B M^-1 B^T for every mass set and
G' = U G U^T for every mass set with a U, in double precision on numpy's
BLAS. Prints the best time of the products alone (building the dense
matrices from the lists is not timed) and the BLAS numpy runs on.

usage: dense_numpy.py EXPORT_DIR [repetitions]
"""
import os
import sys
import time

import numpy as np

ENTRY = np.dtype([('row', '<i4'), ('col', '<i4'), ('value', '<f4')])


def dense(path, rows, cols):
    """The list's elements (end entry left out) as a dense matrix."""
    e = np.fromfile(path, dtype=ENTRY)
    e = e[(e['row'] >= 1) & (e['row'] <= rows) & (e['col'] >= 1) & (e['col'] <= cols)]
    m = np.zeros((rows, cols))
    np.add.at(m, (e['row'] - 1, e['col'] - 1), e['value'].astype(np.float64))
    return m


def blas_in_use():
    try:
        from threadpoolctl import threadpool_info
        info = [i for i in threadpool_info() if i.get('user_api') == 'blas']
        if info:
            i = info[0]
            return '%s %s, kernel %s, %s threads (%s)' % (
                i.get('internal_api'), i.get('version'), i.get('architecture'),
                i.get('num_threads'), i.get('filepath'))
    except ImportError:
        pass
    np.show_config()
    return 'see numpy.show_config above'


def main():
    folder = sys.argv[1]
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    with open(os.path.join(folder, 'problem.txt')) as f:
        atoms, nic, sets = (int(v) for v in f.readline().split())
        counts = [int(f.readline()) for _ in range(sets)]
    b = dense(os.path.join(folder, 'b.bin'), nic, 3 * atoms)
    reciprocals, us = [], []
    for k in range(sets):
        m = np.fromfile(os.path.join(folder, 'masses%d.bin' % (k + 1)), dtype='<f4').astype(np.float64)
        reciprocals.append(np.repeat(1.0 / m, 3))
        us.append(dense(os.path.join(folder, 'u%d.bin' % (k + 1)), counts[k], nic) if counts[k] else None)

    def products():
        listed = 0
        for minv, u in zip(reciprocals, us):
            g = (b * minv) @ b.T
            if u is not None:
                gp = u @ g @ u.T
                listed = int(np.count_nonzero(np.abs(np.triu(gp)) > 5e-5))
        return listed

    products()  # warm up: threads started, pages touched
    best = float('inf')
    for _ in range(repetitions):
        start = time.perf_counter()
        listed = products()
        best = min(best, time.perf_counter() - start)
    print('numpy %s: %s' % (np.__version__, blas_in_use()))
    print('dense products (%d G, %d G\'), best of %d: %.4f s (G\' elements above 5E-5 in the last set: %d)'
          % (sets, sum(1 for c in counts if c), repetitions, best, listed))
    print('DENSE_SECONDS %.6f' % best)


if __name__ == '__main__':
    main()
