#!/usr/bin/env python3
"""Times builds of varnex-convert against the first one, alternately, each run writing into a
new folder, and prints for each the median wall time and CPU time (user + system, to the
microsecond) and the medians of the per-round ratios to the first. On a machine that other
work shares, the CPU ratio is the steadier of the two.

Usage: bench/compare_cpu.py ROUNDS INPUT TOOL_A TOOL_B...
  INPUT  a .bmp file, or a folder whose *.bmp files are all passed as arguments
"""
import glob, os, resource, shutil, statistics, subprocess, sys, tempfile, time

rounds, inputs, tools = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
args = sorted(glob.glob(os.path.join(inputs, '*.bmp'))) if os.path.isdir(inputs) else [inputs]
work = tempfile.mkdtemp()
wall = {t: [] for t in tools}
cpu = {t: [] for t in tools}
try:
    for r in range(rounds):
        # Alternate the order, so no tool always finds a warmer cache.
        for t in (tools if r % 2 == 0 else tools[::-1]):
            run = os.path.join(work, f'{r}-{tools.index(t)}')
            before = resource.getrusage(resource.RUSAGE_CHILDREN)
            start = time.perf_counter()
            subprocess.run([t, '--output', run, '--log', run + '.log'] + args,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wall[t].append(time.perf_counter() - start)
            after = resource.getrusage(resource.RUSAGE_CHILDREN)
            cpu[t].append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
finally:
    shutil.rmtree(work, ignore_errors=True)
base = tools[0]
for t in tools:
    rw = statistics.median(a / b for a, b in zip(wall[t], wall[base]))
    rc = statistics.median(a / b for a, b in zip(cpu[t], cpu[base]))
    print(f'wall {statistics.median(wall[t]) * 1000:.1f} ms (ratio {rw:.3f})  '
          f'cpu {statistics.median(cpu[t]) * 1000:.1f} ms (ratio {rc:.3f})  {t}')
