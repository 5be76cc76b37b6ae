#!/usr/bin/env python3
"""Brisemer against the terminal programs, in one serialbench campaign.

Runs the shared serialbench tool (flood and paced, each peer in turn) and Brisemer once per
executable given, so that a before and an after build sit in the same run as cat, picocom,
gtkterm and CuteCom.  Prints one table of medians and the paced CPU of every repetition.

    python3 bench/peers.py --ours before=/work/before/build/monitor/brisemer \
                           --ours after=build/monitor/brisemer

The tool is looked for in ../shared/tools/serialbench beside the repository (--serialbench to
change); it runs from a scratch copy, since it writes its results next to itself.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def scratch_copy(tool):
    """serialbench reads ../../data/nmea from its own folder: rebuild that shape in /tmp."""
    base = tempfile.mkdtemp(prefix='peers-')
    shutil.copytree(tool, os.path.join(base, 'tools', 'serialbench'))
    os.makedirs(os.path.join(base, 'data'))
    os.symlink(os.path.abspath(os.path.join(tool, '..', '..', 'data', 'nmea')),
               os.path.join(base, 'data', 'nmea'))
    return os.path.join(base, 'tools', 'serialbench')


def run_mode(bench, mode, peer, reps, out, env):
    cmd = [sys.executable, 'bench.py', mode, peer, '--reps', str(reps), '--out', out]
    t0 = time.time()
    r = subprocess.run(cmd, cwd=bench, env=env, stdout=subprocess.DEVNULL, timeout=1500)
    print(f'  {mode} {peer}: exit {r.returncode}, {time.time() - t0:.0f} s', flush=True)


def load(path, label=None):
    rows = []
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                r = json.loads(line)
                if label:
                    r['program'] = label
                rows.append(r)
    return rows


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--serialbench', default=os.path.join(ROOT, '..', 'shared', 'tools', 'serialbench'))
    ap.add_argument('--peers', default='cat,picocom,gtkterm,cutecom')
    ap.add_argument('--ours', action='append', default=[], metavar='LABEL=EXE',
                    help='a Brisemer build to run as "ours (LABEL)"; repeatable')
    ap.add_argument('--reps', type=int, default=3)
    ap.add_argument('--modes', default='flood,paced')
    ap.add_argument('--out', default='/tmp/serialbench/peers-%s.jsonl' % time.strftime('%Y%m%d-%H%M%S'))
    args = ap.parse_args()
    if not os.path.isfile(os.path.join(args.serialbench, 'bench.py')):
        sys.exit(f'no serialbench at {args.serialbench} (--serialbench DIR)')
    ours = []
    for build in args.ours or ['now=' + os.path.join(ROOT, 'build', 'monitor', 'brisemer')]:
        label, _, exe = build.partition('=')
        if not os.access(exe, os.X_OK):
            sys.exit(f'{exe}: not an executable Brisemer build')
        ours.append((label, os.path.abspath(exe)))

    bench = scratch_copy(args.serialbench)
    os.makedirs(os.path.dirname(args.out), exist_ok=True)
    results = []
    modes = args.modes.split(',')
    for peer in [p for p in args.peers.split(',') if p]:
        part = args.out + '.' + peer
        for mode in modes:
            run_mode(bench, mode, peer, args.reps, part, dict(os.environ))
        results += load(part)
    for label, exe in ours:
        part = args.out + '.ours-' + label
        env = dict(os.environ, BRISEMER_EXE=exe)
        for mode in modes:
            run_mode(bench, mode, 'ours', args.reps, part, env)
        results += load(part, f'ours ({label})')
    with open(args.out, 'w') as f:
        for r in results:
            f.write(json.dumps(r) + '\n')

    sys.path.insert(0, bench)
    import bench as sb                                   # the tool's own medians and verdicts
    sb.print_table(sb.summarize(results))
    print('\npaced CPU % of every repetition (median, widest distance from it):')
    by_prog = {}
    for r in results:
        if r.get('mode') == 'paced' and isinstance(r.get('cpu_pct'), (int, float)):
            by_prog.setdefault(r['program'], []).append(r['cpu_pct'])
    for prog, vals in by_prog.items():
        med = statistics.median(vals)
        print(f'  {prog}: {", ".join(f"{v:.2f}" for v in vals)}  (median {med:.2f}, '
              f'widest {max(abs(v - med) for v in vals):.2f})')
    print(f'\nraw results: {args.out}')


if __name__ == '__main__':
    main()
